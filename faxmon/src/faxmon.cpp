// The port monitor of "KESTRINFAX:": one port object per loaded library, one
// document at a time, each stored in its own spool file and handed over when
// it ends.
#include "faxmon/faxmon.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "ovplatform/platform.h"
#include "testing.h"

namespace faxmon {
namespace {

constexpr std::size_t kMaxPrinterName = 511;
constexpr std::size_t kMaxPath = MAX_PATH;

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case ENOENT: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case ELOOP: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_FILE_EXISTS;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOSPC: return 112;  // ERROR_DISK_FULL
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_GEN_FAILURE;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

class SpoolFile {
public:
    SpoolFile() = default;
    explicit SpoolFile(int fd) : fd_(fd) {}
    ~SpoolFile() { Close(); }
    SpoolFile(SpoolFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    SpoolFile& operator=(SpoolFile&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct PrinterCloser {
    void operator()(void* printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

}  // namespace

// The port object handed out by OpenPort.
struct FaxPort {
    SpoolFile spoolFile;
    std::u16string spoolFilePath;
    std::u16string printerName;
    PrinterHandle printer;
    DWORD jobId = 0;
    bool documentConversion = false;
    std::mutex documentLock;  // one document at a time, whatever the caller does

    void BecomeIdle() {
        spoolFile.Close();
        spoolFilePath.clear();
        printerName.clear();
        printer.reset();
        jobId = 0;
        documentConversion = false;
    }
};

namespace {

std::mutex& MonitorLock() {
    static std::mutex lock;
    return lock;
}
std::unique_ptr<FaxPort> g_port;
DWORD (*g_tick)() = nullptr;

// The handle must be the port object itself.
FaxPort* PortOf(HANDLE handle) {
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(MonitorLock());
    return handle == g_port.get() ? g_port.get() : nullptr;
}

DWORD Tick() { return g_tick != nullptr ? g_tick() : GetTickCount(); }

// ------------------------------------------------------------ handover values

struct KeyCloser {
    void operator()(HKEY__* key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<HKEY__, KeyCloser>;

// A failed write is not reported: the handover is best effort.
void WriteValue(const char16_t* name, const std::u16string& value) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHandoverKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
        return;
    }
    Key key(raw);
    RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// "do.doc.conv." read into room for 15 bytes: "true" in any letter case asks
// for document conversion; a longer value does not fit and counts as unset.
bool DocumentConversionRequested() {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHandoverKey, 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return false;
    }
    Key key(raw);
    char16_t room[8] = {};
    DWORD size = 15;
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key.get(), kDocConversionValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(room), &size) != ERROR_SUCCESS) {
        return false;
    }
    std::u16string_view value(room, std::min<std::size_t>(size / 2, 7));
    value = value.substr(0, value.find(u'\0'));
    return EqualsNoCase(value, u"true");
}

// ----------------------------------------------------------------- spool file

// The temporary directory, which must be ours alone: a file created there
// cannot be replaced or redirected by anybody else.
bool DirectoryIsPrivate(const std::string& directory) {
    std::string path = directory;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 022) == 0;
}

bool NameTaken(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0) return true;
    // A file whose name differs only in letter case is the same file to the
    // rest of the system.
    auto sameName = ov::FindFileNoCase(path);
    return ::lstat(sameName.c_str(), &st) == 0;
}

// "%08X.OVK" of the tick count in the temporary directory, the tick waited
// for until the name is free; the file is created exclusively, never through
// a link placed at the name.
BOOL CreateSpoolFile(FaxPort& port) {
    WCHAR directory[kMaxPath + 1] = {};
    DWORD length = GetTempPathW(kMaxPath, directory);
    if (length == 0 || length > kMaxPath) {
        length = GetWindowsDirectoryW(directory, kMaxPath);
        if (length == 0 || length > kMaxPath) return Fail(ERROR_PATH_NOT_FOUND);
    }
    std::u16string base(directory, length);
    if (!base.empty() && base.back() != u'\\' && base.back() != u'/') {
        base += base.front() == u'/' ? u'/' : u'\\';
    }
    const std::string baseUtf8 = ov::MapPath(ov::Utf16ToUtf8(base));
    if (!DirectoryIsPrivate(baseUtf8)) return Fail(ERROR_ACCESS_DENIED);

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        char name[16];
        std::snprintf(name, sizeof name, "%08X.%s", static_cast<unsigned>(Tick()), "OVK");
        std::u16string path = base + ov::Utf8ToUtf16(name);
        if (path.size() > kMaxPath) return Fail(206);  // ERROR_FILENAME_EXCED_RANGE
        std::string posixPath = ov::MapPath(ov::Utf16ToUtf8(path));
        if (!NameTaken(posixPath)) {
            int fd = ::open(posixPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) {
                port.spoolFile = SpoolFile(fd);
                port.spoolFilePath = path;
                return TRUE;
            }
            if (errno != EEXIST) return Fail(ErrorFromErrno(errno));
        }
        if (std::chrono::steady_clock::now() > giveUp) return Fail(ERROR_FILE_EXISTS);
    }
}

// -------------------------------------------------------- monitor functions

BOOL FaxEnumPorts(LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                      LPDWORD returned) {
    if (ports != nullptr ? (needed == nullptr || returned == nullptr) : needed == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (level != 1 && level != 2) return Fail(ERROR_INVALID_LEVEL);
    std::lock_guard<std::mutex> guard(MonitorLock());
    const std::u16string_view strings[] = {kPortName, kMonitorName, kPortDescription};
    const std::size_t count = level == 1 ? 1 : 3;
    DWORD bytes = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    for (std::size_t i = 0; i < count; ++i) {
        bytes += static_cast<DWORD>((strings[i].size() + 1) * sizeof(char16_t));
    }
    *needed = bytes;
    if (returned != nullptr) *returned = 0;
    if (ports == nullptr || size < bytes) return Fail(ERROR_INSUFFICIENT_BUFFER);

    // The strings go to the end of the buffer, the first string last.
    LPWSTR pointers[3] = {};
    std::size_t end = size & ~DWORD{1};
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t length = (strings[i].size() + 1) * sizeof(char16_t);
        end -= length;
        std::memcpy(ports + end, strings[i].data(), length - sizeof(char16_t));
        std::memset(ports + end + length - sizeof(char16_t), 0, sizeof(char16_t));
        pointers[i] = reinterpret_cast<LPWSTR>(ports + end);
    }
    if (level == 1) {
        PORT_INFO_1W info{pointers[0]};
        std::memcpy(ports, &info, sizeof info);
    } else {
        PORT_INFO_2W info{pointers[0], pointers[1], pointers[2], PORT_TYPE_WRITE, 0};
        std::memcpy(ports, &info, sizeof info);
    }
    *returned = 1;
    return TRUE;
}

BOOL FaxOpenPort(LPWSTR, PHANDLE handle) {
    if (handle == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard<std::mutex> guard(MonitorLock());
    *handle = g_port.get();
    // Without a port object there is nothing to print to.
    if (*handle == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    return TRUE;
}

BOOL FaxStartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD, LPBYTE) {
    FaxPort* port = PortOf(handle);
    if (port == nullptr) return Fail(handle == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> document(port->documentLock);
    // A document that was never ended gives way to the new one.
    port->BecomeIdle();

    WriteValue(kOutFileValue, u"");
    WriteValue(kConversionValue, u"none");
    port->documentConversion = DocumentConversionRequested();

    if (printerName == nullptr) {
        port->BecomeIdle();
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::u16string_view name(printerName);
    port->printerName = std::u16string(name.substr(0, kMaxPrinterName));
    constexpr std::u16string_view kBrand = u"Orvane";
    if (port->printerName.size() < kBrand.size() ||
        !EqualsNoCase(std::u16string_view(port->printerName).substr(0, kBrand.size()), kBrand)) {
        port->BecomeIdle();
        return FALSE;  // not a fax printer; no reason to give
    }

    HANDLE printer = nullptr;
    if (!OpenPrinterW(port->printerName.c_str(), &printer, nullptr)) {
        DWORD error = GetLastError();
        port->BecomeIdle();
        return Fail(error);
    }
    port->printer.reset(printer);
    port->jobId = jobId;
    if (!CreateSpoolFile(*port)) {
        // Nothing stays open for a document that cannot be stored.
        DWORD error = GetLastError();
        port->BecomeIdle();
        return Fail(error);
    }
    return TRUE;
}

BOOL FaxWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
    if (handle == nullptr || buffer == nullptr || written == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    FaxPort* port = PortOf(handle);
    if (port == nullptr) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> document(port->documentLock);
    if (!port->spoolFile.valid()) return Fail(ERROR_INVALID_HANDLE);
    // One synchronous write: all of the buffer, or a failure.
    DWORD done = 0;
    while (done < size) {
        ssize_t n = ::write(port->spoolFile.fd(), buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *written = done;
            return Fail(ErrorFromErrno(errno));
        }
        if (n == 0) {
            *written = done;
            return Fail(112);  // ERROR_DISK_FULL
        }
        done += static_cast<DWORD>(n);
    }
    *written = done;
    return TRUE;
}

BOOL FaxReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
    if (handle == nullptr || buffer == nullptr || read == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    FaxPort* port = PortOf(handle);
    if (port == nullptr) return Fail(ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> document(port->documentLock);
    if (!port->spoolFile.valid()) return Fail(ERROR_INVALID_HANDLE);
    ssize_t n;
    do {
        n = ::read(port->spoolFile.fd(), buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        // The spool file is open for writing only.
        return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
    }
    *read = static_cast<DWORD>(n);
    return TRUE;
}

BOOL FaxEndDocPort(HANDLE handle) {
    FaxPort* port = PortOf(handle);
    if (port == nullptr) return Fail(handle == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    std::lock_guard<std::mutex> document(port->documentLock);
    // A document that never started (or was refused) has nothing to hand over.
    if (!port->spoolFile.valid()) {
        port->BecomeIdle();
        return TRUE;
    }
    port->spoolFile.Close();
    SetJobW(port->printer.get(), port->jobId, 0, nullptr, JOB_CONTROL_CANCEL);
    port->printer.reset();

    // In this order: whoever sees the new "conv.op." finds the path written.
    const std::u16string path = port->spoolFilePath.substr(0, kMaxPath);
    WritePrivateProfileStringW(u"General", u"CommandLine", path.c_str(), u"ovprog.ini");
    WriteValue(kOutFileValue, path);
    if (port->documentConversion) {
        WriteValue(kDocConversionValue, u"false");
        WriteValue(kConversionValue, u"doc.ovk");
    } else {
        PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(kPrintMessage), 0, 0);
        WriteValue(kConversionValue, u"run.ovk");
    }
    port->BecomeIdle();
    return TRUE;
}

BOOL FaxClosePort(HANDLE handle) {
    if (handle == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    // The port object lives as long as the library: nothing to release.
    return PortOf(handle) != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

// AddPort and ConfigurePort: the one port needs no setting up.
BOOL AcceptPort(LPWSTR, HWND, LPWSTR) { return TRUE; }

BOOL FaxDeletePort(LPWSTR, HWND, LPWSTR portName) {
    if (portName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    return EqualsNoCase(portName, kPortName) ? TRUE : FALSE;
}

// No exception leaves a monitor function: it becomes FALSE.
template <auto Function, typename... Args>
BOOL Guarded(Args... args) {
    try {
        return Function(args...);
    } catch (...) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
}

MONITOREX g_monitor = {
    sizeof(MONITOR),
    {
        &Guarded<FaxEnumPorts, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD>,
        &Guarded<FaxOpenPort, LPWSTR, PHANDLE>,
        nullptr,
        &Guarded<FaxStartDocPort, HANDLE, LPWSTR, DWORD, DWORD, LPBYTE>,
        &Guarded<FaxWritePort, HANDLE, LPBYTE, DWORD, LPDWORD>,
        &Guarded<FaxReadPort, HANDLE, LPBYTE, DWORD, LPDWORD>,
        &Guarded<FaxEndDocPort, HANDLE>,
        &Guarded<FaxClosePort, HANDLE>,
        &AcceptPort,
        nullptr,
        &AcceptPort,
        &FaxDeletePort,
        nullptr,
        nullptr,
    },
};

}  // namespace

namespace testing {
void SetTickSource(DWORD (*tick)()) { g_tick = tick; }
void ForgetPort() {
    std::lock_guard<std::mutex> guard(MonitorLock());
    g_port.reset();
}
}  // namespace testing

}  // namespace faxmon

namespace faxmon {
namespace {
// Both entry points come here, so the library always uses its own.
MONITOREX* Initialize() {
    try {
        {
            std::lock_guard<std::mutex> guard(MonitorLock());
            if (!g_port) g_port = std::make_unique<FaxPort>();
        }
        WriteValue(kOutFileValue, u"");
        WriteValue(kConversionValue, u"none");
        WriteValue(kDocConversionValue, u"false");
        return &g_monitor;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}
}  // namespace
}  // namespace faxmon

extern "C" {

MONITOREX* InitializePrintMonitor(LPWSTR) { return faxmon::Initialize(); }

BOOL InitializeMonitorEx(LPWSTR, MONITOR* pMonitor) {
    if (pMonitor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MONITOREX* table = faxmon::Initialize();
    if (table == nullptr) return FALSE;
    std::memcpy(pMonitor, &table->Monitor, sizeof(MONITOR));
    return TRUE;
}

}  // extern "C"
