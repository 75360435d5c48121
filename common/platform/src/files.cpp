// Files: exclusive creation, locks, bounded reads, atomic replacement and the
// temporary-name rule.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "internal.h"
#include "ovplatform/internal/temp_name.h"
#include "ovplatform/platform.h"

namespace ov::detail {

UniqueFd::~UniqueFd() { reset(); }

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.release());
    }
    return *this;
}

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

UniqueFd OpenLockFile(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return fd;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return UniqueFd();
    }
    return fd;
}

FileLock::FileLock(const std::filesystem::path& lockPath, Mode mode) : fd_(OpenLockFile(lockPath)) {
    if (!fd_.valid()) {
        return;
    }
    int operation = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
    while (::flock(fd_.get(), operation) != 0) {
        if (errno != EINTR) {
            return;
        }
    }
    locked_ = true;
}

ReadResult ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes) {
    ReadResult result;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        result.missing = errno == ENOENT;
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return result;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        result.tooLarge = true;
        return result;
    }
    std::string content;
    content.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done == content.size()) {
            // The file may have grown since fstat; never read past the bound.
            if (content.size() >= maxBytes) {
                char probe = 0;
                ssize_t extra = ::read(fd.get(), &probe, 1);
                if (extra > 0) {
                    result.tooLarge = true;
                    return result;
                }
                break;
            }
            content.resize(std::min(maxBytes, content.size() + 4096));
        }
        ssize_t got = ::read(fd.get(), content.data() + done, content.size() - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return result;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    content.resize(done);
    result.content = std::move(content);
    return result;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           unsigned mode) {
    std::string pattern =
        (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    int savedErrno = errno;
    fd.reset();
    if (ok && ::rename(pattern.c_str(), path.c_str()) == 0) {
        return true;
    }
    if (ok) {
        savedErrno = errno;
    }
    ::unlink(pattern.c_str());
    errno = savedErrno;
    return false;
}

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::filesystem::path ResolveNoCase(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        return path;
    }
    const std::string wanted = path.filename().string();
    std::filesystem::path directory = path.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    std::filesystem::directory_iterator it(directory, ec);
    if (ec) {
        return path;
    }
    for (const auto& entry : it) {
        if (EqualsNoCase(entry.path().filename().string(), wanted)) {
            return path.parent_path() / entry.path().filename();
        }
    }
    return path;
}

bool EnsureDirectory(const std::filesystem::path& path, unsigned mode) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return true;
    }
    if (!path.parent_path().empty() && path.parent_path() != path) {
        std::filesystem::create_directories(path.parent_path(), ec);
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        return false;
    }
    ::chmod(path.c_str(), mode);
    return std::filesystem::is_directory(path, ec);
}

std::filesystem::path RunSubdirectory(std::string_view name) {
    auto directory = RunDirectory() / std::string(name);
    EnsureDirectory(directory, 0700);
    return directory;
}

}  // namespace ov::detail

namespace ov {

int CreateFileExclusive(const std::filesystem::path& path, unsigned mode) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

std::uint32_t TempNameSeed(const SYSTEMTIME& utcNow) {
    std::uint32_t seed = utcNow.wMilliseconds;
    seed *= utcNow.wSecond;
    seed *= utcNow.wMinute;
    seed *= utcNow.wHour;
    seed *= utcNow.wDay;
    return seed;
}

std::optional<std::filesystem::path> CreateTempName(const std::filesystem::path& directory,
                                                    std::string_view extension) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return detail::CreateTempNameFrom(directory, extension, TempNameSeed(now));
}

std::optional<std::filesystem::path> detail::CreateTempNameFrom(const std::filesystem::path& directory,
                                                                std::string_view extension,
                                                                std::uint32_t number) {
    const std::filesystem::path mappedDirectory = MapPath(directory.string());
    // Bounded so a directory full of such names ends in a failure, not a hang.
    constexpr int kMaxAttempts = 1 << 20;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt, ++number) {
        char name[16];
        std::snprintf(name, sizeof name, "%08lX", static_cast<unsigned long>(number));
        std::filesystem::path candidate = mappedDirectory / (std::string(name) + "." + std::string(extension));
        int fd = CreateFileExclusive(candidate);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    errno = EEXIST;
    return std::nullopt;
}

}  // namespace ov
