#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "automation.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"
#include "password.h"
#include "sendfax.h"

namespace ovfaxapi {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class AutomationTest : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        ov::SetMessageBoxPresenter(ov::MakeScriptedPresenter());
        ov::ClearShownMessageBoxes();
        directory_ = prefix_.path() / "program";
        fs::create_directories(directory_);
        log_ = prefix_.path() / "gateway.log";
        setenv("TEST_GATEWAY_LOG", log_.c_str(), 1);
        setenv("TEST_GATEWAY_CAPS", "4,6,7", 1);
        setenv("TEST_GATEWAY_RESULT", "0", 1);
        unsetenv("TEST_GATEWAY_REFUSE_LOGON");
        UseGateway(ovtest::BinaryDirectory() / "test_gateway.cgw");
        fax_ = ov::com::ComPtr<COvfaxapiDlgAutoProxy>(new COvfaxapiDlgAutoProxy(&dialog_, directory_));
    }
    void TearDown() override { ov::SetMessageBoxPresenter(nullptr); }

    static void UseGateway(const fs::path& path) {
        WritePrivateProfileStringA("Options", "ClientGateway", path.c_str(), "OVCLIENT.INI");
    }
    std::vector<json> Calls() const {
        std::vector<json> calls;
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line)) calls.push_back(json::parse(line));
        return calls;
    }
    json LastSend() const {
        for (auto calls = Calls(); !calls.empty(); calls.pop_back()) {
            std::string call = calls.back()["call"];
            if (call.rfind("cgwSendMessage", 0) == 0) return calls.back();
        }
        return json();
    }
    fs::path MakeFile(const std::string& name, const std::string& content = "data") {
        fs::path path = prefix_.path() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    COvfaxapiDlgAutoProxy& fax() { return *fax_.get(); }

    COvfaxapiDlg dialog_;
    ov::com::ComPtr<COvfaxapiDlgAutoProxy> fax_;
    fs::path directory_;
    fs::path log_;
};

TEST_F(AutomationTest, NewObjectStartsEmptyWithTheCurrentUtcDate) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    EXPECT_EQ(fax().year, now.wYear);
    EXPECT_EQ(fax().month, now.wMonth);
    EXPECT_EQ(fax().day, now.wDay);
    EXPECT_FALSE(fax().schedule);
    EXPECT_FALSE(fax().highres);
    EXPECT_TRUE(fax().recipients().empty());
    EXPECT_EQ(fax().getattachmentcount(), 0);
}

TEST_F(AutomationTest, RecipientsNeedAFaxNumberAndKeepAtMost63Characters) {
    EXPECT_FALSE(fax().addrecipient({"Ann", "Lee", "Acme", "", ""}));
    EXPECT_FALSE(fax().addrecipient({"Ann"}));
    EXPECT_TRUE(fax().recipients().empty());
    EXPECT_TRUE(fax().addrecipient({std::string(100, 'g'), "Lee", "Acme", "x1", "555", "x2"}));
    ASSERT_EQ(fax().recipients().size(), 1u);
    const RecipientEntry& r = fax().recipients()[0];
    EXPECT_EQ(r.givenName, std::string(63, 'g'));
    EXPECT_EQ(r.faxNumber, "555");
    EXPECT_EQ(r.extra2, "x2");
    EXPECT_EQ(r.extra3, "") << "a missing argument is an empty text";
}

