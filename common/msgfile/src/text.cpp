// Small shared pieces: GUID bytes, property lookup, Windows-1252 and the
// MS-OXRTFCP CRC.
#include <algorithm>
#include <array>

#include "byte_io.h"
#include "ovmsgfile/msgfile.h"

namespace ov::msgfile {

std::array<std::uint8_t, 16> Guid::ToBytes() const {
    std::array<std::uint8_t, 16> bytes{};
    detail::StoreU32(bytes.data(), data1);
    detail::StoreU16(bytes.data() + 4, data2);
    detail::StoreU16(bytes.data() + 6, data3);
    std::copy(data4.begin(), data4.end(), bytes.begin() + 8);
    return bytes;
}

Guid Guid::FromBytes(std::span<const std::uint8_t, 16> bytes) {
    Guid guid;
    guid.data1 = detail::LoadU32(bytes.data());
    guid.data2 = detail::LoadU16(bytes.data() + 4);
    guid.data3 = detail::LoadU16(bytes.data() + 6);
    std::copy(bytes.begin() + 8, bytes.end(), guid.data4.begin());
    return guid;
}

const Property* FindProperty(const PropertyList& properties, PropTag tag) {
    auto it = std::find_if(properties.begin(), properties.end(),
                           [tag](const Property& p) { return p.tag == tag; });
    return it == properties.end() ? nullptr : &*it;
}

std::u16string Windows1252ToUtf16(std::string_view bytes) {
    // 0x80..0x9F differ from Latin-1; the five unassigned positions map to
    // the C1 control of the same number, as Windows converts them.
    static constexpr std::array<char16_t, 32> kHigh = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        text.push_back(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b));
    }
    return text;
}

namespace {
constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[n] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();
}  // namespace

std::uint32_t RtfCrc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0;
    for (std::uint8_t b : bytes) crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace ov::msgfile
