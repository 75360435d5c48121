// Submission: the transport writes the message to the pickup directory, an
// independent reader finds everything in it, and the message moves on.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "mapi_fixture.h"

namespace mapitest {
namespace {

using nlohmann::json;

const std::filesystem::path kNodeDir = std::filesystem::path(OV_SOURCE_DIR) / "tests" / "node";

std::string RunShell(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) output.append(buffer, got);
    return output;
}

std::vector<std::filesystem::path> PickupFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ovmapi::PickupDirectory(), ec))
        if (entry.path().extension() == ".msg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class TransportTest : public MapiTest {
protected:
    // A fax as the builder makes it: class, subject, body, two one-off
    // recipients, an attachment, named fax properties and the sent-mail id.
    Ptr<IMessage> BuildFax(IMAPIFolder* folder, bool withSentMail, const std::string& attachment) {
        IAddrBook* rawBook = nullptr;
        EXPECT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &rawBook), S_OK);
        Ptr<IAddrBook> book(rawBook);
        IMessage* raw = nullptr;
        EXPECT_EQ(folder->CreateMessage(nullptr, 0, &raw), S_OK);
        Ptr<IMessage> message(raw);
        GUID set = PS_PUBLIC_STRINGS;
        MAPINAMEID names[2] = {{&set, MNID_STRING, {}}, {&set, MNID_STRING, {}}};
        names[0].Kind.lpwstrName = const_cast<LPWSTR>(u"OrvaneSign");
        names[1].Kind.lpwstrName = const_cast<LPWSTR>(u"HighRes");
        LPMAPINAMEID pointers[2] = {&names[0], &names[1]};
        LPSPropTagArray tags = nullptr;
        EXPECT_EQ(message->GetIDsFromNames(2, pointers, MAPI_CREATE, &tags), S_OK);
        Buffer<SPropTagArray> heldTags(tags);
        std::vector<BYTE> sentMail = StoreProp(store_.get(), PR_IPM_SENTMAIL_ENTRYID);
        std::vector<SPropValue> values = {
            String8(PR_MESSAGE_CLASS_A, "IPM.Note.OVFAX.Submit"),
            String8(PR_SUBJECT_A, "Order 4711"),
            String8(PR_BODY_A, "Body of the fax"),
            Long(PR_IMPORTANCE, 1),
            String8(CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_STRING8), "Orvane Extended Properties"),
            Bool(CHANGE_PROP_TYPE(tags->aulPropTag[1], PT_BOOLEAN), true),
        };
        if (withSentMail) values.push_back(Binary(PR_SENTMAIL_ENTRYID, sentMail));
        EXPECT_EQ(message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr), S_OK);
        AddRecipient(message.get(), book.get(), "\"Ann Lee\"@\"Acme\"@+15551234", "ORVANE", "\"Ann Lee\"@\"Acme\"@+15551234");
        AddRecipient(message.get(), book.get(), "+4930123", "ORVANE", "+4930123");
        AddAttachment(message.get(), "page1.fax", attachment);
        return message;
    }
};

TEST_F(TransportTest, SubmittedFaxIsReadBackByAnIndependentReader) {
    if (RunShell("command -v node").empty() || !std::filesystem::exists(kNodeDir / "node_modules" / "@kenjiuno" / "msgreader"))
        GTEST_SKIP() << "node or @kenjiuno/msgreader missing (scripts/deps.sh installs them)";
    std::string attachment(70000, '\0');
    unsigned sum = 0;
    for (std::size_t n = 0; n < attachment.size(); ++n) {
        attachment[n] = static_cast<char>((n * 31) & 0xFF);
        sum = (sum + static_cast<unsigned char>(attachment[n])) % 65521;
    }
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    Ptr<IMessage> message = BuildFax(inbox.get(), true, attachment);
    ASSERT_EQ(message->SubmitMessage(FORCE_SUBMIT), S_OK);

    std::vector<std::filesystem::path> files = PickupFiles();
    ASSERT_EQ(files.size(), 1u);
    json got = json::parse(RunShell("node " + std::string(OV_MAPI_TEST_DIR) + "/read_msg.js " + kNodeDir.string() + " " +
                               files[0].string()));
    ASSERT_FALSE(got.contains("error")) << got.dump();
    EXPECT_EQ(got["subject"], "Order 4711");
    EXPECT_EQ(got["messageClass"], "IPM.Note.OVFAX.Submit");
    EXPECT_EQ(got["body"], "Body of the fax");
    ASSERT_EQ(got["recipients"].size(), 2u);
    EXPECT_EQ(got["recipients"][0]["name"], "\"Ann Lee\"@\"Acme\"@+15551234");
    EXPECT_EQ(got["recipients"][0]["addressType"], "ORVANE");
    EXPECT_EQ(got["recipients"][1]["email"], "+4930123");
    ASSERT_EQ(got["attachments"].size(), 1u);
    EXPECT_EQ(got["attachments"][0]["fileName"], "page1.fax");
    EXPECT_EQ(got["attachments"][0]["size"], attachment.size());
    EXPECT_EQ(got["attachments"][0]["sum"], sum);
    EXPECT_EQ(got["named"]["OrvaneSign"], "Orvane Extended Properties");
    EXPECT_EQ(got["named"]["HighRes"], true);

    // The message left the receive folder for Sent Items, sent.
    EXPECT_EQ(ContentCount(inbox.get()), 0u);
    Ptr<IMAPIFolder> sent = OpenFolder(store_.get(), PR_IPM_SENTMAIL_ENTRYID);
    ASSERT_EQ(ContentCount(sent.get()), 1u);
    // A submitted message is done with.
    SPropValue subject = String8(PR_SUBJECT_A, "later");
    EXPECT_EQ(message->SetProps(1, &subject, nullptr), MAPI_E_SUBMITTED);
}

TEST_F(TransportTest, WithoutSentMailIdTheMessageStaysInTheOutbox) {
    Ptr<IMAPIFolder> outbox = OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID);
    Ptr<IMessage> message = BuildFax(outbox.get(), false, "data");
    ASSERT_EQ(message->SubmitMessage(0), S_OK);
    EXPECT_EQ(PickupFiles().size(), 1u);
    EXPECT_EQ(ContentCount(outbox.get()), 1u);
    EXPECT_EQ(ContentCount(OpenFolder(store_.get(), PR_IPM_SENTMAIL_ENTRYID).get()), 0u);
}

TEST_F(TransportTest, AFailedSubmissionLeavesTheMessageSavedAndNothingInPickup) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    Ptr<IMessage> message = BuildFax(inbox.get(), true, "data");
    ovmapi::faults::Inject("Transport::Deliver", MAPI_E_NETWORK_ERROR);
    EXPECT_EQ(message->SubmitMessage(FORCE_SUBMIT), MAPI_E_NETWORK_ERROR);
    EXPECT_TRUE(PickupFiles().empty());
    // The builder then saves it, as its "send and save" flags ask.
    EXPECT_EQ(message->SaveChanges(FORCE_SAVE), S_OK);
    EXPECT_EQ(ContentCount(inbox.get()), 1u);
}

TEST_F(TransportTest, AMessageWithoutRecipientsIsNotSubmitted) {
    Ptr<IMAPIFolder> outbox = OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID);
    IMessage* raw = nullptr;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    EXPECT_EQ(message->SubmitMessage(0), MAPI_E_NO_RECIPIENTS);
    EXPECT_TRUE(PickupFiles().empty());
}

}  // namespace
}  // namespace mapitest
