// `ovfax send` on a fresh prefix: two recipients, a body file, a schedule
// and two attachments become one fax in the pickup directory, read back by
// an independent reader exactly as the builder stamped it.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "faxmsg/rtf_codec.h"
#include "ovmapi/provider.h"
#include "ovtest/temp_prefix.h"
#include "fax_readers.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using readback::Hex;
using readback::PickupFiles;
using readback::ReadersInstalled;
using readback::ReadFaxMsg;
using readback::RunShell;


int RunProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

using SendTest = ovtest::PrefixTest;

TEST_F(SendTest, OvfaxSendLeavesTheFaxInThePickupDirectory) {
    if (!ReadersInstalled())
        GTEST_SKIP() << "node or the npm readers missing (scripts/deps.sh installs them)";
    const fs::path work = prefix_.path() / "work";
    fs::create_directories(work);
    const std::string body = "Dear Ann,\r\nthe report for Q1 is attached.\r\n\tRegards {Bob}\r\n";
    std::string scan;
    for (int n = 0; n < 50000; ++n) scan += static_cast<char>((n * 131) >> 3);
    const std::string terms = "Terms and conditions\n";
    std::ofstream(work / "letter.txt", std::ios::binary) << body;
    std::ofstream(work / "scan.fax", std::ios::binary) << scan;
    std::ofstream(work / "terms.txt", std::ios::binary) << terms;

    const fs::path ovfax = ovtest::BinaryDirectory() / "ovfax";
    ASSERT_TRUE(fs::exists(ovfax)) << ovfax;
    int status = RunProgram(
        {ovfax.string(), "send", "--to", "Ann;Lee;Acme;555-0100", "--to", "Bob;Berg;;+49 30 1234",
         "--subject", "Quarterly report", "--body-file", (work / "letter.txt").string(), "--attach",
         (work / "scan.fax").string(), "--attach", (work / "terms.txt").string(), "--cover",
         "Standard", "--highres", "--schedule", "2027-03-04 05:06"});
    ASSERT_EQ(status, 0);

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(ovmapi::PickupDirectory()))
        if (entry.path().extension() == ".msg") files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    json got = ReadFaxMsg(files[0]);
    ASSERT_FALSE(got.contains("error")) << got.dump();
    EXPECT_EQ(got["messageClass"], "IPM.Note.OVFAX.Submit");
    EXPECT_EQ(got["subject"], "Quarterly report");
    EXPECT_EQ(got["rtfHex"], Hex(faxmsg::ConvertTextToRtf(body, 0)));

    const json& named = got["named"];
    EXPECT_EQ(named["OrvaneSign"], "Orvane Extended Properties");
    EXPECT_EQ(named["HighRes"], true);
    EXPECT_EQ(named["TMPLName"], "Standard");
    EXPECT_EQ(named["BillCode"], " ");  // no billing code given
    EXPECT_EQ(named["MS_EXCHANGE_01"], false);
    EXPECT_FALSE(named.contains("ScheduleTime"));
    EXPECT_EQ(named["ScheduleFT"], "Thu, 04 Mar 2027 05:06:00 GMT");  // --schedule is UTC

    ASSERT_EQ(got["recipients"].size(), 2u);
    EXPECT_EQ(got["recipients"][0]["name"], "\"Ann Lee\"@\"Acme\"@555-0100");
    EXPECT_EQ(got["recipients"][0]["email"], "\"Ann Lee\"@\"Acme\"@555-0100");
    EXPECT_EQ(got["recipients"][1]["email"], "\"Bob Berg\"@+49 30 1234");
    for (const auto& recipient : got["recipients"]) EXPECT_EQ(recipient["addressType"], "ORVANE");

    ASSERT_EQ(got["attachments"].size(), 2u);
    EXPECT_EQ(got["attachments"][0]["fileName"], "scan.fax");
    EXPECT_EQ(got["attachments"][0]["contentHex"], Hex(scan));
    EXPECT_EQ(got["attachments"][1]["fileName"], "terms.txt");
    EXPECT_EQ(got["attachments"][1]["contentHex"], Hex(terms));

    // The sent message stays in the store; mapistore shows its RTF body.
    const fs::path mapistore = ovtest::BinaryDirectory() / "mapistore";
    json sent = json::parse(RunShell("'" + mapistore.string() + "' list 'Sent Items' --json"));
    ASSERT_EQ(sent.size(), 1u) << sent.dump();
    json shown = json::parse(
        RunShell("'" + mapistore.string() + "' show " + sent[0]["PR_ENTRYID"].get<std::string>() + " --json"));
    EXPECT_EQ(shown["rtf"], faxmsg::ConvertTextToRtf(body, 0));
}

}  // namespace
