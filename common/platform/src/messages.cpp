// Registered window messages, message windows and their queues. Each window
// owns a Unix datagram socket under <prefix>/run/windows named after its
// handle; a post to a window of another process, and a broadcast, is a
// datagram to those sockets. The thread that created a window reads them into
// its queue when it pumps its messages.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "internal.h"
#include "ovplatform/internal/window_wire.h"
#include "ovplatform/platform.h"

namespace {

using ov::detail::UniqueFd;

constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr std::size_t kMaxRegisteredMessages = 0x4000;
constexpr std::size_t kMaxMessageNameLength = 255;
constexpr std::size_t kMaxAtomFileSize = 4u << 20;
constexpr std::uintptr_t kBroadcast = 0xFFFF;

using ov::detail::WireMessage;

DWORD CurrentThreadId() { return static_cast<DWORD>(::gettid()); }

pid_t PidOfWindow(std::uintptr_t hwnd) { return static_cast<pid_t>(hwnd >> 24); }

// A socket path that fits sockaddr_un: a long prefix is reached through the
// directory's descriptor.
struct SocketAddress {
    sockaddr_un address{};
    socklen_t length = 0;
    UniqueFd directory;  // kept open while the address is used
};

bool MakeAddress(const std::filesystem::path& path, SocketAddress& result) {
    result.address.sun_family = AF_UNIX;
    std::string text = path.string();
    if (text.size() >= sizeof(result.address.sun_path)) {
        result.directory.reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!result.directory.valid()) {
            return false;
        }
        text = "/proc/self/fd/" + std::to_string(result.directory.get()) + "/" + path.filename().string();
        if (text.size() >= sizeof(result.address.sun_path)) {
            return false;
        }
    }
    std::memcpy(result.address.sun_path, text.c_str(), text.size() + 1);
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size() + 1);
    return true;
}

std::filesystem::path WindowsSocketDirectory() { return ov::detail::RunSubdirectory("windows"); }

std::string SocketName(std::uintptr_t hwnd) {
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.sock", static_cast<unsigned long long>(hwnd));
    return name;
}

struct Window {
    std::uintptr_t hwnd = 0;
    DWORD threadId = 0;
    WNDPROC procedure = nullptr;
    UniqueFd socket;
    std::filesystem::path socketPath;

    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() {
        if (!socketPath.empty()) {
            ::unlink(socketPath.c_str());
        }
    }
};

struct ThreadQueue {
    std::mutex mutex;
    std::deque<MSG> messages;
    UniqueFd wake{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
};

std::mutex gWindowsMutex;
std::map<std::uintptr_t, std::shared_ptr<Window>> gWindows;
std::map<DWORD, std::shared_ptr<ThreadQueue>> gQueues;
std::uintptr_t gWindowCounter = 0;

std::shared_ptr<ThreadQueue> QueueOf(DWORD threadId, bool create) {
    std::lock_guard lock(gWindowsMutex);
    auto it = gQueues.find(threadId);
    if (it != gQueues.end()) {
        return it->second;
    }
    if (!create) {
        return nullptr;
    }
    auto queue = std::make_shared<ThreadQueue>();
    gQueues.emplace(threadId, queue);
    return queue;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

void Enqueue(ThreadQueue& queue, const MSG& msg) {
    {
        std::lock_guard lock(queue.mutex);
        queue.messages.push_back(msg);
    }
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(queue.wake.get(), &one, sizeof one);
}

bool PostToLocalWindow(std::uintptr_t hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD threadId = 0;
    {
        std::lock_guard lock(gWindowsMutex);
        auto it = gWindows.find(hwnd);
        if (it == gWindows.end()) {
            return false;
        }
        threadId = it->second->threadId;
    }
    auto queue = QueueOf(threadId, true);
    Enqueue(*queue, MakeMessage(reinterpret_cast<HWND>(hwnd), message, wParam, lParam));
    return true;
}

// Sends one datagram; the errno of a failure is kept for the caller.
bool SendWire(const std::filesystem::path& socketPath, const WireMessage& wire) {
    SocketAddress address;
    if (!MakeAddress(socketPath, address)) {
        errno = ENAMETOOLONG;
        return false;
    }
    UniqueFd sender(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sender.valid()) {
        return false;
    }
    ssize_t sent = ::sendto(sender.get(), &wire, sizeof wire, MSG_DONTWAIT,
                            reinterpret_cast<const sockaddr*>(&address.address), address.length);
    return sent == static_cast<ssize_t>(sizeof wire);
}

bool ProcessAlive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Moves what arrived on the thread's window sockets into its queue.
void ReceivePending(DWORD threadId, ThreadQueue& queue) {
    std::vector<std::shared_ptr<Window>> windows;
    {
        std::lock_guard lock(gWindowsMutex);
        for (const auto& [hwnd, window] : gWindows) {
            if (window->threadId == threadId) {
                windows.push_back(window);
            }
        }
    }
    for (const auto& window : windows) {
        for (;;) {
            // One byte more than a datagram holds, so an oversized one shows.
            unsigned char bytes[sizeof(WireMessage) + 1];
            ssize_t got = ::recv(window->socket.get(), bytes, sizeof bytes, MSG_DONTWAIT);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                break;
            }
            auto msg = ov::detail::DecodeWireMessage(bytes, static_cast<std::size_t>(got), window->hwnd);
            if (!msg) {
                continue;  // not ours: dropped
            }
            std::lock_guard lock(queue.mutex);
            queue.messages.push_back(*msg);
        }
    }
}

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window != nullptr && msg.hwnd != window) {
        return false;
    }
    if (filterMin == 0 && filterMax == 0) {
        return true;
    }
    return msg.message >= filterMin && msg.message <= filterMax;
}

