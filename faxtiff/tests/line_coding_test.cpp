// The Group 3 line code: exact bytes of the encoder, the decoder's handling of
// damaged, short and over-long lines, and agreement of the table decoder with
// the bit-by-bit code-tree walk.
#include <gtest/gtest.h>

#include <random>

#include "faxtiff/faxtiff.h"
#include "faxtiff/t4_coding.h"
#include "synthetic_page.h"
#include "test_support.h"

namespace {

using faxtest::BitString;
using faxtest::Bytes;
using faxtest::DecodeAll;
using faxtest::kLineBytes;

constexpr const char* kEol = "000000000001";
constexpr const char* kWhite0 = "00110101";
constexpr const char* kWhite1728 = "010011011";

Bytes Encode(const Bytes& line, bool lsbFirst, int capacity = 2048, int* result = nullptr) {
    Bytes out(static_cast<std::size_t>(capacity));
    int length = capacity;
    const int rc = EncodeLine(0, out.data(), &length, line.data(), static_cast<int>(line.size()), lsbFirst ? 1 : 0);
    if (result != nullptr) *result = rc;
    if (rc != 0) return {};
    out.resize(static_cast<std::size_t>(length));
    return out;
}

TEST(EncodeLine, AllWhiteLineHasTheExactBytesOfBothFillOrders) {
    EXPECT_EQ(Encode(faxtest::WhiteLine(), false), (Bytes{0x4D, 0x9A, 0x80, 0x00, 0x01}));
    EXPECT_EQ(Encode(faxtest::WhiteLine(), true), (Bytes{0xB2, 0x59, 0x01, 0x00, 0x80}));
}

TEST(EncodeLine, LineStartingBlackBeginsWithWhiteRunZero) {
    // black 1728: make-up 0000001100101, terminating 0000110111.
    const Bytes expected = BitString()
                               .Add(kWhite0)
                               .Add("0000001100101")
                               .Add("0000110111")
                               .Add("0")  // to the byte boundary (31 bits so far)
                               .Add("0000")
                               .Add(kEol)
                               .Pack(false);
    EXPECT_EQ(Encode(faxtest::LineWithBlack(0, 1728), false), expected);
}

TEST(EncodeLine, MixedRunsUseMakeUpAndTerminatingCodes) {
    // white 100 = 64 + 36, black 200 = 192 + 8, white 1428 = 1408 + 20.
    const Bytes expected = BitString()
                               .Add("11011").Add("00010101")
                               .Add("000011001001").Add("000101")
                               .Add("011011011").Add("0001000")
                               .Add("0")
                               .Add("0000").Add(kEol)
                               .Pack(true);
    EXPECT_EQ(Encode(faxtest::LineWithBlack(100, 300), true), expected);
}

TEST(EncodeLine, FailsWhenTheCodedLineExceedsTheCapacity) {
    const Bytes line = faxtest::RandomLine(7, 40);
    const Bytes full = Encode(line, true);
    ASSERT_FALSE(full.empty());
    int rc = 0;
    EXPECT_EQ(Encode(line, true, static_cast<int>(full.size()), &rc), full);
    Encode(line, true, static_cast<int>(full.size()) - 1, &rc);
    EXPECT_EQ(rc, -1);
    Encode(line, true, 0, &rc);
    EXPECT_EQ(rc, -1);
}

TEST(EncodeLine, RunsUpTo2623PixelsAreCoded) {
    // 328 bytes = 2624 pixels.
    Bytes longest(328, 0xFF);
    longest.back() = 0xFE;  // white 2623, black 1
    int rc = -1;
    const Bytes coded = Encode(longest, false, 2048, &rc);
    ASSERT_EQ(rc, 0);
    // extended make-up 2560, white 63, black 1
    EXPECT_EQ(coded, BitString().Add("000000011111").Add("00110100").Add("010").Add("0").Add("0000").Add(kEol).Pack(false));

    Encode(Bytes(328, 0xFF), false, 2048, &rc);
    EXPECT_EQ(rc, -1) << "a white run of 2624 pixels needs two make-up codes";
}

TEST(EncodeLine, RejectsBadArguments) {
    Bytes out(64);
    int length = 64;
    const Bytes line = faxtest::WhiteLine();
    EXPECT_EQ(EncodeLine(0, nullptr, &length, line.data(), kLineBytes, 1), -1);
    EXPECT_EQ(EncodeLine(0, out.data(), nullptr, line.data(), kLineBytes, 1), -1);
    EXPECT_EQ(EncodeLine(0, out.data(), &length, nullptr, kLineBytes, 1), -1);
    EXPECT_EQ(EncodeLine(0, out.data(), &length, line.data(), -1, 1), -1);
}

TEST(LineCoding, EncodedLinesDecodeToTheSameBitmapInBothFillOrders) {
    std::vector<Bytes> lines = {faxtest::WhiteLine(), faxtest::LineWithBlack(0, 1728),
                                faxtest::LineWithBlack(0, 1), faxtest::LineWithBlack(1727, 1728),
                                faxtest::LineWithBlack(63, 64 + 63)};
    for (std::uint32_t seed = 0; seed < 60; ++seed) lines.push_back(faxtest::RandomLine(seed, static_cast<int>(seed % 100)));
    const std::vector<std::uint8_t> text = faxtiff::synthetic::TextPage(400, 3);
    for (int y = 100; y < 400; y += 7) lines.push_back(faxtest::Lines(text, y, 1));
    const std::vector<std::uint8_t> dense = faxtiff::synthetic::DensePage(8, 4);
    for (int y = 0; y < 8; ++y) lines.push_back(faxtest::Lines(dense, y, 1));

    for (bool lsbFirst : {false, true}) {
        // The leading EOL ends on a byte boundary, as the library writes it.
        Bytes stream = BitString().Add("0000").Add(kEol).Pack(lsbFirst);
        for (const Bytes& line : lines) {
            const Bytes coded = Encode(line, lsbFirst);
            stream.insert(stream.end(), coded.begin(), coded.end());
        }
        const std::vector<Bytes> decoded = DecodeAll(stream, lsbFirst);
        ASSERT_EQ(decoded.size(), lines.size()) << "lsbFirst " << lsbFirst;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(decoded[i] == lines[i]) << "line " << i << ", lsbFirst " << lsbFirst;
        }
    }
}

