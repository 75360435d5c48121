// Compressed RTF (MS-OXRTFCP): the LZFu coder, the reader of LZFu and MELA
// content, and the format's CRC-32.
//
// Positions are counted from the start of the initial dictionary, so a
// position modulo 4096 is its place in the reader's ring and the first raw
// byte sits at position 207.
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "faxmsg/rtf_codec.h"

namespace faxmsg {

namespace {

constexpr char kInitialDictionary[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720"
    "{\\fonttbl;}"
    "{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript \\fdecor "
    "MS Sans SerifSymbolArialTimes New RomanCourier"
    "{\\colortbl\\red0\\green0\\blue0"
    "\r\n"
    "\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr std::size_t kInitialDictionarySize = sizeof(kInitialDictionary) - 1;
static_assert(kInitialDictionarySize == 207);

constexpr std::size_t kRingSize = 4096;
constexpr std::size_t kRingMask = kRingSize - 1;
// A reference may point at most 4095 bytes back: 4096 back is the write
// position itself, which the reader takes as the end marker.
constexpr std::uint64_t kMaxDistance = kRingSize - 1;
constexpr std::size_t kMinMatch = 2;
constexpr std::size_t kMaxMatch = 17;
// Bytes that must be waiting before a position is coded: a full match there
// and one at the next position (lazy matching looks one byte ahead).
constexpr std::size_t kLookahead = kMaxMatch + 1;
constexpr unsigned kHashBits = 14;
// How many earlier places with the same three bytes are tried; more finds
// slightly longer matches at a clear cost in speed.
constexpr int kMaxChain = 48;
// A match this long ends the search: longer ones gain little.
constexpr std::size_t kNiceLength = 12;
// Any pair in reach will do; the walk towards the oldest is kept short.
constexpr int kMaxPairChain = 8;
// Input is taken in slices of this size, and the window is cut back once
// this much has been coded beyond the ring, so memory stays small whatever
// the caller writes at once.
constexpr std::size_t kSliceSize = std::size_t{64} * 1024;
// The compressed size must fit 32 bits even when nothing compresses (a
// control byte per eight literals).
constexpr std::uint64_t kMaxRawSize = 0xE0000000u;
static_assert(kMaxRawSize + kInitialDictionarySize < std::numeric_limits<std::uint32_t>::max());

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        }
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

void PutLittleEndian(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t GetLittleEndian(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

struct Match {
    std::uint64_t position = 0;
    std::size_t length = 0;
};

}  // namespace

std::string_view RtfInitialDictionary() noexcept {
    return {kInitialDictionary, kInitialDictionarySize};
}

std::uint32_t CompressedRtfCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc) noexcept {
    for (std::uint8_t b : bytes) {
        crc = kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

std::array<std::uint8_t, kCompressedRtfHeaderSize> CompressedRtfHeader::Encode() const noexcept {
    std::array<std::uint8_t, kCompressedRtfHeaderSize> bytes{};
    PutLittleEndian(&bytes[0], compressedSize);
    PutLittleEndian(&bytes[4], rawSize);
    PutLittleEndian(&bytes[8], compressionType);
    PutLittleEndian(&bytes[12], crc);
    return bytes;
}

// ------------------------------------------------------------------ writing

struct RtfCompressor::State {
    State() {
        window.assign(kInitialDictionary, kInitialDictionary + kInitialDictionarySize);
        head3.assign(std::size_t{1} << kHashBits, kNone);
        head2.assign(std::size_t{1} << 16, kNone);
        prev3.assign(kRingSize, kNone);
        prev2.assign(kRingSize, kNone);
    }

    // Table entries hold a position plus one, so that 0 means none; raw
    // sizes are capped well below 4 GiB, so positions fit 32 bits.
    static constexpr std::uint32_t kNone = 0;
    static std::uint32_t Link(std::uint64_t position) {
        return static_cast<std::uint32_t>(position + 1);
    }

    // History and waiting input; window[0] is at position windowStart.
    std::vector<std::uint8_t> window;
    std::uint64_t windowStart = 0;
    std::uint64_t next = kInitialDictionarySize;  // first position not coded yet
    std::uint64_t hashed = 0;                     // positions below are in the tables
    // Newest position of each three-byte hash and of each byte pair, and for
    // every position (modulo the ring) the one before it with the same key.
    std::vector<std::uint32_t> head3;
    std::vector<std::uint32_t> prev3;
    std::vector<std::uint32_t> head2;
    std::vector<std::uint32_t> prev2;
    // A match already found for position `next` by the lazy look-ahead.
    bool haveLookahead = false;
    Match lookahead;

    // The run being assembled: its control byte and up to eight tokens.
    std::uint8_t control = 0;
    int tokenCount = 0;
    std::array<std::uint8_t, 16> tokens{};
    std::size_t tokenBytes = 0;

    std::vector<std::uint8_t> content;  // coded, not taken yet
    std::uint64_t contentTotal = 0;
    std::uint32_t crc = 0;
    bool finished = false;
    bool failed = false;
    CompressedRtfHeader header;

    std::uint64_t End() const { return windowStart + window.size(); }
    std::uint8_t At(std::uint64_t position) const { return window[position - windowStart]; }
    const std::uint8_t* Pointer(std::uint64_t position) const {
        return window.data() + (position - windowStart);
    }

    std::size_t Hash3(std::uint64_t position) const {
        const std::uint8_t* p = Pointer(position);
        const std::uint32_t key = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
        return (key * 2654435761u) >> (32 - kHashBits);
    }
    std::size_t Pair(std::uint64_t position) const {
        const std::uint8_t* p = Pointer(position);
        return (std::size_t{p[0]} << 8) | p[1];
    }

    void HashUpTo(std::uint64_t limit) {
        while (hashed < limit && hashed + 2 < End()) {
            const std::size_t h = Hash3(hashed);
            prev3[hashed & kRingMask] = head3[h];
            head3[h] = Link(hashed);
            const std::size_t pair = Pair(hashed);
            prev2[hashed & kRingMask] = head2[pair];
            head2[pair] = Link(hashed);
            ++hashed;
        }
    }

    // The longest earlier match for position, up to 17 bytes. A match may
    // run on into the bytes it produces, as the reader copies byte by byte.
    // Of equally long ones the older is taken.
    Match FindMatch(std::uint64_t position) const {
        Match best;
        const std::size_t maxLength =
            static_cast<std::size_t>(std::min<std::uint64_t>(kMaxMatch, End() - position));
        if (maxLength < kMinMatch) {
            return best;
        }
        const std::uint8_t* here = Pointer(position);
        if (maxLength >= 3) {
            std::uint32_t candidate = head3[Hash3(position)];
            for (int chain = 0; candidate != kNone && chain < kMaxChain; ++chain) {
                const std::uint64_t from = candidate - 1;
                if (from >= position || position - from > kMaxDistance) {
                    break;
                }
                const std::uint8_t* there = Pointer(from);
                if (best.length == 0 || there[best.length - 1] == here[best.length - 1]) {
                    std::size_t length = 0;
                    while (length < maxLength && there[length] == here[length]) {
                        ++length;
                    }
                    if (length >= kMinMatch && length >= best.length) {
                        best = {from, length};
                        if (length == maxLength || length >= kNiceLength) {
                            break;
                        }
                    }
                }
                const std::uint32_t older = prev3[from & kRingMask];
                if (older >= candidate) {
                    break;
                }
                candidate = older;
            }
        }
        if (best.length < kMinMatch) {
            // Pairs are keyed exactly; the oldest one in reach is taken.
            std::uint32_t candidate = head2[Pair(position)];
            for (int chain = 0; candidate != kNone && chain < kMaxPairChain; ++chain) {
                const std::uint64_t from = candidate - 1;
                if (from >= position || position - from > kMaxDistance) {
                    break;
                }
                best = {from, kMinMatch};
                const std::uint32_t older = prev2[from & kRingMask];
                if (older >= candidate) {
                    break;
                }
                candidate = older;
            }
        }
        return best;
    }

    void FlushRun() {
        content.push_back(control);
        content.insert(content.end(), tokens.begin(), tokens.begin() + tokenBytes);
        crc = CompressedRtfCrc(std::span<const std::uint8_t>(&control, 1), crc);
        crc = CompressedRtfCrc(std::span<const std::uint8_t>(tokens.data(), tokenBytes), crc);
        contentTotal += 1 + tokenBytes;
        control = 0;
        tokenCount = 0;
        tokenBytes = 0;
    }

    void EmitLiteral(std::uint8_t byte) {
        tokens[tokenBytes++] = byte;
        if (++tokenCount == 8) {
            FlushRun();
        }
    }

    void EmitReference(std::uint64_t position, std::size_t length) {
        const auto value = static_cast<std::uint16_t>(((position & kRingMask) << 4) | (length - 2));
        control = static_cast<std::uint8_t>(control | (1u << tokenCount));
        tokens[tokenBytes++] = static_cast<std::uint8_t>(value >> 8);
        tokens[tokenBytes++] = static_cast<std::uint8_t>(value & 0xFF);
        if (++tokenCount == 8) {
            FlushRun();
        }
    }

    // Codes the waiting input; without `last`, stops where too little is
    // left to know the best match.
    void Code(bool last) {
        while (next < End()) {
            if (!last && End() - next < kLookahead) {
                break;
            }
            HashUpTo(next);
            Match match = haveLookahead ? lookahead : FindMatch(next);
            haveLookahead = false;
            if (match.length >= kMinMatch && match.length < kNiceLength && next + 1 < End()) {
                // A longer match one byte on is worth a literal first.
                HashUpTo(next + 1);
                const Match later = FindMatch(next + 1);
                if (later.length > match.length) {
                    EmitLiteral(At(next));
                    ++next;
                    lookahead = later;
                    haveLookahead = true;
                    continue;
                }
            }
            if (match.length >= kMinMatch) {
                EmitReference(match.position, match.length);
                next += match.length;
            } else {
                EmitLiteral(At(next));
                ++next;
            }
        }
    }

    // Drops history the ring no longer reaches.
    void Trim() {
        const std::uint64_t keepFrom =
            std::min(next, hashed) > kRingSize ? std::min(next, hashed) - kRingSize : 0;
        if (keepFrom > windowStart + kSliceSize) {
            const auto drop = static_cast<std::ptrdiff_t>(keepFrom - windowStart);
            window.erase(window.begin(), window.begin() + drop);
            windowStart = keepFrom;
        }
    }
};

RtfCompressor::RtfCompressor() noexcept {
    try {
        state_ = std::make_unique<State>();
    } catch (const std::bad_alloc&) {
        // Left without state: the compressor reports itself failed.
    }
}
RtfCompressor::~RtfCompressor() = default;
RtfCompressor::RtfCompressor(RtfCompressor&&) noexcept = default;
RtfCompressor& RtfCompressor::operator=(RtfCompressor&&) noexcept = default;

bool RtfCompressor::Write(std::span<const std::uint8_t> raw) noexcept {
    if (!state_) {
        return false;
    }
    State& s = *state_;
    if (s.failed || s.finished) {
        return false;
    }
    const std::uint64_t rawSoFar = s.End() - kInitialDictionarySize;
    if (raw.size() > kMaxRawSize - rawSoFar) {
        s.failed = true;
        return false;
    }
    try {
        while (!raw.empty()) {
            const std::size_t slice = std::min(raw.size(), kSliceSize);
            s.window.insert(s.window.end(), raw.begin(),
                            raw.begin() + static_cast<std::ptrdiff_t>(slice));
            raw = raw.subspan(slice);
            s.Code(false);
            s.Trim();
        }
    } catch (const std::bad_alloc&) {
        s.failed = true;
        return false;
    }
    return true;
}

bool RtfCompressor::Write(std::string_view raw) noexcept {
    return Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(raw.data()),
                                               raw.size()));
}

bool RtfCompressor::TakeContent(std::vector<std::uint8_t>& out) noexcept {
    if (!state_) {
        return false;
    }
    State& s = *state_;
    try {
        out.insert(out.end(), s.content.begin(), s.content.end());
    } catch (const std::bad_alloc&) {
        return false;
    }
    s.content.clear();
    return true;
}

bool RtfCompressor::Finish(CompressedRtfHeader& header) noexcept {
    if (!state_) {
        return false;
    }
    State& s = *state_;
    if (s.failed) {
        return false;
    }
    if (!s.finished) {
        try {
            s.Code(true);
            // The end marker: a reference to the write position itself.
            s.EmitReference(s.next, 2);
            if (s.tokenCount != 0) {
                s.FlushRun();
            }
        } catch (const std::bad_alloc&) {
            s.failed = true;
            return false;
        }
        s.header.compressedSize = static_cast<std::uint32_t>(s.contentTotal + 12);
        s.header.rawSize = static_cast<std::uint32_t>(s.next - kInitialDictionarySize);
        s.header.compressionType = kCompressedRtfLzfu;
        s.header.crc = s.crc;
        s.finished = true;
        s.window.clear();
        s.window.shrink_to_fit();
    }
    header = s.header;
    return true;
}

std::vector<std::uint8_t> RtfCompressor::FinishBlob() noexcept {
    CompressedRtfHeader header;
    if (!Finish(header)) {
        return {};
    }
    try {
        std::vector<std::uint8_t> blob;
        blob.reserve(kCompressedRtfHeaderSize + state_->content.size());
        const auto bytes = header.Encode();
        blob.insert(blob.end(), bytes.begin(), bytes.end());
        blob.insert(blob.end(), state_->content.begin(), state_->content.end());
        state_->content.clear();
        return blob;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool RtfCompressor::failed() const noexcept { return !state_ || state_->failed; }

std::uint64_t RtfCompressor::rawSize() const noexcept {
    return state_ ? state_->End() - kInitialDictionarySize : 0;
}

std::vector<std::uint8_t> CompressRtf(std::span<const std::uint8_t> raw) noexcept {
    RtfCompressor compressor;
    if (!compressor.Write(raw)) {
        return {};
    }
    return compressor.FinishBlob();
}

// ------------------------------------------------------------------ reading

const char* RtfDecodeStatusText(RtfDecodeStatus status) noexcept {
    switch (status) {
        case RtfDecodeStatus::kOk:
            return "ok";
        case RtfDecodeStatus::kTooShort:
            return "shorter than the 16-byte header";
        case RtfDecodeStatus::kBadCompressedSize:
            return "compressed size does not match the data";
        case RtfDecodeStatus::kUnknownType:
            return "neither LZFu nor MELA";
        case RtfDecodeStatus::kBadCrc:
            return "CRC mismatch";
        case RtfDecodeStatus::kTooLarge:
            return "raw size above the limit";
        case RtfDecodeStatus::kSizeMismatch:
            return "content does not yield the raw size";
        case RtfDecodeStatus::kOutOfMemory:
            return "out of memory";
    }
    return "unknown";
}

namespace {

RtfDecodeStatus DecodeLzfu(std::span<const std::uint8_t> content, std::uint32_t rawSize,
                           std::vector<std::uint8_t>& out) {
    std::array<std::uint8_t, kRingSize> ring{};
    std::memcpy(ring.data(), kInitialDictionary, kInitialDictionarySize);
    std::size_t write = kInitialDictionarySize;
    // Every two content bytes give at most 17 raw ones, so a small blob never
    // reserves the whole of a large claimed size.
    out.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(rawSize, content.size() * 9 + 17)));

    const std::size_t n = content.size();
    std::size_t in = 0;
    while (in < n) {
        const std::uint8_t control = content[in++];
        for (int bit = 0; bit < 8; ++bit) {
            if (in >= n) {
                return out.size() == rawSize ? RtfDecodeStatus::kOk
                                             : RtfDecodeStatus::kSizeMismatch;
            }
            if ((control & (1u << bit)) == 0) {
                if (out.size() == rawSize) {
                    return RtfDecodeStatus::kSizeMismatch;
                }
                const std::uint8_t byte = content[in++];
                out.push_back(byte);
                ring[write] = byte;
                write = (write + 1) & kRingMask;
                continue;
            }
            if (in + 1 >= n) {
                // Half a reference: the stream was cut short.
                return out.size() == rawSize ? RtfDecodeStatus::kOk
                                             : RtfDecodeStatus::kSizeMismatch;
            }
            const unsigned reference = (unsigned{content[in]} << 8) | content[in + 1];
            in += 2;
            const std::size_t offset = reference >> 4;
            const std::size_t length = (reference & 0x0F) + 2;
            if (offset == write) {
                return out.size() == rawSize ? RtfDecodeStatus::kOk
                                             : RtfDecodeStatus::kSizeMismatch;
            }
            if (length > rawSize - out.size()) {
                return RtfDecodeStatus::kSizeMismatch;
            }
            for (std::size_t k = 0; k < length; ++k) {
                const std::uint8_t byte = ring[(offset + k) & kRingMask];
                out.push_back(byte);
                ring[write] = byte;
                write = (write + 1) & kRingMask;
            }
        }
    }
    return out.size() == rawSize ? RtfDecodeStatus::kOk : RtfDecodeStatus::kSizeMismatch;
}

}  // namespace

RtfDecodeStatus DecompressRtf(std::span<const std::uint8_t> blob, std::vector<std::uint8_t>& out,
                              std::uint32_t maxRawSize) noexcept {
    out.clear();
    if (blob.size() < kCompressedRtfHeaderSize) {
        return RtfDecodeStatus::kTooShort;
    }
    const std::uint32_t compressedSize = GetLittleEndian(&blob[0]);
    const std::uint32_t rawSize = GetLittleEndian(&blob[4]);
    const std::uint32_t type = GetLittleEndian(&blob[8]);
    const std::uint32_t crc = GetLittleEndian(&blob[12]);
    // The compressed size counts the content and the 12 header bytes after
    // itself; data beyond it is padding a store may have added.
    if (compressedSize < 12 || compressedSize - 12u > blob.size() - kCompressedRtfHeaderSize) {
        return RtfDecodeStatus::kBadCompressedSize;
    }
    const auto content = blob.subspan(kCompressedRtfHeaderSize, compressedSize - 12u);
    if (type != kCompressedRtfLzfu && type != kCompressedRtfMela) {
        return RtfDecodeStatus::kUnknownType;
    }
    if (rawSize > maxRawSize) {
        return RtfDecodeStatus::kTooLarge;
    }
    RtfDecodeStatus status = RtfDecodeStatus::kOk;
    try {
        if (type == kCompressedRtfMela) {
            // Stored as is; the CRC field carries nothing for this form.
            if (content.size() < rawSize) {
                return RtfDecodeStatus::kSizeMismatch;
            }
            out.assign(content.begin(), content.begin() + rawSize);
            return RtfDecodeStatus::kOk;
        }
        if (CompressedRtfCrc(content) != crc) {
            return RtfDecodeStatus::kBadCrc;
        }
        status = DecodeLzfu(content, rawSize, out);
    } catch (const std::bad_alloc&) {
        status = RtfDecodeStatus::kOutOfMemory;
    }
    if (status != RtfDecodeStatus::kOk) {
        out.clear();
    }
    return status;
}

}  // namespace faxmsg