TEST_F(AutomationTest, BodyIsSetOnceUntilReset) {
    auto first = MakeFile("first.txt");
    auto second = MakeFile("second.txt");
    EXPECT_FALSE(fax().setbodyfile((prefix_.path() / "missing.txt").string()));
    EXPECT_TRUE(fax().setbodyfile(first.string()));
    EXPECT_FALSE(fax().setbodyfile(second.string()));
    EXPECT_EQ(fax().body(), first.string());

    // setbodytext after a body: refused, yet its temporary file stays listed.
    EXPECT_FALSE(fax().setbodytext("Hello"));
    ASSERT_EQ(fax().temporaryFiles().size(), 1u);
    fs::path made = fax().temporaryFiles()[0];
    EXPECT_TRUE(fs::exists(made));
    EXPECT_EQ(made.parent_path(), directory_);
    EXPECT_EQ(made.extension(), ".bdy");
    EXPECT_EQ(made.stem().string().size(), 8u);

    fax().reset(FALSE);
    EXPECT_FALSE(fs::exists(made)) << "a full reset deletes the object's temporary files";
    EXPECT_TRUE(fax().setbodytext("Hello"));
    std::ifstream in(fax().body(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "Hello\r\n");
}

TEST_F(AutomationTest, AttachmentsKeepOrderAndResetKeepsOrDeletesThem) {
    auto a = MakeFile("a.pdf"), b = MakeFile("b.pdf"), c = MakeFile("c.pdf");
    EXPECT_FALSE(fax().addattachment((prefix_.path() / "nosuch.pdf").string()));
    EXPECT_FALSE(fax().addattachment(""));
    EXPECT_FALSE(fax().addattachment("WAIT.PRINT.SETUP")) << "commands are exact texts";
    for (const auto& p : {a, b, c}) EXPECT_TRUE(fax().addattachment(p.string()));
    EXPECT_TRUE(fax().removeattachment(0));
    EXPECT_EQ(fax().getattachmentpath(0), b.string());
    EXPECT_EQ(fax().getattachmentpath(1), c.string());
    EXPECT_EQ(fax().getattachmentpath(2), "");
    EXPECT_EQ(fax().getattachmentpath(-1), "");
    EXPECT_FALSE(fax().removeattachment(2));
    EXPECT_FALSE(fax().removeattachment(-1));

    ASSERT_TRUE(fax().setbodytext("note"));
    fs::path bodyFile = fax().body();
    fax().subject = "x";
    fax().reset(TRUE);
    EXPECT_EQ(fax().getattachmentcount(), 2);
    EXPECT_TRUE(fs::exists(bodyFile)) << "reset(TRUE) keeps the temporary files";
    EXPECT_EQ(fax().subject, "");
    EXPECT_EQ(fax().body(), "");
    fax().reset(FALSE);
    EXPECT_EQ(fax().getattachmentcount(), 0);
    EXPECT_FALSE(fs::exists(bodyFile));
    EXPECT_TRUE(fs::exists(a)) << "attached files themselves are never touched";
}

TEST_F(AutomationTest, DispatchBindsNamesWithoutRegardToCase) {
    using namespace ov::com;
    std::vector<DISPID> ids;
    ASSERT_EQ(fax().GetIDsOfNames({"SUBJECT", "SendFax", "reset", "GetAttachmentPath"}, &ids), S_OK);
    EXPECT_EQ(ids, (std::vector<DISPID>{1, 14, 19, 17}));
    ASSERT_EQ(fax().Invoke(1, DISPATCH_PROPERTYPUT, {std::string("Grüße")}, nullptr), S_OK);
    EXPECT_EQ(fax().subject, "Gr\xFC\xDF" "e") << "kept in the system code page";
    Variant out;
    ASSERT_EQ(fax().Invoke(1, DISPATCH_PROPERTYGET, {}, &out), S_OK);
    EXPECT_EQ(out, Variant{std::string("Grüße")});
    ASSERT_EQ(fax().Invoke(2, DISPATCH_PROPERTYPUT, {std::string("2031")}, nullptr), S_OK);
    EXPECT_EQ(fax().year, 2031);
    EXPECT_EQ(fax().Invoke(2, DISPATCH_PROPERTYPUT, {std::string("soon")}, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(fax().Invoke(14, DISPATCH_PROPERTYPUT, {true}, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(fax().Invoke(99, DISPATCH_METHOD, {}, nullptr), DISP_E_MEMBERNOTFOUND);
    ASSERT_EQ(fax().Invoke(10, DISPATCH_METHOD, {std::string("Ann"), std::string("Lee")}, &out), S_OK);
    EXPECT_EQ(out, Variant{false}) << "no fax number";
}

// ------------------------------------------------------------------ sendfax

TEST_F(AutomationTest, JobRecordCarriesWhatWasComposed) {
    auto body = MakeFile("body.txt", "line\r\n");
    auto a = MakeFile("a.pdf");
    fax().subject = "Report";
    fax().coverpage = "Standard";
    fax().highres = true;
    fax().schedule = true;
    fax().year = 2027;
    fax().month = 3;
    fax().day = 4;
    fax().hour = 5;
    fax().minutes = 6;
    ASSERT_TRUE(fax().addrecipient({"Ann", "Lee", "Acme", "e1", "555-0100", "e2", "e3"}));
    ASSERT_TRUE(fax().setbodyfile(body.string()));
    ASSERT_TRUE(fax().addattachment(a.string()));

    EXPECT_TRUE(fax().sendfax());
    json job = LastSend();
    ASSERT_EQ(job["call"], "cgwSendMessageEx");
    EXPECT_EQ(job["flags"], 0x01 | 0x02 | 0x08 | 0x10 | 0x80);
    EXPECT_EQ(job["subject"], "Report");
    EXPECT_EQ(job["cover"], "Standard");
    EXPECT_EQ(job["body"], body.string()) << "the MAPI gateway takes the body as a file path";
    EXPECT_EQ(job["schedule"], "2027-03-04 05:06:00");
    EXPECT_EQ(job["reserved"], 0);
    EXPECT_FALSE(job["billing"]);
    ASSERT_EQ(job["recipientCount"], 1);
    json r = job["recipients"][0];
    EXPECT_EQ(r, json({{"reserved", 0}, {"given", "Ann"}, {"company", "Acme"}, {"fax", "555-0100"},
                       {"surname", "Lee"}, {"extra1", "e1"}, {"extra3", "e3"}, {"extra2", "e2"}}));
    ASSERT_EQ(job["attachmentCount"], 1);
    EXPECT_EQ(job["attachments"][0]["path"], a.string());
    EXPECT_EQ(job["attachments"][0]["base"], "a.pdf");
    EXPECT_TRUE(ov::ShownMessageBoxes().empty());
    EXPECT_FALSE(dialog_.progressShown()) << "the progress dialog is hidden after the send";
    EXPECT_EQ(fax().recipients().size(), 1u) << "sendfax leaves the state as it was";
}

TEST_F(AutomationTest, JobRecordEdgeCases) {
    // Body as text without capability 7; an impossible schedule goes without
    // schedule; no recipients reach the gateway as count 0; 40 attachments
    // reach it as 32.
    setenv("TEST_GATEWAY_CAPS", "4", 1);
    auto body = MakeFile("body.txt", "one\r\n" + std::string(1030, 'x') + "\r\nlast");
    ASSERT_TRUE(fax().setbodyfile(body.string()));
    fax().schedule = true;
    fax().month = 0;
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(fax().addattachment(body.string()));
    EXPECT_TRUE(fax().sendfax());
    json job = LastSend();
    EXPECT_EQ(job["flags"], 0x04);
    EXPECT_EQ(job["body"], "one\r\n" + std::string(1023, 'x') + "\r\n" + std::string(7, 'x') +
                               "\r\nlast\r\n");
    EXPECT_EQ(job["schedule"], "<null>");
    EXPECT_EQ(job["recipientCount"], 0);
    EXPECT_EQ(job["attachmentCount"], 32);
    EXPECT_EQ(job["attachments"].size(), 32u);
}

TEST_F(AutomationTest, PlainRecordMessageText) {
    setenv("TEST_GATEWAY_CAPS", "3", 1);
    fax().highres = true;
    ASSERT_TRUE(fax().addrecipient({"Ann", "Lee", "Acme", "", "F"}));
    EXPECT_TRUE(fax().sendfax());
    json message = LastSend();
    ASSERT_EQ(message["call"], "cgwSendMessage");
    EXPECT_EQ(message["text"], ":: h, C=\r\n\r\n:: Ann, Acme, Lee, F\r\n\r\n");
    EXPECT_EQ(message["subject"], "");
    EXPECT_EQ(message["attachmentCount"], 0);

    fax().highres = false;
    fax().coverpage = "Memo";
    fax().schedule = true;
    fax().hour = 7;
    fax().minutes = 5;
    auto body = MakeFile("b.txt", "Hi\r\nthere");
    ASSERT_TRUE(fax().setbodyfile(body.string()));
    EXPECT_TRUE(fax().sendfax());
    EXPECT_EQ(LastSend()["text"], ":: n, C=Memo, 07:05\r\n\r\n:: Ann, Acme, Lee, F\r\n\r\nHi\r\nthere\r\n");
}

TEST_F(AutomationTest, CapabilitiesDecideLogonAndLogoff) {
    struct Case {
        const char* caps;
        const char* name;
        const char* password;
        std::vector<std::string> calls;  // the logon/send/logoff calls, in order
    };
    const Case cases[] = {
        {"1,4", "", "", {"cgwLogonEx:1", "cgwSendMessageEx"}},
        {"0,1,4", "bob", "", {"cgwLogonEx:0", "cgwSendMessageEx"}},
        {"0,4,2", "bob", "", {"cgwLogon", "cgwSendMessageEx", "cgwLogoff"}},
        {"3,4", "", "", {"cgwSendMessageEx"}},
        {"3", "", "", {"cgwSendMessage"}},
    };
    for (const Case& c : cases) {
        fs::remove(log_);
        setenv("TEST_GATEWAY_CAPS", c.caps, 1);
        WritePrivateProfileStringA("Options", "Name", c.name, "OVCLIENT.INI");
        WritePrivateProfileStringA("Options", "Password", ScramblePassword(c.password).c_str(),
                                   "OVCLIENT.INI");
        EXPECT_TRUE(fax().sendfax()) << c.caps;
        std::vector<std::string> calls;
        for (const json& call : Calls()) {
            std::string name = call["call"];
            if (name == "cgwGetCaps") continue;
            if (name == "cgwLogonEx") name += ":" + std::to_string(call["flag"].get<int>());
            calls.push_back(name);
        }
        EXPECT_EQ(calls, c.calls) << c.caps;
    }
}

TEST_F(AutomationTest, LogonGetsTheUnscrambledPassword) {
    setenv("TEST_GATEWAY_CAPS", "1,4", 1);
    WritePrivateProfileStringA("Options", "Name", "  bob\t", "OVCLIENT.INI");
    WritePrivateProfileStringA("Options", "Password", ScramblePassword("s3cr3t!").c_str(),
                               "OVCLIENT.INI");
    EXPECT_TRUE(fax().sendfax());
    json logon = Calls()[1];
    EXPECT_EQ(logon["call"], "cgwLogonEx");
    EXPECT_EQ(logon["user"], "bob");
    EXPECT_EQ(logon["password"], "s3cr3t!");
    EXPECT_EQ(logon["flag"], 0);

    setenv("TEST_GATEWAY_REFUSE_LOGON", "1", 1);
    fs::remove(log_);
    EXPECT_FALSE(fax().sendfax());
    EXPECT_TRUE(ov::ShownMessageBoxes().empty()) << "a refused logon shows nothing";
    EXPECT_TRUE(LastSend().is_null());
}

TEST_F(AutomationTest, FailuresShowTheClientErrorText) {
    struct Case {
        const char* result;
        const char* text;
    };
    for (const Case& c : {Case{"4", "Send failed\n\nError: C-0007"},
                          Case{"5", "Addressbook failed\n\nError: C-0004"},
                          Case{"17", "Unknown error - Fatal error\n\nError: C-9999"}}) {
        ov::ClearShownMessageBoxes();
        setenv("TEST_GATEWAY_RESULT", c.result, 1);
        EXPECT_FALSE(fax().sendfax());
        auto boxes = ov::ShownMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, kAppName);
        EXPECT_EQ(boxes[0].style & 0xF0, MB_ICONEXCLAMATION);
    }
}

TEST_F(AutomationTest, GatewaysThatCannotBeUsedGiveFalse) {
    // Neither capability 3 nor 4: nothing is sent, nothing shown.
    setenv("TEST_GATEWAY_CAPS", "7", 1);
    EXPECT_FALSE(fax().sendfax());
    EXPECT_TRUE(LastSend().is_null());

    // No gateway configured and no "*.sov" beside the program.
    UseGateway("");
    EXPECT_FALSE(fax().sendfax());

    // A library lacking entries, and a file that is no library at all: the
    // latter warns that a component is missing.
    UseGateway(ovtest::BinaryDirectory() / "incomplete_gateway.cgw");
    EXPECT_FALSE(fax().sendfax());
    EXPECT_TRUE(ov::ShownMessageBoxes().empty());
    UseGateway(MakeFile("not-a-library.cgw", "text"));
    EXPECT_FALSE(fax().sendfax());
    auto boxes = ov::ShownMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "client error");
}

TEST(Password, ScrambledFormRoundTripsAndIgnoresAnOddLastCharacter) {
    for (std::string plain : {std::string(), std::string("a"), std::string("p@ss w0rd"),
                              std::string(300, 'z'), std::string("\x01\xFF\x80", 3)}) {
        std::string stored = ScramblePassword(plain);
        EXPECT_EQ(stored.size(), plain.size() * 2);
        EXPECT_EQ(UnscramblePassword(stored), plain);
        EXPECT_EQ(UnscramblePassword(stored + "Q"), plain);
        if (!plain.empty()) {
            EXPECT_NE(stored.find_first_not_of("ABCDEFGHIJKLMNOPabcdefghijklmnop"), 0u);
        }
    }
}

TEST(ScheduleText, UsesTheSystemFormatsAndRefusesImpossibleDates) {
    EXPECT_EQ(FormatSchedule(2026, 12, 31, 23, 59), "2026-12-31 23:59:00");
    EXPECT_FALSE(FormatSchedule(2026, 13, 1, 0, 0));
    EXPECT_FALSE(FormatSchedule(2026, 0, 1, 0, 0));
    EXPECT_FALSE(FormatSchedule(2026, 2, 30, 0, 0));
    EXPECT_FALSE(FormatSchedule(2026, 1, 1, 24, 0));
}

}  // namespace
}  // namespace ovfaxapi
