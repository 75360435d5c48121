// Any file as a fax file: open it, walk every page, load the page images and
// rewind, count the pages.
#include <cstdint>
#include <cstdlib>

#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "fuzz_support.h"

namespace {
// Enough to reach every kind of page; each load may take up to 28 MB.
constexpr int kMaxPagesLoaded = 16;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = faxfuzz::WriteScratchFile("input.fax", data, size);
    int handle = -1;
    if (tiffOpenFile(path.c_str(), &handle) == 0) {
        tagFaxPageInfo page{};
        int pages = 0;
        for (int found = tiffFindFirstPage(handle, &page); found == 0; found = tiffFindNextPage(handle, &page)) {
            ++pages;
            if (pages <= kMaxPagesLoaded) {
                CFaxPageImage image;
                image.Bind(handle);
                if (image.LoadPage() != 1) std::abort();
                if (image.ImageBytes() != static_cast<std::size_t>(image.ImageLines()) * FAX_LINE_BYTES) std::abort();
                tiffRewindPage(handle);
                image.Bind(handle);
                std::uint8_t line[FAX_LINE_BYTES];
                for (int i = 0; i < 4 && image.DecodeLine(line, FAX_LINE_BYTES) == FAX_LINE_BYTES; ++i) {
                }
            }
        }
        if (tiffCloseFile(handle) != 0) std::abort();
        if (tiffCountPages(path.c_str()) != pages) std::abort();
    }
    return 0;
}
