// ovfax: send a fax from the shell through the automation object
// "Ovfaxapi.Application", or drive the object with a script.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "automation.h"
#include "ovcom/remote.h"
#include "ovplatform/platform.h"
#include "password.h"
#include "profile_text.h"
#include "script.h"

namespace {

using ov::com::Variant;

constexpr const char* kUsage =
    "usage: ovfax send --to \"GIVEN;SURNAME;COMPANY;FAX\" [--to ...] [--subject TEXT]\n"
    "                  [--body TEXT | --body-file FILE] [--attach FILE]... [--cover NAME]\n"
    "                  [--highres] [--schedule \"YYYY-MM-DD HH:MM\"] [--attach-printed]\n"
    "       ovfax script FILE|-\n"
    "       ovfax config [--gateway PATH] [--name NAME] [--password]\n"
    "\n"
    "Composes a fax through the automation object \"Ovfaxapi.Application\" (one\n"
    "ovfaxapi process per object) and sends it through the configured client\n"
    "gateway, by default the MAPI gateway, which submits it to the local mail\n"
    "store; the fax server collects it from the store's pickup directory.\n"
    "\n"
    "  send     compose and send one fax; exit 0 when it was sent, 1 when not\n"
    "           (the reason is shown as a message), 2 for bad arguments.\n"
    "           --schedule is UTC. A recipient needs a fax number.\n"
    "           --attach-printed waits (up to two minutes) for a document\n"
    "           printed to the fax printer and attaches it; the fax client\n"
    "           (\"ovprog.ini\" [General] \"ClientName\") must be configured.\n"
    "  script   one member call per line, each result printed:\n"
    "             subject = \"Quarterly report\"     set a property\n"
    "             addrecipient Ann Lee Acme \"\" 555-0100\n"
    "             sendfax                         call a method / read a property\n"
    "  config   write \"OVCLIENT.INI\" [Options]: the gateway library, the logon\n"
    "           name, and the logon password (read from standard input, stored\n"
    "           scrambled).\n"
    "\n"
    "Data live in the prefix: $ORVANE_PREFIX, default ~/.local/share/orvane.\n";

int Fail(const std::string& message, int code = 2) {
    std::fprintf(stderr, "ovfax: %s\n", message.c_str());
    return code;
}

// Out of the box the object's class is registered to the ovfaxapi beside this
// program and the MAPI gateway beside it is the client gateway.
void EnsureSetup() {
    auto directory = ov::ProgramDirectory();
    auto server = directory / "ovfaxapi";
    if (std::filesystem::exists(server)) {
        ov::com::RegisterLocalServer(ovfaxapi::kClassId, ovfaxapi::kProgId, server.string(),
                                     "Ovfaxapi Application");
    }
    if (ovfaxapi::ReadProfileText("Options", "ClientGateway", "OVCLIENT.INI", 260).empty()) {
        auto gateway = directory / "mapigate.cgw";
        if (std::filesystem::exists(gateway)) {
            WritePrivateProfileStringA("Options", "ClientGateway", gateway.c_str(), "OVCLIENT.INI");
        }
    }
}

std::string Describe(HRESULT hr) {
    switch (hr) {
        case ov::com::RPC_E_DISCONNECTED:
            return "the automation server ended unexpectedly";
        case ov::com::REGDB_E_CLASSNOTREG:
            return "\"Ovfaxapi.Application\" is not registered (is ovfaxapi installed?)";
        case ov::com::CO_E_SERVER_EXEC_FAILURE:
            return "the automation server could not be started";
        case ov::com::DISP_E_UNKNOWNNAME:
            return "no such member";
        case ov::com::DISP_E_TYPEMISMATCH:
            return "an argument has the wrong type";
        case ov::com::DISP_E_BADPARAMCOUNT:
            return "wrong number of arguments";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(hr));
            return text;
        }
    }
}

class Session {
public:
    HRESULT Open() {
        EnsureSetup();
        return ov::com::CreateRemoteObject(std::string(ovfaxapi::kProgId), &object_);
    }
    ~Session() {
        if (object_) object_->Release();
    }
    // Calls a member; on a transport failure reports it and returns nothing.
    std::optional<Variant> Call(const std::string& member, std::vector<Variant> args = {},
                                bool put = false) {
        Variant result;
        HRESULT hr = ovfax::CallMember(object_, member, put, args, &result);
        if (ov::com::Failed(hr)) {
            lastError_ = member + ": " + Describe(hr);
            return std::nullopt;
        }
        return result;
    }
    bool Set(const std::string& member, Variant value) {
        return Call(member, {std::move(value)}, true).has_value();
    }
    const std::string& lastError() const { return lastError_; }

private:
    ov::com::IDispatch* object_ = nullptr;
    std::string lastError_;
};

