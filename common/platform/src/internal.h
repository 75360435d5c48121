// Helpers shared by the platform layer's sources: descriptors, locks, atomic
// file replacement and the thread's last error.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <new>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "ovplatform/win32.h"

namespace ov::detail {

// Owns one file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// Opens (creating when missing) a lock file without following links.
UniqueFd OpenLockFile(const std::filesystem::path& path);

// Holds a flock on a lock file for its lifetime.
class FileLock {
public:
    enum class Mode { Shared, Exclusive };
    FileLock(const std::filesystem::path& lockPath, Mode mode);
    bool locked() const { return locked_; }

private:
    UniqueFd fd_;
    bool locked_ = false;
};

// Reads a whole regular file of at most maxBytes. Nothing when it cannot be
// read; tooLarge tells the two failures apart. A missing file sets missing.
struct ReadResult {
    std::optional<std::string> content;
    bool missing = false;
    bool tooLarge = false;
};
ReadResult ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes);

// Replaces path with content atomically: a temporary file created exclusively
// beside it, written, flushed and renamed over. Sets errno on failure.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           unsigned mode = 0600);

// Writes all bytes, retrying short writes.
bool WriteAll(int fd, std::string_view bytes);

// The name of an existing entry in path's directory that equals path's final
// name without regard to letter case; path itself when there is none.
std::filesystem::path ResolveNoCase(const std::filesystem::path& path);

std::string ToLowerAscii(std::string_view text);

// Makes a directory (and its parents) with the given mode for the last one.
bool EnsureDirectory(const std::filesystem::path& path, unsigned mode);

// The prefix-specific run directories, created on demand.
std::filesystem::path RunSubdirectory(std::string_view name);

// Registry paths used by the shell, kept here so ShellExecuteA can read
// associations.
LONG ReadRegistryString(HKEY root, const std::string& subKey, const char* valueName,
                        std::string& utf8Value);

// The path of a module loaded by LoadLibraryA, empty when unknown.
std::string LoadedModulePath(HMODULE module);

}  // namespace ov::detail

namespace ov::detail {

// The Win32-shaped calls never let an exception out: a failure inside (in
// practice only running out of memory) becomes the call's failure result.
void SetErrorFromCurrentException() noexcept;

template <typename Result, typename Body>
Result NoThrow(Result onFailure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        SetErrorFromCurrentException();
        return onFailure;
    }
}

template <typename Body>
void NoThrowVoid(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        SetErrorFromCurrentException();
    }
}

// Registry calls return their error instead of setting it.
template <typename Body>
LONG NoThrowStatus(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace ov::detail
