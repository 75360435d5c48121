// The automation server as clients meet it: one process per object, reached
// through the class registration, and the `ovfax` program in front of it.
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "automation.h"
#include "ovcom/remote.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace ovfaxapi {
namespace {

namespace fs = std::filesystem;
using namespace ov::com;

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

RunResult RunCommand(const std::string& command) {
    RunResult result;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

int g_printAttachReceived = 0;
LRESULT CountPrintAttach(HWND, UINT message, WPARAM, LPARAM) {
    if (message == RegisterWindowMessageA(kPrintAttachMessage)) ++g_printAttachReceived;
    return 0;
}

class ServerProcess : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        bin_ = ovtest::BinaryDirectory();
        ASSERT_EQ(RegisterLocalServer(kClassId, kProgId, (bin_ / "ovfaxapi").string(), "test"), S_OK);
        log_ = prefix_.path() / "gateway.log";
        setenv("TEST_GATEWAY_LOG", log_.c_str(), 1);
        setenv("TEST_GATEWAY_CAPS", "4,6,7", 1);
        setenv("TEST_GATEWAY_RESULT", "0", 1);
        setenv("ORVANE_MSGBOX_ANSWERS", "IDOK", 1);
        WritePrivateProfileStringA("Options", "ClientGateway", (bin_ / "test_gateway.cgw").c_str(),
                                   "OVCLIENT.INI");
    }

    static Variant Call(IDispatch* object, const std::string& name, std::vector<Variant> args = {},
                        WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
        std::vector<DISPID> ids;
        EXPECT_EQ(object->GetIDsOfNames({name}, &ids), S_OK) << name;
        Variant result;
        EXPECT_EQ(object->Invoke(ids[0], flags, args, &result), S_OK) << name;
        return result;
    }

    std::vector<nlohmann::json> GatewayCalls(const std::string& name) const {
        std::vector<nlohmann::json> calls;
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line)) {
            auto call = nlohmann::json::parse(line);
            if (call["call"] == name) calls.push_back(call);
        }
        return calls;
    }

    fs::path bin_;
    fs::path log_;
};

TEST_F(ServerProcess, EachObjectIsItsOwnProcessAndReleaseCleansUp) {
    IDispatch* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_EQ(CreateRemoteObject(std::string(kProgId), &first), S_OK);
    ASSERT_EQ(CreateRemoteObject(std::string(kProgId), &second), S_OK);
    long pid1 = RemoteProcessId(first), pid2 = RemoteProcessId(second);
    EXPECT_NE(pid1, pid2);

    EXPECT_EQ(Call(first, "SetBodyText", {std::string("Hello")}), Variant{true});
    // The body file lands beside the server program, or in the prefix's
    // temporary directory when that cannot be written.
    fs::path body;
    for (const auto& dir : {bin_, ov::TempDirectory()}) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".bdy") body = entry.path();
        }
    }
    ASSERT_FALSE(body.empty());
    Call(first, "subject", {std::string("one")}, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(Call(second, "subject"), Variant{std::string()}) << "objects share nothing";

    first->Release();
    EXPECT_NE(::kill(static_cast<pid_t>(pid1), 0), 0) << "released: its process ended";
    EXPECT_FALSE(fs::exists(body)) << "release deletes the object's temporary files";
    EXPECT_EQ(::kill(static_cast<pid_t>(pid2), 0), 0);
    EXPECT_EQ(Call(second, "getattachmentcount"), Variant{std::int32_t{0}});
    second->Release();
}

TEST_F(ServerProcess, PlainStartRecordsThePrintedFileAndBroadcasts) {
    HWND window = CreateMessageWindow("test", "listener", &CountPrintAttach);
    ASSERT_NE(window, nullptr);
    fs::path printed = prefix_.path() / "0001A2F4.OVK";
    std::ofstream(printed) << "x";

    RunResult run = RunCommand(Quote(bin_ / "ovfaxapi") + " " + Quote(printed));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    char value[300] = {};
    GetPrivateProfileStringA("General", "CommandLine", "", value, sizeof value, "ovprog.ini");
    EXPECT_EQ(std::string(value), printed.string());
    ov::LetMessagesRun(300);
    EXPECT_EQ(g_printAttachReceived, 1);

    // A start without an existing file still broadcasts and changes nothing.
    run = RunCommand(Quote(bin_ / "ovfaxapi") + " " + Quote(prefix_.path() / "missing.ovk"));
    EXPECT_EQ(run.exitCode, 0);
    GetPrivateProfileStringA("General", "CommandLine", "", value, sizeof value, "ovprog.ini");
    EXPECT_EQ(std::string(value), printed.string());
    ov::LetMessagesRun(300);
    EXPECT_EQ(g_printAttachReceived, 2);
    DestroyWindow(window);
}

