#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "faxtiff/page_image.h"
#include "faxtiff/t4_coding.h"

namespace faxtest {

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteFileText(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::uint16_t Get16(const Bytes& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

std::uint32_t Get32(const Bytes& bytes, std::size_t offset) {
    return Get16(bytes, offset) | (static_cast<std::uint32_t>(Get16(bytes, offset + 2)) << 16);
}

void Put16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    Put16(bytes, offset, value & 0xFFFF);
    Put16(bytes, offset + 2, value >> 16);
}

BitString& BitString::Add(std::string_view bits) {
    for (char c : bits) {
        if (c == '0' || c == '1') bits_.push_back(c);
    }
    return *this;
}

Bytes BitString::Pack(bool lsbFirst) const {
    Bytes out((bits_.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits_.size(); ++i) {
        if (bits_[i] == '1') {
            out[i / 8] |= static_cast<std::uint8_t>(lsbFirst ? (1u << (i % 8)) : (0x80u >> (i % 8)));
        }
    }
    return out;
}

namespace {
struct MemorySource {
    const Bytes* data;
    std::size_t position = 0;
};
int FetchFromMemory(void* context, std::uint8_t* destination, int wanted) {
    auto* source = static_cast<MemorySource*>(context);
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(wanted), source->data->size() - source->position);
    std::copy_n(source->data->data() + source->position, count, destination);
    source->position += count;
    return static_cast<int>(count);
}
}  // namespace

std::vector<Bytes> DecodeAll(const Bytes& coded, bool lsbFirst, bool reference) {
    MemorySource source{&coded};
    faxtiff::T4LineDecoder decoder;
    decoder.Reset(&FetchFromMemory, &source, lsbFirst);
    std::vector<Bytes> lines;
    Bytes line(kLineBytes);
    while ((reference ? decoder.DecodeLineReference(line.data(), kLineBytes)
                      : decoder.DecodeLine(line.data(), kLineBytes)) == kLineBytes) {
        lines.push_back(line);
    }
    return lines;
}

Bytes WhiteLine() { return Bytes(kLineBytes, 0xFF); }

Bytes LineWithBlack(int from, int to) {
    Bytes line = WhiteLine();
    for (int x = from; x < to; ++x) line[x / 8] &= static_cast<std::uint8_t>(~(0x80u >> (x % 8)));
    return line;
}

Bytes RandomLine(std::uint32_t seed, int density) {
    Bytes line = WhiteLine();
    std::uint32_t state = seed * 747796405u + 2891336453u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    int x = 0;
    while (x < FAX_LINE_PIXELS) {
        const bool black = static_cast<int>(next() % 100) < density;
        // Runs of every length class: short, medium and long.
        const int scale = static_cast<int>(next() % 3);
        const int length = 1 + static_cast<int>(next() % (scale == 0 ? 8 : scale == 1 ? 80 : 900));
        if (black) {
            for (int i = x; i < std::min(x + length, static_cast<int>(FAX_LINE_PIXELS)); ++i) {
                line[i / 8] &= static_cast<std::uint8_t>(~(0x80u >> (i % 8)));
            }
        }
        x += length;
    }
    return line;
}

void WriteFax(const std::filesystem::path& path, const std::vector<PageSpec>& pages) {
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0) << path;
    for (const PageSpec& wanted : pages) {
        tagFaxPageInfo page = FaxStandardPage(wanted.fine ? 1 : 0);
        ASSERT_EQ(tiffAppendPage(handle, &page), 0);
        CFaxPageImage image;
        const int lines = static_cast<int>(wanted.image.size() / kLineBytes);
        ASSERT_EQ(image.CreateImage(lines), 1);
        std::copy(wanted.image.begin(), wanted.image.end(), image.Image());
        ASSERT_EQ(image.WriteToPage(handle, wanted.fine ? 1 : 0), 1);
    }
    ASSERT_EQ(tiffCloseFile(handle), 0);
}

LoadedPage LoadPage(const std::filesystem::path& path, int page) {
    LoadedPage loaded;
    int handle = -1;
    if (tiffOpenFile(path.c_str(), &handle) != 0) return loaded;
    int number = 0;
    if (tiffFindFirstPage(handle, &loaded.info) == 0) {
        number = 1;
        while (number < page && tiffFindNextPage(handle, &loaded.info) == 0) ++number;
    }
    if (number == page) {
        CFaxPageImage image;
        image.Bind(handle);
        if (image.LoadPage() == 1) {
            loaded.found = true;
            loaded.lines = image.ImageLines();
            loaded.image.assign(image.Image(), image.Image() + image.ImageBytes());
        }
    }
    tiffCloseFile(handle);
    return loaded;
}

Bytes Lines(const Bytes& image, int first, int count) {
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(first) * kLineBytes,
                 image.begin() + static_cast<std::ptrdiff_t>(first + count) * kLineBytes);
}

std::filesystem::path CopyOfSample(const std::filesystem::path& directory) {
    const std::filesystem::path copy = directory / "letter.ovk";
    std::filesystem::copy_file(std::filesystem::path(FAXTIFF_SAMPLES_DIR) / "letter.ovk", copy,
                               std::filesystem::copy_options::overwrite_existing);
    return copy;
}

}  // namespace faxtest
