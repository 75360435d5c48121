// Fault texts from the environment (ORVANE_MAPI_FAULTS).
#include <cstdint>
#include <string_view>

#include "ovmapi/faults.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<ovmapi::faults::Fault> faults;
    ovmapi::faults::ParseFaults(std::string_view(reinterpret_cast<const char*>(data), size), faults);
    return 0;
}