TEST_F(ServerProcess, OvfaxSendsThroughTheGateway) {
    fs::path body = prefix_.path() / "body.txt";
    std::ofstream(body) << "Dear Ann,\r\nhere it is.\r\n";
    fs::path a = prefix_.path() / "a.pdf", b = prefix_.path() / "b.tif";
    std::ofstream(a) << "A";
    std::ofstream(b) << "B";
    RunResult run = RunCommand(Quote(bin_ / "ovfax") + " send --to 'Ann;Lee;Acme;555-0100' --to ';;Beta;555-0200'"
                        " --subject Report --body-file " + Quote(body) + " --attach " + Quote(a) +
                        " --attach " + Quote(b) + " --cover Standard --highres --schedule '2027-01-02 03:04'");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto sends = GatewayCalls("cgwSendMessageEx");
    ASSERT_EQ(sends.size(), 1u);
    auto job = sends[0];
    EXPECT_EQ(job["flags"], 0x01 | 0x02 | 0x08 | 0x10 | 0x80);
    EXPECT_EQ(job["schedule"], "2027-01-02 03:04:00");
    EXPECT_EQ(job["recipientCount"], 2);
    EXPECT_EQ(job["recipients"][1]["company"], "Beta");
    EXPECT_EQ(job["attachmentCount"], 2);
    EXPECT_EQ(job["attachments"][1]["base"], "b.tif");
    EXPECT_EQ(job["body"], fs::absolute(body).string());
}

TEST_F(ServerProcess, OvfaxRefusesBadInputClearly) {
    struct Case {
        std::string arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"send --to 'Ann;Lee;Acme;'", "without fax number"},
        {"send --to 'Ann;Lee;555'", "GIVEN;SURNAME;COMPANY;FAX"},
        {"send --to ';;;5' --attach /nonexistent/file.pdf", "attachment not found"},
        {"send --to ';;;5' --schedule '2027-13-01 00:00'", "--schedule"},
        {"send --to ';;;5' --schedule tomorrow", "--schedule"},
        {"send --to ';;;5' --body x --body-file y", "not both"},
        {"send", "at least one --to"},
        {"frobnicate", "unknown command"},
    };
    for (const Case& c : cases) {
        RunResult run = RunCommand(Quote(bin_ / "ovfax") + " " + c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n" << run.output;
    }
    EXPECT_TRUE(GatewayCalls("cgwSendMessageEx").empty());

    RunResult help = RunCommand(Quote(bin_ / "ovfax") + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("ovfax send"), std::string::npos);
}

TEST_F(ServerProcess, OvfaxReportsAFailedSendWithTheClientErrorText) {
    setenv("TEST_GATEWAY_RESULT", "4", 1);
    fs::path boxes = prefix_.path() / "boxes.jsonl";
    setenv("ORVANE_MSGBOX_LOG", boxes.c_str(), 1);
    RunResult run = RunCommand(Quote(bin_ / "ovfax") + " send --to ';;;555'");
    unsetenv("ORVANE_MSGBOX_LOG");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    std::ifstream in(boxes);
    std::string line;
    ASSERT_TRUE(std::getline(in, line)) << "the server showed a message box";
    EXPECT_EQ(nlohmann::json::parse(line)["text"], "Send failed\n\nError: C-0007");
}

TEST_F(ServerProcess, OvfaxScriptDrivesTheObjectLineByLine) {
    fs::path script = prefix_.path() / "calls.txt";
    std::ofstream(script) << "# compose one fax\n"
                             "subject = \"Weekly figures\"\n"
                             "Subject\n"
                             "addrecipient Ann Lee Acme \"\" 0049-555\n"
                             "addrecipient Ann Lee Acme \"\" \"\"\n"
                             "getattachmentpath 5\n"
                             "nosuchmember\n"
                             "sendfax\n";
    RunResult run = RunCommand(Quote(bin_ / "ovfax") + " script " + Quote(script));
    EXPECT_EQ(run.exitCode, 1) << "one line failed";
    EXPECT_NE(run.output.find("Weekly figures\nTRUE\nFALSE\n\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("line 7: nosuchmember: no such member"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("TRUE\n"), std::string::npos);
    auto sends = GatewayCalls("cgwSendMessageEx");
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0]["recipients"][0]["fax"], "0049-555") << "a fax number stays a text";
    EXPECT_EQ(sends[0]["subject"], "Weekly figures");
}

}  // namespace
}  // namespace ovfaxapi
