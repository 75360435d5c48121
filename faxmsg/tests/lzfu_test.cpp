#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "faxmsg/rtf_codec.h"
#include "sample_text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::string ToString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::uint32_t ReadLe32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
void WriteLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}
// Recomputes the CRC after a test changed the content on purpose.
void FixCrc(Bytes& blob) {
    WriteLe32(blob, 12, faxmsg::CompressedRtfCrc(std::span<const std::uint8_t>(blob).subspan(16)));
}

// MS-OXRTFCP section 4, example 1.
const std::string kExample1Raw = "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n";
const Bytes kExample1Blob = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a,
                             0x46, 0x75, 0xf1, 0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00,
                             0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32, 0x0a,
                             0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62, 0x77,
                             0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0};
// Example 2: a reference that runs across the write position.
const std::string kExample2Raw = "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}";
const Bytes kExample2Blob = {0x1a, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x4c, 0x5a,
                             0x46, 0x75, 0xe2, 0xd4, 0x4b, 0x51, 0x41, 0x00, 0x04, 0x20,
                             0x57, 0x58, 0x59, 0x5a, 0x0d, 0x6e, 0x7d, 0x01, 0x0e, 0xb0};

TEST(CompressedRtf, InitialDictionaryAndCrcMatchThePublishedValues) {
    const std::string_view dictionary = faxmsg::RtfInitialDictionary();
    ASSERT_EQ(dictionary.size(), 207u);
    EXPECT_EQ(std::accumulate(dictionary.begin(), dictionary.end(), 0,
                              [](int sum, char c) { return sum + static_cast<unsigned char>(c); }),
              19781);
    const Bytes dictionaryBytes = ToBytes(dictionary);
    EXPECT_EQ(faxmsg::CompressedRtfCrc(dictionaryBytes), 0x06F44644u);
    EXPECT_EQ(faxmsg::CompressedRtfCrc({}), 0u);
    // A sum may be continued over further bytes.
    const std::span<const std::uint8_t> all(dictionaryBytes);
    EXPECT_EQ(faxmsg::CompressedRtfCrc(all.subspan(100), faxmsg::CompressedRtfCrc(all.first(100))),
              0x06F44644u);
}

TEST(CompressedRtf, PublishedExamplesDecompress) {
    for (const auto& [raw, blob] :
         {std::pair{kExample1Raw, kExample1Blob}, std::pair{kExample2Raw, kExample2Blob}}) {
        SCOPED_TRACE(raw);
        Bytes out;
        ASSERT_EQ(faxmsg::DecompressRtf(blob, out), faxmsg::RtfDecodeStatus::kOk);
        EXPECT_EQ(ToString(out), raw);
    }
}

TEST(CompressedRtf, PublishedExamplesCompressByteForByte) {
    EXPECT_EQ(faxmsg::CompressRtf(ToBytes(kExample1Raw)), kExample1Blob);
    EXPECT_EQ(faxmsg::CompressRtf(ToBytes(kExample2Raw)), kExample2Blob);
}

