// Our print spooler: printers with the port they print to, the monitors that
// provide ports, and the queue of jobs of each printer, kept in an SQLite
// database under <prefix>/spool (a directory only the user can enter). Several
// processes may use it at once. Printer names compare without regard to
// letter case, as the Windows spooler compares them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ovspooler/winspool.h"

namespace ov::spool {

struct Printer {
    std::string name;  // UTF-8
    std::string port;  // "KESTRINFAX:"
};

struct Job {
    DWORD id = 0;
    std::string printer;
    std::string document;
    std::string user;
    std::filesystem::path data;  // the queued bytes
};

struct Monitor {
    std::string name;              // "Kestrin-Fax"
    std::filesystem::path library; // the shared library the spooler loads
};

// <prefix>/spool, created 0700 on first use.
std::filesystem::path SpoolDirectory();

// Each returns false (and says why in *error when given) on failure.
bool AddPrinter(const std::string& name, const std::string& port, std::string* error = nullptr);
bool DeletePrinter(const std::string& name, std::string* error = nullptr);
std::vector<Printer> Printers();
std::optional<Printer> FindPrinter(const std::string& name);

bool AddMonitor(const std::string& name, const std::filesystem::path& library,
                std::string* error = nullptr);
std::vector<Monitor> Monitors();

// Queues a job for the printer: a new, empty data file created exclusively in
// the spool directory. The caller fills it through the returned descriptor.
struct NewJob {
    Job job;
    int fd = -1;  // owned by the caller
};
std::optional<NewJob> AddJob(const std::string& printer, const std::string& document,
                             const std::string& user, std::string* error = nullptr);
std::vector<Job> Jobs(const std::string& printer = {});  // empty: every printer's
std::optional<Job> FindJob(DWORD id);
// Removes the job and its data; false when no such job is queued.
bool RemoveJob(DWORD id);

// A loaded port monitor, initialised as the spooler initialises one: through
// InitializeMonitorEx when the library has it, else InitializePrintMonitor.
class LoadedMonitor {
public:
    static std::unique_ptr<LoadedMonitor> Load(const std::filesystem::path& library,
                                               std::string* error);
    LoadedMonitor() = default;  // unloaded; Load gives a working one
    ~LoadedMonitor();
    LoadedMonitor(const LoadedMonitor&) = delete;
    LoadedMonitor& operator=(const LoadedMonitor&) = delete;

    const MONITOR& table() const { return table_; }
    // The port names EnumPorts reports at level 1.
    std::vector<std::u16string> Ports() const;

private:
    HMODULE module_ = nullptr;
    MONITOR table_{};
};

// Prints one queued job the way the spooler despools it: finds the monitor of
// the printer's port, then OpenPort, StartDocPort, WritePort in blocks,
// EndDocPort and ClosePort. Afterwards the job is no longer queued, whether
// the monitor removed it or the spooler did after the last byte.
enum class PrintResult { Done, NoPrinter, NoMonitor, Refused, WriteFailed, Failed };
struct PrintOutcome {
    PrintResult result = PrintResult::Failed;
    DWORD jobId = 0;
    std::string message;  // why, when not Done
};
PrintOutcome PrintStream(const std::string& printer, const std::string& document,
                         const std::string& user, std::istream& data,
                         std::size_t blockSize = 4096);

// Starts the fax client named in "ovprog.ini" [General] "ClientName" without
// arguments, as the component that watches fax prints does; it finds the
// printed file in "CommandLine". False (with the reason) when none is named or
// it cannot be started.
bool StartFaxClient(std::string* error);

// The monitor library installed beside the running program (libfaxmon.so,
// or in ../lib), registered as monitor "Kestrin-Fax" when no monitor is registered yet.
void EnsureDefaultMonitor();

}  // namespace ov::spool
