// kestrinfax: a CUPS backend that prints through the port "KESTRINFAX:" of our
// spooler, so that a CUPS queue whose device URI is "kestrinfax:/" and whose
// name begins with "Orvane" captures its documents as fax spool files.
//
// Run without arguments, it lists its device for discovery. Run as CUPS runs
// a backend (job-id user title copies options [file], with PRINTER and
// DEVICE_URI in the environment), it reads the job from the file or standard
// input, prints it and exits with the CUPS backend status.
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "backend_args.h"
#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"

namespace {

using namespace kestrinfax;

constexpr const char* kHelp =
    "usage: kestrinfax\n"
    "       kestrinfax job-id user title copies options [file]\n"
    "\n"
    "A CUPS backend for the Orvane fax printer port KESTRINFAX:. Without\n"
    "arguments it prints its device line for discovery. With the arguments\n"
    "CUPS gives a backend it reads the job from FILE or standard input and\n"
    "prints it to the printer named by $PRINTER on the port of $DEVICE_URI\n"
    "(kestrinfax:/), adding that printer to the Orvane spooler when it is not\n"
    "there yet. The printer's name must begin with \"Orvane\" (e.g. Orvane_Fax).\n"
    "\n"
    "With ORVANE_START_CLIENT=1 it starts the fax client named in \"ovprog.ini\"\n"
    "[General] \"ClientName\" after each print.\n"
    "\n"
    "The spooler and the fax client live in the prefix $ORVANE_PREFIX. Run by\n"
    "CUPS as root, the backend becomes the owner of that prefix first.\n"
    "\n"
    "Exit status: 0 printed, 1 failed, 4 the queue is not set up right (CUPS\n"
    "stops the queue).\n";

int Say(const char* level, const std::string& text, int status) {
    std::fprintf(stderr, "%s: %s\n", level, text.c_str());
    return status;
}

// CUPS runs a backend whose file is not readable by others as root. The
// spooler and the fax client belong to the owner of the prefix: work as that
// user.
bool BecomePrefixOwner(std::string* error) {
    if (::geteuid() != 0) return true;
    const char* prefix = std::getenv("ORVANE_PREFIX");
    if (prefix == nullptr || *prefix == '\0') {
        *error = "run as root, the backend needs ORVANE_PREFIX (SetEnv in cupsd.conf)";
        return false;
    }
    struct stat st{};
    if (::lstat(prefix, &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = std::string("ORVANE_PREFIX is not a directory: ") + prefix;
        return false;
    }
    if (st.st_uid == 0) return true;
    if (::setgroups(0, nullptr) != 0 || ::setgid(st.st_gid) != 0 || ::setuid(st.st_uid) != 0 ||
        ::geteuid() != st.st_uid) {
        *error = "cannot become the owner of " + std::string(prefix);
        return false;
    }
    return true;
}

int RunJob(const BackendJob& job) {
    std::string error;
    if (!BecomePrefixOwner(&error)) return Say("ERROR", error, kBackendStop);

    const char* printerVar = std::getenv("PRINTER");
    if (printerVar == nullptr || *printerVar == '\0') {
        return Say("ERROR", "no PRINTER in the environment (the backend is run by CUPS)", kBackendFailed);
    }
    const std::string printer = printerVar;
    const char* uri = std::getenv("DEVICE_URI");
    auto port = PortFromDeviceUri(uri != nullptr ? uri : "kestrinfax:/");
    if (!port) {
        return Say("ERROR", std::string("the device URI is not kestrinfax:/ : ") + uri, kBackendStop);
    }

    std::ifstream file;
    std::istream* in = &std::cin;
    if (job.file) {
        file.open(*job.file, std::ios::binary);
        if (!file) return Say("ERROR", "cannot read " + *job.file, kBackendFailed);
        in = &file;
    }

    if (!ov::spool::FindPrinter(printer) && !ov::spool::AddPrinter(printer, *port, &error)) {
        return Say("ERROR", error, kBackendStop);
    }
    std::fputs("STATE: +connecting-to-device\n", stderr);
    auto outcome = ov::spool::PrintStream(printer, job.title.empty() ? "job " + job.jobId : job.title,
                                          job.user, *in);
    std::fputs("STATE: -connecting-to-device\n", stderr);
    switch (outcome.result) {
        case ov::spool::PrintResult::Done:
            if (const char* start = std::getenv("ORVANE_START_CLIENT"); start && std::strcmp(start, "1") == 0 &&
                                                                        !ov::spool::StartFaxClient(&error)) {
                Say("WARNING", "printed, but " + error, kBackendOk);
            }
            return Say("INFO", "printed to " + *port + " as job " + std::to_string(outcome.jobId), kBackendOk);
        case ov::spool::PrintResult::Refused:
        case ov::spool::PrintResult::NoMonitor:
        case ov::spool::PrintResult::NoPrinter:
            return Say("ERROR", outcome.message, kBackendStop);
        default:
            return Say("ERROR", outcome.message, kBackendFailed);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kHelp, stdout);
        return kBackendOk;
    }
    auto parsed = ParseBackendArguments(args);
    if (auto* error = std::get_if<std::string>(&parsed)) {
        return Say("ERROR", *error, kBackendFailed);
    }
    const auto& job = std::get<BackendJob>(parsed);
    if (job.discovery) {
        std::puts("direct kestrinfax:/ \"Orvane Fax\" \"Orvane Fax (KESTRINFAX: port)\"");
        return kBackendOk;
    }
    try {
        return RunJob(job);
    } catch (const std::exception& e) {
        return Say("ERROR", e.what(), kBackendFailed);
    }
}
