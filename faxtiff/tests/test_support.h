// Helpers shared by the fax image library's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "faxtiff/faxtiff.h"

namespace faxtest {

using Bytes = std::vector<std::uint8_t>;
constexpr int kLineBytes = FAX_LINE_BYTES;

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
void WriteFileText(const std::filesystem::path& path, std::string_view text);

std::uint16_t Get16(const Bytes& bytes, std::size_t offset);
std::uint32_t Get32(const Bytes& bytes, std::size_t offset);
void Put16(Bytes& bytes, std::size_t offset, std::uint32_t value);
void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value);

// Code bits written in the order they are transmitted ("0011 0101"; spaces
// are ignored), packed into bytes in fill order 2 (first bit in the least
// significant bit) or fill order 1; the last byte is padded with 0 bits.
class BitString {
public:
    BitString& Add(std::string_view bits);
    Bytes Pack(bool lsbFirst) const;

private:
    std::string bits_;
};

// The coded lines of a byte stream as the decoder delivers them (each 216
// bytes), taken with the table decoder or with the bit-by-bit reference.
std::vector<Bytes> DecodeAll(const Bytes& coded, bool lsbFirst, bool reference = false);

// A 216-byte line, 1 = white, with the pixels [from, to) black.
Bytes LineWithBlack(int from, int to);
Bytes WhiteLine();
// A line of random runs; density is the share of black pixels in percent.
Bytes RandomLine(std::uint32_t seed, int density);

struct PageSpec {
    Bytes image;  // 216 bytes a line, 1 = white
    bool fine = true;
};
// Writes the pages through the page image writer: every image line when fine,
// every second line when not.
void WriteFax(const std::filesystem::path& path, const std::vector<PageSpec>& pages);

// The page image of page `page` (from 1) and its description; empty when the
// page cannot be found.
struct LoadedPage {
    bool found = false;
    tagFaxPageInfo info{};
    int lines = 0;
    Bytes image;
};
LoadedPage LoadPage(const std::filesystem::path& path, int page);

// Image lines [first, first + count) of a bitmap.
Bytes Lines(const Bytes& image, int first, int count);

// A private copy of the sample printer stream in directory. The converter
// opens its source without sharing, as the fax client does, so tests that
// run at the same time must not convert the one shared sample file.
std::filesystem::path CopyOfSample(const std::filesystem::path& directory);

}  // namespace faxtest
