// The fax property set: the named properties in which a fax message carries
// its settings, the marker of a message stamped by this system and the
// message classes of the fax forms. The fax server reads these names, types
// and values, so they never change. Every component that stamps or reads the
// set uses this header.
#pragma once

#include <array>
#include <cstddef>

#include "faxmsg/export.h"
#include "ovmapi/mapidefs.h"

namespace faxmsg {

// Index of each name in the whole-set request (the order of the request).
enum FaxProp : std::size_t {
    kMsExchange01,
    kCvrPage,
    kHighRes,
    kCvrPageName,
    kTmplName,
    kBillCode,
    kScheduleTime,
    kFaxLaunch,
    kGWay,
    kRtfBody,
    kFaxTrans,
    kCvrInfo,
    kFaxInfo1,
    kFaxInfo2,
    kFaxInfo3,
    kFaxInfo4,
    kFaxInfo5,
    kDefCvr,
    kDefTmp,
    kDefHeader,
    kDefCvrClear,
    kDefHdrClear,
    kResolution,
    kCvrDefault,
    kCvrAddDel,
    kTmpDefault,
    kTmpAddDel,
    kAttName,
    kAttAddDel,
    kCvrAttPos,
    kTmpAttPos,
    kAttAttPos,
    kFormMajorVer,
    kFormMinorVer,
    kScheduleFT,
    kOrvaneSign,
    kOvfaxFormInstalled,
    kOriginalFax,
    kOvfaxResendDisable,
    kFaxPropCount
};

struct FaxPropDef {
    const char16_t* name;  // string name in PS_PUBLIC_STRINGS
    const char* name8;     // the same name in 8-bit characters
    ULONG type;            // PT_BOOLEAN, PT_STRING8, PT_DOUBLE or PT_SYSTIME
};

// The 39 names in request order with their types.
FAXMSG_API const std::array<FaxPropDef, kFaxPropCount>& FaxPropDefs() noexcept;

// Value of OrvaneSign on every message stamped by this system.
inline constexpr const char* kOrvaneSignValue = "Orvane Extended Properties";

// Message classes.
inline constexpr const char* kClassSubmitForm = "IPM.Note.OVFAX.SUBMIT";  // fax submission form
inline constexpr const char* kClassSubmitFormIni =
    "IPM.NOTE.OVFAX.SUBMIT";  // as the forms installer writes it
inline constexpr const char* kClassOlderForm = "IPM.Note.OrvaneNote";  // older fax form
inline constexpr const char* kClassGateway =
    "IPM.Note.OVFAX.Submit";                           // messages built through the gateway
inline constexpr const char* kClassNote = "IPM.Note";  // default class and form class
inline constexpr const char* kClassContact = "IPM.Contact";
inline constexpr const char* kClassDocument = "IPM.Document";
inline constexpr const char* kClassFaxReportPrefix = "IPM.Document.Kestrin_";

// Message classes compare without regard to ASCII letter case.
FAXMSG_API bool SameMessageClass(const char* a, const char* b) noexcept;

// The tags of the whole set on one store: id mapped there combined with the
// type of the name. Tags belong to the store they were mapped on.
struct FaxPropTags {
    std::array<ULONG, kFaxPropCount> tags{};
    bool mapped = false;  // every name came back with an id

    ULONG operator[](FaxProp which) const noexcept { return tags[which]; }
};

// Maps all 39 names on a message, folder or store in one GetIDsFromNames
// call (PS_PUBLIC_STRINGS, MNID_STRING, MAPI_CREATE). Fails with the call's
// result, or with MAPI_E_NOT_FOUND when any name came back as PT_ERROR; then
// result.mapped is false and every tag is PR_NULL, so nothing of the set can
// be written from a partial mapping. On success returns the call's result
// (S_OK or a warning).
FAXMSG_API HRESULT MapFaxPropertySet(IMAPIProp* object, FaxPropTags& result) noexcept;

// Maps one name the same way (for users that need only a few names).
FAXMSG_API HRESULT MapFaxProperty(IMAPIProp* object, FaxProp which, ULONG& tag) noexcept;

}  // namespace faxmsg
