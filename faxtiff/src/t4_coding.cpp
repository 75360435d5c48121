// Group 3 one-dimensional coding: the encoder emits each code with one table
// look-up; the decoder recognises codes through 13-bit look-up tables built
// from the code tree, so that it gives exactly the results of walking the
// tree one bit at a time (DecodeLineReference).
#include "faxtiff/t4_coding.h"

#include <array>
#include <bit>
#include <cstring>

#include "t4_codes.h"

namespace faxtiff {
namespace {

constexpr int kLinePixels = FAX_LINE_PIXELS;
constexpr int kLineBytes = FAX_LINE_BYTES;
// Any pixel count above a full line behaves the same; capping it keeps an
// endless stream of make-up codes from overflowing the count.
constexpr int kOverLongCount = kLinePixels + 1;

constexpr std::array<std::uint8_t, 256> MakeBitReverse() {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        int reversed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (i & (1 << bit)) reversed |= 0x80 >> bit;
        }
        table[i] = static_cast<std::uint8_t>(reversed);
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kBitReverse = MakeBitReverse();

// ------------------------------------------------------------------ encoder

// A code turned round so that it can be shifted into a least-significant-
// bit-first accumulator.
struct LsbCode {
    std::uint16_t bits = 0;
    std::uint8_t length = 0;
};

constexpr LsbCode ToLsbFirst(t4::Code code) {
    LsbCode out;
    out.length = code.length;
    for (int i = 0; i < code.length; ++i) {
        if (code.bits & (1u << (code.length - 1 - i))) out.bits |= static_cast<std::uint16_t>(1u << i);
    }
    return out;
}

struct EncoderTables {
    LsbCode terminating[2][64];  // [white][run]
    LsbCode makeUp[2][40];       // [white][run / 64 - 1], 64 to 2560
};

constexpr EncoderTables MakeEncoderTables() {
    EncoderTables t{};
    for (int run = 0; run < 64; ++run) {
        t.terminating[1][run] = ToLsbFirst(t4::kWhiteTerminating[run]);
        t.terminating[0][run] = ToLsbFirst(t4::kBlackTerminating[run]);
    }
    for (int i = 0; i < 27; ++i) {
        t.makeUp[1][i] = ToLsbFirst(t4::kWhiteMakeUp[i]);
        t.makeUp[0][i] = ToLsbFirst(t4::kBlackMakeUp[i]);
    }
    for (int i = 0; i < 13; ++i) {
        t.makeUp[1][27 + i] = ToLsbFirst(t4::kExtendedMakeUp[i]);
        t.makeUp[0][27 + i] = ToLsbFirst(t4::kExtendedMakeUp[i]);
    }
    return t;
}
constexpr EncoderTables kEncoder = MakeEncoderTables();

std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::little) value = __builtin_bswap64(value);
    return value;
}

// First pixel at or after pos whose colour differs from `white`, or nbits.
std::size_t FindColourChange(const std::uint8_t* line, std::size_t nbits, std::size_t pos,
                             bool white) {
    const std::uint8_t flip = white ? 0xFF : 0x00;
    if (pos >= nbits) return nbits;
    if (pos & 7) {
        const std::uint8_t head =
            static_cast<std::uint8_t>((line[pos >> 3] ^ flip) & (0xFFu >> (pos & 7)));
        if (head) return (pos & ~std::size_t{7}) + static_cast<std::size_t>(std::countl_zero(head));
        pos = (pos | 7) + 1;
    }
    const std::uint64_t flip64 = white ? ~std::uint64_t{0} : 0;
    while (pos + 64 <= nbits) {
        const std::uint64_t word = LoadBigEndian64(line + (pos >> 3)) ^ flip64;
        if (word) return pos + static_cast<std::size_t>(std::countl_zero(word));
        pos += 64;
    }
    while (pos < nbits) {
        const std::uint8_t byte = static_cast<std::uint8_t>(line[pos >> 3] ^ flip);
        if (byte) return pos + static_cast<std::size_t>(std::countl_zero(byte));
        pos += 8;
    }
    return nbits;
}

