// Any bytes as a PBM file for "faxtiff encode".
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "pbm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<faxtiff::pbm::Image> images;
    std::string error;
    if (faxtiff::pbm::ParseImages(std::span<const std::uint8_t>(data, size), images, error)) {
        std::uint8_t line[216];
        for (const faxtiff::pbm::Image& image : images) {
            if (image.rows.size() != image.RowBytes() * static_cast<std::size_t>(image.height)) std::abort();
            for (int row = 0; row < image.height; ++row) faxtiff::pbm::ImageRowToFaxLine(image, row, line);
        }
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
