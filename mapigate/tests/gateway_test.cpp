// mapigate.cgw end to end: loaded by path as the automation server loads it,
// handed a job record, and the fax it submits read back from the pickup
// directory by an independent reader.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mapigate/cgw.h"
#include "ovmapi/faults.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovtest/temp_prefix.h"
#include "fax_readers.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using readback::Hex;
using readback::PickupFiles;
using readback::ReadersInstalled;
using readback::ReadFaxMsg;
using readback::RunShell;


void Put(char* field, std::size_t size, const char* text) {
    std::snprintf(field, size, "%s", text);
}

struct Library {
    void* handle = nullptr;
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
};

class GatewayTest : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        ovmapi::faults::ClearAll();
        fs::path path = ovtest::BinaryDirectory() / "mapigate.cgw";
        library_.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_.handle, nullptr) << dlerror();
        send_ = reinterpret_cast<PFN_cgwSendMessageEx>(dlsym(library_.handle, "cgwSendMessageEx"));
        ASSERT_NE(send_, nullptr);

        std::memset(recipients_, 0, sizeof recipients_);
        Put(recipients_[0].givenName, 64, "Ann");
        Put(recipients_[0].surname, 64, "Lee");
        Put(recipients_[0].company, 256, "Acme");
        Put(recipients_[0].faxNumber, 64, "555-0100");
        Put(recipients_[1].surname, 64, "Berg");
        Put(recipients_[1].faxNumber, 64, "+49 30 1234");
        std::string binary;
        for (int n = 0; n < 40000; ++n) binary += static_cast<char>(n * 31 + 7);
        files_ = {{(prefix_.path() / "scan.fax").string(), binary},
                  {(prefix_.path() / "terms.txt").string(), "Terms\n"}};
        for (std::size_t n = 0; n < files_.size(); ++n) {
            std::ofstream(files_[n].first, std::ios::binary) << files_[n].second;
            attachments_[n] = {0, files_[n].first.c_str(), nullptr};
        }
        job_.billing = &billing_;
        job_.flags = CGW_JOB_HIGHRES | CGW_JOB_SUBJECT | CGW_JOB_BODYTEXT | CGW_JOB_COVERPAGE |
                     CGW_JOB_SCHEDULE | CGW_JOB_BILLING;
        job_.subject = "Quarterly report";
        job_.body = "Please see the report.";
        job_.coverPage = "Standard";
        job_.schedule = "2027-03-04 05:06:07";
        job_.recipientCount = 2;
        job_.recipients = recipients_;
        job_.attachmentCount = 2;
        job_.attachments = attachments_;
    }
    void TearDown() override { ovmapi::faults::ClearAll(); }

    Library library_;
    PFN_cgwSendMessageEx send_ = nullptr;
    cgwBilling billing_{0, 42};
    cgwRecipient recipients_[2];
    cgwAttachment attachments_[2];
    std::vector<std::pair<std::string, std::string>> files_;
    cgwJob job_{};
};

TEST_F(GatewayTest, SubmitsTheJobAsAFaxMessage) {
    if (!ReadersInstalled())
        GTEST_SKIP() << "node or the npm readers missing (scripts/deps.sh installs them)";
    ASSERT_EQ(send_(nullptr, &job_), CGW_OK);
    std::vector<fs::path> files = PickupFiles();
    ASSERT_EQ(files.size(), 1u);
    json got = ReadFaxMsg(files[0]);
    ASSERT_FALSE(got.contains("error")) << got.dump();
    EXPECT_EQ(got["messageClass"], "IPM.Note.OVFAX.Submit");
    EXPECT_EQ(got["subject"], "Quarterly report");
    EXPECT_EQ(got["body"], "Please see the report.");
    ASSERT_EQ(got["recipients"].size(), 2u);
    EXPECT_EQ(got["recipients"][0]["email"], "\"Ann Lee\"@\"Acme\"@555-0100");
    EXPECT_EQ(got["recipients"][1]["email"], "\"Berg\"@+49 30 1234");
    for (const auto& recipient : got["recipients"]) EXPECT_EQ(recipient["addressType"], "ORVANE");
    ASSERT_EQ(got["attachments"].size(), 2u);
    EXPECT_EQ(got["attachments"][0]["fileName"], "scan.fax");
    EXPECT_EQ(got["attachments"][0]["contentHex"], Hex(files_[0].second));
    EXPECT_EQ(got["attachments"][1]["fileName"], "terms.txt");
    EXPECT_EQ(got["attachments"][1]["contentHex"], Hex(files_[1].second));
    const json& named = got["named"];
    EXPECT_EQ(named["OrvaneSign"], "Orvane Extended Properties");
    EXPECT_EQ(named["HighRes"], true);
    EXPECT_EQ(named["TMPLName"], "Standard");
    EXPECT_EQ(named["BillCode"], "42");
    EXPECT_FALSE(named.contains("ScheduleTime"));
    // The schedule text at the two-second resolution of the gateway.
    EXPECT_EQ(named["ScheduleFT"], "Thu, 04 Mar 2027 05:06:06 GMT");
}

TEST_F(GatewayTest, FailedSubmissionIsSavedAndFailedLogonReported) {
    // The gateway asks for submit-else-save: a failing transport leaves the
    // fax saved and the job counts as sent.
    ovmapi::faults::Inject("IMessage::SubmitMessage", MAPI_E_NETWORK_ERROR, 1, 1);
    EXPECT_EQ(send_(nullptr, &job_), CGW_OK);
    EXPECT_TRUE(PickupFiles().empty());
    ovmapi::faults::ClearAll();

    ovmapi::faults::Inject("MAPILogonEx", MAPI_E_LOGON_FAILED, 1, 1);
    EXPECT_EQ(send_(nullptr, &job_), CGW_E_SEND);
    ovmapi::faults::ClearAll();
    // A missing attachment fails the job.
    fs::remove(files_[1].first);
    EXPECT_EQ(send_(nullptr, &job_), CGW_E_SEND);
    EXPECT_TRUE(PickupFiles().empty());
}

}  // namespace
