// Fault injection: any operation of the mail-system layer can be made to
// fail, or to succeed with a warning, with a chosen result code.
//
// An operation is named "Interface::Method" ("IMessage::SubmitMessage",
// "IMAPISession::OpenMsgStore") or by its function name ("MAPILogonEx",
// "MAPIAllocateBuffer", "OpenStreamOnFile"). The methods every property
// object has also answer to "IMAPIProp::Method" and the container methods to
// "IMAPIContainer::Method", so "IMAPIProp::SaveChanges" matches a message,
// an attachment or any other object's SaveChanges.
//
// A fault strikes from the nth matching call on, for count calls (0: for
// ever). A failing code makes the call return it without doing anything and
// with its out values null; a warning (a code of zero or more) lets the call
// do its work and then return the warning instead of S_OK.
//
// Other processes take faults from ORVANE_MAPI_FAULTS, read at
// MAPIInitialize: entries separated by ";" or ",", each
// "Operation=0xCODE[@nth[xcount]]", e.g.
// "IMessage::SubmitMessage=0x80004005@1x0".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ovmapi/combase.h"

namespace ovmapi::faults {

struct Fault {
    std::string operation;
    HRESULT result = 0;
    unsigned nthCall = 1;  // first call that fails, counted from 1
    unsigned count = 1;    // calls that fail from there; 0 for ever
};

void Inject(const Fault& fault);
void Inject(std::string_view operation, HRESULT result, unsigned nthCall = 1, unsigned count = 1);
void ClearAll();
// Calls seen of one operation name since the last ClearAll (counted whether
// or not a fault struck).
unsigned CallCount(std::string_view operation);
// Parses the text form above; false (and nothing added) on a syntax error.
bool ParseFaults(std::string_view text, std::vector<Fault>& faults);

// Injects on construction and clears every fault on destruction.
class ScopedFault {
public:
    ScopedFault(std::string_view operation, HRESULT result, unsigned nthCall = 1, unsigned count = 1) {
        Inject(operation, result, nthCall, count);
    }
    ~ScopedFault() { ClearAll(); }
    ScopedFault(const ScopedFault&) = delete;
    ScopedFault& operator=(const ScopedFault&) = delete;
};

// For the layer itself: records a call of the named operations (the first is
// the operation's own name, the others its aliases) and returns the code of
// the fault that strikes, or S_OK when none does.
HRESULT Check(std::string_view operation, std::string_view alias1 = {}, std::string_view alias2 = {});

}  // namespace ovmapi::faults