TEST(CompressedRtf, UncompressedFormIsRead) {
    Bytes blob = {0x37, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00,
                  0x4d, 0x45, 0x4c, 0x41, 0x00, 0x00, 0x00, 0x00};
    blob.insert(blob.end(), kExample1Raw.begin(), kExample1Raw.end());
    Bytes out;
    ASSERT_EQ(faxmsg::DecompressRtf(blob, out), faxmsg::RtfDecodeStatus::kOk);
    EXPECT_EQ(ToString(out), kExample1Raw);

    blob.pop_back();
    WriteLe32(blob, 0, static_cast<std::uint32_t>(blob.size() - 4));
    EXPECT_EQ(faxmsg::DecompressRtf(blob, out), faxmsg::RtfDecodeStatus::kSizeMismatch);
    EXPECT_TRUE(out.empty());
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

TEST(CompressedRtf, RoundTripsWhateverTheChunking) {
    const std::string letter = faxmsg_test::SampleLetter(200000);
    const Bytes letterRtf = ToBytes(faxmsg::ConvertTextToRtf(letter, 1252));
    struct Case {
        const char* name;
        Bytes raw;
        double maxRatio;  // compressed size / raw size it must stay below
    } cases[] = {
        {"empty", {}, 100.0},
        {"one byte", {'x'}, 100.0},
        {"dictionary text", ToBytes(faxmsg::RtfInitialDictionary()), 0.25},
        {"one repeated byte", Bytes(10000, 'A'), 0.15},
        {"short period", ToBytes(std::string(5000, 'x') + "ab" + std::string(3000, 'y')), 0.15},
        {"letter as RTF, many ring wraps", letterRtf, 0.5},
        {"random bytes", RandomBytes(20000, 7), 1.13},
        {"raw zero bytes", Bytes(9000, 0), 0.15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes whole = faxmsg::CompressRtf(c.raw);
        ASSERT_GE(whole.size(), 16u + 3u);  // header, a control byte and the end marker
        EXPECT_EQ(ReadLe32(whole, 0), whole.size() - 4);
        EXPECT_EQ(ReadLe32(whole, 4), c.raw.size());
        EXPECT_EQ(ToString(Bytes(whole.begin() + 8, whole.begin() + 12)), "LZFu");
        if (!c.raw.empty()) {
            EXPECT_LT(static_cast<double>(whole.size()) / static_cast<double>(c.raw.size()),
                      c.maxRatio);
        }
        Bytes out;
        ASSERT_EQ(faxmsg::DecompressRtf(whole, out), faxmsg::RtfDecodeStatus::kOk);
        EXPECT_TRUE(out == c.raw);

        // Fed in pieces and drained as it goes, the coder writes the same bytes.
        for (std::size_t chunk :
             {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{70000}}) {
            SCOPED_TRACE(chunk);
            if (chunk == 1 && c.raw.size() > 20000) {
                continue;  // byte-wise feeding of the large case adds only time
            }
            faxmsg::RtfCompressor compressor;
            Bytes content;
            for (std::size_t at = 0; at < c.raw.size(); at += chunk) {
                const std::size_t n = std::min(chunk, c.raw.size() - at);
                ASSERT_TRUE(compressor.Write(std::span<const std::uint8_t>(c.raw).subspan(at, n)));
                ASSERT_TRUE(compressor.TakeContent(content));
            }
            faxmsg::CompressedRtfHeader header;
            ASSERT_TRUE(compressor.Finish(header));
            ASSERT_TRUE(compressor.TakeContent(content));
            const auto headerBytes = header.Encode();
            Bytes streamed(headerBytes.begin(), headerBytes.end());
            streamed.insert(streamed.end(), content.begin(), content.end());
            EXPECT_TRUE(streamed == whole);
        }
    }
}

TEST(CompressedRtf, FinishedCompressorRefusesMoreInput) {
    faxmsg::RtfCompressor compressor;
    ASSERT_TRUE(compressor.Write(std::string_view("{\\rtf1 abc}")));
    const Bytes blob = compressor.FinishBlob();
    EXPECT_FALSE(compressor.Write(std::string_view("more")));
    faxmsg::CompressedRtfHeader header;
    ASSERT_TRUE(compressor.Finish(header));
    EXPECT_EQ(header.rawSize, 11u);
    EXPECT_EQ(header.compressedSize, blob.size() - 4);
    Bytes out;
    ASSERT_EQ(faxmsg::DecompressRtf(blob, out), faxmsg::RtfDecodeStatus::kOk);
    EXPECT_EQ(ToString(out), "{\\rtf1 abc}");
}

TEST(CompressedRtf, DamagedInputIsRefused) {
    using Status = faxmsg::RtfDecodeStatus;
    struct Case {
        const char* name;
        Bytes blob;
        Status expected;
    };
    std::vector<Case> cases;
    cases.push_back({"shorter than the header",
                     Bytes(kExample1Blob.begin(), kExample1Blob.begin() + 15), Status::kTooShort});
    {
        Bytes blob = kExample1Blob;
        blob.pop_back();  // compressed size now claims one byte more than there is
        cases.push_back({"truncated", blob, Status::kBadCompressedSize});
    }
    {
        Bytes blob = kExample1Blob;
        WriteLe32(blob, 0, 11);
        cases.push_back({"compressed size below 12", blob, Status::kBadCompressedSize});
    }
    {
        Bytes blob = kExample1Blob;
        WriteLe32(blob, 0, 0xFFFFFFFFu);
        cases.push_back({"huge compressed size", blob, Status::kBadCompressedSize});
    }
    {
        Bytes blob = kExample1Blob;
        blob[8] = 'X';
        cases.push_back({"unknown type", blob, Status::kUnknownType});
    }
    {
        Bytes blob = kExample1Blob;
        blob[20] ^= 0x01;
        cases.push_back({"content changed", blob, Status::kBadCrc});
    }
    {
        Bytes blob = kExample1Blob;
        WriteLe32(blob, 4, 0xFFFFFFF0u);
        cases.push_back({"raw size beyond the limit", blob, Status::kTooLarge});
    }
    {
        Bytes blob = kExample1Blob;
        WriteLe32(blob, 4, 44);
        cases.push_back({"raw size one too large", blob, Status::kSizeMismatch});
    }
    {
        Bytes blob = kExample1Blob;
        WriteLe32(blob, 4, 42);
        cases.push_back({"raw size one too small", blob, Status::kSizeMismatch});
    }
    {
        // A reference to a ring position never written yields zeros; with a
        // raw size that does not allow them the result is refused.
        Bytes blob = {0,    0, 0, 0, 4, 0,    0,    0,    0x4c, 0x5a, 0x46,
                      0x75, 0, 0, 0, 0, 0x01, 0x40, 0x0f, 0x0d, 0x00};
        WriteLe32(blob, 0, static_cast<std::uint32_t>(blob.size() - 4));
        FixCrc(blob);
        cases.push_back({"reference longer than the raw size", blob, Status::kSizeMismatch});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out = {1, 2, 3};
        EXPECT_EQ(faxmsg::DecompressRtf(c.blob, out), c.expected);
        EXPECT_TRUE(out.empty());
    }

    // A caller may set a tighter limit.
    Bytes out;
    EXPECT_EQ(faxmsg::DecompressRtf(kExample1Blob, out, 42), Status::kTooLarge);
    EXPECT_EQ(faxmsg::DecompressRtf(kExample1Blob, out, 43), Status::kOk);
}

TEST(CompressedRtf, PaddingAndAMissingEndMarkerAreTolerated) {
    Bytes padded = kExample1Blob;
    padded.insert(padded.end(), {0xAA, 0xBB, 0xCC});
    Bytes out;
    ASSERT_EQ(faxmsg::DecompressRtf(padded, out), faxmsg::RtfDecodeStatus::kOk);
    EXPECT_EQ(ToString(out), kExample1Raw);

    // Without its end marker the stream still yields the whole raw size.
    Bytes cut(kExample1Blob.begin(), kExample1Blob.end() - 2);
    WriteLe32(cut, 0, static_cast<std::uint32_t>(cut.size() - 4));
    FixCrc(cut);
    ASSERT_EQ(faxmsg::DecompressRtf(cut, out), faxmsg::RtfDecodeStatus::kOk);
    EXPECT_EQ(ToString(out), kExample1Raw);

    // Cut inside the text, it does not.
    Bytes shorter(kExample1Blob.begin(), kExample1Blob.end() - 6);
    WriteLe32(shorter, 0, static_cast<std::uint32_t>(shorter.size() - 4));
    FixCrc(shorter);
    EXPECT_EQ(faxmsg::DecompressRtf(shorter, out), faxmsg::RtfDecodeStatus::kSizeMismatch);
}

}  // namespace
