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

// The codes of every run length 0 to 2623 in one word each: the make-up code
// (for 64 and more) followed by the terminating code, least significant bit
// first in bits 0 to 26, the length in bits 27 to 31.
struct RunCodes {
    std::uint32_t code[2][t4::kLongestRun + 1];  // [white][run]

    RunCodes() {
        for (int colour = 0; colour < 2; ++colour) {
            for (int run = 0; run <= t4::kLongestRun; ++run) {
                std::uint32_t bits = 0;
                int length = 0;
                if (run >= 64) {
                    const LsbCode makeUp = kEncoder.makeUp[colour][run / 64 - 1];
                    bits = makeUp.bits;
                    length = makeUp.length;
                }
                const LsbCode terminating = kEncoder.terminating[colour][run % 64];
                bits |= static_cast<std::uint32_t>(terminating.bits) << length;
                length += terminating.length;
                code[colour][run] = bits | (static_cast<std::uint32_t>(length) << 27);
            }
        }
    }
};

const RunCodes& Runs() {
    static const RunCodes runs;
    return runs;
}

// Collects code bits least significant bit first. Unchecked, it relies on
// the caller having room for the longest possible result.
template <bool kChecked>
class LsbBitWriter {
public:
    LsbBitWriter(std::uint8_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    bool Put(std::uint32_t code) {
        bits_ |= static_cast<std::uint64_t>(code & 0x07FFFFFFu) << count_;
        count_ += static_cast<int>(code >> 27);
        if (count_ >= 32) {
            if (kChecked && position_ + 4 > capacity_) return false;
            const auto word = static_cast<std::uint32_t>(bits_);
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(out_ + position_, &word, 4);
            } else {
                for (int i = 0; i < 4; ++i) out_[position_ + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word >> (8 * i));
            }
            position_ += 4;
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

// Runs are found 64 pixels at a time: a pixel that differs from the one
// before it (the pixel before the line counts as white) starts a new run.
template <bool kChecked>
int EncodeRuns(const std::uint8_t* line, std::size_t lineBytes, std::uint8_t* out, std::size_t capacity) {
    const RunCodes& runs = Runs();
    LsbBitWriter<kChecked> writer(out, capacity);
    std::size_t runStart = 0;
    int colour = 1;  // white
    std::uint64_t previous = 1;
    for (std::size_t byte = 0; byte < lineBytes; byte += 8) {
        // Stretches in the colour of the pixel before them hold no change.
        const std::uint64_t uniform = previous != 0 ? ~std::uint64_t{0} : 0;
        while (byte + 16 <= lineBytes) {
            std::uint64_t first;
            std::uint64_t second;
            std::memcpy(&first, line + byte, 8);
            std::memcpy(&second, line + byte + 8, 8);
            if (((first ^ uniform) | (second ^ uniform)) != 0) break;
            byte += 16;
        }
        if (byte >= lineBytes) break;
        std::uint64_t word;
        const std::size_t available = lineBytes - byte;
        if (available >= 8) [[likely]] {
            word = LoadBigEndian64(line + byte);
        } else {
            word = 0;
            for (std::size_t i = 0; i < available; ++i) word |= static_cast<std::uint64_t>(line[byte + i]) << (56 - 8 * i);
            // Padding in the colour of the last pixel starts no run.
            if ((word >> (64 - 8 * available)) & 1) word |= ~std::uint64_t{0} >> (8 * available);
        }
        std::uint64_t changes = word ^ ((word >> 1) | (previous << 63));
        previous = word & 1;
        while (changes != 0) {
            const int bit = std::countl_zero(changes);
            changes ^= std::uint64_t{1} << (63 - bit);
            const std::size_t at = byte * 8 + static_cast<std::size_t>(bit);
            const std::size_t run = at - runStart;
            if (run > static_cast<std::size_t>(t4::kLongestRun)) return -1;
            if (!writer.Put(runs.code[colour][run])) return -1;
            runStart = at;
            colour ^= 1;
        }
    }
    if (lineBytes > 0) {
        const std::size_t run = lineBytes * 8 - runStart;
        if (run > static_cast<std::size_t>(t4::kLongestRun)) return -1;
        if (!writer.Put(runs.code[colour][run])) return -1;
    }
    return writer.FinishWithEol();
}

// --------------------------------------------------------------- code tree

enum LeafKind : std::uint8_t { kLeafRun, kLeafMakeUp, kLeafEol, kLeafInvalid, kLeafZeroRun, kLeafLong };

constexpr int kMaxNodes = 512;
constexpr int kTableBits = 13;    // the longest code (black make-up) has 13 bits
constexpr int kPrimaryBits = 9;   // most codes of real pages: a small table that stays in cache
constexpr int kPairBits = 10;
// The codes of an empty line, white 1728 then white 0, as they arrive.
constexpr std::uint32_t kWhiteLineCodes =
    ToLsbFirst(t4::kWhiteMakeUp[26]).bits |
    (static_cast<std::uint32_t>(ToLsbFirst(t4::kWhiteTerminating[0]).bits) << t4::kWhiteMakeUp[26].length);
static_assert(t4::kWhiteMakeUp[26].length + t4::kWhiteTerminating[0].length == 17);     // two short terminating codes at once, as in halftones

struct Node {
    // >= 0: index of the next node; < 0: a leaf, -1 - (kind << 12 | run).
    int child[2] = {0, 0};
};

constexpr int Leaf(LeafKind kind, int run) { return -1 - ((static_cast<int>(kind) << 12) | run); }
constexpr LeafKind LeafKindOf(int value) { return static_cast<LeafKind>((-1 - value) >> 12); }
constexpr int LeafRunOf(int value) { return (-1 - value) & 0xFFF; }

// run in bits 0 to 11, kind in 12 to 15, length in 16 to 20: one load.
struct TableEntry {
    std::uint32_t packed;
    constexpr TableEntry(std::uint32_t run = 0, std::uint32_t kind = 0, std::uint32_t length = 0)
        : packed(run | (kind << 12) | (length << 16)) {}
    int Run() const { return static_cast<int>(packed & 0xFFF); }
    int Kind() const { return static_cast<int>((packed >> 12) & 0xF); }
    int Length() const { return static_cast<int>(packed >> 16); }
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
    TableEntry primary[2][1 << kPrimaryBits];  // kLeafLong: see table
    // Two terminating codes, the first in the colour of the index: first run
    // in bits 0 to 5, second in 6 to 11, their total length in 12 to 16; 0
    // when the next bits do not start with two such codes.
    std::uint32_t pairs[2][1 << kPairBits];
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
                        entry = TableEntry(static_cast<std::uint32_t>(LeafRunOf(next)),
                                           static_cast<std::uint32_t>(LeafKindOf(next)),
                                           static_cast<std::uint32_t>(i + 1));
                        break;
                    }
                    node = next;
                }
                table[colour][index] = entry;
            }
        }
        for (int colour = 0; colour < 2; ++colour) {
            for (int index = 0; index < (1 << kPairBits); ++index) {
                pairs[colour][index] = 0;
                const TableEntry first = table[colour][index];
                if (first.Kind() != kLeafRun || first.Length() >= kPairBits) continue;
                const int rest = index >> first.Length();
                const TableEntry second = table[colour ^ 1][rest];
                if (second.Kind() != kLeafRun || first.Length() + second.Length() > kPairBits) continue;
                pairs[colour][index] = static_cast<std::uint32_t>(first.Run()) |
                                       (static_cast<std::uint32_t>(second.Run()) << 6) |
                                       (static_cast<std::uint32_t>(first.Length() + second.Length()) << 12);
            }
        }
        for (int colour = 0; colour < 2; ++colour) {
            for (int index = 0; index < (1 << kPrimaryBits); ++index) {
                const TableEntry& entry = table[colour][index];
                primary[colour][index] = entry.Length() <= kPrimaryBits && entry.Kind() != kLeafZeroRun
                                             ? entry
                                             : TableEntry{0, kLeafLong, 0};
            }
        }
    }
};

