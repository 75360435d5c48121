#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "child_process.h"
#include "ovplatform/internal/ini_document.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

class ProfileTest : public ovtest::PrefixTest {
protected:
    void WriteFile(const std::string& name, const std::string& content) {
        std::ofstream(ov::WindowsDirectory() / name, std::ios::binary) << content;
    }
    std::string ReadFile(const std::string& name) {
        std::ifstream in(ov::WindowsDirectory() / name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Get(const char* section, const char* key, const char* fallback = "",
                    const char* file = "ovprog.ini") {
        char buffer[512];
        DWORD length = GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, file);
        return std::string(buffer, length);
    }
};

TEST_F(ProfileTest, ReadsValuesWithoutRegardToCaseAndStripsBlanksAndQuotes) {
    WriteFile("ovprog.ini",
              "[General]\r\n"
              "ClientName = C:\\ovfaxapi.exe  \r\n"
              "Quoted=\"  kept blanks  \"\r\n"
              "Single='x'\r\n"
              "Unbalanced=\"half\r\n"
              "Empty=\r\n"
              "[OnPrint]\r\n"
              "StartProgram=viewer\r\n");
    EXPECT_EQ(Get("general", "CLIENTNAME"), "C:\\ovfaxapi.exe");
    EXPECT_EQ(Get("General", "Quoted"), "  kept blanks  ");
    EXPECT_EQ(Get("General", "Single"), "x");
    EXPECT_EQ(Get("General", "Unbalanced"), "\"half");
    EXPECT_EQ(Get("General", "Empty", "fallback"), "");
    EXPECT_EQ(Get("onprint", "startprogram"), "viewer");
    EXPECT_EQ(Get("General", "StartProgram", "none"), "none");  // key of another section
}

TEST_F(ProfileTest, DefaultIsUsedForMissingKeysAndFilesWithTrailingBlanksTrimmed) {
    EXPECT_EQ(Get("Options", "Language", "English  "), "English");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    char buffer[16] = "unchanged";
    EXPECT_EQ(GetPrivateProfileStringA("Options", "Language", nullptr, buffer, sizeof buffer,
                                       "ovclient.ini"),
              0u);
    EXPECT_STREQ(buffer, "");
}

TEST_F(ProfileTest, ValuesAreTruncatedToTheRoomGiven) {
    WriteFile("ovprog.ini", "[General]\nCommandLine=0123456789\n");
    char buffer[6];
    EXPECT_EQ(GetPrivateProfileStringA("General", "CommandLine", "", buffer, sizeof buffer,
                                       "ovprog.ini"),
              5u);
    EXPECT_STREQ(buffer, "01234");
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(GetPrivateProfileStringA("General", "Missing", "defaultvalue", buffer, 1, "ovprog.ini"),
              0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetPrivateProfileStringA("General", "CommandLine", "", buffer, 0, "ovprog.ini"), 0u);
}

TEST_F(ProfileTest, NullSectionListsSectionsAndNullKeyListsKeys) {
    WriteFile("ovprog.ini", "[General]\na=1\nB=2\n[OnPrint]\nc=3\n[general]\nd=4\n");
    char buffer[64];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, "ovprog.ini");
    EXPECT_EQ(std::string(buffer, length + 1), std::string("General\0OnPrint\0\0", 17));
    length = GetPrivateProfileStringA("GENERAL", nullptr, "", buffer, sizeof buffer, "ovprog.ini");
    EXPECT_EQ(std::string(buffer, length + 1), std::string("a\0B\0d\0\0", 7));

