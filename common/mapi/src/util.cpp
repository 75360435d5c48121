// Helper functions of mapiutil.h.
#include <cstring>

#include "internal.h"

using namespace ovmapi::detail;

namespace {

std::size_t Align(std::size_t size) { return (size + 7) & ~std::size_t(7); }

std::size_t WideLength(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// Bytes the pointed-to data of one value takes in a flat copy; false for a
// value with a missing pointer.
bool ValueExtraSize(const SPropValue& value, std::size_t& size) {
    const PropValueUnion& v = value.Value;
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_STRING8:
            if (v.lpszA == nullptr) return false;
            size += Align(std::strlen(v.lpszA) + 1);
            return true;
        case PT_UNICODE:
            if (v.lpszW == nullptr) return false;
            size += Align((WideLength(v.lpszW) + 1) * 2);
            return true;
        case PT_BINARY:
            if (v.bin.cb != 0 && v.bin.lpb == nullptr) return false;
            size += Align(v.bin.cb);
            return true;
        case PT_CLSID:
            if (v.lpguid == nullptr) return false;
            size += Align(sizeof(GUID));
            return true;
        case PT_MV_LONG: size += Align(v.MVl.cValues * sizeof(LONG)); return v.MVl.cValues == 0 || v.MVl.lpl;
        case PT_MV_I2: size += Align(v.MVi.cValues * sizeof(short)); return v.MVi.cValues == 0 || v.MVi.lpi;
        case PT_MV_I8: size += Align(v.MVli.cValues * sizeof(LARGE_INTEGER)); return v.MVli.cValues == 0 || v.MVli.lpli;
        case PT_MV_DOUBLE: size += Align(v.MVdbl.cValues * sizeof(double)); return v.MVdbl.cValues == 0 || v.MVdbl.lpdbl;
        case PT_MV_SYSTIME: size += Align(v.MVft.cValues * sizeof(FILETIME)); return v.MVft.cValues == 0 || v.MVft.lpft;
        case PT_MV_CLSID: size += Align(v.MVguid.cValues * sizeof(GUID)); return v.MVguid.cValues == 0 || v.MVguid.lpguid;
        case PT_MV_STRING8:
            if (v.MVszA.cValues != 0 && v.MVszA.lppszA == nullptr) return false;
            size += Align(v.MVszA.cValues * sizeof(LPSTR));
            for (ULONG n = 0; n < v.MVszA.cValues; ++n) {
                if (v.MVszA.lppszA[n] == nullptr) return false;
                size += Align(std::strlen(v.MVszA.lppszA[n]) + 1);
            }
            return true;
        case PT_MV_UNICODE:
            if (v.MVszW.cValues != 0 && v.MVszW.lppszW == nullptr) return false;
            size += Align(v.MVszW.cValues * sizeof(LPWSTR));
            for (ULONG n = 0; n < v.MVszW.cValues; ++n) {
                if (v.MVszW.lppszW[n] == nullptr) return false;
                size += Align((WideLength(v.MVszW.lppszW[n]) + 1) * 2);
            }
            return true;
        case PT_MV_BINARY:
            if (v.MVbin.cValues != 0 && v.MVbin.lpbin == nullptr) return false;
            size += Align(v.MVbin.cValues * sizeof(SBinary));
            for (ULONG n = 0; n < v.MVbin.cValues; ++n) {
                if (v.MVbin.lpbin[n].cb != 0 && v.MVbin.lpbin[n].lpb == nullptr) return false;
                size += Align(v.MVbin.lpbin[n].cb);
            }
            return true;
        default:
            return true;  // the value is all inside the SPropValue
    }
}

class FlatWriter {
public:
    explicit FlatWriter(BYTE* next) : next_(next) {}
    void* Take(const void* from, std::size_t size) {
        void* at = next_;
        if (size != 0) std::memcpy(at, from, size);
        next_ += Align(size);
        return at;
    }

private:
    BYTE* next_;
};

void CopyValueFlat(const SPropValue& from, SPropValue& to, FlatWriter& out) {
    to = from;
    const PropValueUnion& v = from.Value;
    PropValueUnion& w = to.Value;
    switch (PROP_TYPE(from.ulPropTag)) {
        case PT_STRING8: w.lpszA = static_cast<LPSTR>(out.Take(v.lpszA, std::strlen(v.lpszA) + 1)); break;
        case PT_UNICODE: w.lpszW = static_cast<LPWSTR>(out.Take(v.lpszW, (WideLength(v.lpszW) + 1) * 2)); break;
        case PT_BINARY: w.bin.lpb = static_cast<LPBYTE>(out.Take(v.bin.lpb, v.bin.cb)); break;
        case PT_CLSID: w.lpguid = static_cast<GUID*>(out.Take(v.lpguid, sizeof(GUID))); break;
        case PT_MV_LONG: w.MVl.lpl = static_cast<LONG*>(out.Take(v.MVl.lpl, v.MVl.cValues * sizeof(LONG))); break;
        case PT_MV_I2: w.MVi.lpi = static_cast<short*>(out.Take(v.MVi.lpi, v.MVi.cValues * sizeof(short))); break;
        case PT_MV_I8:
            w.MVli.lpli = static_cast<LARGE_INTEGER*>(out.Take(v.MVli.lpli, v.MVli.cValues * sizeof(LARGE_INTEGER)));
            break;
        case PT_MV_DOUBLE: w.MVdbl.lpdbl = static_cast<double*>(out.Take(v.MVdbl.lpdbl, v.MVdbl.cValues * sizeof(double))); break;
        case PT_MV_SYSTIME: w.MVft.lpft = static_cast<FILETIME*>(out.Take(v.MVft.lpft, v.MVft.cValues * sizeof(FILETIME))); break;
        case PT_MV_CLSID: w.MVguid.lpguid = static_cast<GUID*>(out.Take(v.MVguid.lpguid, v.MVguid.cValues * sizeof(GUID))); break;
        case PT_MV_STRING8: {
            auto* array = static_cast<LPSTR*>(out.Take(v.MVszA.lppszA, v.MVszA.cValues * sizeof(LPSTR)));
            for (ULONG n = 0; n < v.MVszA.cValues; ++n)
                array[n] = static_cast<LPSTR>(out.Take(v.MVszA.lppszA[n], std::strlen(v.MVszA.lppszA[n]) + 1));
            w.MVszA.lppszA = array;
            break;
        }
        case PT_MV_UNICODE: {
            auto* array = static_cast<LPWSTR*>(out.Take(v.MVszW.lppszW, v.MVszW.cValues * sizeof(LPWSTR)));
            for (ULONG n = 0; n < v.MVszW.cValues; ++n)
                array[n] = static_cast<LPWSTR>(out.Take(v.MVszW.lppszW[n], (WideLength(v.MVszW.lppszW[n]) + 1) * 2));
            w.MVszW.lppszW = array;
            break;
        }
        case PT_MV_BINARY: {
            auto* array = static_cast<SBinary*>(out.Take(v.MVbin.lpbin, v.MVbin.cValues * sizeof(SBinary)));
            for (ULONG n = 0; n < v.MVbin.cValues; ++n)
                array[n].lpb = static_cast<LPBYTE>(out.Take(v.MVbin.lpbin[n].lpb, v.MVbin.lpbin[n].cb));
            w.MVbin.lpbin = array;
            break;
        }
        default:
            break;
    }
}

}  // namespace

