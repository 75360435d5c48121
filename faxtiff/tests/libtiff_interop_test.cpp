// Interchange with libtiff, software nobody here wrote: libtiff reads every
// file this library writes, without a warning, to the same bitmap; and this
// library reads libtiff's Group 3 one-dimensional files to libtiff's bitmap.
#include <tiffio.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "faxtiff/faxtiff.h"
#include "ovtest/temp_prefix.h"
#include "synthetic_page.h"
#include "test_support.h"

namespace {

using faxtest::Bytes;
namespace fs = std::filesystem;

std::vector<std::string>& Messages() {
    static std::vector<std::string> messages;
    return messages;
}

void CollectMessage(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    Messages().push_back(std::string(module != nullptr ? module : "") + ": " + text);
}

// Every warning and error libtiff reports while it lives.
class LibtiffMessages {
public:
    LibtiffMessages() {
        Messages().clear();
        oldWarning_ = TIFFSetWarningHandler(CollectMessage);
        oldError_ = TIFFSetErrorHandler(CollectMessage);
    }
    ~LibtiffMessages() {
        TIFFSetWarningHandler(oldWarning_);
        TIFFSetErrorHandler(oldError_);
    }
    LibtiffMessages(const LibtiffMessages&) = delete;
    LibtiffMessages& operator=(const LibtiffMessages&) = delete;

private:
    TIFFErrorHandler oldWarning_;
    TIFFErrorHandler oldError_;
};

Bytes Inverted(Bytes bytes) {
    for (auto& b : bytes) b = static_cast<std::uint8_t>(~b);
    return bytes;
}

// Every second line of an image: what a normal-resolution page codes.
Bytes EveryOtherLine(const Bytes& image) {
    Bytes out;
    const int lines = static_cast<int>(image.size() / faxtest::kLineBytes);
    for (int y = 0; y < lines; y += 2) {
        const Bytes line = faxtest::Lines(image, y, 1);
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

struct LibtiffPage {
    std::uint32_t width = 0, length = 0, group3Options = 0;
    std::uint16_t compression = 0, fillOrder = 0, photometric = 0;
    float yResolution = 0;
    Bytes bitmap;  // as libtiff decodes it: 1 = black
};

std::vector<LibtiffPage> ReadWithLibtiff(const fs::path& path) {
    std::vector<LibtiffPage> pages;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return pages;
    do {
        LibtiffPage page;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.length);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tif, TIFFTAG_FILLORDER, &page.fillOrder);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &page.group3Options);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &page.yResolution);
        page.bitmap.assign(static_cast<std::size_t>(page.length) * faxtest::kLineBytes, 0);
        for (std::uint32_t row = 0; row < page.length; ++row) {
            if (TIFFReadScanline(tif, page.bitmap.data() + static_cast<std::size_t>(row) * faxtest::kLineBytes, row, 0) < 0) break;
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

class LibtiffTest : public ovtest::PrefixTest {
protected:
    fs::path File(const std::string& name) const { return prefix_.path() / name; }
};

TEST_F(LibtiffTest, LibtiffReadsOurFilesWithoutWarnings) {
    const Bytes text = faxtiff::synthetic::TextPage(700, 11);
    const Bytes dense = faxtiff::synthetic::DensePage(240, 12);
    const Bytes blank = faxtiff::synthetic::BlankPage(40);
    const fs::path path = File("ours.fax");
    faxtest::WriteFax(path, {{text, true}, {dense, false}, {blank, true}});

    LibtiffMessages messages;
    const std::vector<LibtiffPage> pages = ReadWithLibtiff(path);
    EXPECT_TRUE(Messages().empty()) << Messages().front();
    ASSERT_EQ(pages.size(), 3u);
    const Bytes expected[] = {text, EveryOtherLine(dense), blank};
    const float yResolution[] = {196, 98, 196};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i].width, 1728u);
        EXPECT_EQ(pages[i].length, expected[i].size() / faxtest::kLineBytes);
        EXPECT_EQ(pages[i].compression, COMPRESSION_CCITTFAX3);
        EXPECT_EQ(pages[i].fillOrder, FILLORDER_LSB2MSB);
        EXPECT_EQ(pages[i].photometric, PHOTOMETRIC_MINISWHITE);
        EXPECT_EQ(pages[i].group3Options, static_cast<std::uint32_t>(GROUP3OPT_FILLBITS));
        EXPECT_EQ(pages[i].yResolution, yResolution[i]);
        EXPECT_TRUE(Inverted(pages[i].bitmap) == expected[i]) << "page " << i + 1;
    }
}

