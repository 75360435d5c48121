// The port monitor against our spooler: the function table, EnumPorts, the
// printer-name rule, spool files and the handover.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "call_journal.h"
#include "faxmon/faxmon.h"
#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"
#include "ovtest/temp_prefix.h"
#include "testing.h"

namespace {

namespace fs = std::filesystem;
using faxmontest::ClearJournal;
using faxmontest::Journal;

std::string ReadValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrin\\Kestrin Print Monitor", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return "(no key)";
    }
    char data[600] = {};
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(data) : "(none)";
}

void SetDocConversion(const std::u16string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kestrin\\Kestrin Print Monitor", 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, u"do.doc.conv.", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(key);
}

std::string CommandLine() {
    char value[600] = {};
    GetPrivateProfileStringA("General", "CommandLine", "", value, sizeof value, "ovprog.ini");
    return value;
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A tick that stands still for the first calls and then moves on.
int g_tickCalls = 0;
DWORD StuckTick() { return ++g_tickCalls < 4 ? 0x0001A2F4u : 0x0001A2F5u; }

class Monitor : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        faxmon::testing::ForgetPort();
        faxmon::testing::SetTickSource(nullptr);
        g_tickCalls = 0;
        ASSERT_TRUE(InitializeMonitorEx(nullptr, &m_));
        ASSERT_TRUE(ov::spool::AddPrinter("Orvane Fax", "KESTRINFAX:"));
        ASSERT_TRUE(m_.pfnOpenPort(port16_.data(), &port_));
        ClearJournal();
    }
    void TearDown() override { faxmon::testing::SetTickSource(nullptr); }

    DWORD QueueJob(const std::string& printer) {
        auto job = ov::spool::AddJob(printer, "letter", "ann");
        EXPECT_TRUE(job.has_value());
        if (!job) return 0;
        ::close(job->fd);
        return job->job.id;
    }

    // One whole document; returns the spool file's path ("" when refused).
    std::string Print(const std::string& printer, const std::string& data, DWORD* jobOut = nullptr) {
        DWORD job = QueueJob(printer);
        if (jobOut) *jobOut = job;
        std::u16string name = ov::Utf8ToUtf16(printer);
        if (!m_.pfnStartDocPort(port_, name.data(), job, 1, nullptr)) return "";
        DWORD written = 0;
        std::string bytes = data;
        EXPECT_TRUE(m_.pfnWritePort(port_, reinterpret_cast<LPBYTE>(bytes.data()),
                                    static_cast<DWORD>(bytes.size()), &written));
        EXPECT_EQ(written, bytes.size());
        EXPECT_TRUE(m_.pfnEndDocPort(port_));
        return ReadValue("out.file.");
    }

    MONITOR m_{};
    std::u16string port16_ = u"KESTRINFAX:";
    HANDLE port_ = nullptr;
};

TEST_F(Monitor, TableHasTheFourteenSlotsAndLoadResetsTheHandover) {
    MONITOREX* ex = InitializePrintMonitor(nullptr);
    ASSERT_NE(ex, nullptr);
    EXPECT_EQ(ex->dwMonitorSize, sizeof(MONITOR));
    static_assert(sizeof(MONITOR) == 14 * sizeof(void*), "fourteen function pointers");
    EXPECT_EQ(std::memcmp(&ex->Monitor, &m_, sizeof(MONITOR)), 0) << "InitializeMonitorEx copies the table";
    EXPECT_NE(m_.pfnEnumPorts, nullptr);
    EXPECT_EQ(m_.pfnOpenPortEx, nullptr);
    EXPECT_EQ(m_.pfnAddPortEx, nullptr);
    EXPECT_EQ(m_.pfnGetPrinterDataFromPort, nullptr);
    EXPECT_EQ(m_.pfnSetPortTimeOuts, nullptr);
    EXPECT_EQ(m_.pfnAddPort, m_.pfnConfigurePort) << "one function accepts both";
    EXPECT_FALSE(InitializeMonitorEx(nullptr, nullptr));

    SetDocConversion(u"true");
    ASSERT_TRUE(InitializeMonitorEx(nullptr, &m_));
    EXPECT_EQ(ReadValue("out.file."), "");
    EXPECT_EQ(ReadValue("conv.op."), "none");
    EXPECT_EQ(ReadValue("do.doc.conv."), "false");
    HANDLE again = nullptr;
    ASSERT_TRUE(m_.pfnOpenPort(nullptr, &again));
    EXPECT_EQ(again, port_) << "one port object per library";
}

