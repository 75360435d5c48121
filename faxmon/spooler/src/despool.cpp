// Despooling: loading a port monitor and feeding it a queued job.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"

namespace ov::spool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultMonitorName = "Kestrin-Fax";
constexpr const char* kDefaultMonitorLibrary = "libfaxmon.so";

// The owner of a descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string LastErrorText(const char* call) {
    return std::string(call) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// The job leaves the queue, whoever removes it.
void Finish(DWORD jobId) {
    if (FindJob(jobId)) RemoveJob(jobId);
}

}  // namespace

std::unique_ptr<LoadedMonitor> LoadedMonitor::Load(const fs::path& library, std::string* error) {
    auto monitor = std::make_unique<LoadedMonitor>();
    monitor->module_ = LoadLibraryA(library.c_str());
    if (monitor->module_ == nullptr) {
        if (error) *error = "cannot load the port monitor " + library.string();
        return nullptr;
    }
    std::u16string root = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
    if (auto ex = reinterpret_cast<InitializeMonitorExProc>(GetProcAddress(monitor->module_, "InitializeMonitorEx"))) {
        if (ex(root.data(), &monitor->table_)) return monitor;
    } else if (auto init = reinterpret_cast<InitializePrintMonitorProc>(
                   GetProcAddress(monitor->module_, "InitializePrintMonitor"))) {
        if (MONITOREX* table = init(root.data())) {
            std::memcpy(&monitor->table_, &table->Monitor,
                        std::min<std::size_t>(table->dwMonitorSize, sizeof(MONITOR)));
            return monitor;
        }
    }
    if (error) *error = "the port monitor " + library.string() + " did not initialise";
    return nullptr;
}

LoadedMonitor::~LoadedMonitor() {
    if (module_ != nullptr) FreeLibrary(module_);
}

std::vector<std::u16string> LoadedMonitor::Ports() const {
    std::vector<std::u16string> ports;
    if (table_.pfnEnumPorts == nullptr) return ports;
    DWORD needed = 0, count = 0;
    table_.pfnEnumPorts(nullptr, 1, nullptr, 0, &needed, &count);
    if (needed == 0 || needed > (1u << 20)) return ports;
    std::vector<std::uint64_t> buffer((needed + 7) / 8);
    auto* bytes = reinterpret_cast<LPBYTE>(buffer.data());
    if (!table_.pfnEnumPorts(nullptr, 1, bytes, needed, &needed, &count)) return ports;
    for (DWORD i = 0; i < count && (i + 1) * sizeof(PORT_INFO_1W) <= needed; ++i) {
        PORT_INFO_1W info;
        std::memcpy(&info, bytes + i * sizeof(PORT_INFO_1W), sizeof info);
        if (info.pName != nullptr) ports.emplace_back(info.pName);
    }
    return ports;
}

bool StartFaxClient(std::string* error) {
    char value[MAX_PATH + 1] = {};
    GetPrivateProfileStringA("General", "ClientName", "", value, sizeof value, "ovprog.ini");
    std::string client = value;
    const char* blanks = " \t\r\n";
    client.erase(0, client.find_first_not_of(blanks));
    client.erase(client.find_last_not_of(blanks) + 1);
    if (client.empty()) {
        if (error) *error = "no fax client is named in \"ovprog.ini\" [General] \"ClientName\"";
        return false;
    }
    const std::string program = ov::MapPath(client);
    if (ov::StartProcess(program, {}) < 0) {
        if (error) *error = "cannot start the fax client " + client;
        return false;
    }
    return true;
}

void EnsureDefaultMonitor() {
    if (!Monitors().empty()) return;
    // Beside the program in a build, in ../lib when installed.
    for (const fs::path& dir : {ov::ProgramDirectory(), ov::ProgramDirectory().parent_path() / "lib"}) {
        std::error_code ec;
        if (fs::is_regular_file(dir / kDefaultMonitorLibrary, ec)) {
            AddMonitor(kDefaultMonitorName, dir / kDefaultMonitorLibrary);
            return;
        }
    }
}

