// Group 3 one-dimensional (Modified Huffman) line coding, as the page image
// and the coded-data streams use it. Coded bytes are in fill order 2 (first
// code bit in the least significant bit) unless a function says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "faxtiff/faxtiff.h"

namespace faxtiff {

// Entry i is the byte i with its eight bits in reverse order: turns fill
// order 1 into fill order 2 and back.
FAXTIFF_API const std::uint8_t* BitReverseTable();
FAXTIFF_API void ReverseBits(std::uint8_t* bytes, std::size_t count);

// Codes one bitmap line (8 * lineBytes pixels, 1 = white) followed by fill
// bits up to a byte boundary and the two EOL bytes 0x00 0x80, in fill order 2.
// Returns the coded length, or -1 when it would exceed capacity or a run is
// longer than 2623 pixels.
FAXTIFF_API int EncodeLineLsbFirst(const std::uint8_t* line, std::size_t lineBytes,
                                   std::uint8_t* out, std::size_t capacity);

// Delivers up to wanted coded bytes; 0 or less ends the supply.
using CodedByteSource = int (*)(void* context, std::uint8_t* destination, int wanted);

// Decodes coded lines from a byte supply. The first line is preceded by an
// EOL (everything before it is skipped); each line ends at the EOL that
// follows it. A line with more than 1728 pixels or with a damaged code is
// dropped, a shorter one is completed in white. The supply is read in blocks
// of 16 KB; no memory is allocated.
class FAXTIFF_API T4LineDecoder {
public:
    static constexpr int kBlockBytes = 16384;

    // lsbFirst: bytes are taken as they are (fill order 2); otherwise each
    // byte is bit-reversed first (fill order 1).
    void Reset(CodedByteSource source, void* context, bool lsbFirst);
    void SetLsbFirst(bool lsbFirst) { lsbFirst_ = lsbFirst; }
    bool LsbFirst() const { return lsbFirst_; }

    // Decodes the next line into out (capacity bytes, at least 216; bytes
    // past 216 are set to 0xFF). Returns 216, or 0 when no further line can
    // be decoded.
    int DecodeLine(std::uint8_t* out, int capacity);
    // The same result through a walk of the code tree one bit at a time. It
    // defines what DecodeLine must deliver; kept for verification.
    int DecodeLineReference(std::uint8_t* out, int capacity);

private:
    enum class Outcome { kRun, kMakeUp, kEol, kInvalid, kEndOfData };
    bool Refill();
    int NextBit();
    Outcome RecognizeSlow(bool white, int& run);
    bool Synchronize();
    bool SynchronizeSlow();
    void Consume(int bits) {
        bits_ = bits < 64 ? bits_ >> bits : 0;
        bitCount_ -= bits;
    }

    static const void* SharedTables();

    const void* tables_ = SharedTables();  // built once per process
    CodedByteSource source_ = nullptr;
    void* context_ = nullptr;
    bool lsbFirst_ = true;
    bool syncNeeded_ = true;
    bool ended_ = false;
    std::uint64_t bits_ = 0;  // next code bit in bit 0
    int bitCount_ = 0;
    int readPosition_ = 0;
    int readFill_ = 0;
    std::uint8_t block_[kBlockBytes] = {};
};

}  // namespace faxtiff