class LsbBitWriter {
public:
    LsbBitWriter(std::uint8_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    bool Put(LsbCode code) {
        bits_ |= static_cast<std::uint64_t>(code.bits) << count_;
        count_ += code.length;
        if (count_ >= 32) {
            if (position_ + 4 > capacity_) return false;
            for (int i = 0; i < 4; ++i) out_[position_++] = static_cast<std::uint8_t>(bits_ >> (8 * i));
            bits_ >>= 32;
            count_ -= 32;
        }
        return true;
    }

    // Fill bits up to the byte boundary, then 0x00 0x80: four more fill bits
    // and an EOL that ends on the byte boundary.
    int FinishWithEol() {
        const std::size_t pending = static_cast<std::size_t>((count_ + 7) / 8);
        if (position_ + pending + 2 > capacity_) return -1;
        for (std::size_t i = 0; i < pending; ++i) out_[position_++] = static_cast<std::uint8_t>(bits_ >> (8 * i));
        out_[position_++] = 0x00;
        out_[position_++] = 0x80;
        return static_cast<int>(position_);
    }

private:
    std::uint8_t* out_;
    std::size_t capacity_;
    std::size_t position_ = 0;
    std::uint64_t bits_ = 0;
    int count_ = 0;
};

// --------------------------------------------------------------- code tree

enum LeafKind : std::uint8_t { kLeafRun, kLeafMakeUp, kLeafEol, kLeafInvalid, kLeafZeroRun };

constexpr int kMaxNodes = 512;
constexpr int kTableBits = 13;  // the longest code (black make-up) has 13 bits

struct Node {
    // >= 0: index of the next node; < 0: a leaf, -1 - (kind << 12 | run).
    int child[2] = {0, 0};
};

constexpr int Leaf(LeafKind kind, int run) { return -1 - ((static_cast<int>(kind) << 12) | run); }
constexpr LeafKind LeafKindOf(int value) { return static_cast<LeafKind>((-1 - value) >> 12); }
constexpr int LeafRunOf(int value) { return (-1 - value) & 0xFFF; }

struct TableEntry {
    std::uint16_t run;
    std::uint8_t kind;
    std::uint8_t length;
};

struct CodeTree {
    Node nodes[kMaxNodes];
    int nodeCount = 1;  // node 0 is the root

    void Insert(t4::Code code, int leaf) {
        int node = 0;
        for (int i = code.length - 1; i > 0; --i) {
            const int bit = (code.bits >> i) & 1;
            int& next = nodes[node].child[bit];
            if (next == 0) next = nodeCount++;
            node = next;
        }
        nodes[node].child[code.bits & 1] = leaf;
    }

    // Eleven 0 bits lead to a node that absorbs further 0 bits and ends in
    // EOL at the first 1 bit. Every other unused branch is an invalid code,
    // among them the extended make-up codes (0000000 1...).
    void Complete() {
        int node = 0;
        for (int zeros = 1; zeros <= 11; ++zeros) {
            int& next = nodes[node].child[0];
            if (next == 0) next = nodeCount++;
            node = next;
        }
        nodes[node].child[0] = node;
        nodes[node].child[1] = Leaf(kLeafEol, 0);
        for (int i = 0; i < nodeCount; ++i) {
            for (int& child : nodes[i].child) {
                if (child == 0) child = Leaf(kLeafInvalid, 0);
            }
        }
    }
};

struct DecoderTables {
    CodeTree tree[2];  // [white]
    TableEntry table[2][1 << kTableBits];

