// Tables: a snapshot of rows with columns, a restriction, a sort order and a
// cursor.
#include <algorithm>
#include <cstring>

#include "ovplatform/platform.h"
#include "propobject.h"

namespace ovmapi::detail {
namespace {

bool CaseInsensitiveContains(std::string_view haystack, std::string_view needle) {
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    if (needle.size() > haystack.size()) return false;
    for (std::size_t start = 0; start + needle.size() <= haystack.size(); ++start) {
        bool match = true;
        for (std::size_t n = 0; n < needle.size() && match; ++n) match = lower(haystack[start + n]) == lower(needle[n]);
        if (match) return true;
    }
    return false;
}

// -1, 0 or 1; nothing when the values cannot be compared.
std::optional<int> Compare(const Prop& a, const Prop& b) {
    ULONG ta = PROP_TYPE(a.tag);
    ULONG tb = PROP_TYPE(b.tag);
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    bool aText = ta == PT_STRING8 || ta == PT_UNICODE;
    bool bText = tb == PT_STRING8 || tb == PT_UNICODE;
    if (aText && bText) {
        Prop ca, cb;
        ConvertForRequest(a, PT_STRING8, ca);
        ConvertForRequest(b, PT_STRING8, cb);
        return sign(ca.bytes, cb.bytes);
    }
    if (ta != tb) return std::nullopt;
    switch (ta) {
        case PT_R4:
        case PT_DOUBLE:
        case PT_APPTIME:
            return sign(a.d, b.d);
        case PT_BINARY:
        case PT_CLSID:
            return sign(a.bytes, b.bytes);
        default:
            if (!a.multi.empty() || !b.multi.empty()) return std::nullopt;
            return sign(a.i, b.i);
    }
}

bool Relate(ULONG relop, int order) {
    switch (relop) {
        case RELOP_LT: return order < 0;
        case RELOP_LE: return order <= 0;
        case RELOP_GT: return order > 0;
        case RELOP_GE: return order >= 0;
        case RELOP_EQ: return order == 0;
        case RELOP_NE: return order != 0;
        default: return false;
    }
}

}  // namespace

bool Restriction(const SRestriction* r, const PropMap& row, unsigned depth) {
    if (r == nullptr) return true;
    if (depth > 64) return false;
    switch (r->rt) {
        case RES_AND:
            for (ULONG n = 0; n < r->res.resAnd.cRes; ++n)
                if (!Restriction(&r->res.resAnd.lpRes[n], row, depth + 1)) return false;
            return true;
        case RES_OR:
            for (ULONG n = 0; n < r->res.resOr.cRes; ++n)
                if (Restriction(&r->res.resOr.lpRes[n], row, depth + 1)) return true;
            return false;
        case RES_NOT:
            return !Restriction(r->res.resNot.lpRes, row, depth + 1);
        case RES_EXIST:
            return Find(row, r->res.resExist.ulPropTag) != nullptr;
        case RES_BITMASK: {
            const Prop* prop = Find(row, r->res.resBitMask.ulPropTag);
            if (prop == nullptr || PROP_TYPE(prop->tag) != PT_LONG) return false;
            bool zero = (static_cast<ULONG>(prop->i) & r->res.resBitMask.ulMask) == 0;
            return r->res.resBitMask.relBMR == BMR_EQZ ? zero : !zero;
        }
        case RES_PROPERTY: {
            const SPropertyRestriction& p = r->res.resProperty;
            if (p.lpProp == nullptr) return false;
            const Prop* prop = Find(row, p.ulPropTag);
            Prop wanted;
            if (prop == nullptr || FAILED(PropFromValue(*p.lpProp, wanted))) return false;
            std::optional<int> order = Compare(*prop, wanted);
            return order && Relate(p.relop, *order);
        }
        case RES_CONTENT: {
            const SContentRestriction& c = r->res.resContent;
            if (c.lpProp == nullptr) return false;
            const Prop* prop = Find(row, c.ulPropTag);
            Prop wanted;
            if (prop == nullptr || FAILED(PropFromValue(*c.lpProp, wanted))) return false;
            Prop have, want;
            if (!ConvertForRequest(*prop, PT_STRING8, have) && PROP_TYPE(prop->tag) != PT_BINARY) return false;
            if (PROP_TYPE(prop->tag) == PT_BINARY) have = *prop;
            if (!ConvertForRequest(wanted, PT_STRING8, want) && PROP_TYPE(wanted.tag) != PT_BINARY) return false;
            if (PROP_TYPE(wanted.tag) == PT_BINARY) want = wanted;
            bool ignoreCase = (c.ulFuzzyLevel & FL_IGNORECASE) != 0;
            std::string_view h = have.bytes, n = want.bytes;
            switch (c.ulFuzzyLevel & 0xFFFF) {
                case FL_SUBSTRING:
                    return ignoreCase ? CaseInsensitiveContains(h, n) : h.find(n) != std::string_view::npos;
                case FL_PREFIX:
                    return h.size() >= n.size() &&
                           (ignoreCase ? ov::EqualsNoCase(h.substr(0, n.size()), n) : h.substr(0, n.size()) == n);
                default:
                    return ignoreCase ? ov::EqualsNoCase(h, n) : h == n;
            }
        }
        case RES_SIZE: {
            const Prop* prop = Find(row, r->res.resSize.ulPropTag);
            if (prop == nullptr) return false;
            ULONG size = static_cast<ULONG>(prop->bytes.size());
            int order = size < r->res.resSize.cb ? -1 : (size > r->res.resSize.cb ? 1 : 0);
            return Relate(r->res.resSize.relop, order);
        }
        case RES_COMPAREPROPS: {
            const Prop* a = Find(row, r->res.resCompareProps.ulPropTag1);
            const Prop* b = Find(row, r->res.resCompareProps.ulPropTag2);
            if (a == nullptr || b == nullptr) return false;
            std::optional<int> order = Compare(*a, *b);
            return order && Relate(r->res.resCompareProps.relop, *order);
        }
        case RES_COMMENT:
            return Restriction(r->res.resComment.lpRes, row, depth + 1);
        default:
            return false;
    }
}

namespace {

class TableObject final : public ComObject<TableObject, IMAPITable> {
public:
    TableObject(std::vector<PropMap> rows, std::vector<ULONG> columns, const char* name)
        : all_(std::move(rows)), columns_(std::move(columns)), name_(name) {
        for (std::size_t n = 0; n < all_.size(); ++n) view_.push_back(n);
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMAPITable) {
            AddRef();
            *object = static_cast<IMAPITable*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        return MakeError({}, "Orvane Message Store", hResult, 0, lppMAPIError);
    }

    HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("SetColumns");
            if (FAILED(fault)) return fault;
            if (tags == nullptr || tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
            columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT QueryColumns(ULONG, LPSPropTagArray* tags) override {
        if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
        *tags = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("QueryColumns");
            if (FAILED(fault)) return fault;
            return WithWarning(fault, AllocTagArray(columns_, tags));
        });
    }

    HRESULT GetRowCount(ULONG, ULONG* count) override {
        if (count == nullptr) return MAPI_E_INVALID_PARAMETER;
        *count = 0;
        HRESULT fault = Fault("GetRowCount");
        if (FAILED(fault)) return fault;
        *count = static_cast<ULONG>(view_.size());
        return WithWarning(fault, S_OK);
    }

    HRESULT SeekRow(BOOKMARK origin, LONG count, LONG* sought) override {
        if (sought != nullptr) *sought = 0;
        HRESULT fault = Fault("SeekRow");
        if (FAILED(fault)) return fault;
        std::int64_t start = origin == BOOKMARK_BEGINNING ? 0
                             : origin == BOOKMARK_CURRENT ? static_cast<std::int64_t>(cursor_)
                             : origin == BOOKMARK_END     ? static_cast<std::int64_t>(view_.size())
                                                          : -1;
        if (start < 0) return MAPI_E_INVALID_BOOKMARK;
        std::int64_t target = std::clamp<std::int64_t>(start + count, 0, static_cast<std::int64_t>(view_.size()));
        if (sought != nullptr) *sought = static_cast<LONG>(target - start);
        cursor_ = static_cast<std::size_t>(target);
        return WithWarning(fault, S_OK);
    }