    // Too little room: what fits, two NULs, and size - 2.
    char small[6];
    length = GetPrivateProfileStringA(nullptr, nullptr, "", small, sizeof small, "ovprog.ini");
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::string(small, 6), std::string("Gene\0\0", 6));
    // An empty section lists nothing.
    length = GetPrivateProfileStringA("Nothing", nullptr, "", buffer, sizeof buffer, "ovprog.ini");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ProfileTest, WritesKeepTheRestOfTheFileAsItWas) {
    WriteFile("ovprog.ini",
              "; written by hand\n"
              "[General]\n"
              "ClientName=old\n"
              "this line has no equals sign\n"
              "\n"
              "[OnPrint]\n"
              "StartProgram=viewer\n");
    ASSERT_TRUE(WritePrivateProfileStringA("general", "clientname", "new", "ovprog.ini"));
    ASSERT_TRUE(WritePrivateProfileStringA("General", "CommandLine", "C:\\x.ovk", "ovprog.ini"));
    ASSERT_TRUE(WritePrivateProfileStringA("Exchange Settings", "ProductVer", "5", "ovprog.ini"));
    EXPECT_EQ(ReadFile("ovprog.ini"),
              "; written by hand\n"
              "[General]\n"
              "ClientName=new\n"
              "CommandLine=C:\\x.ovk\n"
              "this line has no equals sign\n"
              "\n"
              "[OnPrint]\n"
              "StartProgram=viewer\n"
              "\n"
              "[Exchange Settings]\n"
              "ProductVer=5\n");
}