PrintOutcome PrintStream(const std::string& printerName, const std::string& document,
                         const std::string& user, std::istream& data, std::size_t blockSize) {
    PrintOutcome outcome;
    auto printer = FindPrinter(printerName);
    if (!printer) {
        outcome.result = PrintResult::NoPrinter;
        outcome.message = "no printer named \"" + printerName + "\"";
        return outcome;
    }

    // The monitor that provides the printer's port.
    EnsureDefaultMonitor();
    std::unique_ptr<LoadedMonitor> monitor;
    std::u16string port;
    for (const Monitor& candidate : Monitors()) {
        std::string error;
        auto loaded = LoadedMonitor::Load(candidate.library, &error);
        if (!loaded) continue;
        for (const auto& name : loaded->Ports()) {
            if (ov::EqualsNoCase(ov::Utf16ToUtf8(name), printer->port)) {
                port = name;
                monitor = std::move(loaded);
                break;
            }
        }
        if (monitor) break;
    }
    if (!monitor) {
        outcome.result = PrintResult::NoMonitor;
        outcome.message = "no port monitor provides the port " + printer->port + " of \"" +
                          printer->name + "\"";
        return outcome;
    }

    // Spool: the whole document is queued before the port sees a byte.
    std::string error;
    auto job = AddJob(printer->name, document, user, &error);
    if (!job) {
        outcome.message = error;
        return outcome;
    }
    outcome.jobId = job->job.id;
    {
        Fd out(job->fd);
        std::vector<char> block(64 * 1024);
        bool ok = true;
        while (ok && data) {
            data.read(block.data(), static_cast<std::streamsize>(block.size()));
            ok = WriteAll(out.get(), block.data(), static_cast<std::size_t>(data.gcount()));
        }
        if (!ok || data.bad() || !out.Close()) {
            Finish(outcome.jobId);
            outcome.message = "cannot queue the document: " + std::string(std::strerror(errno));
            return outcome;
        }
    }

    // Despool through the port.
    Fd in(::open(job->job.data.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) {
        Finish(outcome.jobId);
        outcome.message = "cannot read the queued document " + job->job.data.string();
        return outcome;
    }
    const MONITOR& m = monitor->table();
    HANDLE handle = nullptr;
    if (!m.pfnOpenPort || !m.pfnOpenPort(port.data(), &handle)) {
        Finish(outcome.jobId);
        outcome.message = LastErrorText("OpenPort");
        return outcome;
    }
    std::u16string printer16 = ov::Utf8ToUtf16(printer->name);
    std::u16string document16 = ov::Utf8ToUtf16(document);
    DOC_INFO_1W info{document16.data(), nullptr, nullptr};
    SetLastError(ERROR_SUCCESS);
    if (!m.pfnStartDocPort(handle, printer16.data(), outcome.jobId, 1, reinterpret_cast<LPBYTE>(&info))) {
        DWORD reason = GetLastError();
        m.pfnClosePort(handle);
        Finish(outcome.jobId);
        outcome.result = PrintResult::Refused;
        outcome.message = "the port " + printer->port + " refused the document for \"" +
                          printer->name + "\"" +
                          (reason != ERROR_SUCCESS ? " (error " + std::to_string(reason) + ")" : "");
        return outcome;
    }
    bool written = true;
    std::vector<BYTE> block(blockSize == 0 ? 4096 : blockSize);
    for (;;) {
        ssize_t n = ::read(in.get(), block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) written = false;
        if (n <= 0) break;
        DWORD offset = 0;
        while (written && offset < static_cast<DWORD>(n)) {
            DWORD done = 0;
            if (!m.pfnWritePort(handle, block.data() + offset, static_cast<DWORD>(n) - offset, &done) ||
                done == 0) {
                written = false;
            }
            offset += done;
        }
        if (!written) break;
    }
    DWORD writeError = GetLastError();
    // Every started document is ended, as the monitor expects.
    BOOL ended = m.pfnEndDocPort(handle);
    m.pfnClosePort(handle);
    Finish(outcome.jobId);
    if (!written) {
        outcome.result = PrintResult::WriteFailed;
        outcome.message = "writing to the port failed (error " + std::to_string(writeError) + ")";
    } else if (!ended) {
        outcome.message = LastErrorText("EndDocPort");
    } else {
        outcome.result = PrintResult::Done;
    }
    return outcome;
}

}  // namespace ov::spool
