// The fax message builder: one settings record becomes a fax message in the
// default store, submitted, saved or opened in a form.
#pragma once

#include <cstddef>

#include "faxmsg/export.h"
#include "faxmsg/msgsettings.h"
#include "ovplatform/win32.h"

// Result codes of CreateFaxMsg.
enum : int {
    FAXMSG_OK = 0,
    FAXMSG_E_INIT = 1000,
    FAXMSG_E_LOGON = 1001,
    FAXMSG_E_STORE = 1002,
    FAXMSG_E_INBOX = 1003,
    FAXMSG_E_CREATE = 1004,
    FAXMSG_E_INITMSG = 1005,
    FAXMSG_E_ATTACH = 1006,
    FAXMSG_E_FORM = 1007,
    FAXMSG_E_ADDRBOOK = 1008,
    FAXMSG_E_RECIPS = 1009,
    FAXMSG_E_SUBMIT = 1010,
    FAXMSG_E_SAVE = 1011,
    FAXMSG_E_BODYFILE = 1012,
};

extern "C" {

// Builds and disposes of one fax message. window: parent of a form (null for
// none). On return *extendedError holds the mail-system result of the last
// step and, for 1006, *failedFile points at the record's copy of the path
// that failed. The record is not changed.
FAXMSG_API int CreateFaxMsg(HWND window, const tagMsgSettings* settings, LONG* extendedError,
                            const char** failedFile);

// Writes the text for a result code into buffer and returns buffer (the empty
// text for 0 and every code outside 1000 to 1012). The caller sizes buffer
// for the longest text plus the file name.
FAXMSG_API char* GetErrorMSG(unsigned code, LONG extendedError, const char* file, char* buffer);

}  // extern "C"

// The same text, cut to fit size bytes (always terminated when size > 0);
// the system's own callers use this form.
FAXMSG_API char* GetErrorMSGBounded(unsigned code, LONG extendedError, const char* file,
                                    char* buffer, std::size_t size);
