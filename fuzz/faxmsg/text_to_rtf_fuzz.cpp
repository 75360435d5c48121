// Body files are outside input. The first byte picks a code page and a chunk
// size; the rest is the text. Chunked conversion must equal the one-shot
// result, and its compressed form must read back exactly.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "faxmsg/rtf_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr unsigned kCodePages[] = {1252, 932, 936, 949, 950, 1250, 1251, 437};
    const unsigned codePage = kCodePages[data[0] & 7];
    const std::size_t chunk = static_cast<std::size_t>(data[0] >> 3) + 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    faxmsg::TextToRtfConverter converter(codePage);
    std::string rtf;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        if (!converter.Convert(text.substr(at, chunk), rtf)) {
            std::abort();
        }
    }
    if (!converter.Finish(rtf) || rtf != faxmsg::ConvertTextToRtf(text, codePage)) {
        std::abort();
    }
    // Every source byte becomes at most five RTF bytes ("\'xx" or "\par " + break).
    if (rtf.size() > faxmsg::RtfHeadForCodePage(codePage).size() + 6 * text.size() + 1 ||
        rtf.back() != '}') {
        std::abort();
    }
    const std::vector<std::uint8_t> blob = faxmsg::CompressRtf(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()));
    std::vector<std::uint8_t> back;
    if (faxmsg::DecompressRtf(blob, back) != faxmsg::RtfDecodeStatus::kOk ||
        !std::equal(back.begin(), back.end(), rtf.begin(), rtf.end())) {
        std::abort();
    }
    return 0;
}
