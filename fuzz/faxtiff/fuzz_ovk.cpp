// Any byte stream as printer output: convert it, then read the result back.
#include <cstdint>
#include <cstdlib>

#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string source = faxfuzz::WriteScratchFile("input.ovk", data, size);
    const std::string destination = faxfuzz::ScratchPath("output.fax");
    if (tiffConvertOvk(source.c_str(), destination.c_str()) == 0) {
        int handle = -1;
        if (tiffOpenFile(destination.c_str(), &handle) == 0) {
            tagFaxPageInfo page{};
            if (tiffFindFirstPage(handle, &page) != 0) std::abort();
            CFaxPageImage image;
            image.Bind(handle);
            // Every converted page holds exactly the lines of its paper.
            if (image.LoadPage() != 1 || (page.length != 2287 && page.length != 2148 && page.length != 2733 &&
                                          page.length != 1143 && page.length != 1074 && page.length != 1366)) {
                std::abort();
            }
            tiffCloseFile(handle);
        }
    }
    return 0;
}