const DecoderTables& Decoder() {
    static const DecoderTables tables;
    return tables;
}

}  // namespace

const void* T4LineDecoder::SharedTables() { return &Decoder(); }

namespace {

// Writes a line's pixels run by run, 64 at a time (1 = white), so that every
// code costs a few shifts whatever its colour.
class PixelWriter {
public:
    explicit PixelWriter(std::uint8_t* line) : line_(line), next_(line) {}

    void Put(int run, std::uint64_t colour) {
        const int room = 64 - filled_;
        if (run < room) [[likely]] {
            word_ = (word_ << run) | (colour & ((std::uint64_t{1} << run) - 1));
            filled_ += run;
            return;
        }
        word_ = room == 64 ? colour : (word_ << room) | (colour & ((std::uint64_t{1} << room) - 1));
        Store(word_);
        run -= room;
        for (; run >= 64; run -= 64) {
            std::memcpy(next_, &colour, sizeof colour);  // all ones or all zeros
            next_ += sizeof colour;
        }
        word_ = colour & ((std::uint64_t{1} << run) - 1);
        filled_ = run;
    }

    // The whole line white at once.
    void WhiteLine() {
        std::memset(line_, 0xFF, kLineBytes);
        next_ = line_ + kLineBytes;
        filled_ = 0;
    }

    // The pixels after the last run are white.
    void FinishWhite() {
        if (filled_ > 0) Store((word_ << (64 - filled_)) | ((std::uint64_t{1} << (64 - filled_)) - 1));
        std::memset(next_, 0xFF, static_cast<std::size_t>(line_ + kLineBytes - next_));
    }

private:
    void Store(std::uint64_t word) {
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
        std::memcpy(next_, &word, sizeof word);
        next_ += sizeof word;
    }

