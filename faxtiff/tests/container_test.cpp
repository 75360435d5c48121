// The TIFF fax container: the bytes it writes, the handle table, and how it
// reads (and refuses) directories written by others, damaged or forged.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "ovtest/temp_prefix.h"
#include "test_support.h"

namespace {

using faxtest::Bytes;
using faxtest::Get16;
using faxtest::Get32;
namespace fs = std::filesystem;

Bytes Coded(const Bytes& line) {
    Bytes out(2048);
    int length = 2048;
    EXPECT_EQ(EncodeLine(0, out.data(), &length, line.data(), static_cast<int>(line.size()), 1), 0);
    out.resize(static_cast<std::size_t>(length));
    return out;
}

struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
};

// A file put together entry by entry, for directories this library would
// never write itself.
class RawTiff {
public:
    RawTiff() : bytes_{'I', 'I', 42, 0, 0, 0, 0, 0} {}
    std::uint32_t Append(const Bytes& data) {
        const auto offset = static_cast<std::uint32_t>(bytes_.size());
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return offset;
    }
    std::uint32_t AppendDirectory(const std::vector<Entry>& entries, std::uint32_t next = 0) {
        Bytes dir(2 + entries.size() * 12 + 4);
        faxtest::Put16(dir, 0, static_cast<std::uint32_t>(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            faxtest::Put16(dir, 2 + i * 12, entries[i].tag);
            faxtest::Put16(dir, 4 + i * 12, entries[i].type);
            faxtest::Put32(dir, 6 + i * 12, entries[i].count);
            faxtest::Put32(dir, 10 + i * 12, entries[i].value);
        }
        faxtest::Put32(dir, 2 + entries.size() * 12, next);
        return Append(dir);
    }
    void SetFirst(std::uint32_t offset) { faxtest::Put32(bytes_, 4, offset); }
    void SetNext(std::uint32_t directory, std::uint32_t next) {
        faxtest::Put32(bytes_, directory + 2 + Get16(bytes_, directory) * 12, next);
    }
    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
};

class ContainerTest : public ovtest::PrefixTest {
protected:
    fs::path File(const std::string& name) const { return prefix_.path() / name; }

    // A page of two coded lines with the usual tags; `extra` replaces or adds
    // entries (a tag of 0 in `drop` removes one).
    std::uint32_t AddPage(RawTiff& tiff, std::vector<Entry> extra = {}, std::uint16_t drop = 0) {
        Bytes data = {0x00, 0x80};
        for (const Bytes& line : {faxtest::LineWithBlack(10, 20), faxtest::LineWithBlack(100, 900)}) {
            const Bytes coded = Coded(line);
            data.insert(data.end(), coded.begin(), coded.end());
        }
        const std::uint32_t strip = tiff.Append(data);
        const std::uint32_t rational = tiff.Append({196, 0, 0, 0, 1, 0, 0, 0});
        std::vector<Entry> entries = {
            {256, 3, 1, 1728}, {257, 4, 1, 2}, {259, 3, 1, 3}, {262, 3, 1, 0},
            {266, 3, 1, 2}, {273, 4, 1, strip}, {278, 4, 1, 2},
            {279, 4, 1, static_cast<std::uint32_t>(data.size())}, {282, 5, 1, rational},
            {283, 5, 1, rational}, {292, 4, 1, 4}};
        for (const Entry& e : extra) {
            bool replaced = false;
            for (Entry& existing : entries) {
                if (existing.tag == e.tag) {
                    existing = e;
                    replaced = true;
                }
            }
            if (!replaced) entries.push_back(e);
        }
        std::erase_if(entries, [drop](const Entry& e) { return e.tag == drop; });
        return tiff.AppendDirectory(entries);
    }

