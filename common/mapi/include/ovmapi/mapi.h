// Simple MAPI: the small set of calls with their own small result codes.
#pragma once

#include "ovmapi/combase.h"

constexpr ULONG MAPI_USER_ABORT = 1;
constexpr ULONG MAPI_E_USER_ABORT = 1;
constexpr ULONG MAPI_E_FAILURE = 2;
constexpr ULONG MAPI_E_LOGON_FAILURE = 3;
constexpr ULONG MAPI_E_LOGIN_FAILURE = 3;
constexpr ULONG MAPI_E_DISK_FULL = 4;
constexpr ULONG MAPI_E_INSUFFICIENT_MEMORY = 5;
constexpr ULONG MAPI_E_ACCESS_DENIED = 6;
constexpr ULONG MAPI_E_TOO_MANY_SESSIONS = 8;
constexpr ULONG MAPI_E_TOO_MANY_FILES = 9;
constexpr ULONG MAPI_E_TOO_MANY_RECIPIENTS = 10;
constexpr ULONG MAPI_E_ATTACHMENT_NOT_FOUND = 11;
constexpr ULONG MAPI_E_ATTACHMENT_OPEN_FAILURE = 12;
constexpr ULONG MAPI_E_ATTACHMENT_WRITE_FAILURE = 13;
constexpr ULONG MAPI_E_UNKNOWN_RECIPIENT = 14;
constexpr ULONG MAPI_E_BAD_RECIPTYPE = 15;
constexpr ULONG MAPI_E_NO_MESSAGES = 16;
constexpr ULONG MAPI_E_INVALID_MESSAGE = 17;
constexpr ULONG MAPI_E_TEXT_TOO_LARGE = 18;
constexpr ULONG MAPI_E_INVALID_SESSION = 19;
constexpr ULONG MAPI_E_TYPE_NOT_SUPPORTED = 20;
constexpr ULONG MAPI_E_AMBIGUOUS_RECIPIENT = 21;
constexpr ULONG MAPI_E_AMBIG_RECIP = 21;
constexpr ULONG MAPI_E_MESSAGE_IN_USE = 22;
constexpr ULONG MAPI_E_NETWORK_FAILURE = 23;
constexpr ULONG MAPI_E_INVALID_EDITFIELDS = 24;
constexpr ULONG MAPI_E_INVALID_RECIPS = 25;
constexpr ULONG MAPI_E_NOT_SUPPORTED = 26;

extern "C" {
// Opens the client's compose window (the form host, class "IPM.Note") on a
// new message in the Drafts folder with the files attached; the files are
// separated by the first character of lpszDelimChar. Sending submits the
// message; closing the form gives MAPI_USER_ABORT. A file that cannot be read
// gives MAPI_E_ATTACHMENT_OPEN_FAILURE.
ULONG MAPISendDocuments(ULONG_PTR ulUIParam, LPSTR lpszDelimChar, LPSTR lpszFilePaths, LPSTR lpszFileNames,
                        ULONG ulReserved);
using LPMAPISENDDOCUMENTS = ULONG (*)(ULONG_PTR, LPSTR, LPSTR, LPSTR, ULONG);
}
