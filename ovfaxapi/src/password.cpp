#include "password.h"

#include <cstdint>

namespace ovfaxapi {

namespace {
// The fixed choices of the rule; the tool that writes the value uses the same.
constexpr std::uint8_t kSeed = 0x5A;
constexpr std::uint8_t kLimit = 0xF0;
constexpr std::uint8_t kLowValue = 0x21;
constexpr char kHighOffset = 'A';
constexpr char kLowOffset = 'a';

std::uint8_t NextKey(std::uint8_t key) {
    ++key;
    return key >= kLimit ? kLowValue : key;
}
}  // namespace

std::string ScramblePassword(std::string_view plain) {
    std::string stored;
    std::uint8_t key = kSeed;
    for (char c : plain) {
        auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ key);
        stored += static_cast<char>(kHighOffset + (b >> 4));
        stored += static_cast<char>(kLowOffset + (b & 0x0F));
        key = NextKey(key);
    }
    return stored;
}

std::string UnscramblePassword(std::string_view stored) {
    std::string plain;
    std::uint8_t key = kSeed;
    for (std::size_t i = 0; i + 1 < stored.size(); i += 2) {
        // Characters outside the sixteen of a digit keep only their low bits:
        // a damaged value gives a wrong password, never a fault.
        auto high = static_cast<std::uint8_t>((stored[i] - kHighOffset) & 0x0F);
        auto low = static_cast<std::uint8_t>((stored[i + 1] - kLowOffset) & 0x0F);
        plain += static_cast<char>(static_cast<std::uint8_t>(high << 4 | low) ^ key);
        key = NextKey(key);
    }
    return plain;
}

}  // namespace ovfaxapi