bool IsTrue(const std::optional<Variant>& v) {
    return v && ov::com::ToBool(*v).value_or(false);
}

std::vector<std::string> SplitRecipient(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        auto end = text.find(';', start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

struct Schedule {
    int year, month, day, hour, minutes;
};
std::optional<Schedule> ParseSchedule(const std::string& text) {
    Schedule s{};
    char tail = 0;
    if (text.size() != 16 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &s.year, &s.month, &s.day, &s.hour,
                    &s.minutes, &tail) != 5) {
        return std::nullopt;
    }
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(s.year);
    st.wMonth = static_cast<WORD>(s.month);
    st.wDay = static_cast<WORD>(s.day);
    st.wHour = static_cast<WORD>(s.hour);
    st.wMinute = static_cast<WORD>(s.minutes);
    FILETIME ft;
    if (s.month < 1 || s.month > 12 || s.hour > 23 || s.minutes > 59 ||
        !SystemTimeToFileTime(&st, &ft)) {
        return std::nullopt;
    }
    return s;
}

int Send(int argc, char** argv) {
    std::vector<std::vector<std::string>> recipients;
    std::vector<std::string> attachments;
    std::optional<std::string> subject, body, bodyFile, cover;
    std::optional<Schedule> schedule;
    bool highres = false;
    bool attachPrinted = false;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "--highres") {
            highres = true;
            continue;
        }
        if (arg == "--attach-printed") {
            attachPrinted = true;
            continue;
        }
        auto v = value();
        if (!v) return Fail("missing value after " + arg);
        if (arg == "--to") {
            auto parts = SplitRecipient(*v);
            if (parts.size() != 4) return Fail("--to takes \"GIVEN;SURNAME;COMPANY;FAX\": " + *v);
            if (ovfaxapi::TrimWhiteSpace(parts[3]).empty()) return Fail("recipient without fax number: " + *v);
            recipients.push_back(parts);
        } else if (arg == "--subject") {
            subject = v;
        } else if (arg == "--body") {
            body = v;
        } else if (arg == "--body-file") {
            bodyFile = v;
        } else if (arg == "--attach") {
            attachments.push_back(*v);
        } else if (arg == "--cover") {
            cover = v;
        } else if (arg == "--schedule") {
            schedule = ParseSchedule(*v);
            if (!schedule) return Fail("--schedule takes \"YYYY-MM-DD HH:MM\" (a real date): " + *v);
        } else {
            return Fail("unknown option " + arg + " (see ovfax --help)");
        }
    }
    if (recipients.empty()) return Fail("at least one --to is needed");
    if (body && bodyFile) return Fail("give --body or --body-file, not both");
    if (body && body->empty()) return Fail("--body is empty");
    for (const auto& file : attachments) {
        if (!std::filesystem::is_regular_file(file)) return Fail("attachment not found: " + file);
    }
    if (bodyFile && !std::filesystem::is_regular_file(*bodyFile)) {
        return Fail("body file not found: " + *bodyFile);
    }

    Session fax;
    if (HRESULT hr = fax.Open(); ov::com::Failed(hr)) return Fail(Describe(hr), 1);
    auto absolute = [](const std::string& path) { return std::filesystem::absolute(path).string(); };
    bool ok = true;
    if (subject) ok = ok && fax.Set("subject", *subject);
    if (cover) ok = ok && fax.Set("coverpage", *cover);
    if (highres) ok = ok && fax.Set("highres", true);
    if (schedule) {
        ok = ok && fax.Set("year", schedule->year) && fax.Set("month", schedule->month) &&
             fax.Set("day", schedule->day) && fax.Set("hour", schedule->hour) &&
             fax.Set("minutes", schedule->minutes) && fax.Set("schedule", true);
    }
    if (!ok) return Fail(fax.lastError(), 1);
    for (const auto& r : recipients) {
        // addrecipient: given name, surname, company, extra 1, fax number, ...
        auto added = fax.Call("addrecipient", {r[0], r[1], r[2], std::string(), r[3]});
        if (!added) return Fail(fax.lastError(), 1);
        if (!IsTrue(added)) return Fail("the recipient was refused: " + r[0] + ";" + r[1] + ";" + r[2] + ";" + r[3], 1);
    }
    if (body || bodyFile) {
        auto set = body ? fax.Call("setbodytext", {*body}) : fax.Call("setbodyfile", {absolute(*bodyFile)});
        if (!set) return Fail(fax.lastError(), 1);
        if (!IsTrue(set)) return Fail("the body was refused", 1);
    }
    for (const auto& file : attachments) {
        auto added = fax.Call("addattachment", {absolute(file)});
        if (!added) return Fail(fax.lastError(), 1);
        if (!IsTrue(added)) return Fail("the attachment was refused: " + file, 1);
    }
    if (attachPrinted) {
        auto setup = fax.Call("addattachment", {std::string("wait.print.setup")});
        if (!setup) return Fail(fax.lastError(), 1);
        if (!IsTrue(setup)) {
            return Fail("no fax client is configured (\"ovprog.ini\" [General] \"ClientName\"), "
                        "so a printed document cannot be awaited", 1);
        }
        std::fputs("ovfax: waiting for a document printed to the fax printer...\n", stderr);
        auto waited = fax.Call("addattachment", {std::string("wait.print.")});
        // Close restores the previous fax client, whatever the wait gave.
        auto closed = fax.Call("addattachment", {std::string("wait.print.close")});
        if (!waited || !closed) return Fail(fax.lastError(), 1);
        if (!IsTrue(waited)) return Fail("no printed document arrived in time", 1);
    }
    auto sent = fax.Call("sendfax");
    if (!sent) return Fail(fax.lastError(), 1);
    if (!IsTrue(sent)) return Fail("the fax was not sent", 1);
    std::printf("fax sent to %zu recipient(s)\n", recipients.size());
    return 0;
}