    DecoderTables() {
        for (int run = 0; run < 64; ++run) {
            tree[1].Insert(t4::kWhiteTerminating[run], Leaf(kLeafRun, run));
            tree[0].Insert(t4::kBlackTerminating[run], Leaf(kLeafRun, run));
        }
        for (int i = 0; i < 27; ++i) {
            tree[1].Insert(t4::kWhiteMakeUp[i], Leaf(kLeafMakeUp, 64 * (i + 1)));
            tree[0].Insert(t4::kBlackMakeUp[i], Leaf(kLeafMakeUp, 64 * (i + 1)));
        }
        for (int colour = 0; colour < 2; ++colour) {
            tree[colour].Complete();
            for (int index = 0; index < (1 << kTableBits); ++index) {
                TableEntry entry{0, kLeafZeroRun, kTableBits};
                int node = 0;
                for (int i = 0; i < kTableBits; ++i) {
                    const int next = tree[colour].nodes[node].child[(index >> i) & 1];
                    if (next < 0) {
                        entry = {static_cast<std::uint16_t>(LeafRunOf(next)),
                                 static_cast<std::uint8_t>(LeafKindOf(next)),
                                 static_cast<std::uint8_t>(i + 1)};
                        break;
                    }
                    node = next;
                }
                table[colour][index] = entry;
            }
        }
    }
};

const DecoderTables& Decoder() {
    static const DecoderTables tables;
    return tables;
}

// Paints pixels [start, start + length) black (0 bits).
void PaintBlack(std::uint8_t* line, int start, int length) {
    if (length <= 0) return;
    const int end = start + length;
    const int first = start >> 3;
    const int last = (end - 1) >> 3;
    const auto head = static_cast<std::uint8_t>(0xFFu >> (start & 7));
    const auto tail = static_cast<std::uint8_t>(0xFFu << (7 - ((end - 1) & 7)));
    if (first == last) {
        line[first] &= static_cast<std::uint8_t>(~(head & tail));
        return;
    }
    line[first] &= static_cast<std::uint8_t>(~head);
    if (last - first > 1) std::memset(line + first + 1, 0x00, static_cast<std::size_t>(last - first - 1));
    line[last] &= static_cast<std::uint8_t>(~tail);
}

// Paints pixels [start, start + length) in the given colour bit by bit.
void PaintBits(std::uint8_t* line, int start, int length, bool white) {
    for (int pixel = start; pixel < start + length; ++pixel) {
        const auto mask = static_cast<std::uint8_t>(0x80u >> (pixel & 7));
        if (white) {
            line[pixel >> 3] |= mask;
        } else {
            line[pixel >> 3] &= static_cast<std::uint8_t>(~mask);
        }
    }
}

void CompleteLine(std::uint8_t* out, int capacity) {
    if (capacity > kLineBytes) std::memset(out + kLineBytes, 0xFF, static_cast<std::size_t>(capacity - kLineBytes));
}

}  // namespace

const std::uint8_t* BitReverseTable() { return kBitReverse.data(); }

void ReverseBits(std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) bytes[i] = kBitReverse[bytes[i]];
}

int EncodeLineLsbFirst(const std::uint8_t* line, std::size_t lineBytes, std::uint8_t* out,
                       std::size_t capacity) {
    if ((line == nullptr && lineBytes != 0) || out == nullptr) return -1;
    LsbBitWriter writer(out, capacity);
    const std::size_t nbits = lineBytes * 8;
    std::size_t position = 0;
    bool white = true;
    while (position < nbits) {
        const std::size_t end = FindColourChange(line, nbits, position, white);
        const std::size_t run = end - position;
        if (run > static_cast<std::size_t>(t4::kLongestRun)) return -1;
        const int colour = white ? 1 : 0;
        if (run >= 64 && !writer.Put(kEncoder.makeUp[colour][run / 64 - 1])) return -1;
        if (!writer.Put(kEncoder.terminating[colour][run % 64])) return -1;
        position = end;
        white = !white;
    }
    return writer.FinishWithEol();
}

// ------------------------------------------------------------------ decoder