extern "C" void FreeProws(LPSRowSet lpRows) {
    if (lpRows == nullptr) return;
    for (ULONG n = 0; n < lpRows->cRows; ++n) MAPIFreeBuffer(lpRows->aRow[n].lpProps);
    MAPIFreeBuffer(lpRows);
}

extern "C" void FreePadrlist(LPADRLIST lpAdrlist) {
    if (lpAdrlist == nullptr) return;
    for (ULONG n = 0; n < lpAdrlist->cEntries; ++n) MAPIFreeBuffer(lpAdrlist->aEntries[n].rgPropVals);
    MAPIFreeBuffer(lpAdrlist);
}

extern "C" ULONG UlRelease(LPVOID lpUnknown) {
    if (lpUnknown == nullptr) return 0;
    return static_cast<IUnknown*>(lpUnknown)->Release();
}

extern "C" SCODE ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG* lpcb) {
    if (cValues < 0 || (cValues > 0 && lpPropArray == nullptr)) return MAPI_E_INVALID_PARAMETER;
    std::size_t size = Align(sizeof(SPropValue) * static_cast<std::size_t>(cValues));
    for (int n = 0; n < cValues; ++n)
        if (!ValueExtraSize(lpPropArray[n], size)) return MAPI_E_INVALID_PARAMETER;
    if (size > 0x7FFFFFFF) return MAPI_E_TOO_BIG;
    if (lpcb != nullptr) *lpcb = static_cast<ULONG>(size);
    return S_OK;
}

