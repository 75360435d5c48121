// Printing to the fax printer across processes: an automation object waits
// for a printed attachment, a document is printed to "Orvane Fax" through
// `faxprint` or the `kestrinfax` CUPS backend, the fax client named in
// "ClientName" is started as the outside component starts it, and the object
// attaches the converted fax image and sends it through the gateway.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "automation.h"
#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "ovcom/remote.h"
#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"
#include "ovtest/temp_prefix.h"

namespace {

namespace fs = std::filesystem;
using namespace ov::com;

struct RunResult {
    int exitCode = -1;
    std::string output;
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

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Profile(const char* key) {
    char value[600] = {};
    GetPrivateProfileStringA("General", key, "", value, sizeof value, "ovprog.ini");
    return value;
}

std::string Handover(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrin\\Kestrin Print Monitor", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return "(no key)";
    }
    char data[600] = {};
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? data : "(none)";
}

// Every page of a fax file, decoded.
std::vector<std::vector<std::uint8_t>> DecodePages(const std::string& path) {
    std::vector<std::vector<std::uint8_t>> pages;
    int handle = -1;
    if (tiffOpenFile(path.c_str(), &handle) != 0) return pages;
    tagFaxPageInfo info{};
    for (int rc = tiffFindFirstPage(handle, &info); rc == 0; rc = tiffFindNextPage(handle, &info)) {
        CFaxPageImage image;
        image.Bind(handle);
        if (image.LoadPage() != 1) break;
        pages.emplace_back(image.Image(), image.Image() + image.ImageBytes());
    }
    tiffCloseFile(handle);
    return pages;
}

bool HasBlack(const std::vector<std::uint8_t>& page) {
    for (std::uint8_t byte : page) {
        if (byte != 0xFF) return true;
    }
    return false;
}

class PrintToFax : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        bin_ = ovtest::BinaryDirectory();
        ASSERT_EQ(RegisterLocalServer(ovfaxapi::kClassId, ovfaxapi::kProgId, (bin_ / "ovfaxapi").string(), "test"),
                  S_OK);
        log_ = prefix_.path() / "gateway.log";
        setenv("TEST_GATEWAY_LOG", log_.c_str(), 1);
        setenv("TEST_GATEWAY_CAPS", "4,6,7", 1);
        setenv("TEST_GATEWAY_RESULT", "0", 1);
        setenv("ORVANE_MSGBOX_ANSWERS", "IDOK", 1);
        unsetenv("ORVANE_PRINT_WAIT_MS");
        WritePrivateProfileStringA("Options", "ClientGateway", (bin_ / "test_gateway.cgw").c_str(), "OVCLIENT.INI");
        // The fax client configured before anyone waits: some program that exists.
        originalClient_ = (bin_ / "faxprint").string();
        WritePrivateProfileStringA("General", "ClientName", originalClient_.c_str(), "ovprog.ini");

        RunResult added = RunCommand(Quote((bin_ / "faxprint").string()) + " --add-printer 'Orvane Fax'");
        ASSERT_EQ(added.exitCode, 0) << added.output;
    }
    void TearDown() override {
        if (object_) object_->Release();
        unsetenv("ORVANE_PRINT_WAIT_MS");
    }

    void CreateObject() { ASSERT_EQ(CreateRemoteObject(std::string(ovfaxapi::kProgId), &object_), S_OK); }

    Variant Call(const std::string& name, std::vector<Variant> args = {}) {
        std::vector<DISPID> ids;
        EXPECT_EQ(object_->GetIDsOfNames({name}, &ids), S_OK) << name;
        Variant result;
        EXPECT_EQ(object_->Invoke(ids[0], DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, &result), S_OK) << name;
        return result;
    }
    bool Attach(const std::string& command) {
        return ToBool(Call("addattachment", {command})).value_or(false);
    }

    // What the component outside the system does after a fax print: start
    // the program named in "ClientName", without arguments.
    void StartFaxClient() {
        std::string client = Profile("ClientName");
        RunResult run = RunCommand(Quote(client));
        EXPECT_EQ(run.exitCode, 0) << client << "\n" << run.output;
    }

    std::vector<nlohmann::json> Sends() const {
        std::vector<nlohmann::json> calls;
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line)) {
            auto call = nlohmann::json::parse(line);
            if (call["call"] == "cgwSendMessageEx") calls.push_back(call);
        }
        return calls;
    }

    fs::path bin_;
    fs::path log_;
    std::string originalClient_;
    IDispatch* object_ = nullptr;
};