void T4LineDecoder::Reset(CodedByteSource source, void* context, bool lsbFirst) {
    source_ = source;
    context_ = context;
    lsbFirst_ = lsbFirst;
    syncNeeded_ = true;
    ended_ = false;
    bits_ = 0;
    bitCount_ = 0;
    readPosition_ = 0;
    readFill_ = 0;
}

// Tops the bit accumulator up to more than 56 bits while coded bytes remain.
bool T4LineDecoder::Refill() {
    while (bitCount_ <= 56) {
        if (readPosition_ == readFill_) {
            if (ended_ || source_ == nullptr) break;
            const int got = source_(context_, block_, kBlockBytes);
            if (got <= 0) {
                ended_ = true;
                break;
            }
            readFill_ = got < kBlockBytes ? got : kBlockBytes;
            readPosition_ = 0;
            if (!lsbFirst_) ReverseBits(block_, static_cast<std::size_t>(readFill_));
        }
        if (readFill_ - readPosition_ >= 8) {
            std::uint64_t word;
            std::memcpy(&word, block_ + readPosition_, sizeof word);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            const int take = (64 - bitCount_) >> 3;
            const int filled = bitCount_ + 8 * take;
            const std::uint64_t mask = filled >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << filled) - 1;
            bits_ |= (word << bitCount_) & mask;
            bitCount_ = filled;
            readPosition_ += take;
        } else {
            bits_ |= static_cast<std::uint64_t>(block_[readPosition_++]) << bitCount_;
            bitCount_ += 8;
        }
    }
    return bitCount_ > 0;
}

int T4LineDecoder::NextBit() {
    if (bitCount_ == 0 && !Refill()) return -1;
    const int bit = static_cast<int>(bits_ & 1);
    bits_ >>= 1;
    --bitCount_;
    return bit;
}

T4LineDecoder::Outcome T4LineDecoder::RecognizeSlow(bool white, int& run) {
    const CodeTree& tree = Decoder().tree[white ? 1 : 0];
    int node = 0;
    for (;;) {
        const int bit = NextBit();
        if (bit < 0) return Outcome::kEndOfData;
        const int next = tree.nodes[node].child[bit];
        if (next >= 0) {
            node = next;
            continue;
        }
        run = LeafRunOf(next);
        switch (LeafKindOf(next)) {
            case kLeafRun: return Outcome::kRun;
            case kLeafMakeUp: return Outcome::kMakeUp;
            case kLeafEol: return Outcome::kEol;
            default: return Outcome::kInvalid;
        }
    }
}

bool T4LineDecoder::SynchronizeSlow() {
    int zeros = 0;
    for (;;) {
        const int bit = NextBit();
        if (bit < 0) return false;
        if (bit == 1) {
            if (zeros >= 11) return true;
            zeros = 0;
        } else {
            ++zeros;
        }
    }
}

// As SynchronizeSlow, a run of 0 bits at a time.
bool T4LineDecoder::Synchronize() {
    int zeros = 0;
    for (;;) {
        if (bitCount_ == 0 && !Refill()) return false;
        if (bits_ == 0) {
            zeros += bitCount_;
            if (zeros > 11) zeros = 11;
            bits_ = 0;
            bitCount_ = 0;
            continue;
        }
        const int trailing = std::countr_zero(bits_);
        zeros += trailing;
        Consume(trailing + 1);
        if (zeros >= 11) return true;
        zeros = 0;
    }
}

