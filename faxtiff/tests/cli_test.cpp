// The faxtiff program as a user runs it from a shell.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "faxtiff/faxtiff.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"
#include "pbm.h"
#include "test_support.h"

namespace {

using faxtest::Bytes;
namespace fs = std::filesystem;
using namespace std::string_literals;

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliTest : public ovtest::PrefixTest {
protected:
    fs::path File(const std::string& name) const { return prefix_.path() / name; }

    RunResult Run(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {(ovtest::BinaryDirectory() / "faxtiff").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string command;
        for (const std::string& arg : argv) command += "'" + arg + "' ";
        const fs::path errors = File("stderr.txt");
        command += "2>'" + errors.string() + "'";
        RunResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return result;
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
        const int status = ::pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const Bytes err = faxtest::ReadFileBytes(errors);
        result.err.assign(err.begin(), err.end());
        return result;
    }

    fs::path ConvertSample() {
        const fs::path fax = File("sample.fax");
        EXPECT_EQ(Run({"convert", faxtest::CopyOfSample(fax.parent_path()).string(), fax.string()}).exitCode, 0);
        return fax;
    }
};

TEST_F(CliTest, HelpAndUsageErrors) {
    for (const auto& args : {std::vector<std::string>{"--help"}, {"-h"}, {"render", "--help"}}) {
        const RunResult help = Run(args);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_NE(help.out.find("Usage: faxtiff COMMAND"), std::string::npos);
    }
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case usage[] = {
        {{}, "a COMMAND is needed"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"info"}, "info needs a FILE"},
        {{"render", "x.fax", "0", "out.pbm"}, "PAGE must be a page number from 1"},
        {{"render", "x.fax", "1", "out.jpg"}, "OUT must end in .pbm or .png"},
        {{"encode", "in.pbm"}, "encode takes IN.pbm and OUT.fax"},
    };
    for (const Case& c : usage) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitCode, 2) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}

TEST_F(CliTest, FailuresExitWithOneAndSayWhy) {
    const fs::path fax = ConvertSample();
    const fs::path missing = File("missing.fax");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    faxtest::WriteFileText(File("bad.pbm"), "P4 8 9\n\x01");
    const Case cases[] = {
        {{"info", missing.string()}, missing.string() + ": cannot open as a fax file"},
        {{"convert", File("missing.ovk").string(), File("x.fax").string()}, "cannot convert"},
        {{"render", fax.string(), "3", File("p.pbm").string()}, "has no page 3 (pages found: 2)"},
        {{"encode", File("bad.pbm").string(), File("bad.fax").string()}, "raster cut short"},
    };
    for (const Case& c : cases) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitCode, 1) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(File("p.pbm")));
    EXPECT_FALSE(fs::exists(File("bad.fax")));
}

TEST_F(CliTest, InfoListsEveryPage) {
    const fs::path fax = ConvertSample();
    const faxtest::LoadedPage first = faxtest::LoadPage(fax, 1);
    const faxtest::LoadedPage second = faxtest::LoadPage(fax, 2);
    const RunResult text = Run({"info", fax.string()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out,
              "page 1: width 1728, length 2287, x-resolution 204, y-resolution 196, fill-order 2, "
              "compression 3, t4-options 4, strip-bytes " + std::to_string(first.info.stripBytes) + "\n"
              "page 2: width 1728, length 1074, x-resolution 204, y-resolution 98, fill-order 2, "
              "compression 3, t4-options 4, strip-bytes " + std::to_string(second.info.stripBytes) + "\n");
    const RunResult json = Run({"info", "--json", fax.string()});
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_EQ(json.out.rfind("{\"pages\":[{\"page\":1,\"width\":1728,\"length\":2287,", 0), 0u) << json.out;
    EXPECT_NE(json.out.find("{\"page\":2,\"width\":1728,\"length\":1074,\"xResolution\":204,\"yResolution\":98,"
                            "\"fillOrder\":2,\"photometric\":0,\"compression\":3,\"t4Options\":4,\"stripBytes\":" +
                            std::to_string(second.info.stripBytes) + "}]}\n"),
              std::string::npos) << json.out;
}

TEST_F(CliTest, RenderWritesThePageImageAsPbmOrPng) {
    const fs::path fax = ConvertSample();
    const fs::path pbm = File("page2.pbm");
    ASSERT_EQ(Run({"render", fax.string(), "2", pbm.string()}).exitCode, 0);
    const faxtest::LoadedPage page = faxtest::LoadPage(fax, 2);
    ASSERT_EQ(page.lines, 2148) << "a normal page is drawn with every line twice";
    EXPECT_EQ(faxtest::ReadFileBytes(pbm), [&] {
        const std::string expected = faxtiff::pbm::FaxLinesToP4(page.image.data(), page.lines);
        return Bytes(expected.begin(), expected.end());
    }());

    const fs::path png = File("page1.PNG");
    ASSERT_EQ(Run({"render", fax.string(), "1", png.string()}).exitCode, 0);
    const Bytes bytes = faxtest::ReadFileBytes(png);
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    // IHDR: width 1728, height 2287, one-bit greyscale.
    EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 26), (Bytes{0, 0, 0x06, 0xC0, 0, 0, 0x08, 0xEF, 1, 0}));
}

TEST_F(CliTest, EncodeMakesAPagePerImage) {
    // A narrow image (padded with white) and a wide one (cropped).
    std::string pbm = "P4\n100 2\n";
    for (int row = 0; row < 2; ++row) pbm += std::string(12, '\0') + "\xF0"s;
    pbm += "P4 2000 3\n";
    for (int row = 0; row < 3; ++row) pbm += std::string(215, '\0') + "\x01\x80"s + std::string(33, '\0');
    faxtest::WriteFileText(File("in.pbm"), pbm);
    const fs::path fax = File("out.fax");
    const RunResult result = Run({"encode", File("in.pbm").string(), fax.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(tiffCountPages(fax.c_str()), 2);
    const faxtest::LoadedPage narrow = faxtest::LoadPage(fax, 1);
    EXPECT_EQ(narrow.info.yResolution, 196);
    const Bytes narrowLine = faxtest::LineWithBlack(96, 100);
    EXPECT_EQ(narrow.image, [&] { Bytes b = narrowLine; b.insert(b.end(), narrowLine.begin(), narrowLine.end()); return b; }());
    const faxtest::LoadedPage wide = faxtest::LoadPage(fax, 2);
    ASSERT_EQ(wide.lines, 3);
    EXPECT_EQ(faxtest::Lines(wide.image, 2, 1), faxtest::LineWithBlack(1727, 1728));

    // Normal resolution keeps every second line.
    std::string tall = "P1 8 5\n";
    for (int row = 0; row < 5; ++row) tall += row % 2 == 0 ? "1 0 0 0 0 0 0 0\n" : "0 0 0 0 0 0 0 1\n";
    faxtest::WriteFileText(File("tall.pbm"), tall);
    ASSERT_EQ(Run({"encode", "--normal", File("tall.pbm").string(), fax.string()}).exitCode, 0);
    const faxtest::LoadedPage normal = faxtest::LoadPage(fax, 1);
    EXPECT_EQ(normal.info.yResolution, 98);
    EXPECT_EQ(normal.info.length, 3);
    EXPECT_EQ(normal.image, [] {
        Bytes b;
        for (int i = 0; i < 6; ++i) {
            const Bytes line = faxtest::LineWithBlack(0, 1);
            b.insert(b.end(), line.begin(), line.end());
        }
        return b;
    }());
}

}  // namespace
