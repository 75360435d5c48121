#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "child_process.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, SplitsByTheWindowsRules) {
    struct Case {
        const char* line;
        Args expected;
    } cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"a b\tc", {"a", "b", "c"}},
        {"  leading   and trailing  ", {"leading", "and", "trailing"}},
        {"\"abc\" d e", {"abc", "d", "e"}},
        {"a\\\\b d\"e f\"g h", {"a\\\\b", "de fg", "h"}},
        {"a\\\\\\\"b c d", {"a\\\"b", "c", "d"}},
        {"a\\\\\\\\\"b c\" d e", {"a\\\\b c", "d", "e"}},
        {"a\"b\"\" c d", {"ab\"", "c", "d"}},
        {"\"\"", {""}},
        {"\"\" \"\"", {"", ""}},
        {"\"C:\\Program Files\\viewer.exe\" \"%1\"", {"C:\\Program Files\\viewer.exe", "%1"}},
        {"\"unterminated quote", {"unterminated quote"}},
        {"trailing\\", {"trailing\\"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ov::SplitCommandLine(c.line), c.expected) << c.line;
    }
}

TEST(CommandLine, QuotingRoundTripsAnyArguments) {
    const Args arguments = {"plain",       "with space", "",          "tab\there", "quote\"inside",
                            "trailing\\",  "dir\\ with\\", "\\\\\"",  "\"",        "C:\\path\\file.ovk",
                            "ends with \\\\"};
    EXPECT_EQ(ov::SplitCommandLine(ov::JoinCommandLine(arguments)), arguments);
    EXPECT_EQ(ov::QuoteArgument("plain"), "plain");
    EXPECT_EQ(ov::QuoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(ov::QuoteArgument(""), "\"\"");
    EXPECT_EQ(ov::QuoteArgument("a\\ b\\"), "\"a\\ b\\\\\"");
    EXPECT_EQ(ov::QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
}

TEST(Processes, StartAndWaitReportExitCodesAndTimeouts) {
    long pid = ov::StartProcess("/bin/sh", {"-c", "exit 3"});
    ASSERT_GT(pid, 0);
    auto result = ov::WaitProcess(pid, std::chrono::seconds(30));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->exitCode, 3);
    EXPECT_EQ(result->signal, 0);

    pid = ov::StartProcess("sh", {"-c", "kill -9 $$"});  // found on the search path
    ASSERT_GT(pid, 0);
    result = ov::WaitProcess(pid, std::chrono::seconds(30));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->exitCode, -1);
    EXPECT_EQ(result->signal, 9);

    pid = ov::StartProcess("/bin/sleep", {"10"});
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(ov::WaitProcess(pid, std::chrono::milliseconds(30)));
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(ov::WaitProcess(pid, std::chrono::seconds(30)));

    EXPECT_EQ(ov::StartProcess("/no/such/program", {}), -1);
}

class ShellTest : public ovtest::PrefixTest {
protected:
    // A program that writes its working directory and arguments to out.
    std::filesystem::path MakeRecorder(const std::string& windowsPath, const std::filesystem::path& out) {
        const std::filesystem::path path = ov::MapPath(windowsPath);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; } > '" << out.string() << ".tmp'\n"
                            << "mv '" << out.string() << ".tmp' '" << out.string() << "'\n";
        ::chmod(path.c_str(), 0700);
        return path;
    }
    std::string ReadWhenThere(const std::filesystem::path& path) {
        if (!platformtest::WaitForFile(path)) {
            return "<never written>";
        }
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void SetDefault(const std::string& keyPath, const std::string& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(ShellTest, AProgramRunsWithItsParametersSplitInItsDirectory) {
    const auto out = prefix_.path() / "program.out";
    MakeRecorder("C:\\tools\\start.sh", out);
    std::filesystem::create_directories(ov::MapPath("C:\\work dir"));
    HINSTANCE result = ShellExecuteA(nullptr, nullptr, "C:\\tools\\start.sh", "\"C:\\x y.ovk\" second",
                                     "C:\\work dir", SW_SHOWNORMAL);
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(result), 32u);
    EXPECT_EQ(ReadWhenThere(out), ov::MapPath("C:\\work dir") + "\nC:\\x y.ovk\nsecond\n");
}

TEST_F(ShellTest, ADocumentOpensWithTheCommandOfItsFileType) {
    const auto out = prefix_.path() / "document.out";
    MakeRecorder("C:\\Program Files\\viewer.sh", out);
    SetDefault(".ovk", "OvkFile");
    SetDefault("ovkfile\\shell\\open\\command", "\"C:\\Program Files\\viewer.sh\" /c \"%1\" %*");
    const std::string document = ov::MapPath("C:\\spool\\printed job.OVK");
    std::filesystem::create_directories(std::filesystem::path(document).parent_path());
    std::ofstream(document) << "ovk";
    HINSTANCE result = ShellExecuteA(nullptr, "open", "C:\\spool\\printed job.OVK", "extra \"two words\"",
                                     nullptr, SW_SHOWNORMAL);
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(result), 32u);
    const std::string text = ReadWhenThere(out);
    EXPECT_NE(text.find("\n/c\n" + document + "\nextra\ntwo words\n"), std::string::npos) << text;
}

TEST_F(ShellTest, FailuresGiveTheirCodes) {
    auto code = [](const char* file) {
        return reinterpret_cast<std::uintptr_t>(ShellExecuteA(nullptr, nullptr, file, nullptr, nullptr, SW_SHOWNORMAL));
    };
    EXPECT_EQ(code("C:\\missing.exe"), 2u);
    EXPECT_EQ(code("C:\\no such dir\\missing.exe"), 3u);
    EXPECT_EQ(code(nullptr), 2u);
    std::ofstream(ov::MapPath("C:\\note.xyz")) << "x";
    EXPECT_EQ(code("C:\\note.xyz"), 31u);  // no association
    std::ofstream(ov::MapPath("C:\\noextension")) << "x";
    EXPECT_EQ(code("C:\\noextension"), 31u);
    SetDefault(".frm", "formfile");
    SetDefault("formfile\\shell\\open\\command", "C:\\gone\\opener.sh %1");
    std::ofstream(ov::MapPath("C:\\a.frm")) << "x";
    EXPECT_EQ(code("C:\\a.frm"), 2u);  // the program of the association is missing
}

}  // namespace
