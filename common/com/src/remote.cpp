// Both ends of a remote object: the client's proxy, which starts the server
// process and forwards every call, and the server's loop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "ovcom/remote.h"
#include "ovplatform/platform.h"

extern char** environ;

namespace ov::com {

std::optional<std::string> LocalServerCommand(const CLSID& clsid);

namespace {

constexpr const char* kConnectionVariable = "ORVANE_COM_FD";
constexpr int kServerFd = 3;
constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kExitTimeout = std::chrono::seconds(10);

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads one line (without its newline) from fd, keeping what follows in
// pending. timeoutMs < 0 waits for ever. Nothing on end of data, error,
// time-out or a line longer than kMaxMessageBytes.
std::optional<std::string> ReadLine(int fd, std::string& pending, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto nl = pending.find('\n'); nl != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            return line;
        }
        if (pending.size() > kMaxMessageBytes) return std::nullopt;
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            wait = static_cast<int>(left.count());
        }
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buffer[65536];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

class RemoteProxy final : public RefCounted<IDispatch> {
public:
    RemoteProxy(int fd, pid_t pid) : fd_(fd), pid_(pid) {}
    ~RemoteProxy() override {
        // Closing the connection releases the object; the server then ends.
        ::close(fd_);
        auto deadline = std::chrono::steady_clock::now() + kExitTimeout;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            AddRef();
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT GetIDsOfNames(const std::vector<std::string>& names,
                          std::vector<DISPID>* ids) override {
        if (ids == nullptr) return E_POINTER;
        Request request;
        request.kind = Request::Kind::Names;
        request.names = names;
        Reply reply;
        if (HRESULT hr = Call(request, &reply); Failed(hr)) return hr;
        if (reply.ids.size() != names.size()) return RPC_E_INVALID_DATA;
        *ids = std::move(reply.ids);
        return reply.hr;
    }

    HRESULT Invoke(DISPID member, WORD flags, const std::vector<Variant>& args,
                   Variant* result) override {
        Request request;
        request.kind = Request::Kind::Invoke;
        request.member = member;
        request.flags = flags;
        request.args = args;
        Reply reply;
        if (HRESULT hr = Call(request, &reply); Failed(hr)) return hr;
        if (result != nullptr) *result = std::move(reply.result);
        return reply.hr;
    }

    // The server greets once it serves the object.
    bool AwaitGreeting() {
        auto line = ReadLine(fd_, pending_, static_cast<int>(std::chrono::milliseconds(kStartTimeout).count()));
        return line && DecodeReply(*line).has_value();
    }

    pid_t pid() const { return pid_; }

private:
    HRESULT Call(const Request& request, Reply* reply) {
        if (broken_) return RPC_E_DISCONNECTED;
        if (!WriteAll(fd_, EncodeRequest(request) + "\n")) {
            broken_ = true;
            return RPC_E_DISCONNECTED;
        }
        auto line = ReadLine(fd_, pending_, -1);
        if (!line) {
            broken_ = true;
            return RPC_E_DISCONNECTED;
        }
        auto decoded = DecodeReply(*line);
        if (!decoded) return RPC_E_INVALID_DATA;
        *reply = std::move(*decoded);
        return S_OK;
    }

    int fd_;
    pid_t pid_;
    std::string pending_;
    bool broken_ = false;
};

}  // namespace

HRESULT CreateRemoteObject(const CLSID& clsid, IDispatch** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    auto command = LocalServerCommand(clsid);
    if (!command || command->empty()) return REGDB_E_CLASSNOTREG;
    std::vector<std::string> argv = SplitCommandLine(*command);
    if (argv.empty()) return REGDB_E_CLASSNOTREG;
    argv[0] = MapPath(argv[0]);
    argv.emplace_back("/Automation");

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return E_FAIL;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto a fixed number clears close-on-exec for the server's end.
    posix_spawn_file_actions_adddup2(&actions, sv[1], kServerFd);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, kConnectionVariable, std::strlen(kConnectionVariable)) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back(std::string(kConnectionVariable) + "=" + std::to_string(kServerFd));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(sv[1]);
    if (rc != 0) {
        ::close(sv[0]);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    ComPtr<RemoteProxy> proxy(new RemoteProxy(sv[0], pid));
    if (!proxy->AwaitGreeting()) return CO_E_SERVER_EXEC_FAILURE;  // proxy reaps the child
    proxy->AddRef();
    *object = proxy.get();
    return S_OK;
}

HRESULT CreateRemoteObject(const std::string& progId, IDispatch** object) {
    CLSID clsid;
    if (HRESULT hr = CLSIDFromProgID(progId, &clsid); Failed(hr)) {
        if (object != nullptr) *object = nullptr;
        return hr == CO_E_CLASSSTRING ? REGDB_E_CLASSNOTREG : hr;
    }
    return CreateRemoteObject(clsid, object);
}

long RemoteProcessId(IDispatch* object) {
    auto* proxy = dynamic_cast<RemoteProxy*>(object);
    return proxy ? static_cast<long>(proxy->pid()) : -1;
}

int TakeClientConnection() {
    const char* value = std::getenv(kConnectionVariable);
    if (value == nullptr) return -1;
    char* end = nullptr;
    long fd = std::strtol(value, &end, 10);
    ::unsetenv(kConnectionVariable);  // not for the programs this one starts
    if (end == value || *end != '\0' || fd < 0 || fd > 1024) return -1;
    if (::fcntl(static_cast<int>(fd), F_GETFD) < 0) return -1;
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
}

int ServeObject(int connection, IDispatch* object, const std::function<void()>& idle) {
    if (!WriteAll(connection, EncodeReply(Reply{}) + "\n")) return 1;
    std::string pending;
    for (;;) {
        // Wake every few milliseconds so window messages keep running.
        auto line = ReadLine(connection, pending, 10);
        if (!line) {
            pollfd p{connection, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0) {
                char probe;
                ssize_t n = ::recv(connection, &probe, 1, MSG_PEEK);
                if (n == 0) return 0;  // the client released the object
                if (n < 0 && errno != EINTR && errno != EAGAIN) return 1;
            }
            if (pending.size() > kMaxMessageBytes) return 1;
            if (idle) idle();
            continue;
        }
        Reply reply;
        auto request = DecodeRequest(*line);
        if (!request) {
            reply.hr = RPC_E_INVALID_DATA;
        } else if (request->kind == Request::Kind::Names) {
            reply.hr = object->GetIDsOfNames(request->names, &reply.ids);
        } else {
            reply.hr = object->Invoke(request->member, request->flags, request->args,
                                      &reply.result);
        }
        if (!WriteAll(connection, EncodeReply(reply) + "\n")) return 1;
    }
}

}  // namespace ov::com
