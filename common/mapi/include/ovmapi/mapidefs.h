// The mail-system layer's data structures and interfaces, laid out as the
// callers expect them: tagged property values, tag arrays, row sets, address
// lists, entry identifiers and named-property ids, and the reference-counted
// interfaces of sessions, stores, folders, messages, attachments, tables and
// the address book. Memory handed out by these interfaces comes from
// MAPIAllocateBuffer and is released with MAPIFreeBuffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ovmapi/combase.h"
#include "ovmapi/mapicode.h"
#include "ovmapi/mapitags.h"

// ------------------------------------------------------------------ basics
struct MAPIUID {
    BYTE ab[16];
};
using LPMAPIUID = MAPIUID*;

struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[1];
};
using LPENTRYID = ENTRYID*;
#define CbNewENTRYID(cb) (offsetof(ENTRYID, ab) + (cb))

struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};
using LPSBinary = SBinary*;

union CURRENCY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
};

struct SShortArray { ULONG cValues; short* lpi; };
struct SLongArray { ULONG cValues; LONG* lpl; };
struct SRealArray { ULONG cValues; float* lpflt; };
struct SDoubleArray { ULONG cValues; double* lpdbl; };
struct SCurrencyArray { ULONG cValues; CURRENCY* lpcur; };
struct SAppTimeArray { ULONG cValues; double* lpat; };
struct SDateTimeArray { ULONG cValues; FILETIME* lpft; };
struct SBinaryArray { ULONG cValues; SBinary* lpbin; };
struct SLPSTRArray { ULONG cValues; LPSTR* lppszA; };
struct SWStringArray { ULONG cValues; LPWSTR* lppszW; };
struct SGuidArray { ULONG cValues; GUID* lpguid; };
struct SLargeIntegerArray { ULONG cValues; LARGE_INTEGER* lpli; };
using ENTRYLIST = SBinaryArray;
using LPENTRYLIST = SBinaryArray*;

union PropValueUnion {
    short i;
    LONG l;
    ULONG ul;
    float flt;
    double dbl;
    unsigned short b;
    CURRENCY cur;
    double at;
    FILETIME ft;
    LPSTR lpszA;
    SBinary bin;
    LPWSTR lpszW;
    GUID* lpguid;
    LARGE_INTEGER li;
    SShortArray MVi;
    SLongArray MVl;
    SRealArray MVflt;
    SDoubleArray MVdbl;
    SCurrencyArray MVcur;
    SAppTimeArray MVat;
    SDateTimeArray MVft;
    SBinaryArray MVbin;
    SLPSTRArray MVszA;
    SWStringArray MVszW;
    SGuidArray MVguid;
    SLargeIntegerArray MVli;
    SCODE err;
    LONG x;
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    PropValueUnion Value;
};
using LPSPropValue = SPropValue*;

struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[1];
};
using LPSPropTagArray = SPropTagArray*;
#define CbNewSPropTagArray(n) (offsetof(SPropTagArray, aulPropTag) + (n) * sizeof(ULONG))
#define CbSPropTagArray(p) CbNewSPropTagArray((p)->cValues)
#define SizedSPropTagArray(n, name) \
    struct _SPropTagArray_##name {  \
        ULONG cValues;              \
        ULONG aulPropTag[n];        \
    } name

struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[1];
};
using LPSPropProblemArray = SPropProblemArray*;
#define CbNewSPropProblemArray(n) (offsetof(SPropProblemArray, aProblem) + (n) * sizeof(SPropProblem))

struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps;
};
using LPSRow = SRow*;
struct SRowSet {
    ULONG cRows;
    SRow aRow[1];
};
using LPSRowSet = SRowSet*;
#define CbNewSRowSet(n) (offsetof(SRowSet, aRow) + (n) * sizeof(SRow))