    std::uint8_t* line_;
    std::uint8_t* next_;
    std::uint64_t word_ = 0;
    int filled_ = 0;
};

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
    // No run costs more than 6 bits a pixel (a white run of one), the first
    // white run of 0 takes 8 and fill and EOL at most 23: with that much
    // room no bound needs checking on the way.
    if (lineBytes <= (std::size_t{1} << 24) && capacity >= 6 * lineBytes + 5) {
        return EncodeRuns<false>(line, lineBytes, out, capacity);
    }
    return EncodeRuns<true>(line, lineBytes, out, capacity);
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
    const DecoderTables& tables = *static_cast<const DecoderTables*>(tables_);
    // The bit reader's state lives in registers while codes are taken.
    std::uint64_t bits = bits_;
    int bitCount = bitCount_;
    auto save = [&] {
        bits_ = bits;
        bitCount_ = bitCount;
    };
    auto load = [&] {
        bits = bits_;
        bitCount = bitCount_;
    };
    for (;;) {
        // A new line, also after a dropped one. At most 1728 pixels are
        // written, the rest of the line is white.
        PixelWriter pixels(out);
        int count = 0;
        int colour = 1;  // white
        // Most lines of a page are empty: white 1728 and white 0 at once, and
        // with enough bits at hand their EOL too.
        if (bitCount < 48) {
            save();
            Refill();
            load();
        }
        if (bitCount >= 17 && (bits & 0x1FFFF) == kWhiteLineCodes) {
            bits >>= 17;
            bitCount -= 17;
            pixels.WhiteLine();
            count = kLinePixels;
            colour = 0;
            // Eleven or more fill and EOL zeros, then the EOL's 1 bit.
            if (bits != 0 && std::countr_zero(bits) >= 11) {
                const int skipped = std::countr_zero(bits) + 1;
                bits = skipped < 64 ? bits >> skipped : 0;
                bitCount -= skipped;
                save();
                CompleteLine(out, capacity);
                return kLineBytes;
            }
        }
        for (;;) {
            Outcome outcome;
            int run;
            if (bitCount < kTableBits) [[unlikely]] {
                save();
                Refill();
                load();
            }
            if (bitCount >= kTableBits) [[likely]] {
                const std::uint32_t pair = tables.pairs[colour][bits & ((1u << kPairBits) - 1)];
                if (pair != 0) {
                    const int first = static_cast<int>(pair & 63);
                    const int second = static_cast<int>((pair >> 6) & 63);
                    if (count + first + second <= kLinePixels) [[likely]] {
                        const int length = static_cast<int>(pair >> 12);
                        bits >>= length;
                        bitCount -= length;
                        const std::uint64_t firstColour = colour == 1 ? ~std::uint64_t{0} : 0;
                        pixels.Put(first, firstColour);
                        pixels.Put(second, ~firstColour);
                        count += first + second;
                        continue;
                    }
                }
                TableEntry entry = tables.primary[colour][bits & ((1u << kPrimaryBits) - 1)];
                if (entry.Kind() == kLeafLong) entry = tables.table[colour][bits & ((1u << kTableBits) - 1)];
                run = entry.Run();
                const int kind = entry.Kind();
                if (kind <= kLeafMakeUp) [[likely]] {
                    bits >>= entry.Length();
                    bitCount -= entry.Length();
                    if (count + run <= kLinePixels) [[likely]] {
                        pixels.Put(run, colour == 1 ? ~std::uint64_t{0} : 0);
                        count += run;
                    } else {
                        count = kOverLongCount;
                    }
                    if (kind == kLeafRun) colour ^= 1;
                    continue;
                }
                if (kind == kLeafInvalid) {
                    bits >>= entry.Length();
                    bitCount -= entry.Length();
                    outcome = Outcome::kInvalid;
                } else {
                    // Eleven or more 0 bits: the EOL ends at the next 1 bit.
                    outcome = Outcome::kEol;
                    for (;;) {
                        if (bits != 0) {
                            const int skipped = std::countr_zero(bits) + 1;
                            bits = skipped < 64 ? bits >> skipped : 0;
                            bitCount -= skipped;
                            break;
                        }
                        bits_ = 0;
                        bitCount_ = 0;
                        const bool more = Refill();
                        load();
                        if (!more) {
                            outcome = Outcome::kEndOfData;
                            break;
                        }
                    }
                }
            } else {
                // The last few bits of the data.
                save();
                outcome = RecognizeSlow(colour == 1, run);
                load();
                if (outcome == Outcome::kRun || outcome == Outcome::kMakeUp) {
                    if (count + run <= kLinePixels) {
                        pixels.Put(run, colour == 1 ? ~std::uint64_t{0} : 0);
                        count += run;
                    } else {
                        count = kOverLongCount;
                    }
                    if (outcome == Outcome::kRun) colour ^= 1;
                    continue;
                }
            }
            save();
            if (outcome == Outcome::kEol) {
                if (count <= kLinePixels) {
                    pixels.FinishWhite();
                    CompleteLine(out, capacity);
                    return kLineBytes;
                }
                break;  // an over-long line is dropped
            }
            if (outcome == Outcome::kInvalid) {
                const bool synchronized = Synchronize();
                load();
                if (!synchronized) return 0;
                break;
            }
            // End of data: a complete last line whose EOL is missing (pages
            // written without the closing EOLs) still counts.
            if (count == kLinePixels) {
                pixels.FinishWhite();
                CompleteLine(out, capacity);
                return kLineBytes;
            }
            return 0;
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
