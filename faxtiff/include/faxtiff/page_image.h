// The page image: a whole fax page decoded into a bitmap (216 bytes a line,
// 1 = white), about 196 lines per inch whatever the page's resolution, so
// that page operations and drawing treat both resolutions alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "faxtiff/faxtiff.h"
#include "faxtiff/t4_coding.h"

class FAXTIFF_API CFaxPageImage {
public:
    CFaxPageImage();
    ~CFaxPageImage();
    CFaxPageImage(const CFaxPageImage&) = delete;
    CFaxPageImage& operator=(const CFaxPageImage&) = delete;

    // Binds to a handle that has just found a page: frees the image and
    // starts reading that page's coded data from its first byte, in the bit
    // order of the page's fill order.
    void Bind(int handle);
    // Overrides the bit order: non-zero takes coded bytes as they are (fill
    // order 2), zero reverses each byte first (fill order 1).
    void SetBitOrder(int lsbFirst);
    // Decodes the next line of the bound page into buffer (capacity at least
    // 216). Returns 216, or 0 when no further line can be decoded.
    int DecodeLine(std::uint8_t* buffer, int capacity);
    // Decodes the bound page into the image: ImageLength lines on a fine page,
    // every line twice on a normal one. Lines that cannot be decoded stay
    // white. Returns 1, or 0 when the image cannot be allocated.
    int LoadPage();
    // Codes the image onto the page just appended to outputHandle: every line
    // when fine, else every second line. Returns 1, or 0 without an image.
    int WriteToPage(int outputHandle, int fine);
    // Replaces the image by a white one of the given number of lines.
    // Returns 1, or 0 when it cannot be allocated.
    int CreateImage(int lines);

    std::uint8_t* Image() { return hasImage_ ? image_.get() : nullptr; }
    const std::uint8_t* Image() const { return hasImage_ ? image_.get() : nullptr; }
    int ImageLines() const { return imageLines_; }
    std::size_t ImageBytes() const { return hasImage_ ? static_cast<std::size_t>(imageLines_) * FAX_LINE_BYTES : 0; }
    bool HasImage() const { return hasImage_; }
    // Frees the image and its memory.
    void FreeImage();

private:
    static int FetchCodedBytes(void* context, std::uint8_t* destination, int wanted);
    // Room for an image of `lines` lines, its content undefined; the memory
    // of an earlier image is reused when it is large enough.
    bool Reserve(int lines);

    int boundHandle_ = -1;
    bool hasImage_ = false;
    int imageLines_ = 0;
    std::unique_ptr<std::uint8_t[]> image_;
    std::size_t capacityBytes_ = 0;
    faxtiff::T4LineDecoder decoder_;
};
