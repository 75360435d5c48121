#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "ovplatform/platform.h"

namespace faxfuzz {
namespace {

// Also the prefix, so that the named mutexes of the library stay out of the
// user's own data.
class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "faxtiff-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
        ::setenv("ORVANE_PREFIX", path_.c_str(), 1);
        ov::SetPrefixForTesting(path_);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

const Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

}  // namespace

std::string ScratchPath(const char* name) { return (TheScratch().path() / name).string(); }

std::string WriteScratchFile(const char* name, const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchPath(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put <= 0) std::abort();
        done += static_cast<std::size_t>(put);
    }
    ::close(fd);
    return path;
}

}  // namespace faxfuzz