extern "C" SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                              LPSPropValue* lppPropArray) {
    if (lppPropArray == nullptr || lpAllocateBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppPropArray = nullptr;
    ULONG size = 0;
    if (SCODE sc = ScCountProps(cValues, lpPropArray, &size); FAILED(sc)) return sc;
    void* block = nullptr;
    if (SCODE sc = lpAllocateBuffer(size == 0 ? 8 : size, &block); FAILED(sc)) return sc;
    auto* values = static_cast<SPropValue*>(block);
    FlatWriter out(static_cast<BYTE*>(block) + Align(sizeof(SPropValue) * static_cast<std::size_t>(cValues)));
    for (int n = 0; n < cValues; ++n) CopyValueFlat(lpPropArray[n], values[n], out);
    *lppPropArray = values;
    return S_OK;
}

extern "C" HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                                  LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows) {
    if (lppRows == nullptr || lpTable == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    HRESULT fault = ovmapi::faults::Check("HrQueryAllRows");
    if (FAILED(fault)) return fault;
    if (lpPropTags != nullptr) {
        if (HRESULT hr = lpTable->SetColumns(lpPropTags, TBL_BATCH); FAILED(hr)) return hr;
    }
    if (HRESULT hr = lpTable->Restrict(lpRestriction, TBL_BATCH); FAILED(hr)) return hr;
    if (lpSortOrderSet != nullptr) {
        if (HRESULT hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH); FAILED(hr)) return hr;
    }
    if (HRESULT hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr); FAILED(hr)) return hr;
    ULONG count = 0;
    if (HRESULT hr = lpTable->GetRowCount(0, &count); FAILED(hr)) return hr;
    if (crowsMax > 0 && count > static_cast<ULONG>(crowsMax)) return MAPI_E_TABLE_TOO_BIG;
    HRESULT hr = lpTable->QueryRows(static_cast<LONG>(count == 0 ? 1 : count), 0, lppRows);
    return FAILED(hr) ? hr : WithWarning(fault, S_OK);
}

extern "C" HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp) {
    if (lppProp == nullptr || lpMapiProp == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppProp = nullptr;
    HRESULT fault = ovmapi::faults::Check("HrGetOneProp");
    if (FAILED(fault)) return fault;
    SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr)) return hr;
    if (count != 1 || values == nullptr || PROP_TYPE(values[0].ulPropTag) == PT_ERROR) {
        HRESULT missing = (values != nullptr && count == 1) ? values[0].Value.err : MAPI_E_NOT_FOUND;
        MAPIFreeBuffer(values);
        return FAILED(missing) ? missing : MAPI_E_NOT_FOUND;
    }
    *lppProp = values;
    return WithWarning(fault, S_OK);
}

extern "C" HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp) {
    if (lpMapiProp == nullptr || lpProp == nullptr) return MAPI_E_INVALID_PARAMETER;
    HRESULT fault = ovmapi::faults::Check("HrSetOneProp");
    if (FAILED(fault)) return fault;
    LPSPropProblemArray problems = nullptr;
    HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
    if (FAILED(hr)) return hr;
    if (problems != nullptr) {
        hr = problems->cProblem > 0 ? problems->aProblem[0].scode : MAPI_E_CALL_FAILED;
        MAPIFreeBuffer(problems);
        return hr;
    }
    return WithWarning(fault, S_OK);
}

extern "C" LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag) {
    if (lpPropArray == nullptr) return nullptr;
    for (ULONG n = 0; n < cValues; ++n) {
        ULONG tag = lpPropArray[n].ulPropTag;
        if (PROP_ID(tag) != PROP_ID(ulPropTag)) continue;
        if (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED || tag == ulPropTag) return &lpPropArray[n];
    }
    return nullptr;
}

namespace ovmapi {

std::string HexFromBin(const BYTE* bytes, std::size_t size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t n = 0; n < size; ++n) {
        text.push_back(kDigits[bytes[n] >> 4]);
        text.push_back(kDigits[bytes[n] & 0x0F]);
    }
    return text;
}

bool BinFromHex(std::string_view text, std::vector<BYTE>& bytes) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::vector<BYTE> result;
    result.reserve(text.size() / 2);
    for (std::size_t n = 0; n + 1 < text.size(); n += 2) {
        int high = digit(text[n]);
        int low = digit(text[n + 1]);
        if (high < 0 || low < 0) return false;
        result.push_back(static_cast<BYTE>((high << 4) | low));
    }
    bytes = std::move(result);
    return true;
}

}  // namespace ovmapi
