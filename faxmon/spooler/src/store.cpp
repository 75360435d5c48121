// The spooler's store: printers, monitors and queued jobs in
// <prefix>/spool/spooler.db, job data in <prefix>/spool/jobs.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "ovplatform/platform.h"
#include "ovspooler/spooler.h"

namespace ov::spool {
namespace {

namespace fs = std::filesystem;

void Say(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// A directory of ours that only we can enter: created 0700, never a link.
bool EnsurePrivateDirectory(const fs::path& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return false;
    return true;
}

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS printers(name TEXT PRIMARY KEY COLLATE NOCASE, port TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS monitors(name TEXT PRIMARY KEY COLLATE NOCASE, library TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS jobs(id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " printer TEXT NOT NULL COLLATE NOCASE, document TEXT NOT NULL, user TEXT NOT NULL,"
    " data TEXT NOT NULL);";

Db Open(std::string* error = nullptr) {
    fs::path dir = SpoolDirectory();
    if (!EnsurePrivateDirectory(dir) || !EnsurePrivateDirectory(dir / "jobs")) {
        Say(error, "the spool directory " + dir.string() + " is not a private directory of this user");
        return nullptr;
    }
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2((dir / "spooler.db").c_str(), &raw,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    Db db(raw);
    if (rc != SQLITE_OK) {
        Say(error, std::string("cannot open the spooler database: ") +
                       (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
        return nullptr;
    }
    sqlite3_busy_timeout(db.get(), 10000);
    if (sqlite3_exec(db.get(), kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        Say(error, std::string("cannot prepare the spooler database: ") + sqlite3_errmsg(db.get()));
        return nullptr;
    }
    return db;
}

Stmt Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    return Stmt(raw);
}

void Bind(sqlite3_stmt* stmt, int index, const std::string& text) {
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string Column(sqlite3_stmt* stmt, int index) {
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return text ? reinterpret_cast<const char*>(text) : std::string();
}

// Runs one statement with text parameters; false on any failure.
bool Run(sqlite3* db, const char* sql, const std::vector<std::string>& params,
         std::string* error = nullptr) {
    Stmt stmt = Prepare(db, sql);
    if (!stmt) {
        Say(error, sqlite3_errmsg(db));
        return false;
    }
    for (std::size_t i = 0; i < params.size(); ++i) Bind(stmt.get(), static_cast<int>(i + 1), params[i]);
    int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        Say(error, sqlite3_errmsg(db));
        return false;
    }
    return true;
}

Job ReadJob(sqlite3_stmt* stmt) {
    Job job;
    job.id = static_cast<DWORD>(sqlite3_column_int64(stmt, 0));
    job.printer = Column(stmt, 1);
    job.document = Column(stmt, 2);
    job.user = Column(stmt, 3);
    job.data = Column(stmt, 4);
    return job;
}

}  // namespace

fs::path SpoolDirectory() { return ov::Prefix() / "spool"; }

bool AddPrinter(const std::string& name, const std::string& port, std::string* error) {
    if (name.empty() || name.size() > 511) {
        Say(error, "a printer name has 1 to 511 characters");
        return false;
    }
    if (port.empty()) {
        Say(error, "a printer needs a port");
        return false;
    }
    Db db = Open(error);
    if (!db) return false;
    if (FindPrinter(name)) {
        Say(error, "a printer named \"" + name + "\" exists already");
        return false;
    }
    return Run(db.get(), "INSERT INTO printers(name, port) VALUES(?, ?)", {name, port}, error);
}

bool DeletePrinter(const std::string& name, std::string* error) {
    Db db = Open(error);
    if (!db) return false;
    if (!FindPrinter(name)) {
        Say(error, "no printer named \"" + name + "\"");
        return false;
    }
    for (const Job& job : Jobs(name)) RemoveJob(job.id);
    return Run(db.get(), "DELETE FROM printers WHERE name = ?", {name}, error);
}

std::vector<Printer> Printers() {
    std::vector<Printer> printers;
    Db db = Open();
    if (!db) return printers;
    Stmt stmt = Prepare(db.get(), "SELECT name, port FROM printers ORDER BY name");
    while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
        printers.push_back({Column(stmt.get(), 0), Column(stmt.get(), 1)});
    }
    return printers;
}

std::optional<Printer> FindPrinter(const std::string& name) {
    Db db = Open();
    if (!db) return std::nullopt;
    Stmt stmt = Prepare(db.get(), "SELECT name, port FROM printers WHERE name = ?");
    if (!stmt) return std::nullopt;
    Bind(stmt.get(), 1, name);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return std::nullopt;
    return Printer{Column(stmt.get(), 0), Column(stmt.get(), 1)};
}

bool AddMonitor(const std::string& name, const fs::path& library, std::string* error) {
    Db db = Open(error);
    if (!db) return false;
    return Run(db.get(), "INSERT OR REPLACE INTO monitors(name, library) VALUES(?, ?)",
               {name, fs::absolute(library).string()}, error);
}

std::vector<Monitor> Monitors() {
    std::vector<Monitor> monitors;
    Db db = Open();
    if (!db) return monitors;
    Stmt stmt = Prepare(db.get(), "SELECT name, library FROM monitors ORDER BY name");
    while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
        monitors.push_back({Column(stmt.get(), 0), Column(stmt.get(), 1)});
    }
    return monitors;
}

std::optional<NewJob> AddJob(const std::string& printer, const std::string& document,
                             const std::string& user, std::string* error) {
    Db db = Open(error);
    if (!db) return std::nullopt;
    auto found = FindPrinter(printer);
    if (!found) {
        Say(error, "no printer named \"" + printer + "\"");
        return std::nullopt;
    }
    // The row first, for its id; the data file is named after it.
    if (!Run(db.get(), "INSERT INTO jobs(printer, document, user, data) VALUES(?, ?, ?, '')",
             {found->name, document, user}, error)) {
        return std::nullopt;
    }
    NewJob created;
    created.job.id = static_cast<DWORD>(sqlite3_last_insert_rowid(db.get()));
    created.job.printer = found->name;
    created.job.document = document;
    created.job.user = user;
    created.job.data = SpoolDirectory() / "jobs" / (std::to_string(created.job.id) + ".spl");
    created.fd = ov::CreateFileExclusive(created.job.data);
    if (created.fd < 0 ||
        !Run(db.get(), "UPDATE jobs SET data = ? WHERE id = ?",
             {created.job.data.string(), std::to_string(created.job.id)}, error)) {
        if (created.fd < 0) {
            Say(error, "cannot create " + created.job.data.string() + ": " + std::strerror(errno));
        } else {
            ::close(created.fd);
            ::unlink(created.job.data.c_str());
        }
        Run(db.get(), "DELETE FROM jobs WHERE id = ?", {std::to_string(created.job.id)});
        return std::nullopt;
    }
    return created;
}

std::vector<Job> Jobs(const std::string& printer) {
    std::vector<Job> jobs;
    Db db = Open();
    if (!db) return jobs;
    Stmt stmt = Prepare(db.get(), printer.empty()
                                      ? "SELECT id, printer, document, user, data FROM jobs ORDER BY id"
                                      : "SELECT id, printer, document, user, data FROM jobs "
                                        "WHERE printer = ? ORDER BY id");
    if (!stmt) return jobs;
    if (!printer.empty()) Bind(stmt.get(), 1, printer);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) jobs.push_back(ReadJob(stmt.get()));
    return jobs;
}

std::optional<Job> FindJob(DWORD id) {
    Db db = Open();
    if (!db) return std::nullopt;
    Stmt stmt = Prepare(db.get(), "SELECT id, printer, document, user, data FROM jobs WHERE id = ?");
    if (!stmt) return std::nullopt;
    sqlite3_bind_int64(stmt.get(), 1, id);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return std::nullopt;
    return ReadJob(stmt.get());
}

bool RemoveJob(DWORD id) {
    Db db = Open();
    if (!db) return false;
    auto job = FindJob(id);
    if (!job) return false;
    if (!Run(db.get(), "DELETE FROM jobs WHERE id = ?", {std::to_string(id)})) return false;
    if (sqlite3_changes(db.get()) == 0) return false;  // another process was first
    if (!job->data.empty()) ::unlink(job->data.c_str());
    return true;
}

}  // namespace ov::spool

// ------------------------------------------------------------ printer calls

namespace {

struct PrinterHandle {
    std::string name;
};

std::mutex& HandleLock() {
    static std::mutex lock;
    return lock;
}
std::map<HANDLE, std::unique_ptr<PrinterHandle>>& HandleTable() {
    static std::map<HANDLE, std::unique_ptr<PrinterHandle>> table;
    return table;
}

std::optional<std::string> PrinterOf(HANDLE handle) {
    std::lock_guard<std::mutex> guard(HandleLock());
    auto it = HandleTable().find(handle);
    if (it == HandleTable().end()) return std::nullopt;
    return it->second->name;
}

}  // namespace

extern "C" {

BOOL OpenPrinterW(const WCHAR* pPrinterName, HANDLE* phPrinter, PRINTER_DEFAULTSW*) {
    try {
        if (phPrinter == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *phPrinter = nullptr;
        if (pPrinterName == nullptr) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        auto printer = ov::spool::FindPrinter(ov::Utf16ToUtf8(pPrinterName));
        if (!printer) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        auto handle = std::make_unique<PrinterHandle>(PrinterHandle{printer->name});
        HANDLE value = handle.get();
        std::lock_guard<std::mutex> guard(HandleLock());
        HandleTable().emplace(value, std::move(handle));
        *phPrinter = value;
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
    try {
        auto printer = PrinterOf(hPrinter);
        if (!printer) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (Level != 0 || pJob != nullptr) {
            SetLastError(ERROR_INVALID_LEVEL);
            return FALSE;
        }
        if (Command != JOB_CONTROL_CANCEL && Command != JOB_CONTROL_DELETE) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        auto job = ov::spool::FindJob(JobId);
        if (!job || !ov::EqualsNoCase(job->printer, *printer) || !ov::spool::RemoveJob(JobId)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
}

BOOL ClosePrinter(HANDLE hPrinter) {
    std::lock_guard<std::mutex> guard(HandleLock());
    if (HandleTable().erase(hPrinter) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