int T4LineDecoder::DecodeLine(std::uint8_t* out, int capacity) {
    if (out == nullptr || capacity < kLineBytes) return 0;
    if (syncNeeded_) {
        if (!Synchronize()) return 0;
        syncNeeded_ = false;
    }
    const DecoderTables& tables = Decoder();
    for (;;) {
        // A new line, also after a dropped one: painting only black runs on
        // a white line gives the same result as painting every run.
        std::memset(out, 0xFF, kLineBytes);
        int count = 0;
        bool white = true;
        bool restart = false;
        while (!restart) {
            Outcome outcome;
            int run = 0;
            if (bitCount_ < kTableBits) Refill();
            if (bitCount_ >= kTableBits) {
                const TableEntry entry =
                    tables.table[white ? 1 : 0][bits_ & ((1u << kTableBits) - 1)];
                Consume(entry.length);
                run = entry.run;
                switch (entry.kind) {
                    case kLeafRun: outcome = Outcome::kRun; break;
                    case kLeafMakeUp: outcome = Outcome::kMakeUp; break;
                    case kLeafEol: outcome = Outcome::kEol; break;
                    case kLeafInvalid: outcome = Outcome::kInvalid; break;
                    default: {
                        // Thirteen 0 bits so far: the EOL ends at the next 1 bit.
                        outcome = Outcome::kEol;
                        for (;;) {
                            if (bitCount_ == 0 && !Refill()) {
                                outcome = Outcome::kEndOfData;
                                break;
                            }
                            if (bits_ == 0) {
                                bits_ = 0;
                                bitCount_ = 0;
                                continue;
                            }
                            Consume(std::countr_zero(bits_) + 1);
                            break;
                        }
                    }
                }
            } else {
                // The last few bits of the data.
                outcome = RecognizeSlow(white, run);
            }
            switch (outcome) {
                case Outcome::kRun:
                case Outcome::kMakeUp:
                    if (count + run <= kLinePixels) {
                        if (!white) PaintBlack(out, count, run);
                        count += run;
                    } else {
                        count = kOverLongCount;
                    }
                    if (outcome == Outcome::kRun) white = !white;
                    break;
                case Outcome::kEol:
                    if (count <= kLinePixels) {
                        CompleteLine(out, capacity);
                        return kLineBytes;
                    }
                    restart = true;
                    break;
                case Outcome::kInvalid:
                    if (!Synchronize()) return 0;
                    restart = true;
                    break;
                case Outcome::kEndOfData:
                    // A complete last line whose EOL is missing (pages written
                    // without the closing EOLs) still counts.
                    if (count == kLinePixels) {
                        CompleteLine(out, capacity);
                        return kLineBytes;
                    }
                    return 0;
            }
        }
    }
}

int T4LineDecoder::DecodeLineReference(std::uint8_t* out, int capacity) {
    if (out == nullptr || capacity < kLineBytes) return 0;
    if (syncNeeded_) {
        if (!SynchronizeSlow()) return 0;
        syncNeeded_ = false;
    }
    for (;;) {
        int count = 0;
        bool white = true;
        int position = 0;  // writing position in pixels
        bool restart = false;
        while (!restart) {
            int run = 0;
            const Outcome outcome = RecognizeSlow(white, run);
            switch (outcome) {
                case Outcome::kRun:
                case Outcome::kMakeUp:
                    count = count + run > kLinePixels ? kOverLongCount : count + run;
                    if (count <= kLinePixels) {
                        PaintBits(out, position, run, white);
                        position += run;
                    }
                    if (outcome == Outcome::kRun) white = !white;
                    break;
                case Outcome::kEol:
                    if (count <= kLinePixels) {
                        PaintBits(out, position, (8 - (position & 7)) & 7, true);
                        const int nextByte = (position + 7) >> 3;
                        std::memset(out + nextByte, 0xFF, static_cast<std::size_t>(capacity - nextByte));
                        return kLineBytes;
                    }
                    restart = true;
                    break;
                case Outcome::kInvalid:
                    if (!SynchronizeSlow()) return 0;
                    restart = true;
                    break;
                case Outcome::kEndOfData:
                    if (count == kLinePixels) {
                        CompleteLine(out, capacity);
                        return kLineBytes;
                    }
                    return 0;
            }
        }
    }
}

}  // namespace faxtiff
