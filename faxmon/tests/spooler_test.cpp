// Our spooler: printers and queues in the prefix, the printer calls, and
// despooling a job through the monitor library.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"
#include "ovtest/temp_prefix.h"

namespace {

namespace fs = std::filesystem;
using namespace ov::spool;

class Spooler : public ovtest::PrefixTest {};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST_F(Spooler, PrintersAreKeptPerNameWithoutRegardToCase) {
    std::string error;
    ASSERT_TRUE(AddPrinter("Orvane Fax", "KESTRINFAX:", &error)) << error;
    EXPECT_FALSE(AddPrinter("ORVANE FAX", "LPT1:", &error));
    EXPECT_NE(error.find("exists"), std::string::npos);
    EXPECT_FALSE(AddPrinter("", "KESTRINFAX:"));
    EXPECT_FALSE(AddPrinter("No Port", ""));
    auto found = FindPrinter("orvane fax");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, "Orvane Fax");
    EXPECT_EQ(found->port, "KESTRINFAX:");

    struct stat st{};
    ASSERT_EQ(::lstat(SpoolDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the queue is the user's alone";

    auto job = AddJob("orvane FAX", "letter", "ann");
    ASSERT_TRUE(job);
    ::close(job->fd);
    EXPECT_TRUE(DeletePrinter("Orvane Fax"));
    EXPECT_TRUE(Printers().empty());
    EXPECT_TRUE(Jobs().empty()) << "a deleted printer's jobs go with it";
    EXPECT_FALSE(fs::exists(job->job.data));
    EXPECT_FALSE(AddJob("Orvane Fax", "letter", "ann", &error));
}

TEST_F(Spooler, CancellingAJobRemovesItFromItsPrintersQueueOnly) {
    ASSERT_TRUE(AddPrinter("Orvane Fax", "KESTRINFAX:"));
    ASSERT_TRUE(AddPrinter("Office Laser", "LPT1:"));
    auto fax = AddJob("Orvane Fax", "a", "ann");
    auto laser = AddJob("Office Laser", "b", "ann");
    ASSERT_TRUE(fax && laser);
    ::close(fax->fd);
    ::close(laser->fd);
    EXPECT_NE(fax->job.id, laser->job.id);
    struct stat st{};
    ASSERT_EQ(::lstat(fax->job.data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    HANDLE printer = nullptr;
    EXPECT_FALSE(OpenPrinterW(u"Nobody", &printer, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    ASSERT_TRUE(OpenPrinterW(u"ORVANE FAX", &printer, nullptr));

    EXPECT_FALSE(SetJobW(printer, laser->job.id, 0, nullptr, JOB_CONTROL_CANCEL));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "not this printer's job";
    EXPECT_FALSE(SetJobW(printer, fax->job.id, 0, nullptr, JOB_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(Jobs().size(), 2u);

    EXPECT_TRUE(SetJobW(printer, fax->job.id, 0, nullptr, JOB_CONTROL_CANCEL));
    EXPECT_TRUE(Jobs("Orvane Fax").empty());
    EXPECT_FALSE(fs::exists(fax->job.data));
    EXPECT_EQ(Jobs("Office Laser").size(), 1u);
    EXPECT_FALSE(SetJobW(printer, fax->job.id, 0, nullptr, JOB_CONTROL_CANCEL)) << "gone already";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_FALSE(ClosePrinter(printer));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetJobW(printer, laser->job.id, 0, nullptr, JOB_CONTROL_CANCEL));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(Spooler, AJobDataFileIsNeverOpenedThroughALink) {
    ASSERT_TRUE(AddPrinter("Orvane Fax", "KESTRINFAX:"));
    // The next job's data file name is predictable; a link there is refused.
    auto first = AddJob("Orvane Fax", "a", "ann");
    ASSERT_TRUE(first);
    ::close(first->fd);
    fs::path predicted = SpoolDirectory() / "jobs" / (std::to_string(first->job.id + 1) + ".spl");
    fs::path victim = prefix_.path() / "victim";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, predicted);
    std::string error;
    EXPECT_FALSE(AddJob("Orvane Fax", "b", "ann", &error));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_EQ(Jobs().size(), 1u) << "the refused job is not left queued";
}

TEST_F(Spooler, PrintStreamDrivesTheMonitorLibrary) {
    ASSERT_TRUE(AddPrinter("Orvane Fax", "KESTRINFAX:"));
    ASSERT_TRUE(AddPrinter("Office Laser", "KESTRINFAX:"));
    ASSERT_TRUE(AddPrinter("Line Printer", "LPT1:"));
    std::string document(10000, '\0');
    for (std::size_t i = 0; i < document.size(); ++i) document[i] = static_cast<char>(i * 7);

    std::istringstream in(document);
    PrintOutcome done = PrintStream("orvane fax", "letter", "ann", in, 333);
    ASSERT_EQ(done.result, PrintResult::Done) << done.message;
    ASSERT_EQ(Monitors().size(), 1u) << "the monitor beside the program was registered";
    EXPECT_EQ(Monitors()[0].name, "Kestrin-Fax");
    EXPECT_TRUE(Jobs().empty());
    char path[300] = {};
    GetPrivateProfileStringA("General", "CommandLine", "", path, sizeof path, "ovprog.ini");
    EXPECT_EQ(ReadFile(path), document);

    std::istringstream again(document);
    PrintOutcome refused = PrintStream("Office Laser", "letter", "ann", again);
    EXPECT_EQ(refused.result, PrintResult::Refused);
    EXPECT_TRUE(Jobs().empty()) << "a refused job does not stay queued";

    std::istringstream third(document);
    EXPECT_EQ(PrintStream("Line Printer", "letter", "ann", third).result, PrintResult::NoMonitor);
    EXPECT_EQ(PrintStream("Nobody", "letter", "ann", third).result, PrintResult::NoPrinter);
}

}  // namespace