TEST_F(LibtiffTest, LibtiffReadsConvertedPrinterOutputAsWeDo) {
    const fs::path path = File("sample.fax");
    const fs::path sample = faxtest::CopyOfSample(path.parent_path());
    ASSERT_EQ(tiffConvertOvk(sample.c_str(), path.c_str()), 0);
    LibtiffMessages messages;
    const std::vector<LibtiffPage> pages = ReadWithLibtiff(path);
    EXPECT_TRUE(Messages().empty()) << Messages().front();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(Inverted(pages[0].bitmap) == faxtest::LoadPage(path, 1).image);
    EXPECT_TRUE(Inverted(pages[1].bitmap) == EveryOtherLine(faxtest::LoadPage(path, 2).image));
}

struct LibtiffWriteCase {
    const char* name;
    std::uint16_t fillOrder;
    std::uint32_t group3Options;
    std::uint32_t rowsPerStrip;  // 0: one strip per page
    bool closingEols;            // false: Class F style, no RTC after the last line
};

class LibtiffFiles : public LibtiffTest, public testing::WithParamInterface<LibtiffWriteCase> {};

TEST_P(LibtiffFiles, AreReadToLibtiffsBitmap) {
    const LibtiffWriteCase& c = GetParam();
    Bytes fine = faxtiff::synthetic::TextPage(260, 21);
    const Bytes dense = faxtiff::synthetic::DensePage(60, 22);
    fine.insert(fine.end(), dense.begin(), dense.end());
    const Bytes normal = faxtiff::synthetic::TextPage(150, 23);
    struct Page {
        const Bytes* image;
        float yResolution;
    };
    const Page pages[] = {{&fine, 196}, {&normal, 98}};

    const fs::path path = File(std::string(c.name) + ".tif");
    {
        LibtiffMessages messages;
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        for (const Page& page : pages) {
            const auto lines = static_cast<std::uint32_t>(page.image->size() / faxtest::kLineBytes);
            TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, lines);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
            TIFFSetField(tif, TIFFTAG_FILLORDER, c.fillOrder);
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
            TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, c.group3Options);
            TIFFSetField(tif, TIFFTAG_FAXMODE, c.closingEols ? FAXMODE_CLASSIC : FAXMODE_CLASSF);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, c.rowsPerStrip != 0 ? c.rowsPerStrip : lines);
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, page.yResolution);
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
            Bytes row(faxtest::kLineBytes);
            for (std::uint32_t y = 0; y < lines; ++y) {
                row = Inverted(faxtest::Lines(*page.image, static_cast<int>(y), 1));
                ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
            }
            ASSERT_TRUE(TIFFWriteDirectory(tif));
        }
        TIFFClose(tif);
        EXPECT_TRUE(Messages().empty()) << Messages().front();
    }

    LibtiffMessages messages;
    const std::vector<LibtiffPage> reference = ReadWithLibtiff(path);
    ASSERT_EQ(reference.size(), 2u);
    ASSERT_EQ(tiffCountPages(path.c_str()), 2);

    const faxtest::LoadedPage first = faxtest::LoadPage(path, 1);
    ASSERT_TRUE(first.found);
    EXPECT_EQ(first.info.fillOrder, c.fillOrder);
    EXPECT_EQ(first.info.t4Options, c.group3Options);
    EXPECT_TRUE(first.image == Inverted(reference[0].bitmap));
    EXPECT_TRUE(first.image == fine);

    // A normal page is loaded with every line twice.
    const faxtest::LoadedPage second = faxtest::LoadPage(path, 2);
    ASSERT_TRUE(second.found);
    EXPECT_EQ(second.lines, 300);
    EXPECT_TRUE(EveryOtherLine(second.image) == Inverted(reference[1].bitmap));
    EXPECT_TRUE(EveryOtherLine(second.image) == normal);
}

INSTANTIATE_TEST_SUITE_P(
    WriterSettings, LibtiffFiles,
    testing::Values(LibtiffWriteCase{"Msb_NoFill_OneStrip", FILLORDER_MSB2LSB, 0, 0, true},
                    LibtiffWriteCase{"Msb_Fill_OneStrip", FILLORDER_MSB2LSB, GROUP3OPT_FILLBITS, 0, true},
                    LibtiffWriteCase{"Lsb_NoFill_OneStrip", FILLORDER_LSB2MSB, 0, 0, true},
                    LibtiffWriteCase{"Lsb_Fill_OneStrip", FILLORDER_LSB2MSB, GROUP3OPT_FILLBITS, 0, true},
                    LibtiffWriteCase{"Msb_NoFill_Strips", FILLORDER_MSB2LSB, 0, 37, true},
                    LibtiffWriteCase{"Lsb_Fill_Strips", FILLORDER_LSB2MSB, GROUP3OPT_FILLBITS, 16, true},
                    LibtiffWriteCase{"Msb_Fill_Strips_ClassF", FILLORDER_MSB2LSB, GROUP3OPT_FILLBITS, 37, false},
                    LibtiffWriteCase{"Lsb_NoFill_OneStrip_ClassF", FILLORDER_LSB2MSB, 0, 0, false}),
    [](const testing::TestParamInfo<LibtiffWriteCase>& info) { return std::string(info.param.name); });

}  // namespace
