// Drives the port monitor with what its callers control: the printer name the
// spooler passes, the "do.doc.conv." value someone else wrote, the blocks of
// a document, and the levels and buffer sizes of EnumPorts and the port
// names of DeletePort.
//
// Input: [name length][name][conversion length][conversion][level][size]
//        then blocks of [length][bytes] to the end.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "faxmon/faxmon.h"
#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"

namespace {

namespace fs = std::filesystem;

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::string Take(std::size_t n) {
        n = std::min(n, size);
        std::string out(reinterpret_cast<const char*>(data), n);
        data += n;
        size -= n;
        return out;
    }
    std::uint8_t Byte() { return size ? static_cast<std::uint8_t>(Take(1)[0]) : 0; }
};

struct Prefix {
    fs::path path;
    Prefix() {
        std::string pattern = (fs::temp_directory_path() / "faxmon-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
        setenv("ORVANE_PREFIX", path.c_str(), 1);
        ov::SetPrefixForTesting(path);
    }
    ~Prefix() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Prefix prefix;
    static MONITOR monitor{};
    static bool ready = InitializeMonitorEx(nullptr, &monitor) != FALSE;
    if (!ready) std::abort();

    Reader in{data, size};
    std::u16string printer = ov::Utf8ToUtf16(in.Take(in.Byte()));
    std::u16string conversion = ov::Utf8ToUtf16(in.Take(in.Byte()));
    DWORD level = in.Byte() % 4;
    DWORD bufferSize = in.Byte() * 2u;

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, faxmon::kHandoverKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, faxmon::kDocConversionValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(conversion.c_str()),
                       static_cast<DWORD>((conversion.size() + 1) * 2));
        RegCloseKey(key);
    }

    std::vector<std::uint64_t> ports(bufferSize / 8 + 1);
    DWORD needed = 0, count = 0;
    monitor.pfnEnumPorts(nullptr, level, reinterpret_cast<LPBYTE>(ports.data()), bufferSize, &needed, &count);
    const bool deleted = monitor.pfnDeletePort(nullptr, nullptr, printer.data()) != FALSE;
    if (deleted != ov::EqualsNoCase(ov::Utf16ToUtf8(printer), "KESTRINFAX:")) std::abort();

    const std::string name = ov::Utf16ToUtf8(printer);
    DWORD jobId = 0;
    if (!name.empty() && (ov::spool::FindPrinter(name) || ov::spool::AddPrinter(name, "KESTRINFAX:"))) {
        if (auto job = ov::spool::AddJob(name, "fuzz", "fuzz")) {
            ::close(job->fd);
            jobId = job->job.id;
        }
    }
    HANDLE port = nullptr;
    if (!monitor.pfnOpenPort(nullptr, &port)) std::abort();
    BOOL started = monitor.pfnStartDocPort(port, printer.data(), jobId, 1, nullptr);
    std::size_t total = 0;
    while (in.size > 0) {
        std::string block = in.Take(in.Byte());
        DWORD written = 0;
        BOOL ok = monitor.pfnWritePort(port, reinterpret_cast<LPBYTE>(block.data()),
                                       static_cast<DWORD>(block.size()), &written);
        if (started && (!ok || written != block.size())) std::abort();
        total += block.size();
    }
    BYTE back[16];
    DWORD read = 0;
    monitor.pfnReadPort(port, back, sizeof back, &read);
    if (!monitor.pfnEndDocPort(port)) std::abort();
    monitor.pfnClosePort(port);

    // A printed document must be whole; then clean up for the next run.
    if (started) {
        char path[600] = {};
        GetPrivateProfileStringA("General", "CommandLine", "", path, sizeof path, "ovprog.ini");
        std::error_code ec;
        if (fs::file_size(path, ec) != total) std::abort();
        fs::remove(path, ec);
        if (!ov::spool::Jobs().empty()) std::abort();
    }
    for (const auto& job : ov::spool::Jobs()) ov::spool::RemoveJob(job.id);
    return 0;
}
