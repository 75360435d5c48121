#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "ovplatform/platform.h"
#include "child_process.h"
#include "ovtest/scoped_env.h"
#include "ovtest/temp_prefix.h"

namespace {

class PathsTest : public ovtest::PrefixTest {};

TEST_F(PathsTest, MapPathTurnsDrivesIntoThePrefixAndBackslashesIntoSlashes) {
    const std::string driveC = (prefix_.path() / "drive_c").string();
    struct Case {
        const char* input;
        std::string expected;
    } cases[] = {
        {"C:\\dadadiri.whb\\READY", driveC + "/dadadiri.whb/READY"},
        {"c:/windows/ovprog.ini", driveC + "/windows/ovprog.ini"},
        {"D:\\x", driveC + "/x"},  // every drive letter is drive_c
        {"C:", driveC},
        {"C:file.txt", driveC + "/file.txt"},
        {"dir\\sub\\file", "dir/sub/file"},  // relative stays relative
        {"/tmp/a b/c", "/tmp/a b/c"},
        {"", ""},
        {"1:\\x", "1:/x"},  // not a drive letter
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ov::MapPath(c.input), c.expected) << c.input;
    }
}

TEST(PathNames, BaseNameAndDirNameAcceptBothSeparators) {
    struct Case {
        const char* path;
        const char* base;
        const char* dir;
    } cases[] = {
        {"C:\\dir\\file.ovk", "file.ovk", "C:\\dir"},
        {"/a/b/c.fax", "c.fax", "/a/b"},
        {"C:\\mixed/dir\\name", "name", "C:\\mixed/dir"},
        {"plain", "plain", ""},
        {"dir\\", "", "dir"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ov::BaseName(c.path), c.base) << c.path;
        EXPECT_EQ(ov::DirName(c.path), c.dir) << c.path;
    }
    EXPECT_TRUE(ov::EqualsNoCase("OVCLIENT.INI", "ovclient.ini"));
    EXPECT_FALSE(ov::EqualsNoCase("ovclient.ini", "ovclient.in"));
    EXPECT_FALSE(ov::EqualsNoCase("a", "b"));
}

TEST_F(PathsTest, LayoutIsCreatedWithPrivateTemporaryAndRunDirectories) {
    EXPECT_EQ(ov::WindowsDirectory(), prefix_.path() / "drive_c" / "windows");
    EXPECT_EQ(ov::SystemDirectory(), prefix_.path() / "drive_c" / "windows" / "system32");
    EXPECT_TRUE(std::filesystem::is_directory(ov::SystemDirectory()));
    EXPECT_TRUE(std::filesystem::is_directory(ov::RegistryDirectory()));
    EXPECT_TRUE(std::filesystem::is_directory(ov::MapiDirectory()));
    for (const auto& privateDirectory : {ov::TempDirectory(), ov::RunDirectory()}) {
        struct stat info {};
        ASSERT_EQ(::stat(privateDirectory.c_str(), &info), 0) << privateDirectory;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << privateDirectory;
    }
}

TEST_F(PathsTest, WithoutAnExplicitPrefixTheDataHomeIsUsed) {
    const auto dataHome = prefix_.path() / "data home";
    {
        ovtest::ScopedEnv noPrefix("ORVANE_PREFIX", nullptr);
        ovtest::ScopedEnv xdg("XDG_DATA_HOME", dataHome.string());
        platformtest::Child child({"mutex-exists", "any"});  // any call that needs the prefix
        EXPECT_EQ(child.Wait(), 1);
    }
    EXPECT_TRUE(std::filesystem::is_directory(dataHome / "orvane" / "drive_c" / "windows" / "temp"));
    EXPECT_TRUE(std::filesystem::is_directory(dataHome / "orvane" / "run" / "mutex"));
}

TEST_F(PathsTest, DirectoryCallsReportTheSizeNeededWhenTheBufferIsShort) {
    const std::string windows = ov::WindowsDirectory().string();
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), windows.size() + 1);
    EXPECT_EQ(small[0], 'x');  // nothing written

    char buffer[MAX_PATH * 4];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), windows.size());
    EXPECT_EQ(std::string(buffer), windows);
    // Exactly the length is one too few: the NUL needs room too.
    EXPECT_EQ(GetWindowsDirectoryA(buffer, static_cast<UINT>(windows.size())), windows.size() + 1);

    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), ov::SystemDirectory().string().size());
    const DWORD tempLength = GetTempPathA(sizeof buffer, buffer);
    EXPECT_EQ(std::string(buffer, tempLength), ov::TempDirectory().string() + "/");

    WCHAR wide[MAX_PATH * 4];
    EXPECT_EQ(GetWindowsDirectoryW(wide, MAX_PATH * 4), windows.size());
    EXPECT_EQ(ov::Utf16ToUtf8(wide), windows);
    EXPECT_EQ(GetTempPathW(2, wide), ov::TempDirectory().string().size() + 2);
}

TEST_F(PathsTest, ModuleFileNameOfTheProgramAndItsTruncation) {
    char buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::string(buffer, length), ov::ProgramPath().string());
    EXPECT_EQ(ov::BaseName(buffer), "platform_tests");
    EXPECT_EQ(ov::ProgramDirectory(), ov::ProgramPath().parent_path());

    char shortBuffer[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, shortBuffer, sizeof shortBuffer), sizeof shortBuffer);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(shortBuffer), std::string(buffer, 4));
}

TEST_F(PathsTest, FindFileNoCaseReachesAnExistingFileUnderAnotherSpelling) {
    const auto spelled = ov::WindowsDirectory() / "OVCLIENT.INI";
    std::ofstream(spelled) << "[Options]\n";
    EXPECT_EQ(ov::FindFileNoCase(ov::WindowsDirectory() / "ovclient.ini"), spelled);
    EXPECT_EQ(ov::FindFileNoCase(spelled), spelled);
    const auto missing = ov::WindowsDirectory() / "nothing.ini";
    EXPECT_EQ(ov::FindFileNoCase(missing), missing);
}

}  // namespace