struct ADRENTRY {
    ULONG ulReserved1;
    ULONG cValues;
    LPSPropValue rgPropVals;
};
using LPADRENTRY = ADRENTRY*;
struct ADRLIST {
    ULONG cEntries;
    ADRENTRY aEntries[1];
};
using LPADRLIST = ADRLIST*;
#define CbNewADRLIST(n) (offsetof(ADRLIST, aEntries) + (n) * sizeof(ADRENTRY))
#define SizedADRLIST(n, name)   \
    struct _ADRLIST_##name {    \
        ULONG cEntries;         \
        ADRENTRY aEntries[n];   \
    } name

constexpr ULONG MNID_ID = 0;
constexpr ULONG MNID_STRING = 1;
struct MAPINAMEID {
    LPGUID lpguid;
    ULONG ulKind;
    union {
        LONG lID;
        LPWSTR lpwstrName;
    } Kind;
};
using LPMAPINAMEID = MAPINAMEID*;

constexpr ULONG MAPI_ERROR_VERSION = 0;
struct MAPIERROR {
    ULONG ulVersion;
    LPSTR lpszError;
    LPSTR lpszComponent;
    ULONG ulLowLevelError;
    ULONG ulContext;
};
using LPMAPIERROR = MAPIERROR*;

// ------------------------------------------------------------ restrictions
constexpr ULONG RES_AND = 0;
constexpr ULONG RES_OR = 1;
constexpr ULONG RES_NOT = 2;
constexpr ULONG RES_CONTENT = 3;
constexpr ULONG RES_PROPERTY = 4;
constexpr ULONG RES_COMPAREPROPS = 5;
constexpr ULONG RES_BITMASK = 6;
constexpr ULONG RES_SIZE = 7;
constexpr ULONG RES_EXIST = 8;
constexpr ULONG RES_SUBRESTRICTION = 9;
constexpr ULONG RES_COMMENT = 10;
constexpr ULONG BMR_EQZ = 0;
constexpr ULONG BMR_NEZ = 1;
constexpr ULONG RELOP_LT = 0;
constexpr ULONG RELOP_LE = 1;
constexpr ULONG RELOP_GT = 2;
constexpr ULONG RELOP_GE = 3;
constexpr ULONG RELOP_EQ = 4;
constexpr ULONG RELOP_NE = 5;
constexpr ULONG RELOP_RE = 6;
constexpr ULONG FL_FULLSTRING = 0x00000000;
constexpr ULONG FL_SUBSTRING = 0x00000001;
constexpr ULONG FL_PREFIX = 0x00000002;
constexpr ULONG FL_IGNORECASE = 0x00010000;

struct SRestriction;
using LPSRestriction = SRestriction*;
struct SAndRestriction { ULONG cRes; LPSRestriction lpRes; };
struct SOrRestriction { ULONG cRes; LPSRestriction lpRes; };
struct SNotRestriction { ULONG ulReserved; LPSRestriction lpRes; };
struct SContentRestriction { ULONG ulFuzzyLevel; ULONG ulPropTag; LPSPropValue lpProp; };
struct SPropertyRestriction { ULONG relop; ULONG ulPropTag; LPSPropValue lpProp; };
struct SComparePropsRestriction { ULONG relop; ULONG ulPropTag1; ULONG ulPropTag2; };
struct SBitMaskRestriction { ULONG relBMR; ULONG ulPropTag; ULONG ulMask; };
struct SSizeRestriction { ULONG relop; ULONG ulPropTag; ULONG cb; };
struct SExistRestriction { ULONG ulReserved1; ULONG ulPropTag; ULONG ulReserved2; };
struct SSubRestriction { ULONG ulSubObject; LPSRestriction lpRes; };
struct SCommentRestriction { ULONG cValues; LPSRestriction lpRes; LPSPropValue lpProp; };
struct SRestriction {
    ULONG rt;
    union {
        SComparePropsRestriction resCompareProps;
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SContentRestriction resContent;
        SPropertyRestriction resProperty;
        SBitMaskRestriction resBitMask;
        SSizeRestriction resSize;
        SExistRestriction resExist;
        SSubRestriction resSub;
        SCommentRestriction resComment;
    } res;
};

