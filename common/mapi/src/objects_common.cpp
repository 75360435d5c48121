// Allocation helpers shared by the objects: problem arrays, tag arrays,
// error records and named-property mapping results.
#include <cstring>

#include "ovplatform/platform.h"
#include "propobject.h"

namespace ovmapi::detail {

HRESULT AllocProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out) {
    void* block = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(problems.size())), &block); FAILED(hr))
        return hr;
    auto* array = static_cast<SPropProblemArray*>(block);
    array->cProblem = static_cast<ULONG>(problems.size());
    for (std::size_t n = 0; n < problems.size(); ++n) array->aProblem[n] = problems[n];
    *out = array;
    return S_OK;
}

HRESULT AllocTagArray(const std::vector<ULONG>& tags, LPSPropTagArray* out) {
    void* block = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())), &block); FAILED(hr))
        return hr;
    auto* array = static_cast<SPropTagArray*>(block);
    array->cValues = static_cast<ULONG>(tags.size());
    for (std::size_t n = 0; n < tags.size(); ++n) array->aulPropTag[n] = tags[n];
    *out = array;
    return S_OK;
}

HRESULT MakeError(std::string_view text, std::string_view component, HRESULT hr, ULONG lowLevel, LPMAPIERROR* error) {
    std::string message(text);
    if (message.empty()) {
        const char* name = ResultName(hr);
        message = name ? name : "";
    }
    void* block = nullptr;
    if (HRESULT result = MAPIAllocateBuffer(sizeof(MAPIERROR), &block); FAILED(result)) return result;
    auto* record = static_cast<MAPIERROR*>(block);
    *record = MAPIERROR{};
    record->ulVersion = MAPI_ERROR_VERSION;
    record->ulLowLevelError = lowLevel;
    auto copy = [&](std::string_view value, LPSTR& target) -> HRESULT {
        void* text = nullptr;
        if (HRESULT result = MAPIAllocateMore(static_cast<ULONG>(value.size() + 1), block, &text); FAILED(result))
            return result;
        std::memcpy(text, value.data(), value.size());
        static_cast<char*>(text)[value.size()] = '\0';
        target = static_cast<LPSTR>(text);
        return S_OK;
    };
    if (HRESULT result = copy(message, record->lpszError); FAILED(result)) {
        MAPIFreeBuffer(block);
        return result;
    }
    if (HRESULT result = copy(component, record->lpszComponent); FAILED(result)) {
        MAPIFreeBuffer(block);
        return result;
    }
    *error = record;
    return S_OK;
}

HRESULT MapNamesForObject(Profile& profile, std::uint32_t scope, ULONG count, LPMAPINAMEID* names, ULONG flags,
                          LPSPropTagArray* tags) {
    if (count == 0 || names == nullptr) return MAPI_E_INVALID_PARAMETER;
    std::vector<NameRecord> records(count);
    std::vector<bool> valid(count, true);
    for (ULONG n = 0; n < count; ++n) {
        const MAPINAMEID* name = names[n];
        if (name == nullptr || name->lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
        records[n].guid = *name->lpguid;
        records[n].kind = name->ulKind;
        if (name->ulKind == MNID_ID) {
            records[n].lid = name->Kind.lID;
        } else if (name->ulKind == MNID_STRING) {
            if (name->Kind.lpwstrName == nullptr) return MAPI_E_INVALID_PARAMETER;
            std::size_t length = 0;
            while (name->Kind.lpwstrName[length] != 0) ++length;
            if (length == 0) {
                valid[n] = false;
                continue;
            }
            records[n].name.assign(name->Kind.lpwstrName, length);
        } else {
            valid[n] = false;
        }
    }
    std::vector<NameRecord> asked;
    for (ULONG n = 0; n < count; ++n)
        if (valid[n]) asked.push_back(records[n]);
    std::vector<ULONG> ids;
    if (!asked.empty()) {
        if (HRESULT hr = profile.MapNames(scope, asked, (flags & MAPI_CREATE) != 0, ids); FAILED(hr)) return hr;
    }
    std::vector<ULONG> result(count);
    bool errors = false;
    std::size_t next = 0;
    for (ULONG n = 0; n < count; ++n) {
        ULONG id = valid[n] ? ids[next++] : 0;
        result[n] = id == 0 ? PROP_TAG(PT_ERROR, PROP_ID_NULL) : PROP_TAG(PT_UNSPECIFIED, id);
        errors = errors || id == 0;
    }
    if (HRESULT hr = AllocTagArray(result, tags); FAILED(hr)) return hr;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT NamesForObject(Profile& profile, std::uint32_t scope, LPSPropTagArray* tags, LPGUID propertySet, ULONG flags,
                       ULONG* count, LPMAPINAMEID** names) {
    std::vector<ULONG> ids;
    std::vector<std::optional<NameRecord>> records;
    if (*tags == nullptr) {
        std::vector<std::pair<ULONG, NameRecord>> all;
        if (HRESULT hr = profile.AllNames(scope, all); FAILED(hr)) return hr;
        for (auto& [id, record] : all) {
            if (propertySet != nullptr && !(record.guid == *propertySet)) continue;
            if ((flags & MAPI_NO_STRINGS) != 0 && record.kind == MNID_STRING) continue;
            if ((flags & MAPI_NO_IDS) != 0 && record.kind == MNID_ID) continue;
            ids.push_back(PROP_TAG(PT_UNSPECIFIED, id));
            records.emplace_back(std::move(record));
        }
        if (HRESULT hr = AllocTagArray(ids, tags); FAILED(hr)) return hr;
    } else {
        for (ULONG n = 0; n < (*tags)->cValues; ++n) {
            ULONG id = PROP_ID((*tags)->aulPropTag[n]);
            NameRecord record;
            if (id >= MIN_NAMED_PROP_ID && SUCCEEDED(profile.NameOfId(scope, id, record)))
                records.emplace_back(std::move(record));
            else
                records.emplace_back(std::nullopt);
        }
    }
    void* block = nullptr;
    std::size_t slots = records.empty() ? 1 : records.size();
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(slots * sizeof(LPMAPINAMEID)), &block); FAILED(hr))
        return hr;
    auto* array = static_cast<LPMAPINAMEID*>(block);
    bool missing = false;
    for (std::size_t n = 0; n < records.size(); ++n) {
        array[n] = nullptr;
        if (!records[n]) {
            missing = true;
            continue;
        }
        void* entry = nullptr;
        void* guid = nullptr;
        if (FAILED(MAPIAllocateMore(sizeof(MAPINAMEID), block, &entry)) ||
            FAILED(MAPIAllocateMore(sizeof(GUID), block, &guid))) {
            MAPIFreeBuffer(block);
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        auto* name = static_cast<MAPINAMEID*>(entry);
        std::memcpy(guid, &records[n]->guid, sizeof(GUID));
        name->lpguid = static_cast<GUID*>(guid);
        name->ulKind = records[n]->kind;
        if (records[n]->kind == MNID_ID) {
            name->Kind.lID = records[n]->lid;
        } else {
            void* text = nullptr;
            std::size_t units = records[n]->name.size() + 1;
            if (FAILED(MAPIAllocateMore(static_cast<ULONG>(units * 2), block, &text))) {
                MAPIFreeBuffer(block);
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
            std::memcpy(text, records[n]->name.c_str(), units * 2);
            name->Kind.lpwstrName = static_cast<LPWSTR>(text);
        }
        array[n] = name;
    }
    *count = static_cast<ULONG>(records.size());
    *names = array;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

}  // namespace ovmapi::detail