int Script(const std::string& source) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (source != "-") {
        file.open(source);
        if (!file) return Fail("cannot read " + source);
        in = &file;
    }
    Session fax;
    if (HRESULT hr = fax.Open(); ov::com::Failed(hr)) return Fail(Describe(hr), 1);
    std::string line;
    int lineNumber = 0;
    int failures = 0;
    while (std::getline(*in, line)) {
        ++lineNumber;
        if (line.size() > 65536) return Fail("line " + std::to_string(lineNumber) + " is too long");
        auto parsed = ovfax::ParseScriptLine(line);
        if (!parsed.error.empty()) {
            std::fprintf(stderr, "ovfax: line %d: %s\n", lineNumber, parsed.error.c_str());
            ++failures;
            continue;
        }
        if (!parsed.call) continue;
        auto result = fax.Call(parsed.call->member, parsed.call->args, parsed.call->put);
        if (!result) {
            std::fprintf(stderr, "ovfax: line %d: %s\n", lineNumber, fax.lastError().c_str());
            ++failures;
            if (fax.lastError().find("ended unexpectedly") != std::string::npos) return 1;
            continue;
        }
        if (!parsed.call->put) std::printf("%s\n", ovfax::FormatResult(*result).c_str());
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}

int Config(int argc, char** argv) {
    if (argc == 0) return Fail("config needs --gateway, --name or --password");
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--password") {
            std::string password;
            if (::isatty(STDIN_FILENO)) std::fputs("Password: ", stderr);
            std::getline(std::cin, password);
            if (!password.empty() && password.back() == '\r') password.pop_back();
            WritePrivateProfileStringA("Options", "Password",
                                       ovfaxapi::ScramblePassword(password).c_str(), "OVCLIENT.INI");
        } else if ((arg == "--gateway" || arg == "--name") && i + 1 < argc) {
            WritePrivateProfileStringA("Options", arg == "--gateway" ? "ClientGateway" : "Name",
                                       argv[++i], "OVCLIENT.INI");
        } else {
            return Fail("unknown or incomplete option " + arg);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    if (command == "send") return Send(argc - 2, argv + 2);
    if (command == "script") {
        if (argc != 3) return Fail("script takes one FILE or -");
        return Script(argv[2]);
    }
    if (command == "config") return Config(argc - 2, argv + 2);
    return Fail("unknown command " + command + " (see ovfax --help)");
}
