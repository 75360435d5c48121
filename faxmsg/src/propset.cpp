// The fax property set and its mapping to property tags on a store.
#include "faxmsg/propset.h"

#include <exception>

#include "mapi_holders.h"
#include "ovmapi/mapix.h"

namespace faxmsg {
namespace {

#define FAXPROP(name, type) \
    FaxPropDef { u## #name, #name, type }

constexpr std::array<FaxPropDef, kFaxPropCount> kDefs = {
    FAXPROP(MS_EXCHANGE_01, PT_BOOLEAN),
    FAXPROP(CVRPage, PT_BOOLEAN),
    FAXPROP(HighRes, PT_BOOLEAN),
    FAXPROP(CVRPageName, PT_STRING8),
    FAXPROP(TMPLName, PT_STRING8),
    FAXPROP(BillCode, PT_STRING8),
    FAXPROP(ScheduleTime, PT_STRING8),
    FAXPROP(FAXLaunch, PT_BOOLEAN),
    FAXPROP(GWay, PT_BOOLEAN),
    FAXPROP(RTFBody, PT_STRING8),
    FAXPROP(FAXTrans, PT_STRING8),
    FAXPROP(CVRInfo, PT_STRING8),
    FAXPROP(FaxInfo1, PT_STRING8),
    FAXPROP(FaxInfo2, PT_STRING8),
    FAXPROP(FaxInfo3, PT_STRING8),
    FAXPROP(FaxInfo4, PT_STRING8),
    FAXPROP(FaxInfo5, PT_STRING8),
    FAXPROP(DefCVR, PT_STRING8),
    FAXPROP(DefTMP, PT_STRING8),
    FAXPROP(DefHeader, PT_STRING8),
    FAXPROP(DefCVRClear, PT_BOOLEAN),
    FAXPROP(DefHDRClear, PT_BOOLEAN),
    FAXPROP(Resolution, PT_STRING8),
    FAXPROP(CVRDefault, PT_BOOLEAN),
    FAXPROP(CVRAddDel, PT_STRING8),
    FAXPROP(TMPDefault, PT_BOOLEAN),
    FAXPROP(TMPAddDel, PT_STRING8),
    FAXPROP(ATTName, PT_STRING8),
    FAXPROP(ATTAddDel, PT_STRING8),
    FAXPROP(CVRAttPos, PT_STRING8),
    FAXPROP(TMPAttPos, PT_STRING8),
    FAXPROP(ATTAttPos, PT_STRING8),
    FAXPROP(FormMajorVer, PT_DOUBLE),
    FAXPROP(FormMinorVer, PT_DOUBLE),
    FAXPROP(ScheduleFT, PT_SYSTIME),
    FAXPROP(OrvaneSign, PT_STRING8),
    FAXPROP(OVFAXFormInstalled, PT_BOOLEAN),
    FAXPROP(OriginalFax, PT_STRING8),
    FAXPROP(OVFAXResendDisable, PT_BOOLEAN),
};

#undef FAXPROP

char Lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

HRESULT MapNames(IMAPIProp* object, const std::size_t* which, std::size_t count,
                 ULONG* tags) noexcept {
    if (object == nullptr || count == 0 || count > kFaxPropCount) return MAPI_E_INVALID_PARAMETER;
    GUID set = PS_PUBLIC_STRINGS;
    std::array<MAPINAMEID, kFaxPropCount> names{};
    std::array<LPMAPINAMEID, kFaxPropCount> pointers{};
    for (std::size_t n = 0; n < count; ++n) {
        names[n].lpguid = &set;
        names[n].ulKind = MNID_STRING;
        names[n].Kind.lpwstrName = const_cast<LPWSTR>(kDefs[which[n]].name);
        pointers[n] = &names[n];
    }
    detail::MapiBuffer<SPropTagArray> returned;
    HRESULT hr = object->GetIDsFromNames(static_cast<ULONG>(count), pointers.data(), MAPI_CREATE,
                                         detail::OutBuffer<SPropTagArray>(returned));
    if (FAILED(hr)) return hr;
    if (!returned || returned->cValues != count) return MAPI_E_CALL_FAILED;
    for (std::size_t n = 0; n < count; ++n) {
        ULONG tag = returned->aulPropTag[n];
        if (PROP_TYPE(tag) == PT_ERROR || PROP_ID(tag) < MIN_NAMED_PROP_ID) return MAPI_E_NOT_FOUND;
        tags[n] = CHANGE_PROP_TYPE(tag, kDefs[which[n]].type);
    }
    return hr;
}

}  // namespace

const std::array<FaxPropDef, kFaxPropCount>& FaxPropDefs() noexcept { return kDefs; }

bool SameMessageClass(const char* a, const char* b) noexcept {
    if (a == nullptr || b == nullptr) return a == b;
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (Lower(*a) != Lower(*b)) return false;
    return *a == *b;
}

HRESULT MapFaxPropertySet(IMAPIProp* object, FaxPropTags& result) noexcept {
    result.tags.fill(PR_NULL);
    result.mapped = false;
    std::array<std::size_t, kFaxPropCount> all{};
    for (std::size_t n = 0; n < kFaxPropCount; ++n) all[n] = n;
    std::array<ULONG, kFaxPropCount> tags{};
    HRESULT hr = MapNames(object, all.data(), all.size(), tags.data());
    if (FAILED(hr)) return hr;
    result.tags = tags;
    result.mapped = true;
    return hr;
}

HRESULT MapFaxProperty(IMAPIProp* object, FaxProp which, ULONG& tag) noexcept {
    tag = PR_NULL;
    if (which >= kFaxPropCount) return MAPI_E_INVALID_PARAMETER;
    std::size_t index = which;
    ULONG mapped = PR_NULL;
    HRESULT hr = MapNames(object, &index, 1, &mapped);
    if (SUCCEEDED(hr)) tag = mapped;
    return hr;
}

}  // namespace faxmsg