struct PrintWay {
    const char* name;
    // The shell command that prints the sample; %B is the binary directory,
    // %S the sample.
    const char* command;
};

std::string Expand(std::string text, const fs::path& bin) {
    for (auto [token, value] : {std::pair<std::string, std::string>{"%B", Quote(bin.string())},
                                {"%S", Quote(SAMPLE_OVK)}}) {
        for (auto at = text.find(token); at != std::string::npos; at = text.find(token)) {
            text.replace(at, token.size(), value);
        }
    }
    return text;
}

class PrintedAttachment : public PrintToFax, public ::testing::WithParamInterface<PrintWay> {};

TEST_P(PrintedAttachment, ArrivesConvertedAndIsSent) {
    CreateObject();
    ASSERT_TRUE(Attach("wait.print.setup"));
    EXPECT_EQ(Profile("ClientName"), (bin_ / "ovfaxapi").string());
    EXPECT_EQ(Profile("ClientNameBackup"), originalClient_);

    RunResult printed = RunCommand(Expand(GetParam().command, bin_));
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_TRUE(ov::spool::Jobs().empty()) << "the monitor removed the job from the queue";
    const std::string spooled = Profile("CommandLine");
    EXPECT_EQ(fs::path(spooled).parent_path(), ov::TempDirectory());
    EXPECT_EQ(fs::path(spooled).extension(), ".OVK");
    EXPECT_EQ(Handover("out.file."), spooled);
    EXPECT_EQ(Handover("conv.op."), "run.ovk");
    EXPECT_EQ(fs::file_size(spooled), fs::file_size(SAMPLE_OVK));

    StartFaxClient();
    ASSERT_TRUE(Attach("wait.print."));
    ASSERT_EQ(Call("getattachmentcount"), Variant{std::int32_t{1}});
    const std::string image = ToText(Call("getattachmentpath", {std::int32_t{0}})).value_or("");
    EXPECT_EQ(fs::path(image).extension(), ".fax");

    EXPECT_TRUE(Attach("wait.print.close"));
    EXPECT_EQ(Profile("ClientName"), originalClient_);
    EXPECT_FALSE(Attach("wait.print.close")) << "the second close finds no backup";
    EXPECT_EQ(Profile("ClientName"), originalClient_);

    ASSERT_EQ(Call("addrecipient", {std::string("Ann"), std::string("Lee"), std::string("Acme"),
                                    std::string(), std::string("555-0100")}),
              Variant{true});
    ASSERT_EQ(Call("sendfax"), Variant{true});
    auto sends = Sends();
    ASSERT_EQ(sends.size(), 1u);
    ASSERT_EQ(sends[0]["attachmentCount"], 1);
    const std::string sent = sends[0]["attachments"][0]["path"];
    EXPECT_EQ(sent, image);

    // The sent image holds the printed pages: the sample converted directly
    // decodes to the same bitmaps.
    // Converted from a private copy: the converter opens its source without
    // sharing, and other tests may be reading the shared sample right now.
    const fs::path reference = prefix_.path() / "reference.fax";
    const fs::path sample = prefix_.path() / "letter.ovk";
    fs::copy_file(SAMPLE_OVK, sample, fs::copy_options::overwrite_existing);
    ASSERT_EQ(tiffConvertOvk(sample.c_str(), reference.c_str()), 0);
    auto expected = DecodePages(reference.string());
    auto actual = DecodePages(sent);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(HasBlack(expected[0])) << "the sample page is not blank";
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected) << "the attached image decodes to the printed pages";

    object_->Release();
    object_ = nullptr;
    EXPECT_FALSE(fs::exists(image)) << "the converted image goes with the object";
}