TEST_F(Monitor, EnumPortsSizesAndLayout) {
    const DWORD level1 = sizeof(PORT_INFO_1W) + (11 + 1) * 2;  // 4 + 24 in a 32-bit build
    const DWORD level2 = sizeof(PORT_INFO_2W) + (11 + 1 + 11 + 1 + 16 + 1) * 2;  // 20 + 82
    struct Case {
        DWORD level, size, needed, error;
    };
    const Case cases[] = {
        {1, level1, level1, 0},
        {1, level1 - 1, level1, ERROR_INSUFFICIENT_BUFFER},
        {1, level1 + 3, level1, 0},
        {2, level2, level2, 0},
        {2, level2 - 1, level2, ERROR_INSUFFICIENT_BUFFER},
        {2, 0, level2, ERROR_INSUFFICIENT_BUFFER},
        {3, 4096, 0, ERROR_INVALID_LEVEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << " size " << c.size);
        std::vector<std::uint64_t> storage(512);
        auto* buffer = reinterpret_cast<LPBYTE>(storage.data());
        DWORD needed = 0, count = 77;
        SetLastError(0);
        BOOL ok = m_.pfnEnumPorts(nullptr, c.level, buffer, c.size, &needed, &count);
        EXPECT_EQ(ok, c.error == 0 ? TRUE : FALSE);
        if (c.error != 0) {
            EXPECT_EQ(GetLastError(), c.error);
            if (c.error == ERROR_INSUFFICIENT_BUFFER) {
                EXPECT_EQ(needed, c.needed);
            }
            continue;
        }
        EXPECT_EQ(needed, c.needed);
        EXPECT_EQ(count, 1u);
        const LPBYTE end = buffer + (c.size & ~1u);
        auto inside = [&](LPWSTR s) {
            auto* p = reinterpret_cast<LPBYTE>(s);
            return p >= buffer + (c.level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W)) && p < end;
        };
        if (c.level == 1) {
            PORT_INFO_1W info;
            std::memcpy(&info, buffer, sizeof info);
            ASSERT_TRUE(inside(info.pName));
            EXPECT_EQ(std::u16string(info.pName), u"KESTRINFAX:");
            EXPECT_EQ(reinterpret_cast<LPBYTE>(info.pName) + 24, end) << "packed against the end";
        } else {
            PORT_INFO_2W info;
            std::memcpy(&info, buffer, sizeof info);
            ASSERT_TRUE(inside(info.pPortName) && inside(info.pMonitorName) && inside(info.pDescription));
            EXPECT_EQ(std::u16string(info.pPortName), u"KESTRINFAX:");
            EXPECT_EQ(std::u16string(info.pMonitorName), u"Kestrin-Fax");
            EXPECT_EQ(std::u16string(info.pDescription), u"Kestrin-Fax Port");
            EXPECT_EQ(info.fPortType, PORT_TYPE_WRITE);
            EXPECT_EQ(info.Reserved, 0u);
            EXPECT_EQ(reinterpret_cast<LPBYTE>(info.pPortName) + 24, end);
            if (c.size == c.needed) {
                EXPECT_EQ(reinterpret_cast<LPBYTE>(info.pDescription), buffer + sizeof(PORT_INFO_2W))
                    << "nothing between the record and the strings";
            }
        }
    }
    // Without a buffer only the size is asked for.
    DWORD needed = 0;
    EXPECT_FALSE(m_.pfnEnumPorts(nullptr, 2, nullptr, 0, &needed, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(needed, level2);
}

TEST_F(Monitor, MissingArgumentsAreInvalidParameters) {
    BYTE buffer[256];
    DWORD n = 0;
    const std::vector<std::pair<const char*, std::function<BOOL()>>> calls = {
        {"EnumPorts without needed", [&] { return m_.pfnEnumPorts(nullptr, 1, nullptr, 0, nullptr, &n); }},
        {"EnumPorts buffer without count", [&] { return m_.pfnEnumPorts(nullptr, 1, buffer, sizeof buffer, &n, nullptr); }},
        {"OpenPort", [&] { return m_.pfnOpenPort(nullptr, nullptr); }},
        {"StartDocPort", [&] { return m_.pfnStartDocPort(nullptr, nullptr, 1, 1, nullptr); }},
        {"StartDocPort without printer", [&] { return m_.pfnStartDocPort(port_, nullptr, 1, 1, nullptr); }},
        {"WritePort handle", [&] { return m_.pfnWritePort(nullptr, buffer, 1, &n); }},
        {"WritePort buffer", [&] { return m_.pfnWritePort(port_, nullptr, 1, &n); }},
        {"WritePort written", [&] { return m_.pfnWritePort(port_, buffer, 1, nullptr); }},
        {"ReadPort", [&] { return m_.pfnReadPort(port_, buffer, 1, nullptr); }},
        {"EndDocPort", [&] { return m_.pfnEndDocPort(nullptr); }},
        {"ClosePort", [&] { return m_.pfnClosePort(nullptr); }},
        {"DeletePort", [&] { return m_.pfnDeletePort(nullptr, nullptr, nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        SetLastError(0);
        EXPECT_FALSE(call()) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << name;
    }
    // A handle that is not the port object is refused, not followed.
    int other = 0;
    EXPECT_FALSE(m_.pfnWritePort(&other, buffer, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(m_.pfnEndDocPort(&other));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // Writing with no document started.
    EXPECT_FALSE(m_.pfnWritePort(port_, buffer, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(m_.pfnClosePort(port_));
}

TEST_F(Monitor, ADocumentIsStoredRemovedFromTheQueueAndHandedOver) {
    DWORD job = QueueJob("Orvane Fax");
    std::u16string printer = u"Orvane Fax";
    ASSERT_TRUE(m_.pfnStartDocPort(port_, printer.data(), job, 1, nullptr));
    EXPECT_EQ(ReadValue("out.file."), "");
    EXPECT_EQ(ReadValue("conv.op."), "none");
    std::string data = "%OVK page data\n";
    for (int i = 0; i < 3; ++i) {
        DWORD written = 0;
        ASSERT_TRUE(m_.pfnWritePort(port_, reinterpret_cast<LPBYTE>(data.data()),
                                    static_cast<DWORD>(data.size()), &written));
        EXPECT_EQ(written, data.size());
    }
    BYTE back[8];
    DWORD read = 0;
    EXPECT_FALSE(m_.pfnReadPort(port_, back, sizeof back, &read)) << "the spool file is write-only";
    EXPECT_EQ(ov::spool::Jobs("Orvane Fax").size(), 1u) << "queued while printing";

    ClearJournal();
    ASSERT_TRUE(m_.pfnEndDocPort(port_));
    EXPECT_TRUE(ov::spool::Jobs().empty()) << "EndDocPort removed the job";

    const std::string path = ReadValue("out.file.");
    EXPECT_EQ(fs::path(path).parent_path(), ov::TempDirectory());
    const std::string name = fs::path(path).filename().string();
    EXPECT_EQ(name.size(), 12u) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF"), 8u) << name;
    EXPECT_EQ(name.substr(8), ".OVK") << name;
    EXPECT_EQ(Contents(path), data + data + data);
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(CommandLine(), path);
    EXPECT_EQ(ReadValue("conv.op."), "run.ovk");

    // The order a reader relies on: the path before "conv.op.".
    const std::vector<std::string> expected = {
        "ini ovprog.ini [General] CommandLine=" + path,
        "reg out.file.=" + path,
        "post OrvanePrinterDriverStart to all 0 0",
        "reg conv.op.=run.ovk",
    };
    EXPECT_EQ(Journal(), expected);

    // The port is idle again: a second end hands nothing over.
    ClearJournal();
    EXPECT_TRUE(m_.pfnEndDocPort(port_));
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(m_.pfnClosePort(port_));
}

int g_driverStarts = 0;
LRESULT CountDriverStart(HWND, UINT message, WPARAM, LPARAM) {
    if (message == RegisterWindowMessageA("OrvanePrinterDriverStart")) ++g_driverStarts;
    return 0;
}

TEST_F(Monitor, TheBroadcastReachesAListener) {
    HWND window = CreateMessageWindow("test", "listener", &CountDriverStart);
    ASSERT_NE(window, nullptr);
    g_driverStarts = 0;
    ASSERT_NE(Print("Orvane Fax", "x"), "");
    ov::LetMessagesRun(200);
    EXPECT_EQ(g_driverStarts, 1);
    DestroyWindow(window);
}

TEST_F(Monitor, DocumentConversionIsAskedForWithTrueInAnyCase) {
    struct Case {
        std::u16string value;
        bool conversion;
    };
    const Case cases[] = {
        {u"TRUE", true}, {u"true", true}, {u"tRuE", true},
        {u"yes", false}, {u"true ", false}, {u"truetrue", false}, {u"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ov::Utf16ToUtf8(c.value));
        SetDocConversion(c.value);
        ClearJournal();
        std::string path = Print("Orvane Fax", "page");
        ASSERT_NE(path, "");
        std::vector<std::string> expected = {"reg out.file.=", "reg conv.op.=none",
                                             "ini ovprog.ini [General] CommandLine=" + path,
                                             "reg out.file.=" + path};
        if (c.conversion) {
            expected.insert(expected.end(), {"reg do.doc.conv.=false", "reg conv.op.=doc.ovk"});
        } else {
            expected.insert(expected.end(), {"post OrvanePrinterDriverStart to all 0 0", "reg conv.op.=run.ovk"});
        }
        EXPECT_EQ(Journal(), expected);
        EXPECT_EQ(ReadValue("do.doc.conv."), c.conversion ? "false" : ov::Utf16ToUtf8(c.value));

        // The next document is an ordinary fax print again (unless the
        // value that was not understood is still there).
        if (c.conversion) {
            Print("Orvane Fax", "next");
            EXPECT_EQ(ReadValue("conv.op."), "run.ovk");
        }
    }
}

TEST_F(Monitor, OnlyPrintersNamedOrvaneArePrinted) {
    struct Case {
        std::string printer;
        bool printed;
    };
    const Case cases[] = {
        {"ORVANE Fax", true}, {"orvane", true}, {"OrvaneFax", true},
        {"Office Laser", false}, {"Orv", false}, {" Orvane Fax", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printer);
        if (!ov::spool::FindPrinter(c.printer)) {
            ASSERT_TRUE(ov::spool::AddPrinter(c.printer, "KESTRINFAX:"));
        }
        DWORD job = QueueJob(c.printer);
        std::u16string name = ov::Utf8ToUtf16(c.printer);
        SetLastError(12345);
        BOOL started = m_.pfnStartDocPort(port_, name.data(), job, 1, nullptr);
        EXPECT_EQ(started, c.printed ? TRUE : FALSE);
        if (!c.printed) {
            EXPECT_EQ(GetLastError(), 12345u) << "a refused printer gives no reason";
            ClearJournal();
            EXPECT_TRUE(m_.pfnEndDocPort(port_));
            EXPECT_TRUE(Journal().empty()) << "nothing to hand over";
            EXPECT_EQ(ov::spool::Jobs(c.printer).size(), 1u);
            ov::spool::RemoveJob(job);
            continue;
        }
        EXPECT_TRUE(m_.pfnEndDocPort(port_));
        EXPECT_TRUE(ov::spool::Jobs(c.printer).empty());
    }
    // A fax printer the spooler does not know cannot be opened.
    std::u16string ghost = u"Orvane Ghost";
    EXPECT_FALSE(m_.pfnStartDocPort(port_, ghost.data(), 99, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    auto files = std::distance(fs::directory_iterator(ov::TempDirectory()), fs::directory_iterator());
    EXPECT_EQ(files, 3) << "a spool file for each printed document, none for a refused one";
}

TEST_F(Monitor, TwoDocumentsInOneTickGetTwoFiles) {
    faxmon::testing::SetTickSource(&StuckTick);
    std::string first = Print("Orvane Fax", "one");
    std::string second = Print("Orvane Fax", "two");
    EXPECT_EQ(fs::path(first).filename(), "0001A2F4.OVK");
    EXPECT_EQ(fs::path(second).filename(), "0001A2F5.OVK") << "the second waited for the next tick";
    EXPECT_EQ(Contents(first), "one");
    EXPECT_EQ(Contents(second), "two");
}

TEST_F(Monitor, SpoolFilesNeverGoThroughSomethingPlacedAtTheName) {
    faxmon::testing::SetTickSource(&StuckTick);
    const fs::path temp = ov::TempDirectory();
    const fs::path victim = prefix_.path() / "victim.txt";
    std::ofstream(victim) << "precious";
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"link", [&] { fs::create_symlink(victim, temp / "0001A2F4.OVK"); }},
        {"dangling link", [&] { fs::create_symlink(prefix_.path() / "new.txt", temp / "0001A2F4.OVK"); }},
        {"same name in other letters", [&] { std::ofstream(temp / "0001a2f4.ovk") << "old"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : fs::directory_iterator(temp)) fs::remove(entry.path());
        g_tickCalls = 0;
        c.plant();
        std::string path = Print("Orvane Fax", "data");
        EXPECT_EQ(fs::path(path).filename(), "0001A2F5.OVK");
        EXPECT_EQ(Contents(path), "data");
        EXPECT_EQ(Contents(victim), "precious");
        EXPECT_FALSE(fs::exists(prefix_.path() / "new.txt"));
    }

    // A temporary directory others may write to is not used at all.
    fs::permissions(temp, fs::perms::all);
    DWORD job = QueueJob("Orvane Fax");
    std::u16string printer = u"Orvane Fax";
    EXPECT_FALSE(m_.pfnStartDocPort(port_, printer.data(), job, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    fs::permissions(temp, fs::perms::owner_all);
    ClearJournal();
    EXPECT_TRUE(m_.pfnEndDocPort(port_));
    EXPECT_TRUE(Journal().empty());
}

TEST_F(Monitor, PortManagement) {
    struct Case {
        std::u16string port;
        BOOL deleted;
    };
    const Case cases[] = {
        {u"KESTRINFAX:", TRUE}, {u"kestrinfax:", TRUE}, {u"KestrinFax:", TRUE},
        {u"LPT1:", FALSE}, {u"KESTRINFAX", FALSE}, {u"", FALSE},
    };
    for (Case c : cases) {
        EXPECT_EQ(m_.pfnDeletePort(nullptr, nullptr, c.port.data()), c.deleted) << ov::Utf16ToUtf8(c.port);
    }
    std::u16string name = u"Kestrin-Fax";
    EXPECT_TRUE(m_.pfnAddPort(nullptr, nullptr, name.data()));
    EXPECT_TRUE(m_.pfnConfigurePort(nullptr, nullptr, port16_.data()));
    // Nothing was deleted: the port is still there.
    DWORD needed = 0, count = 0;
    std::vector<std::uint64_t> buffer(16);
    EXPECT_TRUE(m_.pfnEnumPorts(nullptr, 1, reinterpret_cast<LPBYTE>(buffer.data()), 128, &needed, &count));
    EXPECT_EQ(count, 1u);
}

TEST_F(Monitor, WithoutThePortObjectNothingOpens) {
    faxmon::testing::ForgetPort();
    HANDLE handle = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(m_.pfnOpenPort(nullptr, &handle));
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(m_.pfnEndDocPort(port_)) << "the old handle is no longer the port";
}

}  // namespace
