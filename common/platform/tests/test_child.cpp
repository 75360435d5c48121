// Runs one platform operation in a process of its own, for the cross-process
// tests. Each command that the test waits for creates a "ready" file once it
// has done its part.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "ovplatform/platform.h"

namespace {

constexpr const char* kUsage =
    "usage: platform_test_child COMMAND ARGS...\n"
    "  mutex-hold NAME READY             own the mutex, then wait to be killed\n"
    "  mutex-hold-until NAME READY GO    own the mutex until the file GO exists (at most\n"
    "                                    a minute), release, exit\n"
    "  mutex-wait NAME TIMEOUT           open and wait; exit 0 owned, 1 abandoned,\n"
    "                                    2 timeout, 3 failed, 4 no such mutex\n"
    "  mutex-exists NAME                 exit 0 when the mutex exists, 1 otherwise\n"
    "  listen MESSAGE READY OUT MS       receive a broadcast of MESSAGE within MS ms,\n"
    "                                    write \"wParam lParam\" to OUT; exit 1 if none\n"
    "  broadcast MESSAGE WPARAM LPARAM   broadcast MESSAGE\n"
    "  profile-write FILE SECTION PREFIX COUNT\n"
    "                                    write COUNT keys PREFIXn=n to FILE\n"
    "  msgbox TEXT CAPTION STYLE         show a message box, exit with the answer\n";

void MarkReady(const char* path) {
    int fd = ov::CreateFileExclusive(path);
    if (fd >= 0) {
        ::close(fd);
    }
}

UINT gListenedMessage = 0;
bool gReceived = false;
WPARAM gWParam = 0;
LPARAM gLParam = 0;

LRESULT ListenProcedure(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == gListenedMessage) {
        gReceived = true;
        gWParam = wParam;
        gLParam = lParam;
    }
    return 0;
}

int Run(int argc, char** argv) {
    const std::string command = argv[1];
    if (command == "mutex-hold" && argc == 4) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[2]);
        if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) == WAIT_FAILED) {
            return 3;
        }
        MarkReady(argv[3]);
        for (;;) {
            Sleep(1000);
        }
    }
    if (command == "mutex-hold-until" && argc == 5) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, argv[2]);
        if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) == WAIT_FAILED) {
            return 3;
        }
        MarkReady(argv[3]);
        for (int waited = 0; waited < 60000 && ::access(argv[4], F_OK) != 0; waited += 5) {
            Sleep(5);
        }
        const bool released = ReleaseMutex(mutex) != FALSE;
        CloseHandle(mutex);
        return released ? 0 : 3;
    }
    if (command == "mutex-wait" && argc == 4) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, argv[2]);
        if (mutex == nullptr) {
            return 4;
        }
        DWORD result = WaitForSingleObject(mutex, static_cast<DWORD>(std::atol(argv[3])));
        int code = result == WAIT_OBJECT_0 ? 0 : result == WAIT_ABANDONED ? 1 : result == WAIT_TIMEOUT ? 2 : 3;
        if (code <= 1) {
            ReleaseMutex(mutex);
        }
        CloseHandle(mutex);
        return code;
    }
    if (command == "mutex-exists" && argc == 3) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, argv[2]);
        if (mutex == nullptr) {
            return 1;
        }
        CloseHandle(mutex);
        return 0;
    }
    if (command == "listen" && argc == 6) {
        gListenedMessage = RegisterWindowMessageA(argv[2]);
        HWND window = CreateMessageWindow("listener", "listener", ListenProcedure);
        if (gListenedMessage == 0 || window == nullptr) {
            return 3;
        }
        MarkReady(argv[3]);
        const DWORD limit = static_cast<DWORD>(std::atol(argv[5]));
        const DWORD start = GetTickCount();
        while (!gReceived && GetTickCount() - start < limit) {
            ov::LetMessagesRun(10);
        }
        DestroyWindow(window);
        if (!gReceived) {
            return 1;
        }
        std::ofstream out(argv[4]);
        out << gWParam << ' ' << gLParam << '\n';
        return out ? 0 : 3;
    }
    if (command == "broadcast" && argc == 5) {
        UINT message = RegisterWindowMessageA(argv[2]);
        if (message == 0) {
            return 3;
        }
        return PostMessageA(HWND_BROADCAST, message, std::strtoull(argv[3], nullptr, 10),
                            std::strtoll(argv[4], nullptr, 10))
                   ? 0
                   : 3;
    }
    if (command == "profile-write" && argc == 6) {
        const int count = std::atoi(argv[5]);
        for (int i = 0; i < count; ++i) {
            const std::string key = std::string(argv[4]) + std::to_string(i);
            const std::string value = std::to_string(i);
            if (!WritePrivateProfileStringA(argv[3], key.c_str(), value.c_str(), argv[2])) {
                std::fprintf(stderr, "write of %s failed: %u\n", key.c_str(), GetLastError());
                return 3;
            }
        }
        return 0;
    }
    if (command == "msgbox" && argc == 5) {
        return MessageBoxA(nullptr, argv[2], argv[3], static_cast<UINT>(std::atol(argv[4])));
    }
    std::fprintf(stderr, "platform_test_child: unknown command or wrong arguments\n%s", kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s", kUsage);
        return 0;
    }
    return Run(argc, argv);
}
