// Named mutexes shared by the processes of a prefix. Each name has four files
// under <prefix>/run/mutex: "guard" serialises creating, opening and closing;
// a shared lock on "ref" held by every process with a handle is what makes the
// mutex exist; an exclusive lock on "own" is ownership, released by the kernel
// when the owner dies; "state" records whether the owner let go properly, so
// the next owner learns that the mutex was abandoned. Threads of one process
// take turns through an in-process gate, and ownership is recursive per thread.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"
#include "ovplatform/platform.h"

namespace {

using ov::detail::UniqueFd;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kStateSize = 32;
constexpr std::size_t kMaxMutexName = MAX_PATH;

struct MutexObject {
    std::filesystem::path base;  // empty for an unnamed mutex
    UniqueFd ref;
    UniqueFd own;
    UniqueFd state;
    std::mutex gateMutex;
    std::condition_variable gateFree;
    bool owned = false;  // a thread of this process owns (or is acquiring) it
    std::thread::id owner;
    unsigned recursion = 0;
    int handles = 0;
    bool abandoned = false;  // an owning thread ended without releasing it
};

// The mutexes a thread owns: when the thread ends still owning one, it is
// released as abandoned, as Windows does, so other threads are not blocked
// until the whole process ends.
struct ThreadOwnership {
    std::vector<std::weak_ptr<MutexObject>> owned;
    ~ThreadOwnership();
};
thread_local ThreadOwnership tOwnership;

std::mutex gTableMutex;
std::map<std::string, std::shared_ptr<MutexObject>> gNamedObjects;
std::map<std::uintptr_t, std::shared_ptr<MutexObject>> gHandles;
std::uintptr_t gNextHandle = 0x4000;

std::string EscapeName(std::string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string escaped;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || (c == '.' && !escaped.empty())) {
            escaped += c;
        } else {
            escaped += '%';
            escaped += hex[byte >> 4];
            escaped += hex[byte & 0xF];
        }
    }
    if (escaped.size() > 180) {
        // File names are limited; a long name keeps its start and a hash of all.
        std::uint64_t hash = 1469598103934665603ull;
        for (char c : name) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "~%016llx", static_cast<unsigned long long>(hash));
        escaped = escaped.substr(0, 150) + suffix;
    }
    return escaped;
}

std::filesystem::path FileOf(const MutexObject& object, const char* kind) {
    return object.base.string() + "." + kind;
}

UniqueFd OpenPart(const std::filesystem::path& path, bool create) {
    int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
    return UniqueFd(::open(path.c_str(), flags, 0600));
}