    fs::path Save(RawTiff& tiff, const std::string& name = "raw.fax") {
        const fs::path path = File(name);
        faxtest::WriteFileBytes(path, tiff.bytes());
        return path;
    }
};

// The directory the library writes for a page, entry by entry.
Bytes ExpectedDirectory(std::uint32_t d, std::uint16_t yResolution, std::uint32_t lines, std::uint32_t bytes) {
    RawTiff scratch;
    const std::vector<Entry> entries = {
        {254, 4, 1, 2},  {256, 3, 1, 1728},    {257, 4, 1, lines},  {258, 3, 1, 1},
        {259, 3, 1, 3},  {262, 3, 1, 0},       {266, 3, 1, 2},      {273, 4, 1, d + 214},
        {277, 3, 1, 1},  {278, 4, 1, lines},   {279, 4, 1, bytes},  {282, 5, 1, d + 198},
        {283, 5, 1, d + 206}, {284, 3, 1, 1},  {292, 4, 1, 4},      {296, 3, 1, 2}};
    const std::uint32_t at = scratch.AppendDirectory(entries);
    Bytes dir(scratch.bytes().begin() + at, scratch.bytes().end());
    const Bytes rationals = {204, 0, 0, 0, 1, 0, 0, 0, static_cast<std::uint8_t>(yResolution), 0, 0, 0, 1, 0, 0, 0};
    dir.insert(dir.end(), rationals.begin(), rationals.end());
    return dir;
}

TEST_F(ContainerTest, TwoPagesAreLaidOutByteForByte) {
    const fs::path path = File("two.fax");
    const Bytes white = faxtest::WhiteLine();
    const Bytes mixed = faxtest::LineWithBlack(100, 300);
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo fine = FaxStandardPage(1);
    ASSERT_EQ(tiffAppendPage(handle, &fine), 0);
    ASSERT_EQ(tiffEncodeLine(handle, white.data(), faxtest::kLineBytes, 1), 0);
    tagFaxPageInfo normal = FaxStandardPage(0);
    ASSERT_EQ(tiffAppendPage(handle, &normal), 0);
    ASSERT_EQ(tiffEncodeLine(handle, mixed.data(), faxtest::kLineBytes, 1), 0);
    ASSERT_EQ(tiffEncodeLine(handle, white.data(), faxtest::kLineBytes, 1), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);

    Bytes data1 = {0x00, 0x80};  // the leading EOL, first line only
    for (std::uint8_t b : Coded(white)) data1.push_back(b);
    Bytes data2 = {0x00, 0x80};
    for (std::uint8_t b : Coded(mixed)) data2.push_back(b);
    for (std::uint8_t b : Coded(white)) data2.push_back(b);

    const std::uint32_t d1 = 8;
    const std::uint32_t d2 = d1 + 214 + static_cast<std::uint32_t>(data1.size());
    ASSERT_EQ(d2 % 2, 1u) << "the second directory lies at an odd offset";
    Bytes expected = {'I', 'I', 42, 0, 8, 0, 0, 0};
    Bytes dir1 = ExpectedDirectory(d1, 196, 1, static_cast<std::uint32_t>(data1.size()));
    faxtest::Put32(dir1, 194, d2);
    const Bytes dir2 = ExpectedDirectory(d2, 98, 2, static_cast<std::uint32_t>(data2.size()));
    for (const Bytes* part : std::initializer_list<const Bytes*>{&dir1, &data1, &dir2, &data2}) expected.insert(expected.end(), part->begin(), part->end());
    EXPECT_EQ(faxtest::ReadFileBytes(path), expected);

    // And it reads back, the odd offset included.
    EXPECT_EQ(tiffCountPages(path.c_str()), 2);
    ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page{};
    ASSERT_EQ(tiffFindFirstPage(handle, &page), 0);
    EXPECT_EQ(page.stripOffset, d1 + 214);
    ASSERT_EQ(tiffFindNextPage(handle, &page), 0);
    EXPECT_EQ(page.xResolution, 204);
    EXPECT_EQ(page.yResolution, 98);
    EXPECT_EQ(page.width, 1728);
    EXPECT_EQ(page.length, 2);
    EXPECT_EQ(page.fillOrder, 2);
    EXPECT_EQ(page.compression, 3);
    EXPECT_EQ(page.t4Options, 4);
    EXPECT_EQ(page.stripOffset, d2 + 214);
    EXPECT_EQ(page.stripBytes, data2.size());
    EXPECT_EQ(tiffFindNextPage(handle, &page), -1);
    EXPECT_EQ(tiffCloseFile(handle), 0);
}

TEST_F(ContainerTest, FirstLineOfAFillOrderOnePageIsPrecededBy0001) {
    const fs::path path = File("fo1.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(1);
    page.fillOrder = 1;
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    const Bytes white = faxtest::WhiteLine();
    ASSERT_EQ(tiffEncodeLine(handle, white.data(), faxtest::kLineBytes, 0), 0);
    ASSERT_EQ(tiffEncodeLine(handle, white.data(), faxtest::kLineBytes, 0), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);
    const Bytes file = faxtest::ReadFileBytes(path);
    EXPECT_EQ(Bytes(file.begin() + 8 + 214, file.end()),
              (Bytes{0x00, 0x01, 0x4D, 0x9A, 0x80, 0x00, 0x01, 0x4D, 0x9A, 0x80, 0x00, 0x01}));
}

TEST_F(ContainerTest, EmptyPageAndFileWithoutPages) {
    const fs::path empty = File("nopage.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(empty.c_str(), &handle), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);
    EXPECT_EQ(faxtest::ReadFileBytes(empty), (Bytes{'I', 'I', 42, 0, 0, 0, 0, 0}));
    EXPECT_EQ(tiffOpenFile(empty.c_str(), &handle), -1);

    // A page appended without data keeps the length it was given.
    const fs::path blank = File("blank.fax");
    ASSERT_EQ(tiffCreateFile(blank.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(1);
    page.length = 77;
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);
    Bytes expected = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const Bytes dir = ExpectedDirectory(8, 196, 77, 0);
    expected.insert(expected.end(), dir.begin(), dir.end());
    EXPECT_EQ(faxtest::ReadFileBytes(blank), expected);
}

TEST_F(ContainerTest, SixtyFifthHandleIsRefusedAndFreedSlotsAreReused) {
    std::vector<int> handles;
    for (int i = 0; i < FAX_MAX_HANDLES; ++i) {
        int handle = -1;
        ASSERT_EQ(tiffCreateFile(File("f" + std::to_string(i)).c_str(), &handle), 0);
        EXPECT_EQ(handle, i) << "the lowest free slot is taken";
        handles.push_back(handle);
    }
    int extra = -1;
    EXPECT_EQ(tiffCreateFile(File("extra").c_str(), &extra), -1);
    EXPECT_EQ(extra, -1);
    ASSERT_EQ(tiffCloseFile(handles[17]), 0);
    ASSERT_EQ(tiffCreateFile(File("extra").c_str(), &extra), 0);
    EXPECT_EQ(extra, 17);
    handles[17] = extra;
    for (int handle : handles) EXPECT_EQ(tiffCloseFile(handle), 0);
}

TEST_F(ContainerTest, InvalidHandlesFail) {
    const Bytes line = faxtest::WhiteLine();
    tagFaxPageInfo page = FaxStandardPage(1);
    int os = 0;
    for (int handle : {-1, 5, 64, 1000}) {
        EXPECT_EQ(tiffCloseFile(handle), -1);
        EXPECT_EQ(tiffGetFileHandle(handle, &os), -1);
        EXPECT_EQ(tiffFindFirstPage(handle, &page), -1);
        EXPECT_EQ(tiffFindNextPage(handle, &page), -1);
        EXPECT_EQ(tiffAppendPage(handle, &page), -1);
        EXPECT_EQ(tiffRewindPage(handle), -1);
        EXPECT_EQ(tiffEncodeLine(handle, line.data(), faxtest::kLineBytes, 1), -1);
    }
    EXPECT_EQ(tiffOpenFile(nullptr, &os), -1);
    EXPECT_EQ(tiffCountPages(nullptr), 0);
}

TEST_F(ContainerTest, RefusedFileHeaders) {
    struct Case {
        const char* name;
        Bytes header;
    };
    const Case cases[] = {
        {"big-endian", {'M', 'M', 0, 42, 0, 0, 0, 8}},
        {"BigTIFF version", {'I', 'I', 43, 0, 8, 0, 0, 0}},
        {"no first page", {'I', 'I', 42, 0, 0, 0, 0, 0}},
        {"short", {'I', 'I', 42, 0, 8}},
        {"empty", {}},
    };
    for (const Case& c : cases) {
        RawTiff tiff;
        tiff.bytes() = c.header;
        const fs::path path = Save(tiff);
        int handle = -1;
        EXPECT_EQ(tiffOpenFile(path.c_str(), &handle), -1) << c.name;
        EXPECT_EQ(tiffCountPages(path.c_str()), 0) << c.name;
    }
}

TEST_F(ContainerTest, PagesThatAreRefusedOrAccepted) {
    struct Case {
        const char* name;
        std::vector<Entry> extra;
        std::uint16_t drop;
        bool accepted;
    };
    const Case cases[] = {
        {"standard page", {}, 0, true},
        {"compression 4", {{259, 3, 1, 4}}, 0, false},
        {"no compression tag", {}, 259, true},
        {"x resolution as LONG", {{282, 4, 1, 204}}, 0, false},
        {"y resolution as SHORT", {{283, 3, 1, 196}}, 0, false},
        {"strip offsets and byte counts disagree", {{279, 4, 2, 8}}, 0, false},
        {"strip offsets as DOUBLE", {{273, 12, 1, 8}}, 0, false},
        {"strip offsets of an unknown type", {{273, 99, 1, 8}}, 0, false},
    };
    for (const Case& c : cases) {
        RawTiff tiff;
        tiff.SetFirst(AddPage(tiff, c.extra, c.drop));
        const fs::path path = Save(tiff);
        int handle = -1;
        ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0) << c.name;
        tagFaxPageInfo page{};
        EXPECT_EQ(tiffFindFirstPage(handle, &page) == 0, c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(page.length, 2) << c.name;
            EXPECT_EQ(page.compression, c.drop == 259 ? 0 : 3) << c.name << ": an absent tag leaves 0";
        }
        EXPECT_EQ(tiffCloseFile(handle), 0);
    }
}

TEST_F(ContainerTest, DirectoryChainThatLoopsEndsTheDocument) {
    for (int loopTo : {0, 1}) {
        RawTiff tiff;
        const std::uint32_t first = AddPage(tiff);
        const std::uint32_t second = AddPage(tiff);
        tiff.SetFirst(first);
        tiff.SetNext(first, second);
        tiff.SetNext(second, loopTo == 0 ? first : second);
        const fs::path path = Save(tiff);
        EXPECT_EQ(tiffCountPages(path.c_str()), 2) << "loop to page " << loopTo + 1;
        int handle = -1;
        ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0);
        tagFaxPageInfo page{};
        ASSERT_EQ(tiffFindFirstPage(handle, &page), 0);
        ASSERT_EQ(tiffFindNextPage(handle, &page), 0);
        EXPECT_EQ(tiffFindNextPage(handle, &page), -1);
        EXPECT_EQ(tiffFindNextPage(handle, &page), -1);
        // Starting over is allowed.
        EXPECT_EQ(tiffFindFirstPage(handle, &page), 0);
        EXPECT_EQ(tiffFindNextPage(handle, &page), 0);
        EXPECT_EQ(tiffCloseFile(handle), 0);
    }
}

TEST_F(ContainerTest, ForgedStripValuesCostNoMoreThanTheFileHolds) {
    {
        // A billion strips whose values would lie beyond the end of the file.
        RawTiff tiff;
        tiff.SetFirst(AddPage(tiff, {{273, 4, 1u << 30, 8}, {279, 4, 1u << 30, 8}}));
        const fs::path path = Save(tiff);
        int handle = -1;
        ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0);
        tagFaxPageInfo page{};
        EXPECT_EQ(tiffFindFirstPage(handle, &page), -1);
        EXPECT_EQ(tiffCloseFile(handle), 0);
    }
    {
        // Byte counts far beyond the file are cut to what it holds.
        RawTiff tiff;
        const std::uint32_t dir = AddPage(tiff);
        tiff.SetFirst(dir);
        const std::uint32_t strip = Get32(tiff.bytes(), dir + 2 + 5 * 12 + 8);
        faxtest::Put32(tiff.bytes(), dir + 2 + 7 * 12 + 8, 0xFFFFFFF0u);
        const fs::path path = Save(tiff);
        int handle = -1;
        ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0);
        tagFaxPageInfo page{};
        ASSERT_EQ(tiffFindFirstPage(handle, &page), 0);
        EXPECT_EQ(page.stripBytes, tiff.bytes().size() - strip);
        CFaxPageImage image;
        image.Bind(handle);
        ASSERT_EQ(image.LoadPage(), 1);
        EXPECT_EQ(faxtest::Lines(Bytes(image.Image(), image.Image() + image.ImageBytes()), 1, 1),
                  faxtest::LineWithBlack(100, 900));
        EXPECT_EQ(tiffCloseFile(handle), 0);
    }
    {
        // A strip that starts past the end of the file has no bytes.
        RawTiff tiff;
        tiff.SetFirst(AddPage(tiff, {{273, 4, 1, 0x7FFFFFF0u}}));
        const fs::path path = Save(tiff);
        const faxtest::LoadedPage loaded = faxtest::LoadPage(path, 1);
        ASSERT_TRUE(loaded.found);
        EXPECT_EQ(loaded.info.stripBytes, 0u);
        EXPECT_EQ(loaded.image, Bytes(2 * faxtest::kLineBytes, 0xFF));
    }
}

