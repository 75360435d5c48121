#include "pbm.h"

#include <algorithm>
#include <cstring>

namespace faxtiff::pbm {
namespace {

constexpr int kFaxLineBytes = 216;
constexpr int kFaxLinePixels = 1728;

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    bool AtEnd() const { return position_ >= data_.size(); }
    std::size_t Remaining() const { return data_.size() - position_; }
    std::size_t Position() const { return position_; }
    const std::uint8_t* Here() const { return data_.data() + position_; }
    void Skip(std::size_t count) { position_ += count; }

    // Whitespace and comments ("#" to the end of the line) between header fields.
    void SkipSpaceAndComments() {
        while (!AtEnd()) {
            if (IsSpace(data_[position_])) {
                ++position_;
            } else if (data_[position_] == '#') {
                while (!AtEnd() && data_[position_] != '\n' && data_[position_] != '\r') ++position_;
            } else {
                break;
            }
        }
    }

    bool Number(int limit, int& value) {
        SkipSpaceAndComments();
        if (AtEnd() || data_[position_] < '0' || data_[position_] > '9') return false;
        long long number = 0;
        while (!AtEnd() && data_[position_] >= '0' && data_[position_] <= '9') {
            number = number * 10 + (data_[position_] - '0');
            if (number > limit) return false;
            ++position_;
        }
        value = static_cast<int>(number);
        return true;
    }

    int Byte() { return AtEnd() ? -1 : data_[position_++]; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
};

}  // namespace

bool ParseImages(std::span<const std::uint8_t> data, std::vector<Image>& images, std::string& error,
                 const Limits& limits) {
    images.clear();
    Reader reader(data);
    reader.SkipSpaceAndComments();
    if (reader.AtEnd()) {
        error = "no image in the file";
        return false;
    }
    while (!reader.AtEnd()) {
        const int p = reader.Byte();
        const int kind = reader.Byte();
        if (p != 'P' || (kind != '4' && kind != '1')) {
            error = "image " + std::to_string(images.size() + 1) + ": not a PBM image (P1 or P4 expected)";
            return false;
        }
        Image image;
        if (!reader.Number(limits.maxWidth, image.width) || !reader.Number(limits.maxHeight, image.height)) {
            error = "image " + std::to_string(images.size() + 1) + ": bad or too large width or height";
            return false;
        }
        const std::size_t rowBytes = image.RowBytes();
        const std::size_t rasterBytes = rowBytes * static_cast<std::size_t>(image.height);
        if (kind == '4') {
            // One whitespace character, then the raster.
            if (reader.AtEnd() || !IsSpace(static_cast<std::uint8_t>(reader.Byte())) ||
                reader.Remaining() < rasterBytes) {
                error = "image " + std::to_string(images.size() + 1) + ": raster cut short";
                return false;
            }
            image.rows.assign(reader.Here(), reader.Here() + rasterBytes);
            reader.Skip(rasterBytes);
        } else {
            // Every pixel takes at least one character of the input.
            const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
            if (reader.Remaining() < pixels) {
                error = "image " + std::to_string(images.size() + 1) + ": raster cut short";
                return false;
            }
            image.rows.assign(rasterBytes, 0);
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    reader.SkipSpaceAndComments();
                    const int c = reader.Byte();
                    if (c != '0' && c != '1') {
                        error = "image " + std::to_string(images.size() + 1) + ": bad pixel in plain raster";
                        return false;
                    }
                    if (c == '1') {
                        image.rows[static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x >> 3)] |=
                            static_cast<std::uint8_t>(0x80u >> (x & 7));
                    }
                }
            }
        }
        images.push_back(std::move(image));
        reader.SkipSpaceAndComments();
    }
    return true;
}

std::string FaxLinesToP4(const std::uint8_t* lines, int lineCount) {
    std::string out = "P4\n" + std::to_string(kFaxLinePixels) + " " + std::to_string(lineCount) + "\n";
    const std::size_t header = out.size();
    const std::size_t bytes = static_cast<std::size_t>(lineCount) * kFaxLineBytes;
    out.resize(header + bytes);
    for (std::size_t i = 0; i < bytes; ++i) out[header + i] = static_cast<char>(~lines[i]);
    return out;
}

void ImageRowToFaxLine(const Image& image, int row, std::uint8_t* faxLine) {
    std::memset(faxLine, 0xFF, kFaxLineBytes);
    const int width = std::min(image.width, kFaxLinePixels);
    const std::uint8_t* source = image.rows.data() + static_cast<std::size_t>(row) * image.RowBytes();
    const int wholeBytes = width / 8;
    for (int i = 0; i < wholeBytes; ++i) faxLine[i] = static_cast<std::uint8_t>(~source[i]);
    if (width % 8 != 0) {
        // Pixels past the image's width are white.
        const auto inside = static_cast<std::uint8_t>(0xFFu << (8 - width % 8));
        faxLine[wholeBytes] = static_cast<std::uint8_t>(~(source[wholeBytes] & inside));
    }
}

}  // namespace faxtiff::pbm
