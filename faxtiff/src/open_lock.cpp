#include "open_lock.h"

#include "ovplatform/win32.h"

namespace faxtiff {
namespace {

constexpr DWORD kLockWaitMilliseconds = 5000;

// Created on first use rather than when the library is loaded, so that a
// program may choose its prefix before the first fax file is touched; closed
// when the library is unloaded.
class OpenSafeMutex {
public:
    OpenSafeMutex() : handle_(CreateMutexA(nullptr, FALSE, "opensafe_mutex")) {}
    ~OpenSafeMutex() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    OpenSafeMutex(const OpenSafeMutex&) = delete;
    OpenSafeMutex& operator=(const OpenSafeMutex&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

HANDLE SharedMutex() {
    static OpenSafeMutex mutex;
    return mutex.get();
}

}  // namespace

// The operation goes ahead when the wait times out: a process that died
// holding the lock must not stop every other one.
OpenSafeLock::OpenSafeLock() {
    HANDLE mutex = SharedMutex();
    if (mutex == nullptr) return;
    const DWORD result = WaitForSingleObject(mutex, kLockWaitMilliseconds);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) held_ = mutex;
}

OpenSafeLock::~OpenSafeLock() {
    if (held_ != nullptr) ReleaseMutex(held_);
}

}  // namespace faxtiff
