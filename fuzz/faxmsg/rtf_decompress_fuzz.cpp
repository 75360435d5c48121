// Compressed RTF from a message store is outside input: any bytes must be
// refused or decoded within the raw-size limit, and whatever decodes must
// survive a round trip through the compressor. Each input is read as given
// and once more with its CRC made right, so that mutations reach the decoder
// behind the CRC check.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "faxmsg/rtf_codec.h"

namespace {

// A small limit keeps each run's memory bounded whatever size a header claims.
constexpr std::uint32_t kLimit = 1u << 20;

void CheckOne(std::span<const std::uint8_t> blob) {
    std::vector<std::uint8_t> raw;
    const faxmsg::RtfDecodeStatus status = faxmsg::DecompressRtf(blob, raw, kLimit);
    if (status != faxmsg::RtfDecodeStatus::kOk) {
        if (!raw.empty()) {
            std::abort();  // a refused blob leaves nothing behind
        }
        return;
    }
    if (raw.size() > kLimit) {
        std::abort();
    }
    const std::vector<std::uint8_t> again = faxmsg::CompressRtf(raw);
    std::vector<std::uint8_t> back;
    if (faxmsg::DecompressRtf(again, back, kLimit) != faxmsg::RtfDecodeStatus::kOk || back != raw) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> blob(data, size);
    CheckOne(blob);
    if (size >= faxmsg::kCompressedRtfHeaderSize) {
        std::vector<std::uint8_t> fixed(blob.begin(), blob.end());
        const std::uint32_t crc =
            faxmsg::CompressedRtfCrc(std::span<const std::uint8_t>(fixed).subspan(16));
        for (int i = 0; i < 4; ++i) {
            fixed[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
        }
        CheckOne(fixed);
    }
    return 0;
}
