#include "faxtiff/page_image.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "file_record.h"

namespace {
constexpr int kLineBytes = FAX_LINE_BYTES;
}

CFaxPageImage::CFaxPageImage() { decoder_.Reset(nullptr, nullptr, true); }

CFaxPageImage::~CFaxPageImage() = default;

void CFaxPageImage::FreeImage() {
    image_.reset();
    capacityBytes_ = 0;
    hasImage_ = false;
    imageLines_ = 0;
}

bool CFaxPageImage::Reserve(int lines) {
    hasImage_ = false;
    imageLines_ = 0;
    if (lines < 0) return false;
    const std::size_t bytes = static_cast<std::size_t>(lines) * kLineBytes;
    if (bytes > capacityBytes_ || image_ == nullptr) {
        image_.reset();
        capacityBytes_ = 0;
        try {
            image_ = std::make_unique_for_overwrite<std::uint8_t[]>(bytes > 0 ? bytes : 1);
        } catch (const std::bad_alloc&) {
            return false;
        }
        capacityBytes_ = bytes;
    }
    hasImage_ = true;
    imageLines_ = lines;
    return true;
}

void CFaxPageImage::Bind(int handle) {
    // The image is gone; its memory is kept for the next page.
    hasImage_ = false;
    imageLines_ = 0;
    boundHandle_ = handle;
    const faxtiff::FaxFile* file = faxtiff::LookupHandle(handle);
    decoder_.Reset(&CFaxPageImage::FetchCodedBytes, this, file != nullptr && file->fillOrder == 2);
}

void CFaxPageImage::SetBitOrder(int lsbFirst) { decoder_.SetLsbFirst(lsbFirst != 0); }

int CFaxPageImage::FetchCodedBytes(void* context, std::uint8_t* destination, int wanted) {
    auto* self = static_cast<CFaxPageImage*>(context);
    faxtiff::FaxFile* file = faxtiff::LookupHandle(self->boundHandle_);
    if (file == nullptr) return 0;
    const int got = faxtiff::ReadPageData(*file, destination, wanted);
    return got > 0 ? got : 0;
}

int CFaxPageImage::DecodeLine(std::uint8_t* buffer, int capacity) {
    return decoder_.DecodeLine(buffer, capacity);
}

int CFaxPageImage::CreateImage(int lines) {
    if (!Reserve(lines)) return 0;
    std::memset(image_.get(), 0xFF, ImageBytes());
    return 1;
}

int CFaxPageImage::LoadPage() {
    const faxtiff::FaxFile* file = faxtiff::LookupHandle(boundHandle_);
    const std::uint32_t length = file != nullptr ? file->imageLength : 0;
    const bool fine = file != nullptr && file->fine != 0;
    const int lines = static_cast<int>(fine ? length : 2 * length);
    if (!Reserve(lines)) return 0;
    const int step = fine ? 1 : 2;
    int line = 0;
    for (; line < lines; line += step) {
        std::uint8_t* row = image_.get() + static_cast<std::size_t>(line) * kLineBytes;
        if (decoder_.DecodeLine(row, kLineBytes) != kLineBytes) break;
        if (!fine) std::memcpy(row + kLineBytes, row, kLineBytes);
    }
    // Lines that could not be decoded (a line cut short included) are white.
    if (line < lines) {
        std::memset(image_.get() + static_cast<std::size_t>(line) * kLineBytes, 0xFF,
                    static_cast<std::size_t>(lines - line) * kLineBytes);
    }
    return 1;
}

int CFaxPageImage::WriteToPage(int outputHandle, int fine) {
    if (!hasImage_) return 0;
    const int step = fine ? 1 : 2;
    for (int line = 0; line < imageLines_; line += step) {
        const std::uint8_t* row = image_.get() + static_cast<std::size_t>(line) * kLineBytes;
        if (tiffEncodeLine(outputHandle, row, kLineBytes, 1) != 0) break;
    }
    return 1;
}
