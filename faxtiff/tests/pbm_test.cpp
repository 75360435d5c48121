// The bitmap files the faxtiff program reads and writes.
#include "pbm.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using faxtest::Bytes;
using namespace std::string_literals;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(Pbm, ReadsEveryImageOfRawAndPlainFiles) {
    const std::string file = "P4\n# made by hand\n10 2\n\xC0\x40\x00\xC0"s + "P1 3 2\n1 0 1\n010\n";
    std::vector<faxtiff::pbm::Image> images;
    std::string error;
    ASSERT_TRUE(faxtiff::pbm::ParseImages(ToBytes(file), images, error)) << error;
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].width, 10);
    EXPECT_EQ(images[0].height, 2);
    EXPECT_EQ(images[0].rows, (Bytes{0xC0, 0x40, 0x00, 0xC0}));
    EXPECT_EQ(images[1].width, 3);
    EXPECT_EQ(images[1].rows, (Bytes{0xA0, 0x40}));
}

TEST(Pbm, RefusesMalformedFiles) {
    const std::string cases[] = {
        "",                   // nothing
        "   \n",              // only space
        "P5 1 1\n\x00"s,      // a grey map
        "P4 8 2\n\x00"s,      // raster cut short
        "P4 70000 1\n",       // wider than allowed
        "P4\n8",              // no height
        "P1 2 1 1 2",         // not a pixel
        "P1 4 4 1 0",         // plain raster cut short
        "P4 8 1\n\xFFP4",     // a second image without its header
    };
    for (const std::string& text : cases) {
        std::vector<faxtiff::pbm::Image> images;
        std::string error;
        EXPECT_FALSE(faxtiff::pbm::ParseImages(ToBytes(text), images, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Pbm, RowsBecomeFaxLinesCroppedOrPaddedWithWhite) {
    faxtiff::pbm::Image narrow;
    narrow.width = 12;
    narrow.height = 1;
    narrow.rows = {0x0F, 0xFF};  // the last four bits are padding
    Bytes line(faxtest::kLineBytes);
    faxtiff::pbm::ImageRowToFaxLine(narrow, 0, line.data());
    EXPECT_EQ(line, faxtest::LineWithBlack(4, 12));

    faxtiff::pbm::Image wide;
    wide.width = 2000;
    wide.height = 2;
    wide.rows.assign(2 * wide.RowBytes(), 0);
    wide.rows[wide.RowBytes() + 215] = 0x01;  // pixel 1727 of row 1
    wide.rows[wide.RowBytes() + 216] = 0x80;  // pixel 1728: cropped
    faxtiff::pbm::ImageRowToFaxLine(wide, 1, line.data());
    EXPECT_EQ(line, faxtest::LineWithBlack(1727, 1728));
}

TEST(Pbm, FaxLinesWrittenAsRawImageReadBack) {
    Bytes lines = faxtest::LineWithBlack(0, 3);
    const Bytes second = faxtest::RandomLine(5, 30);
    lines.insert(lines.end(), second.begin(), second.end());
    const std::string file = faxtiff::pbm::FaxLinesToP4(lines.data(), 2);
    std::vector<faxtiff::pbm::Image> images;
    std::string error;
    ASSERT_TRUE(faxtiff::pbm::ParseImages(ToBytes(file), images, error)) << error;
    ASSERT_EQ(images.size(), 1u);
    ASSERT_EQ(images[0].width, 1728);
    ASSERT_EQ(images[0].height, 2);
    Bytes back(2 * faxtest::kLineBytes);
    faxtiff::pbm::ImageRowToFaxLine(images[0], 0, back.data());
    faxtiff::pbm::ImageRowToFaxLine(images[0], 1, back.data() + faxtest::kLineBytes);
    EXPECT_EQ(back, lines);
}

}  // namespace