// Streams of code strings and the lines the decoder must deliver.
struct DecodeCase {
    const char* name;
    std::vector<std::string> codes;
    std::vector<Bytes> expected;
};

class DecodeLines : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeLines, DeliversTheExpectedLines) {
    BitString bits;
    for (const std::string& code : GetParam().codes) bits.Add(code);
    for (bool lsbFirst : {false, true}) {
        const Bytes stream = bits.Pack(lsbFirst);
        EXPECT_EQ(DecodeAll(stream, lsbFirst), GetParam().expected) << "lsbFirst " << lsbFirst;
        EXPECT_EQ(DecodeAll(stream, lsbFirst, true), GetParam().expected) << "reference, lsbFirst " << lsbFirst;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeLines,
    testing::Values(
        DecodeCase{"NothingBeforeTheFirstEolCounts",
                   {"1011 0111", kEol, "0111", "11", kEol},  // white 2, black 2, then EOL: short line
                   {faxtest::LineWithBlack(2, 4)}},
        DecodeCase{"ShortLineIsCompletedInWhite",
                   // white 10, black 990 (960 + 30)
                   {kEol, "00111", "0000001110011", "000001101000", kEol},
                   {faxtest::LineWithBlack(10, 1000)}},
        DecodeCase{"OverLongLineIsDroppedAndTheNextDecodedInItsPlace",
                   // white 1728 + black 1 (1729 pixels), then a line with black 5..8
                   {kEol, kWhite1728, kWhite0, "010", kEol, "1100", "10", kEol},
                   {faxtest::LineWithBlack(5, 8)}},
        DecodeCase{"EolAfterElevenZerosEndsALineInWhiteState",
                   {kEol, "1000", "010", "00000000000" "1"},  // white 3, black 1, EOL while white
                   {faxtest::LineWithBlack(3, 4)}},
        DecodeCase{"EolAfterElevenZerosEndsALineInBlackState",
                   {kEol, "1000", "00000000000" "1"},  // white 3, EOL while black
                   {faxtest::WhiteLine()}},
        DecodeCase{"FillZerosBeforeAnEolAreAbsorbed",
                   {kEol, "1000", "010", "0000000", kEol},
                   {faxtest::LineWithBlack(3, 4)}},
        DecodeCase{"EolDirectlyAfterEolIsAnAllWhiteLine",
                   {kEol, kEol, kEol},
                   {faxtest::WhiteLine(), faxtest::WhiteLine()}},
        DecodeCase{"ExtendedMakeUpIsInvalidAndResynchronises",
                   // 1792 extended code, garbage, then EOL and a good line
                   {kEol, "00000001000", "0111", kEol, "1000", "11", kEol},
                   {faxtest::LineWithBlack(3, 5)}},
        DecodeCase{"DataEndingInsideALineGivesNoLine",
                   {kEol, "1000", "11", kEol, "1000", "11"},
                   {faxtest::LineWithBlack(3, 5)}},
        DecodeCase{"CompleteLastLineWithoutItsEolIsKept",
                   {kEol, "1000", "11", kEol, kWhite1728, kWhite0, "0000"},
                   {faxtest::LineWithBlack(3, 5), faxtest::WhiteLine()}},
        DecodeCase{"NoEolAtAllGivesNoLine", {"1000", "11", kWhite1728, kWhite0}, {}}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(LineDecoder, CapacityBelowOneLineGivesNoLineAndLargerBuffersAreFilledWhite) {
    const Bytes stream = BitString().Add(kEol).Add("1000").Add("11").Add(kEol).Add(kEol).Pack(true);
    struct Source {
        const Bytes* data;
        bool done = false;
    } source{&stream};
    faxtiff::T4LineDecoder decoder;
    decoder.Reset(
        [](void* context, std::uint8_t* destination, int wanted) {
            auto* s = static_cast<Source*>(context);
            if (s->done || wanted < static_cast<int>(s->data->size())) return 0;
            s->done = true;
            std::copy(s->data->begin(), s->data->end(), destination);
            return static_cast<int>(s->data->size());
        },
        &source, true);
    Bytes buffer(256, 0x00);
    EXPECT_EQ(decoder.DecodeLine(buffer.data(), 215), 0);
    EXPECT_EQ(decoder.DecodeLine(buffer.data(), 256), kLineBytes);
    Bytes expected = faxtest::LineWithBlack(3, 5);
    expected.resize(256, 0xFF);
    EXPECT_EQ(buffer, expected);
}

// Damaged and random streams: the table decoder must deliver exactly what the
// code-tree walk delivers, line for line.
TEST(LineDecoder, TableDecoderAgreesWithTheCodeTreeWalk) {
    std::mt19937 random(12345);
    std::vector<Bytes> streams;
    for (int i = 0; i < 150; ++i) {
        Bytes bytes(1 + random() % 3000);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        streams.push_back(bytes);
    }
    // Valid pages with bits flipped, bytes dropped and zero runs spliced in.
    for (int i = 0; i < 150; ++i) {
        Bytes stream = BitString().Add("0000").Add(kEol).Pack(true);
        for (int line = 0; line < 12; ++line) {
            const Bytes coded = Encode(faxtest::RandomLine(static_cast<std::uint32_t>(i * 31 + line), static_cast<int>(random() % 100)), true);
            stream.insert(stream.end(), coded.begin(), coded.end());
        }
        const int damage = static_cast<int>(random() % 6);
        for (int d = 0; d < damage; ++d) {
            const std::size_t at = random() % stream.size();
            switch (random() % 3) {
                case 0: stream[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
                case 1: stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(at)); break;
                default: stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at), random() % 4 + 1, 0x00); break;
            }
        }
        if (random() % 2) stream.resize(random() % stream.size() + 1);
        streams.push_back(stream);
    }
    int linesCompared = 0;
    for (const Bytes& stream : streams) {
        for (bool lsbFirst : {false, true}) {
            const std::vector<Bytes> fast = DecodeAll(stream, lsbFirst);
            ASSERT_TRUE(fast == DecodeAll(stream, lsbFirst, true)) << "stream of " << stream.size() << " bytes";
            linesCompared += static_cast<int>(fast.size());
        }
    }
    EXPECT_GT(linesCompared, 1000) << "the damaged pages should still give many lines";
}

}  // namespace
