// The texts of CreateFaxMsg's result codes, as the user sees them.
#include <cstdio>
#include <cstring>
#include <string>

#include "faxmsg/faxmsg.h"

namespace {

const char* CodeText(unsigned code) {
    switch (code) {
        case FAXMSG_E_INIT:
            return "ERROR(E1000) : Failed on initializing MAPI.";
        case FAXMSG_E_LOGON:
            return "ERROR(E1001) : Logon failed.";
        case FAXMSG_E_STORE:
            return "ERROR(E1002) : Failed on accessing message store.";
        case FAXMSG_E_INBOX:
            return "ERROR(E1003) : Failed on accessing inbox.";
        case FAXMSG_E_CREATE:
            return "ERROR(E1004) : Failed on creating message.";
        case FAXMSG_E_INITMSG:
            return "ERROR(E1005) : Failed on initializing message.";
        case FAXMSG_E_ATTACH:
            return "ERROR(E1006) : Failed on attaching file to message.";
        case FAXMSG_E_FORM:
            return "ERROR(E1007) : Failed on launching form.";
        case FAXMSG_E_ADDRBOOK:
            return "ERROR(E1008) : Failed on accessing address book.";
        case FAXMSG_E_RECIPS:
            return "ERROR(E1009) : Failed on adding recipients.";
        case FAXMSG_E_SUBMIT:
            return "ERROR(E1010) : Failed on submitting message.";
        case FAXMSG_E_SAVE:
            return "ERROR(E1011) : Failed on saving message.";
        case FAXMSG_E_BODYFILE:
            return "ERROR(E1012) : Failed on setting message body from file.";
        default:
            return nullptr;
    }
}

// Formats the text into buffer, cut to size bytes (size > 0).
void FormatText(unsigned code, LONG extendedError, const char* file, char* buffer,
                std::size_t size) {
    const char* text = CodeText(code);
    if (text == nullptr) {
        buffer[0] = '\0';
    } else if (code == FAXMSG_E_ATTACH) {
        std::snprintf(buffer, size, "%s\r\nExtended Error : %ld File : '%s'", text,
                      static_cast<long>(extendedError), file != nullptr ? file : "");
    } else {
        std::snprintf(buffer, size, "%s\r\nExtended Error : %ld", text,
                      static_cast<long>(extendedError));
    }
}

}  // namespace

extern "C" FAXMSG_API char* GetErrorMSG(unsigned code, LONG extendedError, const char* file,
                                        char* buffer) {
    if (buffer == nullptr) return buffer;
    // The exported form has no size: the caller sized its buffer for the
    // text and the file name, so the whole text is written.
    std::size_t size = 128 + (file != nullptr && code == FAXMSG_E_ATTACH ? std::strlen(file) : 0);
    FormatText(code, extendedError, file, buffer, size);
    return buffer;
}

FAXMSG_API char* GetErrorMSGBounded(unsigned code, LONG extendedError, const char* file,
                                    char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return buffer;
    FormatText(code, extendedError, file, buffer, size);
    return buffer;
}