TEST_F(ContainerTest, PageInSeveralStripsIsReadInOrder) {
    // Three strips; their offsets and byte counts as SHORT pairs... and
    // as values stored outside the entries.
    const std::vector<Bytes> lines = {faxtest::LineWithBlack(0, 10), faxtest::LineWithBlack(500, 501),
                                      faxtest::LineWithBlack(1700, 1728)};
    for (bool inlineValues : {true, false}) {
        RawTiff tiff;
        std::vector<std::uint32_t> offsets, counts;
        Bytes first = {0x00, 0x80};
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Bytes data = i == 0 ? first : Bytes{};
            const Bytes coded = Coded(lines[i]);
            data.insert(data.end(), coded.begin(), coded.end());
            tiff.Append({0xAA, 0x55});  // bytes between strips that are no page data
            offsets.push_back(tiff.Append(data));
            counts.push_back(static_cast<std::uint32_t>(data.size()));
        }
        std::vector<Entry> extra;
        if (inlineValues) {
            // Two strips fit into the entry as SHORTs; the third is left out.
            extra = {{273, 3, 2, offsets[0] | (offsets[1] << 16)}, {279, 3, 2, counts[0] | (counts[1] << 16)}};
        } else {
            Bytes offsetValues(12), countValues(6);
            for (int i = 0; i < 3; ++i) {
                faxtest::Put32(offsetValues, static_cast<std::size_t>(i) * 4, offsets[static_cast<std::size_t>(i)]);
                faxtest::Put16(countValues, static_cast<std::size_t>(i) * 2, counts[static_cast<std::size_t>(i)]);
            }
            extra = {{273, 4, 3, tiff.Append(offsetValues)}, {279, 3, 3, tiff.Append(countValues)}};
        }
        extra.push_back({257, 4, 1, 3});
        tiff.SetFirst(AddPage(tiff, extra));
        const fs::path path = Save(tiff);
        const faxtest::LoadedPage loaded = faxtest::LoadPage(path, 1);
        ASSERT_TRUE(loaded.found);
        const std::size_t strips = inlineValues ? 2 : 3;
        EXPECT_EQ(loaded.info.stripOffset, offsets[0]);
        Bytes expected;
        for (std::size_t i = 0; i < 3; ++i) {
            const Bytes& line = i < strips ? lines[i] : faxtest::WhiteLine();
            expected.insert(expected.end(), line.begin(), line.end());
        }
        // A 196 lpi page: three image lines.
        EXPECT_EQ(loaded.image, expected) << (inlineValues ? "inline" : "stored");
    }
}

