// Conversion of printer output (ovk) into fax files: tags, blocks, paper,
// resolution, orientation, and the failures that remove the destination.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "faxtiff/faxtiff.h"
#include "ovtest/temp_prefix.h"
#include "test_support.h"

namespace {

using faxtest::Bytes;
namespace fs = std::filesystem;
using namespace std::string_literals;

// A block of one byte holding eight black pixels.
const std::string kInk = "<sendblock 1>\xFF"s;

class OvkTest : public ovtest::PrefixTest {
protected:
    fs::path source_ = prefix_.path() / "print.ovk";
    fs::path destination_ = prefix_.path() / "print.fax";

    int Convert(const std::string& stream) {
        faxtest::WriteFileText(source_, stream);
        return tiffConvertOvk(source_.c_str(), destination_.c_str());
    }
    faxtest::LoadedPage Page(int number) const { return faxtest::LoadPage(destination_, number); }
    int Pages() const { return tiffCountPages(destination_.c_str()); }
};

// Lines (of the image) that carry any black pixel.
std::vector<int> InkedLines(const faxtest::LoadedPage& page) {
    std::vector<int> lines;
    for (int y = 0; y < page.lines; ++y) {
        const auto* row = page.image.data() + static_cast<std::size_t>(y) * faxtest::kLineBytes;
        for (int i = 0; i < faxtest::kLineBytes; ++i) {
            if (row[i] != 0xFF) {
                lines.push_back(y);
                break;
            }
        }
    }
    return lines;
}

TEST_F(OvkTest, MinimalStreamGivesOneBlankA4FinePage) {
    ASSERT_EQ(Convert("<startfax>\r\n<startpage>\r\n<stoppage>\r\n<stopfax>\r\n"), 0);
    ASSERT_EQ(Pages(), 1);
    const faxtest::LoadedPage page = Page(1);
    ASSERT_TRUE(page.found);
    const tagFaxPageInfo standard = FaxStandardPage(1);
    EXPECT_EQ(page.info.length, 2287);
    EXPECT_EQ(page.info.xResolution, standard.xResolution);
    EXPECT_EQ(page.info.yResolution, 196);
    EXPECT_EQ(page.info.fillOrder, 2);
    EXPECT_EQ(page.info.t4Options, 4);
    EXPECT_EQ(page.image, Bytes(2287u * faxtest::kLineBytes, 0xFF));
}

TEST_F(OvkTest, PaperAndResolutionSetThePageLength) {
    struct Case {
        const char* settings;
        int length;
        int yResolution;
    };
    const Case cases[] = {
        {"<200x100><letter>", 1074, 98},   {"<200x200><letter>", 2148, 196},
        {"<legal>", 2733, 196},            {"<200x100><legal>", 1366, 98},
        {"<200x100>", 1143, 98},           {"<legal><dina4>", 2287, 196},
        {"<letterhead>", 2148, 196},       {"<Legal Size>", 2733, 196},
    };
    for (const Case& c : cases) {
        // No "stopfax": the end of the stream ends the document as well.
        ASSERT_EQ(Convert(c.settings + "<startpage><stoppage>"s), 0) << c.settings;
        const faxtest::LoadedPage page = Page(1);
        ASSERT_TRUE(page.found) << c.settings;
        EXPECT_EQ(page.info.length, c.length) << c.settings;
        EXPECT_EQ(page.info.yResolution, c.yResolution) << c.settings;
    }
}

TEST_F(OvkTest, WhiteLinesAdvanceBySixthsAtFineAndTwelfthsAtNormal) {
    ASSERT_EQ(Convert("<startpage><whitelines 600>" + kInk + "<stoppage>"), 0);
    EXPECT_EQ(InkedLines(Page(1)), std::vector<int>{100});
    // At normal resolution the coded line 50 is image lines 100 and 101.
    ASSERT_EQ(Convert("<200x100><startpage><whitelines 600>" + kInk + "<stoppage>"), 0);
    EXPECT_EQ(InkedLines(Page(1)), (std::vector<int>{100, 101}));
}

TEST_F(OvkTest, LongBlockUsesItsFirst216BytesAndSkipsTheRest) {
    std::string block(300, '\0');
    block[0] = '\xFF';
    block[215] = '\x01';                          // the last pixel of the line
    block.replace(216, 19, "<stoppage><stopfax>");  // data, not tags
    ASSERT_EQ(Convert("<startpage><sendblock 300>" + block + kInk + "<stoppage>"), 0);
    ASSERT_EQ(Pages(), 1);
    const faxtest::LoadedPage page = Page(1);
    EXPECT_EQ(InkedLines(page), (std::vector<int>{0, 1}));
    Bytes expected = faxtest::LineWithBlack(0, 8);
    expected[215] = 0xFE;
    EXPECT_EQ(faxtest::Lines(page.image, 0, 1), expected);
}

TEST_F(OvkTest, EmptyBlockLeavesABlankLine) {
    ASSERT_EQ(Convert("<startpage><sendblock 0>" + kInk + "<stoppage>"), 0);
    EXPECT_EQ(InkedLines(Page(1)), std::vector<int>{1});
}

TEST_F(OvkTest, BlockCutShortFailsAndRemovesTheDestination) {
    ASSERT_EQ(Convert("<startpage><stoppage><startpage><sendblock 216>" + std::string(100, 'x')), -1);
    EXPECT_FALSE(fs::exists(destination_));
    // Only the stored part must be complete: the skipped rest may be missing.
    ASSERT_EQ(Convert("<startpage><sendblock 1000>" + std::string(216, '\xFF') + "<stoppage>"), 0);
    EXPECT_EQ(Pages(), 0) << "the stoppage tag was block data";
}

TEST_F(OvkTest, LandscapeContentIsCentredVertically) {
    // 1000 lines received on an A4 fine page: (2287 - 1000) / 2 = 643.
    const std::string page = "<startpage>" + kInk + "<whitelines 5988>" + kInk + "<stoppage>";
    ASSERT_EQ(Convert("<landscape>" + page), 0);
    EXPECT_EQ(InkedLines(Page(1)), (std::vector<int>{643, 1642}));
    ASSERT_EQ(Convert("<landscape><portrait>" + page), 0);
    EXPECT_EQ(InkedLines(Page(1)), (std::vector<int>{0, 999}));
}

TEST_F(OvkTest, TagTextIsCleanedAndAnUnclosedTagIsDropped) {
    // "START PAGE" clears the ink; the unclosed "<stoppage" is replaced by
    // the "<startpage>" that follows it.
    ASSERT_EQ(Convert(kInk + "<START PAGE>" + kInk + "<stoppage <startpage><Stop_Page>"), 0);
    ASSERT_EQ(Pages(), 1);
    EXPECT_TRUE(InkedLines(Page(1)).empty());
    // A tag text ends after 127 characters; the rest is outside text.
    ASSERT_EQ(Convert("<startpage><" + std::string(130, 'a') + "stoppage>"), 0);
    EXPECT_EQ(Pages(), 0);
    ASSERT_EQ(Convert("<startpage><SendBlock=1>\xFF<stoppage>"s), 0);
    EXPECT_EQ(InkedLines(Page(1)), std::vector<int>{0});
}

TEST_F(OvkTest, StreamWithoutTagsGivesAFileWithoutPages) {
    ASSERT_EQ(Convert("just some text\r\nand no tags at all"), 0);
    EXPECT_TRUE(fs::exists(destination_));
    EXPECT_EQ(Pages(), 0);
    ASSERT_EQ(Convert(""), 0);
    EXPECT_EQ(Pages(), 0);
}

TEST_F(OvkTest, NumbersWithManyDigitsAreSafe) {
    ASSERT_EQ(Convert("<startpage><whitelines 99999999999999999999999999999999999999>" + kInk +
                      "<stoppage>"), 0);
    EXPECT_TRUE(InkedLines(Page(1)).empty()) << "the block lies below the page";
    ASSERT_EQ(Convert("<startpage><sendblock 18446744073709551617>" + std::string(216, '\xFF') +
                      "<stoppage>"), 0);
    EXPECT_EQ(Pages(), 0);
}

TEST_F(OvkTest, SecondStopPageWithoutStartPageRepeatsThePage) {
    ASSERT_EQ(Convert("<startpage>" + kInk + "<stoppage><stoppage>"), 0);
    ASSERT_EQ(Pages(), 2);
    EXPECT_EQ(Page(2).image, Page(1).image);
    EXPECT_EQ(InkedLines(Page(2)), std::vector<int>{0});
}

TEST_F(OvkTest, MissingSourceFailsAndLeavesAnExistingDestinationAlone) {
    faxtest::WriteFileText(destination_, "an earlier fax");
    const fs::path missing = prefix_.path() / "missing.ovk";
    EXPECT_EQ(tiffConvertOvk(missing.c_str(), destination_.c_str()), -1);
    EXPECT_EQ(faxtest::ReadFileBytes(destination_).size(), 14u);
    EXPECT_EQ(tiffConvertOvk(nullptr, destination_.c_str()), -1);
    EXPECT_EQ(tiffConvertOvk(source_.c_str(), nullptr), -1);
}

TEST_F(OvkTest, SampleStreamGivesTwoTextPages) {
    const fs::path sample = faxtest::CopyOfSample(destination_.parent_path());
    ASSERT_EQ(tiffConvertOvk(sample.c_str(), destination_.c_str()), 0);
    ASSERT_EQ(Pages(), 2);
    const faxtest::LoadedPage first = Page(1);
    const faxtest::LoadedPage second = Page(2);
    EXPECT_EQ(first.info.length, 2287);
    EXPECT_EQ(second.info.length, 1074);
    EXPECT_EQ(second.info.yResolution, 98);
    EXPECT_GT(InkedLines(first).size(), 500u);
    EXPECT_GT(InkedLines(second).size(), 500u);
}

}  // namespace
