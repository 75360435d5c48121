// Compressed RTF as MS-OXRTFCP defines it ("LZFu" and "MELA"), and the
// conversion of plain text into the RTF the fax server reads as a message
// body. Everything here works on plain bytes; the MAPI streams sit on top.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "faxmsg/export.h"

namespace faxmsg {

inline constexpr std::uint32_t kCompressedRtfLzfu = 0x75465A4C;  // "LZFu" on disk
inline constexpr std::uint32_t kCompressedRtfMela = 0x414C454D;  // "MELA" on disk
inline constexpr std::size_t kCompressedRtfHeaderSize = 16;
// Largest uncompressed RTF that DecompressRtf accepts unless told otherwise.
inline constexpr std::uint32_t kDefaultMaxRtfSize = 64u * 1024u * 1024u;

// The 207 bytes every LZFu dictionary starts with.
FAXMSG_API std::string_view RtfInitialDictionary() noexcept;

// CRC-32 of compressed RTF: reflected polynomial 0xEDB88320, initial value
// crc (0 for a fresh sum), no final inversion. Pass the previous result to
// continue a sum over more bytes.
FAXMSG_API std::uint32_t CompressedRtfCrc(std::span<const std::uint8_t> bytes,
                                          std::uint32_t crc = 0) noexcept;

struct FAXMSG_API CompressedRtfHeader {
    std::uint32_t compressedSize = 0;  // bytes after the header, plus 12
    std::uint32_t rawSize = 0;
    std::uint32_t compressionType = kCompressedRtfLzfu;
    std::uint32_t crc = 0;

    // The 16 header bytes, little-endian.
    std::array<std::uint8_t, kCompressedRtfHeaderSize> Encode() const noexcept;
};

// Codes raw RTF as LZFu, a chunk at a time. Coded content piles up inside
// until taken, so a caller may either write it out as it goes (TakeContent,
// then the header from Finish in front) or keep it all (FinishBlob).
class FAXMSG_API RtfCompressor {
public:
    RtfCompressor() noexcept;
    ~RtfCompressor();
    RtfCompressor(const RtfCompressor&) = delete;
    RtfCompressor& operator=(const RtfCompressor&) = delete;
    RtfCompressor(RtfCompressor&&) noexcept;
    RtfCompressor& operator=(RtfCompressor&&) noexcept;

    // Codes more raw bytes. False (and the compressor unusable) when memory
    // ran out, after Finish, or when the raw size would no longer fit the
    // header's 32-bit fields.
    bool Write(std::span<const std::uint8_t> raw) noexcept;
    bool Write(std::string_view raw) noexcept;

    // Moves the coded content produced so far (without header) to the end of
    // out. False when memory ran out.
    bool TakeContent(std::vector<std::uint8_t>& out) noexcept;

    // Codes what is left and the end marker; the returned header describes
    // all content, taken or not. False when the compressor failed. Calling it
    // again returns the same header.
    bool Finish(CompressedRtfHeader& header) noexcept;

    // Finish, then the header followed by the content not taken yet: the
    // complete compressed form when TakeContent was never called. Empty when
    // the compressor failed.
    std::vector<std::uint8_t> FinishBlob() noexcept;

    bool failed() const noexcept;
    std::uint64_t rawSize() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One-shot compression: the complete LZFu form of raw (empty on failure).
FAXMSG_API std::vector<std::uint8_t> CompressRtf(std::span<const std::uint8_t> raw) noexcept;

enum class RtfDecodeStatus {
    kOk,
    kTooShort,           // fewer than 16 bytes
    kBadCompressedSize,  // compressed size below 12 or beyond the data given
    kUnknownType,        // neither LZFu nor MELA
    kBadCrc,
    kTooLarge,      // raw size above the caller's limit
    kSizeMismatch,  // content yields more or fewer bytes than the raw size
    kOutOfMemory,
};

FAXMSG_API const char* RtfDecodeStatusText(RtfDecodeStatus status) noexcept;

// Reads compressed RTF (LZFu or MELA) into out (replaced). The raw size in
// the header is checked against maxRawSize before anything is allocated, the
// LZFu CRC is checked, and the result is exactly the raw size or an error.
// Bytes after the compressed size are ignored; an LZFu stream that ends
// without its end marker is accepted when it yielded the whole raw size.
FAXMSG_API RtfDecodeStatus DecompressRtf(std::span<const std::uint8_t> blob,
                                         std::vector<std::uint8_t>& out,
                                         std::uint32_t maxRawSize = kDefaultMaxRtfSize) noexcept;

// Character set number that RTF gives code page codePage (1 for unknown
// ones).
FAXMSG_API unsigned RtfCharsetForCodePage(unsigned codePage) noexcept;

// Converts plain text in a code page to RTF, a chunk at a time: the head
// (font table for the code page, colour table, paragraph defaults) comes
// before the first converted byte, the closing brace with Finish. Line breaks
// become \par, tabs \tab, RTF's special characters are escaped and bytes of
// 0x80 and above, as well as whole double-byte characters of the code pages
// 932, 936, 949 and 950, are written as \'xx. A CR LF or LF CR pair and a
// double-byte character may be split across chunks.
class FAXMSG_API TextToRtfConverter {
public:
    // codePage 0 means the system's ANSI code page.
    explicit TextToRtfConverter(unsigned codePage = 0) noexcept;

    // Appends the RTF for text to out. False when memory ran out or after
    // Finish.
    bool Convert(std::span<const std::uint8_t> text, std::string& out) noexcept;
    bool Convert(std::string_view text, std::string& out) noexcept;
    // Appends whatever is still due (the head for an empty text) and "}".
    bool Finish(std::string& out) noexcept;

    unsigned codePage() const noexcept { return codePage_; }

private:
    void AppendHead(std::string& out);
    void ConvertByte(std::uint8_t byte, std::string& out);

    unsigned codePage_;
    bool doubleByte_;
    bool headWritten_ = false;
    bool finished_ = false;
    bool trailByteDue_ = false;  // the last byte was a double-byte lead
    char lastBreak_ = 0;         // CR or LF just written, waiting for its partner
};

// The RTF head for a code page (0: the system's), up to the converted text.
FAXMSG_API std::string RtfHeadForCodePage(unsigned codePage) noexcept;

// One-shot conversion of a whole text (empty on failure).
FAXMSG_API std::string ConvertTextToRtf(std::string_view text, unsigned codePage = 0) noexcept;

}  // namespace faxmsg
