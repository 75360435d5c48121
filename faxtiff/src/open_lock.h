// The system-wide lock "opensafe_mutex" held around opening, creating and
// closing fax files in every process that uses this library.
#pragma once

namespace faxtiff {

class OpenSafeLock {
public:
    OpenSafeLock();
    ~OpenSafeLock();
    OpenSafeLock(const OpenSafeLock&) = delete;
    OpenSafeLock& operator=(const OpenSafeLock&) = delete;

private:
    void* held_ = nullptr;
};

}  // namespace faxtiff
