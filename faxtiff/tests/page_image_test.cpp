// The page image: loading pages of both resolutions, damaged page data, and
// writing an image back as coded lines.
#include <gtest/gtest.h>

#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "ovtest/temp_prefix.h"
#include "test_support.h"

namespace {

using faxtest::Bytes;
namespace fs = std::filesystem;

Bytes Concat(std::initializer_list<Bytes> lines) {
    Bytes out;
    for (const Bytes& line : lines) out.insert(out.end(), line.begin(), line.end());
    return out;
}

class PageImageTest : public ovtest::PrefixTest {
protected:
    fs::path File(const std::string& name) const { return prefix_.path() / name; }
    const Bytes a_ = faxtest::LineWithBlack(0, 5);
    const Bytes b_ = faxtest::LineWithBlack(600, 1200);
    const Bytes c_ = faxtest::RandomLine(9, 50);
    const Bytes x_ = faxtest::LineWithBlack(1, 2);
};

TEST_F(PageImageTest, NormalPagesAreLoadedWithEveryLineTwiceFinePagesAsTheyAre) {
    const fs::path path = File("both.fax");
    // The normal page keeps every second image line: a, b, c.
    faxtest::WriteFax(path, {{Concat({a_, b_, c_}), true}, {Concat({a_, x_, b_, x_, c_, x_}), false}});

    const faxtest::LoadedPage fine = faxtest::LoadPage(path, 1);
    ASSERT_TRUE(fine.found);
    EXPECT_EQ(fine.info.length, 3);
    EXPECT_EQ(fine.lines, 3);
    EXPECT_EQ(fine.image, Concat({a_, b_, c_}));

    const faxtest::LoadedPage normal = faxtest::LoadPage(path, 2);
    ASSERT_TRUE(normal.found);
    EXPECT_EQ(normal.info.length, 3);
    EXPECT_EQ(normal.info.yResolution, 98);
    EXPECT_EQ(normal.lines, 6);
    EXPECT_EQ(normal.image, Concat({a_, a_, b_, b_, c_, c_}));
}

TEST_F(PageImageTest, PageDataEndingInsideALineLeavesTheRestWhite) {
    const fs::path path = File("cut.fax");
    faxtest::WriteFax(path, {{Concat({a_, b_, c_}), true}});
    // Claim five lines and cut the third line's code in half.
    Bytes file = faxtest::ReadFileBytes(path);
    const std::size_t dir = 8;
    const std::uint32_t bytes = faxtest::Get32(file, dir + 2 + 10 * 12 + 8);
    faxtest::Put32(file, dir + 2 + 10 * 12 + 8, bytes - 6);
    faxtest::Put32(file, dir + 2 + 2 * 12 + 8, 5);
    faxtest::WriteFileBytes(path, file);

    const faxtest::LoadedPage page = faxtest::LoadPage(path, 1);
    ASSERT_TRUE(page.found);
    ASSERT_EQ(page.lines, 5);
    const Bytes white = faxtest::WhiteLine();
    EXPECT_EQ(page.image, Concat({a_, b_, white, white, white}));
}

TEST_F(PageImageTest, PageOfNoLinesGivesAnEmptyImage) {
    const fs::path path = File("zero.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(0);
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);
    const faxtest::LoadedPage loaded = faxtest::LoadPage(path, 1);
    ASSERT_TRUE(loaded.found);
    EXPECT_EQ(loaded.lines, 0);
    EXPECT_TRUE(loaded.image.empty());
}

TEST_F(PageImageTest, WritingNeedsAnImage) {
    const fs::path path = File("out.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(1);
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    CFaxPageImage image;
    EXPECT_EQ(image.WriteToPage(handle, 1), 0);
    ASSERT_EQ(image.CreateImage(2), 1);
    EXPECT_EQ(image.ImageBytes(), 2u * faxtest::kLineBytes);
    image.FreeImage();
    EXPECT_EQ(image.WriteToPage(handle, 1), 0);
    EXPECT_EQ(image.Image(), nullptr);
    ASSERT_EQ(tiffCloseFile(handle), 0);
}

TEST_F(PageImageTest, BitOrderCanBeOverriddenForDataInTheOtherOrder) {
    // A page that claims fill order 2 but whose lines are in fill order 1.
    const fs::path path = File("mixed.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(1);
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    for (const Bytes* line : {&a_, &b_, &c_}) ASSERT_EQ(tiffEncodeLine(handle, line->data(), faxtest::kLineBytes, 0), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);

    ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0);
    ASSERT_EQ(tiffFindFirstPage(handle, &page), 0);
    CFaxPageImage image;
    image.Bind(handle);
    ASSERT_EQ(image.LoadPage(), 1);
    EXPECT_NE(Bytes(image.Image(), image.Image() + image.ImageBytes()), Concat({a_, b_, c_}));
    ASSERT_EQ(tiffRewindPage(handle), 0);
    image.Bind(handle);
    image.SetBitOrder(0);
    std::uint8_t line[256];
    Bytes decoded;
    while (image.DecodeLine(line, sizeof line) == faxtest::kLineBytes) decoded.insert(decoded.end(), line, line + faxtest::kLineBytes);
    // The leading EOL was written in the page's own order, so the decoder
    // finds its first EOL after the first line.
    EXPECT_EQ(decoded, Concat({b_, c_}));
    EXPECT_EQ(tiffCloseFile(handle), 0);
}

}  // namespace