// ------------------------------------------------------- registered messages
std::mutex gAtomsMutex;
std::map<std::string, UINT> gAtomCache;  // "<atoms file>\n<lower-case name>"

UINT RegisterName(const std::string& utf8) {
    if (utf8.empty() || utf8.size() > kMaxMessageNameLength ||
        utf8.find_first_of("\r\n") != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto atomsPath = ov::RunDirectory() / "window-messages";
    const std::string cacheKey = atomsPath.string() + "\n" + ov::detail::ToLowerAscii(utf8);
    std::lock_guard cacheLock(gAtomsMutex);
    if (auto it = gAtomCache.find(cacheKey); it != gAtomCache.end()) {
        return it->second;
    }
    ov::detail::FileLock lock(ov::RunDirectory() / ".window-messages.lock",
                              ov::detail::FileLock::Mode::Exclusive);
    if (!lock.locked()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    auto read = ov::detail::ReadFileBounded(atomsPath, kMaxAtomFileSize);
    if (!read.content && !read.missing) {
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    std::string content = read.content.value_or("");
    std::size_t index = 0;
    std::string_view rest = content;
    while (!rest.empty()) {
        auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (ov::EqualsNoCase(line, utf8)) {
            UINT number = kFirstRegisteredMessage + static_cast<UINT>(index);
            gAtomCache.emplace(cacheKey, number);
            return number;
        }
        ++index;
    }
    if (index >= kMaxRegisteredMessages) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!content.empty() && content.back() != '\n') {
        content += '\n';
    }
    content += utf8 + "\n";
    if (!ov::detail::ReplaceFileAtomically(atomsPath, content)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    UINT number = kFirstRegisteredMessage + static_cast<UINT>(index);
    gAtomCache.emplace(cacheKey, number);
    return number;
}

}  // namespace

namespace ov::detail {

WireMessage EncodeWireMessage(std::uintptr_t target, UINT message, WPARAM wParam, LPARAM lParam) {
    return WireMessage{kWireMagic, message, target, static_cast<std::uint64_t>(wParam),
                       static_cast<std::int64_t>(lParam), static_cast<std::uint32_t>(::getpid()), 0};
}

std::optional<MSG> DecodeWireMessage(const void* bytes, std::size_t size, std::uintptr_t window) {
    WireMessage wire{};
    if (bytes == nullptr || size != sizeof wire) {
        return std::nullopt;
    }
    std::memcpy(&wire, bytes, sizeof wire);
    if (wire.magic != kWireMagic || (wire.target != window && wire.target != kBroadcast)) {
        return std::nullopt;
    }
    return MakeMessage(reinterpret_cast<HWND>(window), wire.message, static_cast<WPARAM>(wire.wParam),
                       static_cast<LPARAM>(wire.lParam));
}

}  // namespace ov::detail

namespace ov {

void LetMessagesRun(DWORD milliseconds) {
    const auto start = std::chrono::steady_clock::now();
    const auto span = std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() - start < span) {
        MSG msg{};
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(1);
    }
}

}  // namespace ov

extern "C" {

UINT RegisterWindowMessageA(const char* name) {
    return ov::detail::NoThrow<UINT>(0, [&]() -> UINT {
        if (name == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        return RegisterName(ov::AnsiToUtf8(name));
    });
}

UINT RegisterWindowMessageW(const WCHAR* name) {
    return ov::detail::NoThrow<UINT>(0, [&]() -> UINT {
        if (name == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        return RegisterName(ov::Utf16ToUtf8(name));
    });
}

HWND CreateMessageWindow(const char*, const char*, WNDPROC procedure) {
    return ov::detail::NoThrow<HWND>(nullptr, [&]() -> HWND {
        auto window = std::make_shared<Window>();
        window->threadId = CurrentThreadId();
        window->procedure = procedure;
        {
            std::lock_guard lock(gWindowsMutex);
            window->hwnd = (static_cast<std::uintptr_t>(::getpid()) << 24) | (++gWindowCounter & 0xFFFFFF);
        }
        const auto path = WindowsSocketDirectory() / SocketName(window->hwnd);
        SocketAddress address;
        window->socket.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!window->socket.valid() || !MakeAddress(path, address)) {
            SetLastError(ERROR_GEN_FAILURE);
            return nullptr;
        }
        ::unlink(path.c_str());  // left by an earlier process that had our pid
        if (::bind(window->socket.get(), reinterpret_cast<const sockaddr*>(&address.address),
                   address.length) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        window->socketPath = path;
        ::chmod(path.c_str(), 0600);
        QueueOf(window->threadId, true);
        std::lock_guard lock(gWindowsMutex);
        gWindows.emplace(window->hwnd, window);
        return reinterpret_cast<HWND>(window->hwnd);
    });
}

BOOL DestroyWindow(HWND handle) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        std::shared_ptr<Window> window;
        {
            std::lock_guard lock(gWindowsMutex);
            auto it = gWindows.find(reinterpret_cast<std::uintptr_t>(handle));
            if (it == gWindows.end() || it->second->threadId != CurrentThreadId()) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
            window = it->second;
        }
        if (window->procedure != nullptr) {
            window->procedure(handle, WM_DESTROY, 0, 0);
        }
        {
            std::lock_guard lock(gWindowsMutex);
            gWindows.erase(window->hwnd);
        }
        if (auto queue = QueueOf(CurrentThreadId(), false)) {
            std::lock_guard lock(queue->mutex);
            std::erase_if(queue->messages, [&](const MSG& msg) { return msg.hwnd == handle; });
        }
        return TRUE;
    });
}

BOOL IsWindow(HWND handle) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        const auto value = reinterpret_cast<std::uintptr_t>(handle);
        if (value == 0 || value == kBroadcast) {
            return FALSE;
        }
        if (PidOfWindow(value) == ::getpid()) {
            std::lock_guard lock(gWindowsMutex);
            return gWindows.count(value) != 0 ? TRUE : FALSE;
        }
        std::error_code ec;
        return std::filesystem::exists(WindowsSocketDirectory() / SocketName(value), ec) &&
                       ProcessAlive(PidOfWindow(value))
                   ? TRUE
                   : FALSE;
    });
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        const auto value = reinterpret_cast<std::uintptr_t>(handle);
        if (value == 0) {
            return PostThreadMessageA(CurrentThreadId(), message, wParam, lParam);
        }
        const WireMessage wire = ov::detail::EncodeWireMessage(value, message, wParam, lParam);
        if (value != kBroadcast) {
            if (PidOfWindow(value) == ::getpid()) {
                if (!PostToLocalWindow(value, message, wParam, lParam)) {
                    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                    return FALSE;
                }
                return TRUE;
            }
            if (!SendWire(WindowsSocketDirectory() / SocketName(value), wire)) {
                SetLastError(errno == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
            return TRUE;
        }
        // Every window of this process, then every other window of the prefix.
        std::vector<std::uintptr_t> local;
        {
            std::lock_guard lock(gWindowsMutex);
            for (const auto& [hwnd, window] : gWindows) {
                local.push_back(hwnd);
            }
        }
        for (auto hwnd : local) {
            PostToLocalWindow(hwnd, message, wParam, lParam);
        }
        const auto directory = WindowsSocketDirectory();
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.size() != 21 || name.substr(16) != ".sock") {
                continue;
            }
            const auto hwnd = static_cast<std::uintptr_t>(std::strtoull(name.substr(0, 16).c_str(), nullptr, 16));
            const pid_t pid = PidOfWindow(hwnd);
            if (pid == ::getpid()) {
                continue;
            }
            if (!SendWire(entry.path(), wire) && (errno == ECONNREFUSED || errno == ENOENT) &&
                !ProcessAlive(pid)) {
                // Left behind by a process that is gone.
                ::unlink(entry.path().c_str());
            }
        }
        return TRUE;
    });
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        return PostMessageA(window, message, wParam, lParam);
    });
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        auto queue = QueueOf(threadId, threadId == CurrentThreadId());
        if (queue == nullptr) {
            SetLastError(ERROR_INVALID_THREAD_ID);
            return FALSE;
        }
        Enqueue(*queue, MakeMessage(nullptr, message, wParam, lParam));
        return TRUE;
    });
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (msg == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const DWORD self = CurrentThreadId();
        auto queue = QueueOf(self, true);
        ReceivePending(self, *queue);
        std::lock_guard lock(queue->mutex);
        for (auto it = queue->messages.begin(); it != queue->messages.end(); ++it) {
            if (Matches(*it, window, filterMin, filterMax)) {
                *msg = *it;
                if (removeFlags & PM_REMOVE) {
                    queue->messages.erase(it);
                }
                return TRUE;
            }
        }
        return FALSE;
    });
}

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax) {
    return ov::detail::NoThrow<BOOL>(-1, [&]() -> BOOL {
        if (msg == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        const DWORD self = CurrentThreadId();
        auto queue = QueueOf(self, true);
        for (;;) {
            if (PeekMessageA(msg, window, filterMin, filterMax, PM_REMOVE)) {
                return msg->message == WM_QUIT ? FALSE : TRUE;
            }
            std::vector<pollfd> waits;
            waits.push_back({queue->wake.get(), POLLIN, 0});
            {
                std::lock_guard lock(gWindowsMutex);
                for (const auto& [hwnd, each] : gWindows) {
                    if (each->threadId == self) {
                        waits.push_back({each->socket.get(), POLLIN, 0});
                    }
                }
            }
            // A bounded wait, so a window created meanwhile is also watched.
            ::poll(waits.data(), waits.size(), 100);
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = ::read(queue->wake.get(), &count, sizeof count);
        }
    });
}

BOOL TranslateMessage(const MSG*) { return FALSE; }  // no keyboard input here

LRESULT DispatchMessageA(const MSG* msg) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (msg == nullptr || msg->hwnd == nullptr) {
            return 0;
        }
        WNDPROC procedure = nullptr;
        {
            std::lock_guard lock(gWindowsMutex);
            auto it = gWindows.find(reinterpret_cast<std::uintptr_t>(msg->hwnd));
            if (it == gWindows.end()) {
                return 0;
            }
            procedure = it->second->procedure;
        }
        return procedure != nullptr ? procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
    });
}

void PostQuitMessage(int exitCode) {
    ov::detail::NoThrowVoid([&] {
        PostThreadMessageA(CurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
    });
}

DWORD GetCurrentThreadId() { return CurrentThreadId(); }

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // extern "C"
