// vCard text from outside: parsing must end cleanly on any bytes.
#include <cstdint>
#include <string_view>

#include "ovmapi/provider.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<ovmapi::ContactCard> cards;
    std::string error;
    ovmapi::ParseVCards(std::string_view(reinterpret_cast<const char*>(data), size), cards, error);
    return 0;
}
