// faxprint: prints a file to a printer of our spooler the way the Windows
// spooler prints: the document is queued, then handed to the port monitor of
// the printer's port (OpenPort, StartDocPort, WritePort in blocks, EndDocPort,
// ClosePort). Also keeps the spooler's printers and monitors.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "options.h"
#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: faxprint --printer NAME [--title TEXT] [--block-size BYTES] [--start-client] FILE|-\n"
    "       faxprint --add-printer NAME [--port PORT]\n"
    "       faxprint --delete-printer NAME\n"
    "       faxprint --add-monitor NAME LIBRARY\n"
    "       faxprint --list [--json]\n"
    "\n"
    "Prints FILE (or standard input, -) to a printer of the Orvane spooler: the\n"
    "document is queued, then written to the printer's port through the port\n"
    "monitor that provides it, block by block, as the Windows spooler does. A\n"
    "printer on port KESTRINFAX: whose name begins with \"Orvane\" is the fax\n"
    "printer: its documents become spool files (.OVK in the temporary directory)\n"
    "that the fax client picks up.\n"
    "\n"
    "  --start-client        after a fax print, start the fax client named in\n"
    "                        \"ovprog.ini\" [General] \"ClientName\" (as the\n"
    "                        desktop's print watcher does)\n"
    "  --add-printer NAME    add a printer (port KESTRINFAX: unless --port)\n"
    "  --delete-printer NAME remove a printer and its queued jobs\n"
    "  --add-monitor NAME LIBRARY\n"
    "                        register a port monitor library; the monitor\n"
    "                        installed with this program is registered as\n"
    "                        \"Kestrin-Fax\" on first use\n"
    "  --list                the printers, monitors and queued jobs\n"
    "\n"
    "Data live in the prefix: $ORVANE_PREFIX, default ~/.local/share/orvane.\n"
    "Exit status: 0 printed or done, 1 failed, 2 bad arguments.\n";

int Fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "faxprint: %s\n", message.c_str());
    return code;
}

std::string UserName() {
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
    if (const char* user = std::getenv("USER")) return user;
    return "unknown";
}

// A minimal JSON string.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int List(bool json) {
    auto printers = ov::spool::Printers();
    auto monitors = ov::spool::Monitors();
    auto jobs = ov::spool::Jobs();
    if (json) {
        std::string out = "{\"printers\":[";
        for (std::size_t i = 0; i < printers.size(); ++i) {
            out += (i ? "," : "") + std::string("{\"name\":") + Json(printers[i].name) +
                   ",\"port\":" + Json(printers[i].port) + "}";
        }
        out += "],\"monitors\":[";
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            out += (i ? "," : "") + std::string("{\"name\":") + Json(monitors[i].name) +
                   ",\"library\":" + Json(monitors[i].library.string()) + "}";
        }
        out += "],\"jobs\":[";
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            out += (i ? "," : "") + std::string("{\"id\":") + std::to_string(jobs[i].id) +
                   ",\"printer\":" + Json(jobs[i].printer) + ",\"document\":" + Json(jobs[i].document) +
                   ",\"user\":" + Json(jobs[i].user) + "}";
        }
        std::printf("%s]}\n", out.c_str());
        return 0;
    }
    std::printf("printers:\n");
    for (const auto& p : printers) std::printf("  %s\t%s\n", p.name.c_str(), p.port.c_str());
    std::printf("monitors:\n");
    for (const auto& m : monitors) std::printf("  %s\t%s\n", m.name.c_str(), m.library.c_str());
    std::printf("jobs:\n");
    for (const auto& j : jobs) {
        std::printf("  %u\t%s\t%s\t%s\n", j.id, j.printer.c_str(), j.document.c_str(), j.user.c_str());
    }
    return 0;
}

int Print(const faxprint::Command& command) {
    std::ifstream file;
    std::istream* in = &std::cin;
    std::string title = command.title;
    if (command.file != "-") {
        file.open(command.file, std::ios::binary);
        if (!file) return Fail("cannot read " + command.file);
        in = &file;
        if (title.empty()) title = std::string(ov::BaseName(command.file));
    } else if (title.empty()) {
        title = "(standard input)";
    }
    auto outcome = ov::spool::PrintStream(command.printer, title, UserName(), *in, command.blockSize);
    switch (outcome.result) {
        case ov::spool::PrintResult::Done:
            std::printf("printed as job %u on \"%s\"\n", outcome.jobId, command.printer.c_str());
            if (command.startClient) {
                std::string error;
                if (!ov::spool::StartFaxClient(&error)) return Fail("printed, but " + error);
            }
            return 0;
        case ov::spool::PrintResult::NoPrinter:
            return Fail(outcome.message + " (add it with faxprint --add-printer)");
        default:
            return Fail(outcome.message);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = faxprint::ParseArguments(args);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        if (args.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return Fail(*error + " (see faxprint --help)", 2);
    }
    const auto& command = std::get<faxprint::Command>(parsed);
    std::string error;
    try {
        switch (command.action) {
            case faxprint::Command::Action::Help:
                std::fputs(kUsage, stdout);
                return 0;
            case faxprint::Command::Action::Print:
                return Print(command);
            case faxprint::Command::Action::AddPrinter:
                if (!ov::spool::AddPrinter(command.printer, command.port, &error)) return Fail(error);
                ov::spool::EnsureDefaultMonitor();
                return 0;
            case faxprint::Command::Action::DeletePrinter:
                return ov::spool::DeletePrinter(command.printer, &error) ? 0 : Fail(error);
            case faxprint::Command::Action::AddMonitor:
                if (!std::filesystem::is_regular_file(command.library)) {
                    return Fail("no library " + command.library);
                }
                if (!ov::spool::LoadedMonitor::Load(command.library, &error)) return Fail(error);
                return ov::spool::AddMonitor(command.monitor, command.library, &error) ? 0 : Fail(error);
            case faxprint::Command::Action::List:
                return List(command.json);
        }
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 1;
}
