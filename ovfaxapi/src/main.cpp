// ovfaxapi: the automation server. Started for a client ("/Automation" or
// "/Embedding", also with "-"), it serves one "Ovfaxapi.Application" object
// and ends when the client releases it. Started any other way (by the
// fax-print machinery, or by hand), it refreshes its class registration,
// forwards the printed file to the waiting instances and ends.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "automation.h"
#include "ovcom/remote.h"
#include "ovplatform/platform.h"
#include "app_strings.h"

namespace {

constexpr const char* kUsage =
    "usage: ovfaxapi [/Automation | /Embedding]\n"
    "       ovfaxapi [PRINTED-FILE]\n"
    "\n"
    "The automation server of the Orvane fax client. A client program (such as\n"
    "`ovfax`) starts it with /Automation to compose and send one fax through the\n"
    "object \"Ovfaxapi.Application\". Started without that option it refreshes its\n"
    "class registration, records PRINTED-FILE (when given and present) as\n"
    "\"ovprog.ini\" [General] \"CommandLine\", tells the instances waiting for a\n"
    "printed attachment, and ends.\n";

bool IsOption(const char* arg, const char* name) {
    return (arg[0] == '/' || arg[0] == '-') && ov::EqualsNoCase(arg + 1, name);
}

// Pumps what arrived for this thread's windows, without waiting.
void DispatchWaitingMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int ServeAutomation() {
    int connection = ov::com::TakeClientConnection();
    if (connection < 0) {
        std::fprintf(stderr,
                     "ovfaxapi: started for automation without a client; clients create "
                     "\"Ovfaxapi.Application\" (for example with `ovfax`)\n");
        return 1;
    }
    ovfaxapi::COvfaxapiDlg dialog;
    ov::com::ComPtr<ovfaxapi::COvfaxapiDlgAutoProxy> object(
        new ovfaxapi::COvfaxapiDlgAutoProxy(&dialog, ovfaxapi::TemporaryFileDirectory()));
    int rc = ov::com::ServeObject(connection, object.get(), &DispatchWaitingMessages);
    // The client released the object: the full reset runs as it goes away.
    object.reset();
    return rc;
}

int PlainStart(int argc, char** argv) {
    ov::com::RegisterLocalServer(ovfaxapi::kClassId, ovfaxapi::kProgId, ov::ProgramPath().string(),
                                 "Ovfaxapi Application");
    if (argc == 2) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(ov::MapPath(argv[1]), ec)) {
            WritePrivateProfileStringA("General", "CommandLine", argv[1], "ovprog.ini");
        }
    }
    // The port monitor has written "CommandLine" already when no file is given.
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA(ovfaxapi::kPrintAttachMessage), 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        if (IsOption(argv[i], "Automation") || IsOption(argv[i], "Embedding")) {
            return ServeAutomation();
        }
    }
    return PlainStart(argc, argv);
}