bool Flock(int fd, int operation) {
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

void WriteState(const MutexObject& object, bool owned) {
    char text[kStateSize];
    std::memset(text, ' ', sizeof text);
    int length = owned ? std::snprintf(text, sizeof text, "owned %ld", static_cast<long>(::getpid()))
                       : std::snprintf(text, sizeof text, "free");
    text[length] = ' ';
    text[kStateSize - 1] = '\n';
    [[maybe_unused]] auto written = ::pwrite(object.state.get(), text, sizeof text, 0);
}

bool StateSaysOwned(const MutexObject& object) {
    char text[kStateSize] = {};
    ssize_t got = ::pread(object.state.get(), text, sizeof text, 0);
    return got >= 5 && std::memcmp(text, "owned", 5) == 0;
}

HANDLE NewHandle(const std::shared_ptr<MutexObject>& object) {
    std::uintptr_t value = gNextHandle;
    gNextHandle += 4;
    gHandles.emplace(value, object);
    ++object->handles;
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<MutexObject> ObjectOf(HANDLE handle) {
    std::lock_guard lock(gTableMutex);
    auto it = gHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == gHandles.end() ? nullptr : it->second;
}

// Joins or creates the mutex on disk; with create false, only joins one that
// exists. Called with the table lock held.
std::shared_ptr<MutexObject> Attach(const std::string& name, bool create, bool& existed) {
    auto object = std::make_shared<MutexObject>();
    object->base = ov::detail::RunSubdirectory("mutex") / EscapeName(name);
    ov::detail::FileLock guard(FileOf(*object, "guard"), ov::detail::FileLock::Mode::Exclusive);
    if (!guard.locked()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    object->ref = OpenPart(FileOf(*object, "ref"), create);
    if (!object->ref.valid()) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // Nobody holding "ref" means the mutex does not exist (any more).
    existed = ::flock(object->ref.get(), LOCK_EX | LOCK_NB) != 0;
    if (!existed && !create) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    object->own = OpenPart(FileOf(*object, "own"), true);
    object->state = OpenPart(FileOf(*object, "state"), true);
    if (!object->own.valid() || !object->state.valid() || !Flock(object->ref.get(), LOCK_SH)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!existed) {
        WriteState(*object, false);  // a new mutex starts free, whatever came before
    }
    return object;
}

// Lets the mutex go on disk when this process closes its last handle.
void Detach(MutexObject& object) {
    if (object.base.empty()) {
        return;
    }
    ov::detail::FileLock guard(FileOf(object, "guard"), ov::detail::FileLock::Mode::Exclusive);
    object.own.reset();
    object.state.reset();
    object.ref.reset();
    UniqueFd probe = OpenPart(FileOf(object, "ref"), false);
    if (guard.locked() && probe.valid() && ::flock(probe.get(), LOCK_EX | LOCK_NB) == 0) {
        ::unlink(FileOf(object, "ref").c_str());
        ::unlink(FileOf(object, "own").c_str());
        ::unlink(FileOf(object, "state").c_str());
    }
}

void Forget(const MutexObject& object) {
    std::erase_if(tOwnership.owned, [&](const std::weak_ptr<MutexObject>& weak) {
        auto held = weak.lock();
        return held == nullptr || held.get() == &object;
    });
}

ThreadOwnership::~ThreadOwnership() {
    const auto self = std::this_thread::get_id();
    for (const auto& weak : owned) {
        auto object = weak.lock();
        if (object == nullptr) {
            continue;
        }
        std::lock_guard lock(object->gateMutex);
        if (!object->owned || object->owner != self) {
            continue;
        }
        // The "owned" state stays on disk: the next owner learns of it.
        if (!object->base.empty()) {
            Flock(object->own.get(), LOCK_UN);
        }
        object->abandoned = true;
        object->owned = false;
        object->recursion = 0;
        object->gateFree.notify_all();
    }
}

DWORD Acquire(const std::shared_ptr<MutexObject>& shared, DWORD milliseconds) {
    MutexObject& object = *shared;
    const bool forever = milliseconds == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    std::unique_lock lock(object.gateMutex);
    if (object.owned && object.owner == std::this_thread::get_id()) {
        ++object.recursion;
        return WAIT_OBJECT_0;
    }
    auto gateOpen = [&] { return !object.owned; };
    if (forever) {
        object.gateFree.wait(lock, gateOpen);
    } else if (!object.gateFree.wait_until(lock, deadline, gateOpen)) {
        return WAIT_TIMEOUT;
    }
    object.owned = true;
    object.owner = std::this_thread::get_id();
    object.recursion = 0;
    lock.unlock();

    bool abandoned = false;
    if (!object.base.empty()) {
        auto pause = std::chrono::microseconds(200);
        while (::flock(object.own.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                lock.lock();
                object.owned = false;
                object.gateFree.notify_all();
                SetLastError(ERROR_INVALID_HANDLE);
                return WAIT_FAILED;
            }
            if (!forever && Clock::now() >= deadline) {
                lock.lock();
                object.owned = false;
                object.gateFree.notify_all();
                return WAIT_TIMEOUT;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
        }
        abandoned = StateSaysOwned(object);
        WriteState(object, true);
    }
    lock.lock();
    object.recursion = 1;
    abandoned = abandoned || object.abandoned;
    object.abandoned = false;
    tOwnership.owned.push_back(shared);
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

}  // namespace

extern "C" {

HANDLE CreateMutexA(void*, BOOL initialOwner, const char* name) {
    return ov::detail::NoThrow<HANDLE>(nullptr, [&]() -> HANDLE {
        std::shared_ptr<MutexObject> object;
        bool existed = false;
        HANDLE handle = nullptr;
        {
            std::lock_guard lock(gTableMutex);
            if (name == nullptr) {
                object = std::make_shared<MutexObject>();
            } else {
                if (std::strlen(name) > kMaxMutexName) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return nullptr;
                }
                const std::string key = (ov::RunDirectory() / "mutex").string() + '\n' + name;
                if (auto it = gNamedObjects.find(key); it != gNamedObjects.end()) {
                    object = it->second;
                    existed = true;
                } else {
                    object = Attach(name, true, existed);
                    if (object == nullptr) {
                        return nullptr;
                    }
                    gNamedObjects.emplace(key, object);
                }
            }
            handle = NewHandle(object);
        }
        if (initialOwner && !existed) {
            Acquire(object, INFINITE);
        }
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    });
}

HANDLE OpenMutexA(DWORD, BOOL, const char* name) {
    return ov::detail::NoThrow<HANDLE>(nullptr, [&]() -> HANDLE {
        if (name == nullptr || std::strlen(name) > kMaxMutexName) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        std::lock_guard lock(gTableMutex);
        const std::string key = (ov::RunDirectory() / "mutex").string() + '\n' + name;
        std::shared_ptr<MutexObject> object;
        if (auto it = gNamedObjects.find(key); it != gNamedObjects.end()) {
            object = it->second;
        } else {
            bool existed = false;
            object = Attach(name, false, existed);
            if (object == nullptr) {
                return nullptr;
            }
            gNamedObjects.emplace(key, object);
        }
        SetLastError(ERROR_SUCCESS);
        return NewHandle(object);
    });
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ov::detail::NoThrow<DWORD>(WAIT_FAILED, [&]() -> DWORD {
        auto object = ObjectOf(handle);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        return Acquire(object, milliseconds);
    });
}

BOOL ReleaseMutex(HANDLE handle) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        auto object = ObjectOf(handle);
        if (object == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        std::lock_guard lock(object->gateMutex);
        if (!object->owned || object->owner != std::this_thread::get_id() || object->recursion == 0) {
            SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--object->recursion == 0) {
            if (!object->base.empty()) {
                WriteState(*object, false);
                Flock(object->own.get(), LOCK_UN);
            }
            object->owned = false;
            object->gateFree.notify_all();
            Forget(*object);
        }
        return TRUE;
    });
}

BOOL CloseHandle(HANDLE handle) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        std::shared_ptr<MutexObject> object;
        {
            std::lock_guard lock(gTableMutex);
            auto it = gHandles.find(reinterpret_cast<std::uintptr_t>(handle));
            if (it == gHandles.end()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return FALSE;
            }
            object = std::move(it->second);
            gHandles.erase(it);
            if (--object->handles > 0) {
                return TRUE;
            }
            for (auto named = gNamedObjects.begin(); named != gNamedObjects.end(); ++named) {
                if (named->second == object) {
                    gNamedObjects.erase(named);
                    break;
                }
            }
            // Closing the last handle while owning it leaves the "owned" record in
            // place: the next owner is told the mutex was abandoned.
            Detach(*object);
        }
        return TRUE;
    });
}

}  // extern "C"
