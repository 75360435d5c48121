// Any bytes as coded page data: the table-driven decoder must deliver exactly
// the lines of the bit-by-bit code-tree walk, in both bit orders.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "faxtiff/t4_coding.h"

namespace {

struct Memory {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

int Fetch(void* context, std::uint8_t* destination, int wanted) {
    auto* memory = static_cast<Memory*>(context);
    const std::size_t count = std::min(static_cast<std::size_t>(wanted), memory->size - memory->position);
    if (count > 0) std::memcpy(destination, memory->data + memory->position, count);
    memory->position += count;
    return static_cast<int>(count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (bool lsbFirst : {true, false}) {
        Memory fastSource{data, size, 0};
        Memory slowSource{data, size, 0};
        faxtiff::T4LineDecoder fast;
        faxtiff::T4LineDecoder slow;
        fast.Reset(&Fetch, &fastSource, lsbFirst);
        slow.Reset(&Fetch, &slowSource, lsbFirst);
        std::uint8_t fastLine[256];
        std::uint8_t slowLine[256];
        for (;;) {
            const int a = fast.DecodeLine(fastLine, sizeof fastLine);
            const int b = slow.DecodeLineReference(slowLine, sizeof slowLine);
            if (a != b) std::abort();
            if (a == 0) break;
            if (std::memcmp(fastLine, slowLine, sizeof fastLine) != 0) std::abort();
        }
    }
    return 0;
}