TEST_F(ContainerTest, RewindReadsThePageAgainAndOverwritesAPageBeingWritten) {
    const fs::path path = File("rewind.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(1);
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    const Bytes black = faxtest::LineWithBlack(0, 1728);
    const Bytes some = faxtest::LineWithBlack(8, 16);
    ASSERT_EQ(tiffEncodeLine(handle, black.data(), faxtest::kLineBytes, 1), 0);
    ASSERT_EQ(tiffEncodeLine(handle, black.data(), faxtest::kLineBytes, 1), 0);
    ASSERT_EQ(tiffRewindPage(handle), 0);
    ASSERT_EQ(tiffEncodeLine(handle, some.data(), faxtest::kLineBytes, 1), 0);
    ASSERT_EQ(tiffCloseFile(handle), 0);

    ASSERT_EQ(tiffOpenFile(path.c_str(), &handle), 0);
    ASSERT_EQ(tiffFindFirstPage(handle, &page), 0);
    EXPECT_EQ(page.length, 1);
    EXPECT_EQ(page.stripBytes, 2 + Coded(some).size());
    CFaxPageImage image;
    for (int pass = 0; pass < 2; ++pass) {
        image.Bind(handle);
        ASSERT_EQ(image.LoadPage(), 1);
        ASSERT_EQ(image.ImageLines(), 1);
        EXPECT_EQ(Bytes(image.Image(), image.Image() + faxtest::kLineBytes), some) << "pass " << pass;
        ASSERT_EQ(tiffRewindPage(handle), 0);
    }
    EXPECT_EQ(tiffCloseFile(handle), 0);
}

TEST_F(ContainerTest, FilesAreNotSharedAndCreateNeverFollowsALink) {
    const fs::path path = File("shared.fax");
    faxtest::WriteFax(path, {{faxtest::WhiteLine(), true}});
    int reader = -1, other = -1;
    ASSERT_EQ(tiffOpenFile(path.c_str(), &reader), 0);
    EXPECT_EQ(tiffOpenFile(path.c_str(), &other), -1) << "opened without sharing";
    EXPECT_EQ(tiffCreateFile(path.c_str(), &other), -1) << "a file in use is not replaced";
    int fd = -1;
    ASSERT_EQ(tiffGetFileHandle(reader, &fd), 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tiffCloseFile(reader), 0);
    EXPECT_EQ(tiffCountPages(path.c_str()), 1);

    const fs::path target = File("target.txt");
    faxtest::WriteFileText(target, "keep me");
    const fs::path link = File("link.fax");
    fs::create_symlink(target, link);
    ASSERT_EQ(tiffCreateFile(link.c_str(), &other), 0);
    ASSERT_EQ(tiffCloseFile(other), 0);
    EXPECT_FALSE(fs::is_symlink(link)) << "the link is replaced by a new file";
    EXPECT_EQ(faxtest::ReadFileBytes(target), (Bytes{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    struct stat info {};
    ASSERT_EQ(::stat(link.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Files may not grow beyond a limit while it lives (writes past it fail with
// EFBIG instead of raising SIGXFSZ).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(ContainerTest, WriteFailuresAreReportedNotSwallowed) {
    const fs::path path = File("full.fax");
    const Bytes busy = faxtest::RandomLine(3, 50);
    int handle = -1;
    int failedAt = -1;
    int closed = 0;
    {
        FileSizeLimit limit(16 * 1024);
        ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
        tagFaxPageInfo page = FaxStandardPage(1);
        ASSERT_EQ(tiffAppendPage(handle, &page), 0);
        for (int line = 0; line < 5000 && failedAt < 0; ++line) {
            if (tiffEncodeLine(handle, busy.data(), faxtest::kLineBytes, 1) != 0) failedAt = line;
        }
        closed = tiffCloseFile(handle);
    }
    EXPECT_GT(failedAt, 0) << "the lines beyond the limit are refused";
    EXPECT_EQ(closed, -1);

    // The converter takes that as a failure and removes its output.
    const fs::path ovk = File("big.ovk");
    std::string stream = "<startpage>";
    for (int i = 0; i < 2000; ++i) stream += "<sendblock 216>" + std::string(216, static_cast<char>(i % 7 == 0 ? 0x55 : 0x0F));
    stream += "<stoppage>";
    faxtest::WriteFileText(ovk, stream);
    int converted = 0;
    {
        FileSizeLimit limit(64 * 1024);
        converted = tiffConvertOvk(ovk.c_str(), path.c_str());
    }
    EXPECT_EQ(converted, -1);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(ContainerTest, DescriptorSeesEveryLineWrittenSoFar) {
    const fs::path path = File("handle.fax");
    int handle = -1;
    ASSERT_EQ(tiffCreateFile(path.c_str(), &handle), 0);
    tagFaxPageInfo page = FaxStandardPage(1);
    ASSERT_EQ(tiffAppendPage(handle, &page), 0);
    const Bytes white = faxtest::WhiteLine();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(tiffEncodeLine(handle, white.data(), faxtest::kLineBytes, 1), 0);
    int fd = -1;
    ASSERT_EQ(tiffGetFileHandle(handle, &fd), 0);
    struct stat info {};
    ASSERT_EQ(::fstat(fd, &info), 0);
    EXPECT_EQ(info.st_size, 8 + 214 + 2 + 3 * 5);
    EXPECT_EQ(tiffCloseFile(handle), 0);
}

}  // namespace
