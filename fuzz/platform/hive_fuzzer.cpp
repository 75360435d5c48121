// Registry hive text: a hive that parses must write out to text that parses
// to the same hive.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ovplatform/internal/registry_hive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > ov::detail::kMaxHiveFileSize) {
        return 0;
    }
    auto hive = ov::detail::ParseHive(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!hive) {
        return 0;
    }
    const std::string written = ov::detail::SerializeHive(*hive);
    auto again = ov::detail::ParseHive(written);
    if (!again || ov::detail::SerializeHive(*again) != written) {
        std::abort();
    }
    return 0;
}
