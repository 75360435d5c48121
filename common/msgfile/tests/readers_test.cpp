// Files from the writer, read by two independent readers: the npm package
// @kenjiuno/msgreader and Debian's msgconvert (.msg to .eml).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "test_support.h"

namespace msgtest {
namespace {

using nlohmann::json;

const std::filesystem::path kNodeDir = std::filesystem::path(OV_SOURCE_DIR) / "tests" / "node";
const std::filesystem::path kScriptDir = OV_MSGFILE_TEST_DIR;

bool HaveCommand(const std::string& name) {
    return RunCommand("command -v " + name + " >/dev/null 2>&1").status == 0;
}

bool HaveMsgreader() {
    return HaveCommand("node") &&
           std::filesystem::exists(kNodeDir / "node_modules" / "@kenjiuno" / "msgreader");
}

// What msgreader makes of a file; attachments land in outDir.
json RunMsgreader(const std::filesystem::path& msg, const std::filesystem::path& outDir) {
    CommandResult run = RunCommand("node " + ShellQuote((kScriptDir / "dump_msg.js").string()) +
                                   " " + ShellQuote(kNodeDir.string()) + " " +
                                   ShellQuote(msg.string()) + " " + ShellQuote(outDir.string()));
    EXPECT_EQ(run.status, 0) << run.output;
    return run.status == 0 ? json::parse(run.output) : json{{"error", run.output}};
}

class ReadersTest : public ::testing::Test {
protected:
    void SetUp() override {
        message_ = SampleFax();
        msgPath_ = dir_.path() / "fax.msg";
        Status status = WriteMsgFile(message_, msgPath_);
        ASSERT_TRUE(status) << status.message;
    }

