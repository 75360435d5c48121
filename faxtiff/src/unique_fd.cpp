#include "unique_fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "ovplatform/platform.h"

namespace faxtiff {

void UniqueFd::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool UniqueFd::SeekTo(std::uint64_t offset) const {
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t UniqueFd::Position() const { return ::lseek(fd_, 0, SEEK_CUR); }

std::int64_t UniqueFd::SeekEnd() const { return ::lseek(fd_, 0, SEEK_END); }

std::int64_t UniqueFd::Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return -1;
    return info.st_size;
}

long UniqueFd::Read(void* buffer, std::size_t count) const {
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < count) {
        const ssize_t got = ::read(fd_, bytes + done, count - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<long>(done) : -1;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

bool UniqueFd::WriteAll(const void* buffer, std::size_t count) const {
    std::size_t done = 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (done < count) {
        const ssize_t put = ::write(fd_, bytes + done, count - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

namespace {

// Another handle on the file holds its lock: the file is in use.
bool LockUnshared(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

UniqueFd OpenForReadingUnshared(const char* path) {
    const std::string mapped = ov::MapPath(path);
    UniqueFd fd(::open(mapped.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return {};
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    if (!LockUnshared(fd.get())) return {};
    return fd;
}

UniqueFd CreateForWritingUnshared(const char* path) {
    const std::string mapped = ov::MapPath(path);
    struct stat info {};
    if (::lstat(mapped.c_str(), &info) == 0) {
        if (S_ISREG(info.st_mode)) {
            // Replacing a file another handle still uses would pull it away
            // under that handle's feet.
            UniqueFd existing(::open(mapped.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (existing.valid() && !LockUnshared(existing.get())) return {};
        } else if (!S_ISLNK(info.st_mode)) {
            return {};
        }
        if (::unlink(mapped.c_str()) != 0 && errno != ENOENT) return {};
    }
    UniqueFd fd(ov::CreateFileExclusive(mapped, 0600));
    if (!fd.valid()) return {};
    if (!LockUnshared(fd.get())) return {};
    return fd;
}

}  // namespace faxtiff