INSTANTIATE_TEST_SUITE_P(
    Ways, PrintedAttachment,
    ::testing::Values(
        PrintWay{"faxprint_file", "%B/faxprint --printer 'Orvane Fax' %S"},
        PrintWay{"faxprint_stdin", "%B/faxprint --printer 'ORVANE FAX' --block-size 1000 - < %S"},
        // As CUPS runs a backend: queue name in PRINTER, the job on standard
        // input or in a file named last.
        PrintWay{"cups_backend_stdin",
                 "PRINTER='Orvane Fax' DEVICE_URI=kestrinfax:/ %B/kestrinfax 17 ann letter 1 '' < %S"},
        PrintWay{"cups_backend_file",
                 "PRINTER=Orvane_Fax DEVICE_URI=kestrinfax:/ %B/kestrinfax 18 ann letter 1 'media=a4' %S"}),
    [](const ::testing::TestParamInfo<PrintWay>& info) { return std::string(info.param.name); });

TEST_F(PrintToFax, AWaitWithoutAFaxPrintTimesOutAndALaterPrintStillArrives) {
    setenv("ORVANE_PRINT_WAIT_MS", "700", 1);
    CreateObject();
    ASSERT_TRUE(Attach("wait.print.setup"));

    // A printer on the fax port that is not the fax printer prints nothing.
    RunResult refused = RunCommand(Quote((bin_ / "faxprint").string()) + " --add-printer 'Office Laser'" +
                                   " && " + Quote((bin_ / "faxprint").string()) +
                                   " --printer 'Office Laser' " + Quote(SAMPLE_OVK));
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("refused"), std::string::npos) << refused.output;
    EXPECT_EQ(Profile("CommandLine"), "");
    EXPECT_TRUE(ov::spool::Jobs().empty());

    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Attach("wait.print."));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(650));
    EXPECT_LT(waited, std::chrono::seconds(20));
    EXPECT_EQ(Call("getattachmentcount"), Variant{std::int32_t{0}});

    // The object still waits: a print that comes late is attached.
    RunResult printed = RunCommand(Quote((bin_ / "faxprint").string()) + " --printer 'Orvane Fax' " + Quote(SAMPLE_OVK));
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    StartFaxClient();
    EXPECT_TRUE(Attach("wait.print."));
    EXPECT_EQ(Call("getattachmentcount"), Variant{std::int32_t{1}});
    EXPECT_TRUE(Attach("wait.print.close"));
}

TEST_F(PrintToFax, FaxprintCanStartTheFaxClientItself) {
    CreateObject();
    ASSERT_TRUE(Attach("wait.print.setup"));
    RunResult printed = RunCommand(Quote((bin_ / "faxprint").string()) + " --start-client --printer 'Orvane Fax' " +
                                   Quote(SAMPLE_OVK));
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_TRUE(Attach("wait.print."));
    EXPECT_EQ(Call("getattachmentcount"), Variant{std::int32_t{1}});
    EXPECT_TRUE(Attach("wait.print.close"));

    // With no fax client named the document is printed and the start fails.
    WritePrivateProfileStringA("General", "ClientName", "", "ovprog.ini");
    printed = RunCommand(Quote((bin_ / "faxprint").string()) + " --start-client --printer 'Orvane Fax' " +
                         Quote(SAMPLE_OVK));
    EXPECT_EQ(printed.exitCode, 1);
    EXPECT_NE(printed.output.find("printed, but no fax client"), std::string::npos) << printed.output;
}

TEST_F(PrintToFax, CloseRestoresOnlyAfterSetup) {
    CreateObject();
    EXPECT_FALSE(Attach("wait.print.close")) << "no setup, no backup";
    EXPECT_EQ(Profile("ClientName"), originalClient_);

    // Setup needs a fax client that exists.
    WritePrivateProfileStringA("General", "ClientName", (prefix_.path() / "missing").c_str(), "ovprog.ini");
    EXPECT_FALSE(Attach("wait.print.setup"));
    EXPECT_EQ(Profile("ClientNameBackup"), "");
    WritePrivateProfileStringA("General", "ClientName", originalClient_.c_str(), "ovprog.ini");

    ASSERT_TRUE(Attach("wait.print.setup"));
    EXPECT_TRUE(Attach("wait.print.close"));
    EXPECT_EQ(Profile("ClientName"), originalClient_);
    EXPECT_FALSE(Attach("wait.print.close"));
    EXPECT_EQ(Profile("ClientName"), originalClient_);
    EXPECT_EQ(Profile("ClientNameBackup"), "");
}