    HRESULT QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) override {
        if (row == nullptr || numerator == nullptr || denominator == nullptr) return MAPI_E_INVALID_PARAMETER;
        *row = static_cast<ULONG>(cursor_);
        *numerator = static_cast<ULONG>(cursor_);
        *denominator = static_cast<ULONG>(view_.size());
        return S_OK;
    }

    HRESULT Restrict(LPSRestriction restriction, ULONG) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("Restrict");
            if (FAILED(fault)) return fault;
            view_.clear();
            for (std::size_t n = 0; n < all_.size(); ++n)
                if (Restriction(restriction, all_[n])) view_.push_back(n);
            ApplySort();
            cursor_ = 0;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT SortTable(LPSSortOrderSet sort, ULONG) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("SortTable");
            if (FAILED(fault)) return fault;
            sort_.clear();
            if (sort != nullptr) sort_.assign(sort->aSort, sort->aSort + sort->cSorts);
            ApplySort();
            cursor_ = 0;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT QueryRows(LONG count, ULONG, LPSRowSet* rows) override {
        if (rows == nullptr) return MAPI_E_INVALID_PARAMETER;
        *rows = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("QueryRows");
            if (FAILED(fault)) return fault;
            if (count < 0) return MAPI_E_INVALID_PARAMETER;  // reading backwards is not offered
            std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(count), view_.size() - cursor_);
            void* block = nullptr;
            if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(take == 0 ? 1 : take)), &block); FAILED(hr))
                return hr;
            auto* set = static_cast<SRowSet*>(block);
            set->cRows = 0;
            SPropTagArray* columns = nullptr;
            std::vector<BYTE> tagBuffer(CbNewSPropTagArray(columns_.size()));
            columns = reinterpret_cast<SPropTagArray*>(tagBuffer.data());
            columns->cValues = static_cast<ULONG>(columns_.size());
            std::copy(columns_.begin(), columns_.end(), columns->aulPropTag);
            for (std::size_t n = 0; n < take; ++n) {
                SRow& row = set->aRow[n];
                row.ulAdrEntryPad = 0;
                HRESULT hr = ValuesFromMap(all_[view_[cursor_ + n]], columns, 0, &row.cValues, &row.lpProps);
                if (FAILED(hr)) {
                    FreeProws(set);
                    return hr;
                }
                set->cRows = static_cast<ULONG>(n + 1);
            }
            cursor_ += take;
            *rows = set;
            return WithWarning(fault, S_OK);
        });
    }

private:
    HRESULT Fault(const char* method) {
        return faults::Check(std::string(name_) + "::" + method, std::string("IMAPITable::") + method);
    }
    void ApplySort() {
        if (sort_.empty()) return;
        std::stable_sort(view_.begin(), view_.end(), [&](std::size_t a, std::size_t b) {
            for (const SSortOrder& order : sort_) {
                const Prop* pa = Find(all_[a], order.ulPropTag);
                const Prop* pb = Find(all_[b], order.ulPropTag);
                if (pa == nullptr || pb == nullptr) {
                    if ((pa == nullptr) != (pb == nullptr)) return pa == nullptr;
                    continue;
                }
                std::optional<int> result = Compare(*pa, *pb);
                if (!result || *result == 0) continue;
                return order.ulOrder == TABLE_SORT_DESCEND ? *result > 0 : *result < 0;
            }
            return false;
        });
    }

    std::vector<PropMap> all_;
    std::vector<std::size_t> view_;
    std::vector<ULONG> columns_;
    std::vector<SSortOrder> sort_;
    std::size_t cursor_ = 0;
    const char* name_;
};

}  // namespace

HRESULT CreateTable(std::vector<PropMap> rows, std::vector<ULONG> defaultColumns, const char* interfaceName,
                    LPMAPITABLE* table) {
    *table = new TableObject(std::move(rows), std::move(defaultColumns), interfaceName);
    return S_OK;
}

}  // namespace ovmapi::detail