    ScratchDir dir_;
    Message message_;
    std::filesystem::path msgPath_;
};

TEST_F(ReadersTest, MsgreaderReadsEverythingBack) {
    if (!HaveMsgreader())
        GTEST_SKIP() << "node or @kenjiuno/msgreader missing (scripts/deps.sh installs them)";
    json got = RunMsgreader(msgPath_, dir_.path());
    ASSERT_FALSE(got.contains("error")) << got.dump();

    EXPECT_EQ(got["subject"], Utf8(kSubjectUtf16));
    EXPECT_EQ(got["messageClass"], "IPM.Note.OrvaneNote");
    EXPECT_EQ(got["body"], Utf8(kBody));

    ASSERT_EQ(got["recipients"].size(), 2u);
    const char* names[] = {"Ann Smith", "Bob Jones"};
    const char* addresses[] = {"Ann Smith@+1 555 1234", "Bob Jones@+44 20 7946 0000"};
    const char* types[] = {"to", "cc"};
    for (std::size_t i = 0; i < 2; ++i) {
        const json& r = got["recipients"][i];
        EXPECT_EQ(r["name"], names[i]);
        EXPECT_EQ(r["addressType"], "ORVANE");
        EXPECT_EQ(r["email"], addresses[i]);
        EXPECT_EQ(r["recipType"], types[i]);
    }

    const auto expected = SampleAttachments();
    ASSERT_EQ(got["attachments"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const json& a = got["attachments"][i];
        EXPECT_EQ(a["fileName"], Utf8(expected[i].longName));
        EXPECT_EQ(a["fileNameShort"], Utf8(expected[i].shortName));
        EXPECT_EQ(a["extension"], Utf8(expected[i].extension));
        EXPECT_EQ(a["size"], expected[i].data.size());
        EXPECT_TRUE(ReadFileBytes(a["file"].get<std::string>()) == expected[i].data)
            << "attachment " << i << " differs";
    }

    // Named properties: string names by name, numeric ones by set and id.
    auto findByName = [&](const std::string& name) -> json {
        for (const json& p : got["named"])
            if (p.contains("name") && p["name"] == name) return p;
        return nullptr;
    };
    auto findByLid = [&](const std::string& lid) -> json {
        for (const json& p : got["named"])
            if (p.contains("lid") && p["lid"] == lid) return p;
        return nullptr;
    };
    json sign = findByName("OrvaneSign");
    ASSERT_FALSE(sign.is_null()) << got["named"].dump();
    EXPECT_EQ(sign["value"], "Orvane Extended Properties");
    json cover = findByName("CVRPage");
    ASSERT_FALSE(cover.is_null());
    EXPECT_EQ(cover["value"], 1);
    json highRes = findByName("HighRes");
    ASSERT_FALSE(highRes.is_null());
    EXPECT_EQ(highRes["value"], true);
    json schedule = findByName("ScheduleFT");
    ASSERT_FALSE(schedule.is_null());
    EXPECT_TRUE(schedule["value"].is_string());  // msgreader renders times as text
    // msgreader hands multi-valued data out raw, one entry per stream: the
    // property entry's size field (12), the length stream and each
    // NUL-terminated value ("Fax", "Outbound", "Été").
    std::multiset<std::string> keywordStreams;
    for (const json& p : got["named"])
        if (p.contains("name") && p["name"] == "Keywords")
            keywordStreams.insert(p["value"]["hex"].get<std::string>());
    EXPECT_EQ(keywordStreams,
              (std::multiset<std::string>{
                  "0c00000000000000", "080000001200000008000000", "4600610078000000",
                  "4f007500740062006f0075006e0064000000", "c9007400e9000000"}));
    json fax1 = findByLid("000080b3");
    ASSERT_FALSE(fax1.is_null()) << got["named"].dump();
    EXPECT_EQ(fax1["value"], "Ann Smith@+1 555 1234");
    EXPECT_EQ(fax1["propertySet"].get<std::string>().substr(0, 8), "00062004");
    json common = findByLid("00008514");
    ASSERT_FALSE(common.is_null());
    EXPECT_EQ(common["value"], false);
    EXPECT_EQ(common["propertySet"].get<std::string>().substr(0, 8), "00062008");
}

TEST_F(ReadersTest, MsgconvertProducesTheSameMail) {
    if (!HaveCommand("msgconvert") || !HaveCommand("perl"))
        GTEST_SKIP() << "msgconvert missing (scripts/deps.sh installs it)";
    const std::filesystem::path eml = dir_.path() / "fax.eml";
    CommandResult convert = RunCommand("msgconvert --outfile " + ShellQuote(eml.string()) + " " +
                                       ShellQuote(msgPath_.string()) + " 2>&1");
    ASSERT_EQ(convert.status, 0) << convert.output;
    CommandResult dump =
        RunCommand("perl " + ShellQuote((kScriptDir / "dump_eml.pl").string()) + " " +
                   ShellQuote(eml.string()) + " " + ShellQuote(dir_.path().string()));
    ASSERT_EQ(dump.status, 0) << dump.output;
    json got = json::parse(dump.output);

    EXPECT_EQ(got["subject"], Utf8(kSubjectUtf16));
    // The mail's To and Cc come from the display lists matched to recipients.
    EXPECT_NE(got["to"].get<std::string>().find("Ann Smith"), std::string::npos) << got["to"];
    EXPECT_NE(got["cc"].get<std::string>().find("Bob Jones"), std::string::npos) << got["cc"];
    // Line ends may be rewritten on the way to MIME; compare the text lines.
    std::string body = got["body"].get<std::string>();
    std::erase(body, '\r');
    std::string expectedBody = Utf8(kBody);
    std::erase(expectedBody, '\r');
    EXPECT_EQ(body, expectedBody);

    const auto expected = SampleAttachments();
    ASSERT_EQ(got["attachments"].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const json& a = got["attachments"][i];
        EXPECT_EQ(a["fileName"], Utf8(expected[i].longName));
        EXPECT_TRUE(ReadFileBytes(a["file"].get<std::string>()) == expected[i].data)
            << "attachment " << i << " differs";
    }
}

TEST(ReadersLargeFile, MsgreaderFollowsTheDifatChain) {
    // Beyond 109 FAT sectors (about 7 MB) the FAT sector list continues in
    // DIFAT sectors; another reader must find the same bytes.
    if (!HaveMsgreader()) GTEST_SKIP() << "node or @kenjiuno/msgreader missing";
    ScratchDir dir;
    Message m;
    m.properties = {{kPrSubjectW, std::u16string(u"large")}};
    Attachment a;
    const Bytes data = PatternBytes(8u << 20, 17);
    a.properties = {{kPrAttachMethod, std::int32_t{1}},
                    {kPrAttachLongFilenameW, std::u16string(u"big.tif")},
                    {kPrAttachDataBin, data}};
    m.attachments.push_back(std::move(a));
    const auto path = dir.path() / "large.msg";
    ASSERT_TRUE(WriteMsgFile(m, path));
    json got = RunMsgreader(path, dir.path());
    EXPECT_EQ(got["subject"], "large");
    ASSERT_EQ(got["attachments"].size(), 1u);
    EXPECT_EQ(got["attachments"][0]["fileName"], "big.tif");
    EXPECT_TRUE(ReadFileBytes(got["attachments"][0]["file"].get<std::string>()) == data);
}

}  // namespace
}  // namespace msgtest
