#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "ovplatform/internal/temp_name.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

class FilesTest : public ovtest::PrefixTest {};

TEST_F(FilesTest, ExclusiveCreationRefusesExistingFilesAndLinks) {
    const auto path = ov::TempDirectory() / "new.txt";
    int fd = ov::CreateFileExclusive(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_LT(ov::CreateFileExclusive(path), 0);
    EXPECT_EQ(errno, EEXIST);

    // A planted link must not lead the creation elsewhere.
    const auto target = prefix_.path() / "elsewhere";
    const auto link = ov::TempDirectory() / "link.txt";
    std::filesystem::create_symlink(target, link);
    EXPECT_LT(ov::CreateFileExclusive(link), 0);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(TempName, SeedIsTheWrappingProductOfTheTimeFields) {
    SYSTEMTIME time{};
    time.wDay = 11;
    time.wHour = 13;
    time.wMinute = 40;
    time.wSecond = 34;
    time.wMilliseconds = 999;
    EXPECT_EQ(ov::TempNameSeed(time), 999u * 34u * 40u * 13u * 11u);
    time.wSecond = 0;
    EXPECT_EQ(ov::TempNameSeed(time), 0u);
    // 999*59*59*23*31 exceeds 32 bits: the product wraps as 32-bit arithmetic.
    time = SYSTEMTIME{};
    time.wDay = 31;
    time.wHour = 23;
    time.wMinute = 59;
    time.wSecond = 59;
    time.wMilliseconds = 999;
    const std::uint64_t full = 999ull * 59 * 59 * 23 * 31;
    EXPECT_EQ(ov::TempNameSeed(time), static_cast<std::uint32_t>(full));
}

TEST_F(FilesTest, TempNameIsRaisedPastTakenNamesAndCreatedEmpty) {
    const auto directory = ov::TempDirectory();
    std::ofstream(directory / "0000ABCD.bdy") << "taken";
    std::ofstream(directory / "0000ABCE.bdy") << "taken";
    auto name = ov::detail::CreateTempNameFrom(directory, "bdy", 0xABCD);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, directory / "0000ABCF.bdy");
    EXPECT_EQ(std::filesystem::file_size(*name), 0u);
    // The same start again: the one just created is now taken as well.
    EXPECT_EQ(ov::detail::CreateTempNameFrom(directory, "bdy", 0xABCD), directory / "0000ABD0.bdy");
    // Wrapping at 32 bits.
    EXPECT_EQ(ov::detail::CreateTempNameFrom(directory, "fax", 0xFFFFFFFFu), directory / "FFFFFFFF.fax");
    EXPECT_EQ(ov::detail::CreateTempNameFrom(directory, "fax", 0xFFFFFFFFu), directory / "00000000.fax");
}

TEST_F(FilesTest, TempNamesFromTheClockAreUniqueAndWellFormed) {
    std::set<std::filesystem::path> names;
    // Eight upper-case hexadecimal digits, a dot and the extension.
    auto wellFormed = [](const std::string& name) {
        return name.size() == 12 && name.substr(8) == ".fax" &&
               name.find_first_not_of("0123456789ABCDEF") == 8;
    };
    for (int i = 0; i < 20; ++i) {
        auto name = ov::CreateTempName(ov::TempDirectory(), "fax");
        ASSERT_TRUE(name);
        EXPECT_TRUE(wellFormed(name->filename().string())) << *name;
        EXPECT_TRUE(names.insert(*name).second);
    }
    EXPECT_FALSE(ov::CreateTempName(prefix_.path() / "missing", "fax"));
}

}  // namespace