constexpr ULONG TABLE_SORT_ASCEND = 0;
constexpr ULONG TABLE_SORT_DESCEND = 1;
struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;
};
struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[1];
};
using LPSSortOrderSet = SSortOrderSet*;
#define CbNewSSortOrderSet(n) (offsetof(SSortOrderSet, aSort) + (n) * sizeof(SSortOrder))

// ------------------------------------------------------------------- flags
constexpr ULONG MAPI_MODIFY = 0x00000001;
constexpr ULONG MAPI_CREATE = 0x00000002;
constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
constexpr ULONG MAPI_DIALOG = 0x00000008;
constexpr ULONG MAPI_USE_DEFAULT = 0x00000040;
constexpr ULONG MAPI_UNICODE = 0x80000000;
constexpr ULONG MAPI_LOGON_UI = 0x00000001;
constexpr ULONG MAPI_NEW_SESSION = 0x00000002;
constexpr ULONG MAPI_ALLOW_OTHERS = 0x00000008;
constexpr ULONG MAPI_EXPLICIT_PROFILE = 0x00000010;
constexpr ULONG MAPI_EXTENDED = 0x00000020;
constexpr ULONG MAPI_FORCE_DOWNLOAD = 0x00001000;
constexpr ULONG MAPI_NO_MAIL = 0x00008000;
constexpr ULONG MAPI_NT_SERVICE = 0x00010000;
constexpr ULONG MAPI_PASSWORD_UI = 0x00020000;
constexpr ULONG MAPI_TIMEOUT_SHORT = 0x00100000;
constexpr ULONG MDB_NO_DIALOG = 0x00000001;
constexpr ULONG MDB_WRITE = 0x00000004;
constexpr ULONG AB_NO_DIALOG = 0x00000001;
constexpr ULONG TBL_NOWAIT = 0x00000001;
constexpr ULONG TBL_ASYNC = 0x00000001;
constexpr ULONG TBL_BATCH = 0x00000002;
constexpr ULONG CONVENIENT_DEPTH = 0x00000001;
constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
constexpr ULONG FORCE_SAVE = 0x00000004;
constexpr ULONG FORCE_SUBMIT = 0x00000001;
constexpr ULONG MODRECIP_ADD = 0x00000002;
constexpr ULONG MODRECIP_MODIFY = 0x00000004;
constexpr ULONG MODRECIP_REMOVE = 0x00000008;
constexpr ULONG MAPI_SEND_NO_RICH_INFO = 0x00010000;
constexpr ULONG MAPI_ONE_OFF_UNICODE = 0x8000;
constexpr ULONG MAPI_ONE_OFF_NO_RICH_INFO = 0x0001;
constexpr ULONG LOGOFF_NO_WAIT = 0x00000001;
constexpr ULONG LOGOFF_ORDERLY = 0x00000002;
constexpr ULONG LOGOFF_PURGE = 0x00000004;
constexpr ULONG LOGOFF_ABORT = 0x00000008;
constexpr ULONG LOGOFF_QUIET = 0x00000010;
constexpr ULONG LOGOFF_COMPLETE = 0x00010000;
constexpr ULONG LOGOFF_OUTBOUND = 0x00040000;
constexpr ULONG STORE_RTF_OK = 0x00000800;
constexpr ULONG STORE_UNCOMPRESSED_RTF = 0x00008000;
constexpr ULONG STORE_UNICODE_OK = 0x00040000;
constexpr ULONG STATUS_DEFAULT_STORE = 0x00000002;
constexpr ULONG MAPI_POST_MESSAGE = 0x00000001;
constexpr ULONG MAPI_NEW_MESSAGE = 0x00000002;
constexpr ULONG MAPI_ACCESS_MODIFY = 0x00000001;
constexpr ULONG MAPI_ACCESS_READ = 0x00000002;
constexpr ULONG MAPI_ACCESS_DELETE = 0x00000004;
constexpr ULONG MAPI_ACCESS_CREATE_HIERARCHY = 0x00000008;
constexpr ULONG MAPI_ACCESS_CREATE_CONTENTS = 0x00000010;
constexpr ULONG MAPI_ACCESS_CREATE_ASSOCIATED = 0x00000020;
constexpr ULONG MSGFLAG_READ = 0x00000001;
constexpr ULONG MSGFLAG_UNMODIFIED = 0x00000002;
constexpr ULONG MSGFLAG_SUBMIT = 0x00000004;
constexpr ULONG MSGFLAG_UNSENT = 0x00000008;
constexpr ULONG MSGFLAG_HASATTACH = 0x00000010;
constexpr ULONG MSGFLAG_FROMME = 0x00000020;
constexpr ULONG MSGFLAG_ASSOCIATED = 0x00000040;
constexpr ULONG MSGFLAG_RESEND = 0x00000080;
constexpr ULONG MSGFLAG_RN_PENDING = 0x00000100;
constexpr ULONG MSGFLAG_NRN_PENDING = 0x00000200;
constexpr ULONG MAPI_ORIG = 0;
constexpr ULONG MAPI_TO = 1;
constexpr ULONG MAPI_CC = 2;
constexpr ULONG MAPI_BCC = 3;
constexpr ULONG MAPI_P1 = 0x10000000;
constexpr ULONG MAPI_SUBMITTED = 0x80000000;
constexpr LONG SENSITIVITY_NONE = 0;
constexpr LONG SENSITIVITY_PERSONAL = 1;
constexpr LONG SENSITIVITY_PRIVATE = 2;
constexpr LONG SENSITIVITY_COMPANY_CONFIDENTIAL = 3;
constexpr LONG IMPORTANCE_LOW = 0;
constexpr LONG IMPORTANCE_NORMAL = 1;
constexpr LONG IMPORTANCE_HIGH = 2;
constexpr ULONG DT_MAILUSER = 0;
constexpr ULONG DT_DISTLIST = 1;
constexpr ULONG DT_FORUM = 2;
constexpr ULONG DT_AGENT = 3;
constexpr ULONG DT_ORGANIZATION = 4;
constexpr ULONG DT_PRIVATE_DISTLIST = 5;
constexpr ULONG DT_REMOTE_MAILUSER = 6;
constexpr ULONG DT_MODIFIABLE = 0x00010000;
constexpr ULONG DT_GLOBAL = 0x00020000;
constexpr ULONG DT_FOLDER = 0x01000000;
constexpr ULONG MAPI_STORE = 1;
constexpr ULONG MAPI_ADDRBOOK = 2;
constexpr ULONG MAPI_FOLDER = 3;
constexpr ULONG MAPI_ABCONT = 4;
constexpr ULONG MAPI_MESSAGE = 5;
constexpr ULONG MAPI_MAILUSER = 6;
constexpr ULONG MAPI_ATTACH = 7;
constexpr ULONG MAPI_DISTLIST = 8;
constexpr ULONG MAPI_PROFSECT = 9;
constexpr ULONG MAPI_STATUS = 10;
constexpr ULONG MAPI_SESSION = 11;
constexpr ULONG MAPI_FORMINFO = 12;
constexpr ULONG NO_ATTACHMENT = 0;
constexpr ULONG ATTACH_BY_VALUE = 1;
constexpr ULONG ATTACH_BY_REFERENCE = 2;
constexpr ULONG ATTACH_BY_REF_RESOLVE = 3;
constexpr ULONG ATTACH_BY_REF_ONLY = 4;
constexpr ULONG ATTACH_EMBEDDED_MSG = 5;
constexpr ULONG ATTACH_OLE = 6;
constexpr ULONG ATTACH_DIALOG = 0x00000001;
constexpr ULONG FOLDER_ROOT = 0;
constexpr ULONG FOLDER_GENERIC = 1;
constexpr ULONG FOLDER_SEARCH = 2;
constexpr ULONG OPEN_IF_EXISTS = 0x00000001;
constexpr ULONG DEL_FOLDERS = 0x00000004;
constexpr ULONG DEL_MESSAGES = 0x00000008;
constexpr ULONG MAPI_ASSOCIATED = 0x00000040;
constexpr ULONG MAPI_NO_IDS = 0x00000001;  // GetNamesFromIDs: strings only
constexpr ULONG MAPI_NO_STRINGS = 0x00000002;  // GetNamesFromIDs: numbers only

