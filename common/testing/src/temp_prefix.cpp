#include "ovtest/temp_prefix.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include "ovplatform/platform.h"

namespace ovtest {

TempPrefix::TempPrefix() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
    setenv("ORVANE_PREFIX", path_.c_str(), 1);
    ov::SetPrefixForTesting(path_);
}

TempPrefix::~TempPrefix() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path BinaryDirectory() { return ov::ProgramDirectory(); }

}  // namespace ovtest
