// Result codes of the mail-system layer (published MAPI values). A code below
// zero is a failure; MAPI_W_* codes are successes that carry a warning.
#pragma once

#include "ovmapi/combase.h"

#define MAKE_MAPI_E(code) (static_cast<HRESULT>(0x80040000UL | static_cast<ULONG>(code)))
#define MAKE_MAPI_S(code) (static_cast<HRESULT>(0x00040000UL | static_cast<ULONG>(code)))
#ifndef hrSuccess
#define hrSuccess 0
#endif
#ifndef SUCCESS_SUCCESS
#define SUCCESS_SUCCESS 0
#endif

#define MAPI_E_CALL_FAILED (static_cast<HRESULT>(0x80004005UL))
#define MAPI_E_NOT_ENOUGH_MEMORY (static_cast<HRESULT>(0x8007000EUL))
#define MAPI_E_INVALID_PARAMETER (static_cast<HRESULT>(0x80070057UL))
#define MAPI_E_INTERFACE_NOT_SUPPORTED (static_cast<HRESULT>(0x80004002UL))
#define MAPI_E_NO_ACCESS (static_cast<HRESULT>(0x80070005UL))
#define MAPI_E_NO_SUPPORT (static_cast<HRESULT>(0x80040102UL))
#define MAPI_E_BAD_CHARWIDTH (static_cast<HRESULT>(0x80040103UL))
#define MAPI_E_STRING_TOO_LONG (static_cast<HRESULT>(0x80040105UL))
#define MAPI_E_UNKNOWN_FLAGS (static_cast<HRESULT>(0x80040106UL))
#define MAPI_E_INVALID_ENTRYID (static_cast<HRESULT>(0x80040107UL))
#define MAPI_E_INVALID_OBJECT (static_cast<HRESULT>(0x80040108UL))
#define MAPI_E_OBJECT_CHANGED (static_cast<HRESULT>(0x80040109UL))
#define MAPI_E_OBJECT_DELETED (static_cast<HRESULT>(0x8004010AUL))
#define MAPI_E_BUSY (static_cast<HRESULT>(0x8004010BUL))
#define MAPI_E_NOT_ENOUGH_DISK (static_cast<HRESULT>(0x8004010DUL))
#define MAPI_E_NOT_ENOUGH_RESOURCES (static_cast<HRESULT>(0x8004010EUL))
#define MAPI_E_NOT_FOUND (static_cast<HRESULT>(0x8004010FUL))
#define MAPI_E_VERSION (static_cast<HRESULT>(0x80040110UL))
#define MAPI_E_LOGON_FAILED (static_cast<HRESULT>(0x80040111UL))
#define MAPI_E_SESSION_LIMIT (static_cast<HRESULT>(0x80040112UL))
#define MAPI_E_USER_CANCEL (static_cast<HRESULT>(0x80040113UL))
#define MAPI_E_UNABLE_TO_ABORT (static_cast<HRESULT>(0x80040114UL))
#define MAPI_E_NETWORK_ERROR (static_cast<HRESULT>(0x80040115UL))
#define MAPI_E_DISK_ERROR (static_cast<HRESULT>(0x80040116UL))
#define MAPI_E_TOO_COMPLEX (static_cast<HRESULT>(0x80040117UL))
#define MAPI_E_BAD_COLUMN (static_cast<HRESULT>(0x80040118UL))
#define MAPI_E_EXTENDED_ERROR (static_cast<HRESULT>(0x80040119UL))
#define MAPI_E_COMPUTED (static_cast<HRESULT>(0x8004011AUL))
#define MAPI_E_CORRUPT_DATA (static_cast<HRESULT>(0x8004011BUL))
#define MAPI_E_UNCONFIGURED (static_cast<HRESULT>(0x8004011CUL))
#define MAPI_E_FAILONEPROVIDER (static_cast<HRESULT>(0x8004011DUL))
#define MAPI_E_UNKNOWN_CPID (static_cast<HRESULT>(0x8004011EUL))
#define MAPI_E_UNKNOWN_LCID (static_cast<HRESULT>(0x8004011FUL))
#define MAPI_E_PASSWORD_CHANGE_REQUIRED (static_cast<HRESULT>(0x80040120UL))
#define MAPI_E_PASSWORD_EXPIRED (static_cast<HRESULT>(0x80040121UL))
#define MAPI_E_INVALID_WORKSTATION_ACCOUNT (static_cast<HRESULT>(0x80040122UL))
#define MAPI_E_INVALID_ACCESS_TIME (static_cast<HRESULT>(0x80040123UL))
#define MAPI_E_ACCOUNT_DISABLED (static_cast<HRESULT>(0x80040124UL))
#define MAPI_E_END_OF_SESSION (static_cast<HRESULT>(0x80040200UL))
#define MAPI_E_UNKNOWN_ENTRYID (static_cast<HRESULT>(0x80040201UL))
#define MAPI_E_MISSING_REQUIRED_COLUMN (static_cast<HRESULT>(0x80040202UL))
#define MAPI_W_NO_SERVICE (static_cast<HRESULT>(0x00040203UL))
#define MAPI_E_BAD_VALUE (static_cast<HRESULT>(0x80040301UL))
#define MAPI_E_INVALID_TYPE (static_cast<HRESULT>(0x80040302UL))
#define MAPI_E_TYPE_NO_SUPPORT (static_cast<HRESULT>(0x80040303UL))
#define MAPI_E_UNEXPECTED_TYPE (static_cast<HRESULT>(0x80040304UL))
#define MAPI_E_TOO_BIG (static_cast<HRESULT>(0x80040305UL))
#define MAPI_E_DECLINE_COPY (static_cast<HRESULT>(0x80040306UL))
#define MAPI_E_UNEXPECTED_ID (static_cast<HRESULT>(0x80040307UL))
#define MAPI_W_ERRORS_RETURNED (static_cast<HRESULT>(0x00040380UL))
#define MAPI_E_UNABLE_TO_COMPLETE (static_cast<HRESULT>(0x80040400UL))
#define MAPI_E_TIMEOUT (static_cast<HRESULT>(0x80040401UL))
#define MAPI_E_TABLE_EMPTY (static_cast<HRESULT>(0x80040402UL))
#define MAPI_E_TABLE_TOO_BIG (static_cast<HRESULT>(0x80040403UL))
#define MAPI_E_INVALID_BOOKMARK (static_cast<HRESULT>(0x80040405UL))
#define MAPI_W_POSITION_CHANGED (static_cast<HRESULT>(0x00040481UL))
#define MAPI_W_APPROX_COUNT (static_cast<HRESULT>(0x00040482UL))
#define MAPI_E_WAIT (static_cast<HRESULT>(0x80040500UL))
#define MAPI_E_CANCEL (static_cast<HRESULT>(0x80040501UL))
#define MAPI_E_NOT_ME (static_cast<HRESULT>(0x80040502UL))
#define MAPI_W_CANCEL_MESSAGE (static_cast<HRESULT>(0x00040580UL))
#define MAPI_E_CORRUPT_STORE (static_cast<HRESULT>(0x80040600UL))
#define MAPI_E_NOT_IN_QUEUE (static_cast<HRESULT>(0x80040601UL))
#define MAPI_E_NO_SUPPRESS (static_cast<HRESULT>(0x80040602UL))
#define MAPI_E_COLLISION (static_cast<HRESULT>(0x80040604UL))
#define MAPI_E_NOT_INITIALIZED (static_cast<HRESULT>(0x80040605UL))
#define MAPI_E_NON_STANDARD (static_cast<HRESULT>(0x80040606UL))
#define MAPI_E_NO_RECIPIENTS (static_cast<HRESULT>(0x80040607UL))
#define MAPI_E_SUBMITTED (static_cast<HRESULT>(0x80040608UL))
#define MAPI_E_HAS_FOLDERS (static_cast<HRESULT>(0x80040609UL))
#define MAPI_E_HAS_MESSAGES (static_cast<HRESULT>(0x8004060AUL))
#define MAPI_E_FOLDER_CYCLE (static_cast<HRESULT>(0x8004060BUL))
#define MAPI_W_PARTIAL_COMPLETION (static_cast<HRESULT>(0x00040680UL))
#define MAPI_E_AMBIGUOUS_RECIP (static_cast<HRESULT>(0x80040700UL))

namespace ovmapi {
// The published name of a result code ("MAPI_E_NOT_FOUND"), or null.
const char* ResultName(HRESULT hr);
}  // namespace ovmapi