using BOOKMARK = ULONG;
constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
constexpr BOOKMARK BOOKMARK_CURRENT = 1;
constexpr BOOKMARK BOOKMARK_END = 2;

// -------------------------------------------------------------- interfaces
struct IMAPITable;
struct IMessage;
struct IAttach;
struct IMAPIFolder;
struct IMAPIProgress;
using LPMAPITABLE = IMAPITable*;
using LPMESSAGE = IMessage*;
using LPATTACH = IAttach*;
using LPMAPIFOLDER = IMAPIFolder*;
using LPMAPIPROGRESS = IMAPIProgress*;

// Every property object: messages, attachments, folders, stores, address-book
// entries and form information.
struct IMAPIProp : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT SaveChanges(ULONG ulFlags) = 0;
    // Values come back in request order; a property the object does not have
    // comes back with type PT_ERROR and MAPI_E_NOT_FOUND, and the call then
    // returns MAPI_W_ERRORS_RETURNED. A null tag array asks for every property.
    virtual HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                             LPSPropValue* lppPropArray) = 0;
    virtual HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) = 0;
    virtual HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                 LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                    ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) = 0;
    virtual HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                    LPSPropTagArray* lppPropTags) = 0;

protected:
    ~IMAPIProp() = default;
};
using LPMAPIPROP = IMAPIProp*;

