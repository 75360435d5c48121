// The mapistore program against a store filled through the interfaces.
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "mapi_fixture.h"

namespace mapitest {
namespace {

struct Output {
    int status = -1;
    std::string text;
};

Output RunProgram(const std::string& arguments) {
    std::string command = (ovtest::BinaryDirectory() / "mapistore").string() + " " + arguments + " 2>&1";
    Output output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.text.append(buffer, got);
    int status = pclose(pipe);
    output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

using MapistoreTest = MapiTest;

TEST_F(MapistoreTest, ShowsAndExportsAMessage) {
    if (!std::filesystem::exists(ovtest::BinaryDirectory() / "mapistore")) GTEST_SKIP() << "mapistore not built";
    Ptr<IMAPIFolder> outbox = OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID);
    IMessage* raw = nullptr;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    GUID set = PS_PUBLIC_STRINGS;
    MAPINAMEID name{&set, MNID_STRING, {}};
    name.Kind.lpwstrName = const_cast<LPWSTR>(u"BillCode");
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(message->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
    Buffer<SPropTagArray> held(tags);
    SPropValue values[] = {String8(PR_SUBJECT_A, "Caf\xE9 order"), String8(CHANGE_PROP_TYPE(tags->aulPropTag[0], PT_STRING8), "B-12")};
    ASSERT_EQ(message->SetProps(2, values, nullptr), S_OK);
    IAddrBook* rawBook = nullptr;
    ASSERT_EQ(session_->OpenAddressBook(0, nullptr, 0, &rawBook), S_OK);
    Ptr<IAddrBook> book(rawBook);
    AddRecipient(message.get(), book.get(), "Ann", "FAX", "+1555");
    AddAttachment(message.get(), "a.txt", "hello");
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    LPSPropValue id = nullptr;
    ASSERT_EQ(HrGetOneProp(message.get(), PR_ENTRYID, &id), S_OK);
    Buffer<SPropValue> heldId(id);
    std::string hex = ovmapi::HexFromBin(id->Value.bin.lpb, id->Value.bin.cb);

    Output shown = RunProgram("show " + hex + " --json");
    ASSERT_EQ(shown.status, 0) << shown.text;
    nlohmann::json json = nlohmann::json::parse(shown.text);
    bool sawSubject = false, sawNamed = false;
    for (const auto& property : json["properties"]) {
        if (property.value("name", "") == "PR_SUBJECT") sawSubject = property["value"] == "Caf\xC3\xA9 order";
        if (property.value("name", "") == "BillCode") sawNamed = property["value"] == "B-12";
    }
    EXPECT_TRUE(sawSubject) << shown.text;
    EXPECT_TRUE(sawNamed) << shown.text;
    ASSERT_EQ(json["recipients"].size(), 1u);
    EXPECT_EQ(json["recipients"][0]["PR_EMAIL_ADDRESS"], "+1555");
    ASSERT_EQ(json["attachments"].size(), 1u);

    Output listed = RunProgram("list Outbox");
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.text.find(hex), std::string::npos);

    std::filesystem::path file = prefix_.path() / "out.msg";
    Output exported = RunProgram("export " + hex + " " + file.string());
    ASSERT_EQ(exported.status, 0) << exported.text;
    std::ifstream in(file, std::ios::binary);
    unsigned char signature[8] = {};
    in.read(reinterpret_cast<char*>(signature), 8);
    const unsigned char compoundFile[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    EXPECT_EQ(std::memcmp(signature, compoundFile, 8), 0);
    // An existing file is never overwritten.
    EXPECT_EQ(RunProgram("export " + hex + " " + file.string()).status, 1);
}

TEST_F(MapistoreTest, RejectsBadInputWithAMessage) {
    if (!std::filesystem::exists(ovtest::BinaryDirectory() / "mapistore")) GTEST_SKIP() << "mapistore not built";
    struct Case {
        const char* arguments;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"", 2, "no command"},
        {"show", 2, "wrong arguments"},
        {"show XYZ", 1, "not a hexadecimal"},
        {"show 0011", 1, "opening the entry failed"},
        {"--frobnicate", 2, "unknown option"},
        {"forms remove IPM.None", 1, "no form is registered"},
        {"contacts import /nonexistent.vcf", 1, "cannot read"},
        {"--help", 0, "Usage: mapistore"},
    };
    for (const Case& c : cases) {
        Output output = RunProgram(c.arguments);
        EXPECT_EQ(output.status, c.status) << c.arguments << ": " << output.text;
        EXPECT_NE(output.text.find(c.says), std::string::npos) << c.arguments << ": " << output.text;
    }
}

}  // namespace
}  // namespace mapitest
