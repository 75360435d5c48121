// What the compressor writes must be readable by a reader that is not ours:
// the npm package @kenjiuno/decompressrtf, run with node.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "faxmsg/rtf_codec.h"
#include "ovtest/temp_prefix.h"
#include "sample_text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs a program found on PATH with arguments; returns its exit status or -1.
int RunProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(IndependentReader, DecompressesWhatTheCompressorWrites) {
    const fs::path source = ORVANE_SOURCE_DIR;
    const fs::path modules = source / "tests" / "node" / "node_modules";
    const fs::path script = source / "faxmsg" / "tests" / "decompress_rtf.js";
    ASSERT_TRUE(fs::exists(modules / "@kenjiuno" / "decompressrtf"))
        << "run scripts/deps.sh to install the test readers";

    std::string binary;
    for (int i = 0; i < 256; ++i) {
        binary += static_cast<char>(i);
    }
    std::string wideText;
    for (int i = 0; i < 3000; ++i) {
        wideText += "\x82\xA0\x95\\\x83{ line\r\n";
    }
    const std::vector<std::pair<unsigned, std::string>> texts = {
        {1252, ""},
        {1252, "Hi\r\n"},
        {1252, faxmsg_test::SampleLetter(5000, 3)},
        {1252, faxmsg_test::SampleLetter(400000, 4)},
        {1252, std::string(50000, ' ') + binary + binary},
        {932, wideText},
        {1251, faxmsg_test::SampleLetter(30000, 5)},
    };

    ovtest::TempPrefix scratch;
    std::vector<std::string> command = {"node", script.string(), modules.string()};
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        // Converted and compressed in chunks, as the body is streamed from a file.
        faxmsg::TextToRtfConverter converter(texts[i].first);
        faxmsg::RtfCompressor compressor;
        std::string rtf;
        std::string_view rest = texts[i].second;
        std::string piece;
        while (!rest.empty()) {
            const std::string_view chunk = rest.substr(0, 4093);
            rest.remove_prefix(chunk.size());
            piece.clear();
            ASSERT_TRUE(converter.Convert(chunk, piece));
            ASSERT_TRUE(compressor.Write(piece));
            rtf += piece;
        }
        piece.clear();
        ASSERT_TRUE(converter.Finish(piece));
        ASSERT_TRUE(compressor.Write(piece));
        rtf += piece;
        ASSERT_EQ(rtf, faxmsg::ConvertTextToRtf(texts[i].second, texts[i].first));

        const fs::path blob = scratch.path() / ("body" + std::to_string(i) + ".lzfu");
        WriteFile(blob, compressor.FinishBlob());
        command.push_back(blob.string());
        expected.push_back(rtf);
    }
    ASSERT_EQ(RunProgram(command), 0) << "node could not read the compressed bodies";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const fs::path out = scratch.path() / ("body" + std::to_string(i) + ".lzfu.out");
        EXPECT_TRUE(ReadFile(out) == expected[i]);
    }
}

}  // namespace