struct IMAPITable : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
    virtual HRESULT QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) = 0;
    virtual HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) = 0;
    virtual HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) = 0;
    virtual HRESULT QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) = 0;
    virtual HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) = 0;
    virtual HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) = 0;
    // Rows from the cursor on; an empty row set once the table is exhausted.
    virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;

protected:
    ~IMAPITable() = default;
};

struct IMAPIContainer : public IMAPIProp {
    virtual HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;

protected:
    ~IMAPIContainer() = default;
};
using LPMAPICONTAINER = IMAPIContainer*;

struct IMAPIFolder : public IMAPIContainer {
    virtual HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) = 0;
    virtual HRESULT CreateFolder(ULONG ulFolderType, LPSTR lpszFolderName, LPSTR lpszFolderComment,
                                 LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder) = 0;
    virtual HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                                   ULONG ulFlags) = 0;

protected:
    ~IMAPIFolder() = default;
};

struct IMessage : public IMAPIProp {
    virtual HRESULT GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach) = 0;
    virtual HRESULT CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum,
                                 LPATTACH* lppAttach) = 0;
    virtual HRESULT DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                                 ULONG ulFlags) = 0;
    virtual HRESULT GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    // Flags 0 replace every recipient; MODRECIP_ADD appends; MODRECIP_MODIFY and
    // MODRECIP_REMOVE address rows by PR_ROWID.
    virtual HRESULT ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) = 0;
    // Saves the message and hands it to the profile's transport.
    virtual HRESULT SubmitMessage(ULONG ulFlags) = 0;
    virtual HRESULT SetReadFlag(ULONG ulFlags) = 0;

protected:
    ~IMessage() = default;
};

struct IAttach : public IMAPIProp {
protected:
    ~IAttach() = default;
};

struct IMsgStore : public IMAPIProp {
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT SetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID,
                                     LPENTRYID lpEntryID) = 0;
    virtual HRESULT GetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID,
                                     LPENTRYID* lppEntryID, LPSTR* lppszExplicitClass) = 0;
    virtual HRESULT StoreLogoff(ULONG* lpulFlags) = 0;

protected:
    ~IMsgStore() = default;
};
using LPMDB = IMsgStore*;

struct IMailUser : public IMAPIProp {
protected:
    ~IMailUser() = default;
};
using LPMAILUSER = IMailUser*;

