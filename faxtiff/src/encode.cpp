// The exported line encoders.
#include <limits>

#include "faxtiff/faxtiff.h"
#include "faxtiff/t4_coding.h"
#include "file_record.h"

extern "C" {

int EncodeLine(int /*reserved*/, std::uint8_t* out, int* length, const std::uint8_t* line,
               int lineBytes, int lsbFirst) {
    if (out == nullptr || length == nullptr || *length < 0 || lineBytes < 0 ||
        (line == nullptr && lineBytes > 0)) {
        return -1;
    }
    const int coded = faxtiff::EncodeLineLsbFirst(line, static_cast<std::size_t>(lineBytes), out,
                                                  static_cast<std::size_t>(*length));
    if (coded < 0) return -1;
    if (lsbFirst == 0) faxtiff::ReverseBits(out, static_cast<std::size_t>(coded));
    *length = coded;
    return 0;
}

int tiffEncodeLine(int handle, const std::uint8_t* line, int lineBytes, int lsbFirst) {
    faxtiff::FaxFile* file = faxtiff::LookupHandle(handle);
    if (file == nullptr || lineBytes < 0 || (line == nullptr && lineBytes > 0)) return -1;
    std::uint8_t* buffer = file->encodeBuffer.data();
    std::size_t prefix = 0;
    if (file->leadingEol) {
        buffer[0] = 0x00;
        buffer[1] = file->fillOrder == 2 ? 0x80 : 0x01;
        prefix = 2;
    }
    const int coded = faxtiff::EncodeLineLsbFirst(line, static_cast<std::size_t>(lineBytes),
                                                  buffer + prefix, file->encodeBuffer.size() - prefix);
    if (coded < 0) return -1;
    if (lsbFirst == 0) faxtiff::ReverseBits(buffer + prefix, static_cast<std::size_t>(coded));
    const std::size_t total = prefix + static_cast<std::size_t>(coded);
    if (file->bytesWritten > std::numeric_limits<std::int32_t>::max() - static_cast<std::int32_t>(total) ||
        file->linesWritten == std::numeric_limits<std::int32_t>::max()) {
        return -1;
    }
    if (!faxtiff::QueueWrite(*file, buffer, total)) return -1;
    file->leadingEol = false;
    file->bytesWritten += static_cast<std::int32_t>(total);
    file->linesWritten += 1;
    return 0;
}

}  // extern "C"
