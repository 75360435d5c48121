#include "fuzz_prefix.h"

#include <cstdlib>
#include <string>

#include "ovplatform/platform.h"

namespace mapifuzz {
namespace {

struct Prefix {
    std::filesystem::path path;
    Prefix() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
        setenv("ORVANE_PREFIX", path.c_str(), 1);
        ov::SetPrefixForTesting(path);
    }
    ~Prefix() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

const std::filesystem::path& FuzzPrefix() {
    static Prefix prefix;
    return prefix.path;
}

}  // namespace mapifuzz