TEST_F(ProfileTest, NullValueRemovesTheKeyAndNullKeyTheSection) {
    WriteFile("ovprog.ini", "[General]\r\na=1\r\nb=2\r\n[OnPrint]\r\nc=3\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("General", "A", nullptr, "ovprog.ini"));
    EXPECT_EQ(Get("General", "a", "gone"), "gone");
    EXPECT_EQ(Get("General", "b"), "2");
    ASSERT_TRUE(WritePrivateProfileStringA("onprint", nullptr, nullptr, "ovprog.ini"));
    EXPECT_EQ(ReadFile("ovprog.ini"), "[General]\r\nb=2\r\n");  // line ends kept
    // Removing what is not there succeeds and changes nothing.
    EXPECT_TRUE(WritePrivateProfileStringA("General", "zzz", nullptr, "ovprog.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("Nowhere", nullptr, nullptr, "missing.ini"));
    EXPECT_FALSE(std::filesystem::exists(ov::WindowsDirectory() / "missing.ini"));
}

TEST_F(ProfileTest, BothSpellingsOfAFileNameReachTheSameFile) {
    ASSERT_TRUE(WritePrivateProfileStringA("Options", "ClientGateway", "mapigate.cgw", "OVCLIENT.INI"));
    ASSERT_TRUE(WritePrivateProfileStringA("Options", "Language", "German", "ovclient.ini"));
    EXPECT_EQ(Get("Options", "ClientGateway", "", "ovclient.ini"), "mapigate.cgw");
    EXPECT_EQ(Get("Options", "Language", "", "OVCLIENT.INI"), "German");
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ov::WindowsDirectory())) {
        files += ov::EqualsNoCase(entry.path().filename().string(), "ovclient.ini") ? 1 : 0;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ProfileTest, WideWritesAndFullPathsWork) {
    const auto path = ov::MapPath("C:\\settings\\wide.ini");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(WritePrivateProfileStringW(u"Port", u"Name", u"KESTRINFAX: \u00E4", u"C:\\settings\\wide.ini"));
    char buffer[64];
    DWORD length = GetPrivateProfileStringA("Port", "Name", "", buffer, sizeof buffer, "C:\\settings\\wide.ini");
    EXPECT_EQ(std::string(buffer, length), "KESTRINFAX: \xE4");  // in the system code page
    EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", "C:\\no\\such\\dir\\x.ini"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(ProfileTest, WritesThatWouldCorruptTheFileAreRefused) {
    WriteFile("ovprog.ini", "[General]\na=1\n");
    struct Case {
        const char* section;
        const char* key;
        std::string value;
    } cases[] = {
        {"General", "a", "line\ninjected=1"},
        {"General", "a", "carriage\rreturn"},
        {"Gen]eral", "a", "1"},
        {"General", "k=ey", "1"},
        {"General", "", "1"},
        {"", "a", "1"},
        {"General", "a", std::string(ov::detail::kMaxProfileLineLength, 'v')},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(WritePrivateProfileStringA(c.section, c.key, c.value.c_str(), "ovprog.ini"))
            << c.section << "/" << c.key;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "a", "1", "ovprog.ini"));
    EXPECT_EQ(ReadFile("ovprog.ini"), "[General]\na=1\n");
}

TEST_F(ProfileTest, MalformedAndOverlongLinesAreIgnoredOnReadAndKeptOnWrite) {
    const std::string longLine = "long=" + std::string(ov::detail::kMaxProfileLineLength, 'x');
    const std::string content = std::string("garbage before any section\n[General\nlost=1\n") +
                                "[General]\n=no name\n\x01\x02\xff binary\n" + longLine +
                                "\nok=yes\n";
    WriteFile("ovprog.ini", content);
    EXPECT_EQ(Get("General", "ok"), "yes");
    EXPECT_EQ(Get("General", "long", "ignored"), "ignored");
    EXPECT_EQ(Get("General", "", "none"), "none");
    ASSERT_TRUE(WritePrivateProfileStringA("General", "added", "1", "ovprog.ini"));
    std::string expected = content;
    expected.insert(expected.size(), "added=1\n");
    EXPECT_EQ(ReadFile("ovprog.ini"), expected);
}

TEST_F(ProfileTest, AnOversizedFileIsNeitherReadNorOverwritten) {
    std::string huge = "[General]\nkey=value\n";
    huge += std::string(ov::detail::kMaxProfileFileSize, ';');
    WriteFile("ovprog.ini", huge);
    EXPECT_EQ(Get("General", "key", "default"), "default");
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_FALSE(WritePrivateProfileStringA("General", "key", "new", "ovprog.ini"));
    EXPECT_EQ(std::filesystem::file_size(ov::WindowsDirectory() / "ovprog.ini"), huge.size());
}

TEST_F(ProfileTest, IntegersParseLeadingDigits) {
    WriteFile("ovprog.ini", "[N]\nplain=42\nsigned=-7\ntrailing=12abc\nword=abc\nquoted=\"9\"\n");
    struct Case {
        const char* key;
        UINT expected;
    } cases[] = {{"plain", 42}, {"signed", static_cast<UINT>(-7)}, {"trailing", 12},
                 {"word", 0},   {"quoted", 9},                  {"missing", 5}};
    for (const auto& c : cases) {
        EXPECT_EQ(GetPrivateProfileIntA("N", c.key, 5, "ovprog.ini"), c.expected) << c.key;
    }
}

TEST_F(ProfileTest, TwoProcessesWritingTheSameFileLoseNoKey) {
    const std::string file = "C:\\windows\\shared.ini";
    constexpr int kKeys = 40;
    platformtest::Child first({"profile-write", file, "Section", "first", std::to_string(kKeys)});
    platformtest::Child second({"profile-write", file, "SECTION", "second", std::to_string(kKeys)});
    ASSERT_TRUE(first.started() && second.started());
    for (int i = 0; i < kKeys; ++i) {
        ASSERT_TRUE(WritePrivateProfileStringA("section", ("parent" + std::to_string(i)).c_str(), "p",
                                               file.c_str()));
    }
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    for (int i = 0; i < kKeys; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(Get("Section", ("first" + n).c_str(), "lost", file.c_str()), n);
        EXPECT_EQ(Get("Section", ("second" + n).c_str(), "lost", file.c_str()), n);
        EXPECT_EQ(Get("Section", ("parent" + n).c_str(), "lost", file.c_str()), "p");
    }
    char sections[64];
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", sections, sizeof sections, file.c_str());
    // One section, spelled as whichever writer came first.
    EXPECT_EQ(length, 8u);
    EXPECT_TRUE(ov::EqualsNoCase(sections, "section")) << sections;
}

}  // namespace
