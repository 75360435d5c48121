// Owns an operating-system file descriptor, with the read, write and seek
// calls the fax file container makes (direct, unbuffered).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace faxtiff {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Reset();

    bool SeekTo(std::uint64_t offset) const;
    // Current position, or -1.
    std::int64_t Position() const;
    std::int64_t SeekEnd() const;
    std::int64_t Size() const;
    // Reads up to count bytes, retrying after interruptions; returns the bytes
    // read (fewer at the end of the file) or -1.
    long Read(void* buffer, std::size_t count) const;
    // true when every byte was written.
    bool WriteAll(const void* buffer, std::size_t count) const;

private:
    int fd_ = -1;
};

// Opens path for reading only; the file must exist and not be in use by
// another handle (no sharing). Invalid on failure.
UniqueFd OpenForReadingUnshared(const char* path);
// Creates path for writing only, replacing a file that is there (a link is
// replaced, never followed); fails while the file is in use elsewhere.
// The new file is readable only by its owner.
UniqueFd CreateForWritingUnshared(const char* path);

}  // namespace faxtiff