TEST_F(PrintToFax, TheProgramsExplainThemselvesAndRefuseBadArguments) {
    struct Case {
        std::string command;
        int exitCode;
        std::string output;
    };
    const std::string faxprint = Quote((bin_ / "faxprint").string());
    const std::string backend = Quote((bin_ / "kestrinfax").string());
    const std::vector<Case> cases = {
        {faxprint + " --help", 0, "faxprint --printer NAME"},
        {backend + " --help", 0, "CUPS backend"},
        {backend, 0, "direct kestrinfax:/ \"Orvane Fax\""},
        {faxprint, 2, "usage:"},
        {faxprint + " --printer 'Orvane Fax'", 2, "one FILE"},
        {faxprint + " --printer 'Orvane Fax' a b", 2, "one FILE"},
        {faxprint + " --printer 'Orvane Fax' ''", 2, "FILE name is empty"},
        {faxprint + " --printer 'Orvane Fax' --block-size 0 -", 2, "--block-size"},
        {faxprint + " --printer X --list", 2, "only one of"},
        {faxprint + " --frobnicate", 2, "unknown option"},
        {faxprint + " --printer Nobody " + Quote(SAMPLE_OVK), 1, "no printer named \"Nobody\""},
        {faxprint + " --printer 'Orvane Fax' /nonexistent/file", 1, "cannot read"},
        {faxprint + " --add-printer 'orvane fax'", 1, "exists already"},
        {backend + " 1 ann title", 1, "Usage: kestrinfax job-id user title copies options [file]"},
        {backend + " x ann title 1 ''", 1, "job id"},
        {backend + " 1 ann title 0 ''", 1, "copies"},
        {"env -u PRINTER " + backend + " 1 ann title 1 '' < /dev/null", 1, "no PRINTER"},
        {"PRINTER='Orvane Fax' DEVICE_URI=ipp://host/ " + backend + " 1 ann t 1 '' < /dev/null", 4, "device URI"},
        {"PRINTER='Orvane Fax' " + backend + " 1 ann t 1 '' /nonexistent/file", 1, "cannot read"},
    };
    for (const Case& c : cases) {
        RunResult run = RunCommand(c.command);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.command << "\n" << run.output;
        EXPECT_NE(run.output.find(c.output), std::string::npos) << c.command << "\n" << run.output;
    }
    EXPECT_TRUE(ov::spool::Jobs().empty());
    EXPECT_EQ(Profile("CommandLine"), "") << "nothing was printed";
}

// CUPS runs a backend that others may not read as root; the backend then
// works as the owner of the prefix, so the spooler, the spool files and the
// fax client stay that user's.
TEST_F(PrintToFax, TheBackendRunAsRootWorksAsThePrefixOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, as CUPS runs the backend";
    std::string pattern = (fs::temp_directory_path() / "orvane-owned-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path owned = pattern;
    const uid_t user = 65534;  // nobody
    ASSERT_EQ(::chown(owned.c_str(), user, user), 0);

    const std::string backend = Quote((bin_ / "kestrinfax").string());
    RunResult printed = RunCommand("ORVANE_PREFIX=" + Quote(owned.string()) +
                                   " PRINTER=Orvane_Fax DEVICE_URI=kestrinfax:/ " + backend +
                                   " 5 ann letter 1 '' < " + Quote(SAMPLE_OVK));
    EXPECT_EQ(printed.exitCode, 0) << printed.output;
    std::vector<fs::path> spooled;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(owned / "drive_c/windows/temp", ec)) spooled.push_back(entry.path());
    ASSERT_EQ(spooled.size(), 1u);
    struct stat st{};
    ASSERT_EQ(::lstat(spooled[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user) << "the spool file belongs to the prefix owner";
    ASSERT_EQ(::lstat((owned / "spool").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user);

    RunResult unset = RunCommand("env -u ORVANE_PREFIX PRINTER=Orvane_Fax " + backend + " 6 ann t 1 '' < /dev/null");
    EXPECT_EQ(unset.exitCode, 4) << unset.output;
    EXPECT_NE(unset.output.find("ORVANE_PREFIX"), std::string::npos) << unset.output;
    fs::remove_all(owned, ec);
}

}  // namespace