struct IABContainer : public IMAPIContainer {
protected:
    ~IABContainer() = default;
};
using LPABCONT = IABContainer*;

struct IDistList : public IMAPIContainer {
protected:
    ~IDistList() = default;
};
using LPDISTLIST = IDistList*;

struct IAddrBook : public IMAPIProp {
    // cbEntryID 0 opens the root container.
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    // With MAPI_UNICODE the three texts are UTF-16 (LPWSTR passed as LPSTR).
    virtual HRESULT CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags,
                                 ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
    // Resolves the entries that have no PR_ENTRYID by display name:
    // MAPI_E_NOT_FOUND when one matches nothing, MAPI_E_AMBIGUOUS_RECIP when
    // one matches several.
    virtual HRESULT ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags, LPSTR lpszNewEntryTitle,
                                LPADRLIST lpAdrList) = 0;
    virtual HRESULT PrepareRecips(ULONG ulFlags, LPSPropTagArray lpPropTagArray, LPADRLIST lpRecipList) = 0;

protected:
    ~IAddrBook() = default;
};
using LPADRBOOK = IAddrBook*;

// ------------------------------------------------------------------- GUIDs
#define OV_DEFINE_OLEGUID(name, l) \
    inline constexpr GUID name = {l, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}
OV_DEFINE_OLEGUID(IID_IMAPISession, 0x00020300);
OV_DEFINE_OLEGUID(IID_IMAPITable, 0x00020301);
OV_DEFINE_OLEGUID(IID_IMAPIAdviseSink, 0x00020302);
OV_DEFINE_OLEGUID(IID_IMAPIProp, 0x00020303);
OV_DEFINE_OLEGUID(IID_IProfSect, 0x00020304);
OV_DEFINE_OLEGUID(IID_IMAPIStatus, 0x00020305);
OV_DEFINE_OLEGUID(IID_IMsgStore, 0x00020306);
OV_DEFINE_OLEGUID(IID_IMessage, 0x00020307);
OV_DEFINE_OLEGUID(IID_IAttachment, 0x00020308);
OV_DEFINE_OLEGUID(IID_IAddrBook, 0x00020309);
OV_DEFINE_OLEGUID(IID_IMailUser, 0x0002030A);
OV_DEFINE_OLEGUID(IID_IMAPIContainer, 0x0002030B);
OV_DEFINE_OLEGUID(IID_IMAPIFolder, 0x0002030C);
OV_DEFINE_OLEGUID(IID_IABContainer, 0x0002030D);
OV_DEFINE_OLEGUID(IID_IDistList, 0x0002030E);
OV_DEFINE_OLEGUID(IID_IMAPIFormMgr, 0x00020322);
OV_DEFINE_OLEGUID(IID_IMAPIFormInfo, 0x00020324);
OV_DEFINE_OLEGUID(IID_IMAPIForm, 0x00020327);
OV_DEFINE_OLEGUID(PS_MAPI, 0x00020328);
OV_DEFINE_OLEGUID(PS_PUBLIC_STRINGS, 0x00020329);
OV_DEFINE_OLEGUID(IID_IPersistMessage, 0x0002032A);
OV_DEFINE_OLEGUID(PS_INTERNET_HEADERS, 0x00020386);
OV_DEFINE_OLEGUID(PSETID_Appointment, 0x00062002);
OV_DEFINE_OLEGUID(PSETID_Task, 0x00062003);
OV_DEFINE_OLEGUID(PSETID_Address, 0x00062004);
OV_DEFINE_OLEGUID(PSETID_Common, 0x00062008);
OV_DEFINE_OLEGUID(CLSID_MailMessage, 0x00020D0B);
OV_DEFINE_OLEGUID(IID_IMAPIMessageSite, 0x00020370);
OV_DEFINE_OLEGUID(IID_IMAPIViewContext, 0x00020321);

inline constexpr MAPIUID MAPI_ONE_OFF_UID = {
    {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02}};
