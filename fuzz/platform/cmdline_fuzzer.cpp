// Command lines split by the Windows rules: the arguments, quoted and joined
// again, must split back to themselves.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ovplatform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1u << 16) {
        return 0;
    }
    const auto arguments = ov::SplitCommandLine(std::string_view(reinterpret_cast<const char*>(data), size));
    if (ov::SplitCommandLine(ov::JoinCommandLine(arguments)) != arguments) {
        std::abort();
    }
    return 0;
}
