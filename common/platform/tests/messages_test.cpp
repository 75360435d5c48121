#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

using platformtest::Child;
using platformtest::WaitForFile;

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local std::vector<Received> tReceived;

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    tReceived.push_back({window, message, wParam, lParam});
    return 99;
}

class MessagesTest : public ovtest::PrefixTest {
protected:
    void SetUp() override { tReceived.clear(); }
};

TEST_F(MessagesTest, RegisteredMessagesAreStableAndCaseInsensitive) {
    const UINT attach = RegisterWindowMessageA("ovfaxapi_waitforprintattach");
    const UINT driver = RegisterWindowMessageA("OrvanePrinterDriverStart");
    EXPECT_GE(attach, 0xC000u);
    EXPECT_LE(attach, 0xFFFFu);
    EXPECT_NE(attach, driver);
    EXPECT_EQ(RegisterWindowMessageA("OVFAXAPI_WAITFORPRINTATTACH"), attach);
    EXPECT_EQ(RegisterWindowMessageW(u"orvaneprinterdriverstart"), driver);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
    EXPECT_EQ(RegisterWindowMessageA(nullptr), 0u);
    EXPECT_EQ(RegisterWindowMessageA(std::string(300, 'x').c_str()), 0u);
    // The table lives in the prefix, where other processes find it.
    std::ifstream table(ov::RunDirectory() / "window-messages");
    std::string first;
    std::getline(table, first);
    EXPECT_EQ(first, "ovfaxapi_waitforprintattach");
}

TEST_F(MessagesTest, PostedMessagesAreTakenOneAtATimeAndDispatchedToTheWindow) {
    HWND window = CreateMessageWindow("test", "test", RecordingProcedure);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 10, -20));
    ASSERT_TRUE(PostMessageW(window, WM_USER + 2, 30, 40));

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));  // filtered
    EXPECT_EQ(msg.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_EQ(DispatchMessageA(&msg), 99);
    ASSERT_EQ(tReceived.size(), 1u);
    EXPECT_EQ(tReceived[0].window, window);
    EXPECT_EQ(tReceived[0].wParam, 10u);
    EXPECT_EQ(tReceived[0].lParam, -20);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    ASSERT_TRUE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(tReceived.back().message, WM_DESTROY);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // its messages went with it
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(DestroyWindow(window));
}

TEST_F(MessagesTest, GetMessageWaitsForAPostAndEndsAtQuit) {
    const DWORD self = GetCurrentThreadId();
    std::thread poster([self] {
        Sleep(20);
        PostThreadMessageA(self, WM_USER + 5, 1, 2);
        PostThreadMessageA(self, WM_QUIT, 3, 0);
    });
    MSG msg{};
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, WM_USER + 5);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    poster.join();
    PostQuitMessage(7);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0u, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

TEST_F(MessagesTest, LettingMessagesRunDispatchesWhatArrivesForTheGivenTime) {
    HWND window = CreateMessageWindow("test", "test", RecordingProcedure);
    for (int i = 0; i < 5; ++i) {
        PostMessageA(window, WM_USER + static_cast<UINT>(i), 0, 0);
    }
    const auto start = std::chrono::steady_clock::now();
    ov::LetMessagesRun(100);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(100));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    ASSERT_EQ(tReceived.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tReceived[static_cast<std::size_t>(i)].message, WM_USER + static_cast<UINT>(i));  // in order
    }
    tReceived.clear();
    PostMessageA(window, WM_USER, 0, 0);
    ov::LetMessagesRun(0);  // no time: nothing runs
    EXPECT_TRUE(tReceived.empty());
    DestroyWindow(window);
}

TEST_F(MessagesTest, ABroadcastReachesEveryListeningProcessAndThisOne) {
    const UINT message = RegisterWindowMessageA("OrvanePrinterDriverStart");
    HWND own = CreateMessageWindow("own", "own", RecordingProcedure);
    const auto dir = prefix_.path();
    Child first({"listen", "OrvanePrinterDriverStart", (dir / "ready1").string(), (dir / "out1").string(), "20000"});
    Child second({"listen", "orvaneprinterdriverstart", (dir / "ready2").string(), (dir / "out2").string(), "20000"});
    ASSERT_TRUE(WaitForFile(dir / "ready1"));
    ASSERT_TRUE(WaitForFile(dir / "ready2"));

    ASSERT_TRUE(PostMessageA(HWND_BROADCAST, message, 7, -3));
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    for (const char* out : {"out1", "out2"}) {
        std::ifstream in(dir / out);
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, "7 -3") << out;
    }
    ov::LetMessagesRun(20);
    ASSERT_EQ(tReceived.size(), 1u);
    EXPECT_EQ(tReceived[0].message, message);
    EXPECT_EQ(tReceived[0].window, own);
    DestroyWindow(own);
}

TEST_F(MessagesTest, ABroadcastFromAnotherProcessArrivesAndStaleWindowsAreSwept) {
    HWND own = CreateMessageWindow("own", "own", RecordingProcedure);
    // A socket left by a process that is gone (no process has pid 0x3FFFFE).
    const std::uintptr_t deadWindow = (std::uintptr_t{0x3FFFFE} << 24) | 1;
    ASSERT_NE(::kill(0x3FFFFE, 0), 0);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.sock", static_cast<unsigned long long>(deadWindow));
    const auto stale = ov::RunDirectory() / "windows" / name;
    {
        int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(stale.string().size(), sizeof address.sun_path);
        std::strcpy(address.sun_path, stale.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    ASSERT_TRUE(std::filesystem::exists(stale));
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(deadWindow)));

    Child sender({"broadcast", "ovfaxapi_waitforprintattach", "0", "0"});
    EXPECT_EQ(sender.Wait(), 0);
    ov::LetMessagesRun(20);
    ASSERT_EQ(tReceived.size(), 1u);
    EXPECT_EQ(tReceived[0].message, RegisterWindowMessageA("ovfaxapi_waitforprintattach"));
    EXPECT_EQ(tReceived[0].wParam, 0u);
    EXPECT_EQ(tReceived[0].lParam, 0);
    EXPECT_FALSE(std::filesystem::exists(stale));
    DestroyWindow(own);
}

}  // namespace
