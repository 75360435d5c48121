// Portable bitmap files (PBM): reading every image of a file, raw ("P4") or
// plain ("P1"), and writing raw images. In PBM 1 is black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace faxtiff::pbm {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rows;  // (width + 7) / 8 bytes a row, 1 = black
    std::size_t RowBytes() const { return (static_cast<std::size_t>(width) + 7) / 8; }
};

struct Limits {
    int maxWidth = 65535;
    int maxHeight = 65535;
};

// Parses the images of a PBM file one after another. Returns false with a
// message in `error` for anything that is not a well-formed PBM stream; the
// memory taken never exceeds about eight times the input's size.
bool ParseImages(std::span<const std::uint8_t> data, std::vector<Image>& images,
                 std::string& error, const Limits& limits = {});

// A raw PBM image of `lines` fax lines (216 bytes, 1 = white, as the page
// image holds them) with 1 = black.
std::string FaxLinesToP4(const std::uint8_t* lines, int lineCount);

// The fax line (216 bytes, 1 = white) for row `row` of image: cropped or
// padded with white to 1728 pixels.
void ImageRowToFaxLine(const Image& image, int row, std::uint8_t* faxLine);

}  // namespace faxtiff::pbm
