// The profile database: schema, the default profile, and the records of
// stores, folders, messages, named properties and submissions.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "internal.h"
#include "ovmapi/provider.h"
#include "ovplatform/platform.h"

namespace ovmapi::detail {

// ----------------------------------------------------------- statements
Statement::Statement(sqlite3* db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}
Statement::~Statement() { sqlite3_finalize(stmt_); }
Statement& Statement::Bind(int index, std::int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
}
Statement& Statement::Bind(int index, std::string_view text) {
    if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}
Statement& Statement::BindBlob(int index, std::string_view bytes) {
    // An empty blob is still a blob, not NULL.
    if (stmt_) sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return *this;
}
Statement& Statement::BindNull(int index) {
    if (stmt_) sqlite3_bind_null(stmt_, index);
    return *this;
}
int Statement::Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
std::string Statement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : std::string();
}
std::string Statement::Blob(int column) const {
    const void* blob = sqlite3_column_blob(stmt_, column);
    return blob ? std::string(static_cast<const char*>(blob), sqlite3_column_bytes(stmt_, column)) : std::string();
}
bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

// -------------------------------------------------------------- database
Database::~Database() { sqlite3_close_v2(db_); }

namespace {

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value BLOB);
CREATE TABLE IF NOT EXISTS stores(
  id INTEGER PRIMARY KEY, display_name TEXT NOT NULL, is_default INTEGER NOT NULL DEFAULT 0,
  props BLOB NOT NULL DEFAULT x'00000000', named_limit INTEGER NOT NULL DEFAULT 32767);
CREATE TABLE IF NOT EXISTS folders(
  id INTEGER PRIMARY KEY, store_id INTEGER NOT NULL, parent_id INTEGER NOT NULL DEFAULT 0,
  name TEXT NOT NULL, role TEXT NOT NULL DEFAULT '', props BLOB NOT NULL DEFAULT x'00000000');
CREATE TABLE IF NOT EXISTS messages(
  id INTEGER PRIMARY KEY, store_id INTEGER NOT NULL, folder_id INTEGER NOT NULL,
  props BLOB NOT NULL, recipients BLOB NOT NULL, next_attach INTEGER NOT NULL DEFAULT 0,
  next_rowid INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS messages_by_folder ON messages(folder_id);
CREATE TABLE IF NOT EXISTS attachments(
  message_id INTEGER NOT NULL, attach_num INTEGER NOT NULL, props BLOB NOT NULL,
  PRIMARY KEY(message_id, attach_num));
CREATE TABLE IF NOT EXISTS named_props(
  store_id INTEGER NOT NULL, prop_id INTEGER NOT NULL, guid BLOB NOT NULL, kind INTEGER NOT NULL,
  lid INTEGER NOT NULL DEFAULT 0, name BLOB NOT NULL DEFAULT x'',
  PRIMARY KEY(store_id, prop_id), UNIQUE(store_id, guid, kind, lid, name));
CREATE TABLE IF NOT EXISTS ab_containers(
  id INTEGER PRIMARY KEY, parent_id INTEGER NOT NULL DEFAULT 0, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS ab_entries(
  id INTEGER PRIMARY KEY, container_id INTEGER NOT NULL, object_type INTEGER NOT NULL,
  uid TEXT NOT NULL DEFAULT '', props BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS ab_entries_by_container ON ab_entries(container_id);
CREATE TABLE IF NOT EXISTS ab_members(
  list_id INTEGER NOT NULL, position INTEGER NOT NULL, member_id INTEGER NOT NULL,
  PRIMARY KEY(list_id, position));
CREATE TABLE IF NOT EXISTS forms(message_class TEXT PRIMARY KEY COLLATE NOCASE, display_name TEXT NOT NULL);
)sql";

std::string RandomUid() {
    std::random_device device;
    std::string uid(16, '\0');
    for (char& byte : uid) byte = static_cast<char>(device() & 0xFF);
    return uid;
}

}  // namespace

HRESULT Database::Open(const std::string& path, std::unique_ptr<Database>& result, std::string& error) {
    // The file is created by us, for the owner only, without following a link.
    int fd = ov::CreateFileExclusive(path, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno != EEXIST) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return MAPI_E_DISK_ERROR;
    }
    auto db = std::make_unique<Database>();
    int rc = sqlite3_open_v2(path.c_str(), &db->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        error = "cannot open " + path + ": " + (db->db_ ? sqlite3_errmsg(db->db_) : sqlite3_errstr(rc));
        return MAPI_E_CORRUPT_STORE;
    }
    sqlite3_busy_timeout(db->db_, 30000);
    sqlite3_extended_result_codes(db->db_, 0);
    // WAL lets readers and one writer of other processes work side by side;
    // a transaction is durable against a killed process once committed.
    if (!db->Exec("PRAGMA journal_mode=WAL;") || !db->Exec("PRAGMA synchronous=NORMAL;")) {
        error = "cannot open " + path + ": " + db->LastError();
        return MAPI_E_CORRUPT_STORE;
    }
    result = std::move(db);
    return S_OK;
}

bool Database::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
std::string Database::LastError() const { return sqlite3_errmsg(db_); }
int Database::LastErrorCode() const { return sqlite3_errcode(db_); }
std::int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
HRESULT Database::ErrorResult() const {
    switch (sqlite3_errcode(db_) & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return MAPI_E_BUSY;
        case SQLITE_NOMEM: return MAPI_E_NOT_ENOUGH_MEMORY;
        case SQLITE_FULL: return MAPI_E_NOT_ENOUGH_DISK;
        case SQLITE_IOERR: return MAPI_E_DISK_ERROR;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return MAPI_E_CORRUPT_STORE;
        case SQLITE_READONLY:
        case SQLITE_PERM: return MAPI_E_NO_ACCESS;
        default: return MAPI_E_CALL_FAILED;
    }
}

Transaction::Transaction(Database& db) : db_(db) { begun_ = db_.Exec("BEGIN IMMEDIATE;"); }
Transaction::~Transaction() {
    if (begun_ && !done_) db_.Exec("ROLLBACK;");
}
HRESULT Transaction::Commit() {
    if (!begun_) return db_.ErrorResult();
    if (!db_.Exec("COMMIT;")) {
        HRESULT hr = db_.ErrorResult();
        return hr;
    }
    done_ = true;
    return S_OK;
}

// ------------------------------------------------------- default profile
namespace {

HRESULT CreateStoreFolders(Database& db, std::int64_t store) {
    struct Folder {
        const char* name;
        const char* role;
        const char* containerClass;
    };
    static const Folder kFolders[] = {
        {"Inbox", "inbox", "IPF.Note"},          {"Outbox", "outbox", "IPF.Note"},
        {"Sent Items", "sent", "IPF.Note"},      {"Deleted Items", "deleted", "IPF.Note"},
        {"Drafts", "drafts", "IPF.Note"},        {"Contacts", "contacts", "IPF.Contact"},
    };
    Statement root = db.Prepare("INSERT INTO folders(store_id, parent_id, name, role) VALUES(?, 0, '', 'root')");
    if (root.Bind(1, store).Step() != SQLITE_DONE) return db.ErrorResult();
    std::int64_t rootId = db.LastInsertId();
    Statement ipm = db.Prepare("INSERT INTO folders(store_id, parent_id, name, role) VALUES(?, ?, 'Top of Personal Folders', 'ipm')");
    if (ipm.Bind(1, store).Bind(2, rootId).Step() != SQLITE_DONE) return db.ErrorResult();
    std::int64_t ipmId = db.LastInsertId();
    for (const Folder& folder : kFolders) {
        PropMap props;
        Put(props, StringProp(PR_CONTAINER_CLASS_A, folder.containerClass));
        Statement insert = db.Prepare("INSERT INTO folders(store_id, parent_id, name, role, props) VALUES(?, ?, ?, ?, ?)");
        if (insert.Bind(1, store).Bind(2, ipmId).Bind(3, folder.name).Bind(4, folder.role).BindBlob(5, SerializeProps(props)).Step() !=
            SQLITE_DONE)
            return db.ErrorResult();
    }
    return S_OK;
}

}  // namespace

HRESULT CreateStoreRecord(Database& db, std::string_view name, bool makeDefault, std::int64_t& store) {
    if (makeDefault && !db.Exec("UPDATE stores SET is_default = 0;")) return db.ErrorResult();
    Statement insert = db.Prepare("INSERT INTO stores(display_name, is_default) VALUES(?, ?)");
    if (insert.Bind(1, name).Bind(2, makeDefault ? 1 : 0).Step() != SQLITE_DONE) return db.ErrorResult();
    store = db.LastInsertId();
    return CreateStoreFolders(db, store);
}

HRESULT EnsureProfileDatabase(Database& db) {
    // Quick look first: an existing profile needs no write lock.
    {
        Statement check = db.Prepare("SELECT value FROM meta WHERE key = 'version'");
        if (check.Ok() && check.Step() == SQLITE_ROW) return S_OK;
    }
    Transaction transaction(db);
    if (!transaction.Begun()) return db.ErrorResult();
    if (!db.Exec(kSchema)) return db.ErrorResult();
    Statement check = db.Prepare("SELECT value FROM meta WHERE key = 'version'");
    if (check.Step() == SQLITE_ROW) return S_OK;  // another process made it meanwhile
    for (const char* key : {"store_uid", "ab_uid"}) {
        Statement uid = db.Prepare("INSERT INTO meta(key, value) VALUES(?, ?)");
        if (uid.Bind(1, key).BindBlob(2, RandomUid()).Step() != SQLITE_DONE) return db.ErrorResult();
    }
    std::int64_t store = 0;
    if (HRESULT hr = CreateStoreRecord(db, "Personal Folders", true, store); FAILED(hr)) return hr;
    if (!db.Exec("INSERT INTO ab_containers(parent_id, name) VALUES(0, 'Contacts');")) return db.ErrorResult();
    if (!db.Exec("INSERT INTO meta(key, value) VALUES('submission', 0);")) return db.ErrorResult();
    if (!db.Exec("INSERT INTO meta(key, value) VALUES('version', 1);")) return db.ErrorResult();
    return transaction.Commit();
}

// --------------------------------------------------------------- profile
HRESULT Profile::Open(std::shared_ptr<Profile>& profile, std::string& error) {
    std::error_code ec;
    std::filesystem::path directory = ov::MapiDirectory();
    std::filesystem::create_directories(directory, ec);
    std::filesystem::create_directories(PickupDirectory(), ec);
    auto result = std::make_shared<Profile>();
    if (HRESULT hr = Database::Open(ProfileDatabasePath().string(), result->db_, error); FAILED(hr)) return hr;
    if (HRESULT hr = EnsureProfileDatabase(*result->db_); FAILED(hr)) {
        error = "cannot prepare the profile: " + result->db_->LastError();
        return hr;
    }
    for (auto [key, uid] : {std::pair{"store_uid", &result->storeUid_}, std::pair{"ab_uid", &result->abUid_}}) {
        Statement read = result->db_->Prepare("SELECT value FROM meta WHERE key = ?");
        read.Bind(1, key);
        if (read.Step() != SQLITE_ROW) {
            error = "the profile database is damaged (no provider identifier)";
            return MAPI_E_CORRUPT_STORE;
        }
        std::string bytes = read.Blob(0);
        if (bytes.size() != 16) {
            error = "the profile database is damaged (bad provider identifier)";
            return MAPI_E_CORRUPT_STORE;
        }
        std::memcpy(uid->ab, bytes.data(), 16);
    }
    profile = std::move(result);
    return S_OK;
}

HRESULT Profile::DefaultStore(std::uint32_t& store) {
    Statement query = db_->Prepare("SELECT id FROM stores WHERE is_default != 0 ORDER BY id LIMIT 1");
    int rc = query.Step();
    if (rc == SQLITE_ROW) {
        store = static_cast<std::uint32_t>(query.Int(0));
        return S_OK;
    }
    return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
}

HRESULT Profile::StoreRow(std::uint32_t store, std::string& name, bool& isDefault) {
    Statement query = db_->Prepare("SELECT display_name, is_default FROM stores WHERE id = ?");
    int rc = query.Bind(1, store).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
    name = query.Text(0);
    isDefault = query.Int(1) != 0;
    return S_OK;
}

HRESULT Profile::StoreIds(std::vector<std::uint32_t>& stores) {
    stores.clear();
    Statement query = db_->Prepare("SELECT id FROM stores ORDER BY id");
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) stores.push_back(static_cast<std::uint32_t>(query.Int(0)));
    return rc == SQLITE_DONE ? S_OK : db_->ErrorResult();
}

HRESULT Profile::FolderByRole(std::uint32_t store, std::string_view role, std::int64_t& folder) {
    Statement query = db_->Prepare("SELECT id FROM folders WHERE store_id = ? AND role = ? ORDER BY id LIMIT 1");
    int rc = query.Bind(1, store).Bind(2, role).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
    folder = query.Int(0);
    return S_OK;
}

namespace {
HRESULT ReadFolder(Database& db, Statement& query, FolderRecord& record) {
    record.id = query.Int(0);
    record.store = static_cast<std::uint32_t>(query.Int(1));
    record.parent = query.Int(2);
    record.name = query.Text(3);
    record.role = query.Text(4);
    if (!DeserializeProps(query.Blob(5), record.props)) return MAPI_E_CORRUPT_DATA;
    (void)db;
    return S_OK;
}
}  // namespace

HRESULT Profile::LoadFolder(std::int64_t folder, FolderRecord& record) {
    Statement query = db_->Prepare("SELECT id, store_id, parent_id, name, role, props FROM folders WHERE id = ?");
    int rc = query.Bind(1, folder).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
    return ReadFolder(*db_, query, record);
}

HRESULT Profile::ChildFolders(std::uint32_t store, std::int64_t parent, std::vector<FolderRecord>& folders) {
    folders.clear();
    Statement query = db_->Prepare(
        "SELECT id, store_id, parent_id, name, role, props FROM folders WHERE store_id = ? AND parent_id = ? ORDER BY id");
    query.Bind(1, store).Bind(2, parent);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        FolderRecord record;
        if (HRESULT hr = ReadFolder(*db_, query, record); FAILED(hr)) return hr;
        folders.push_back(std::move(record));
    }
    return rc == SQLITE_DONE ? S_OK : db_->ErrorResult();
}

HRESULT Profile::SaveFolderProps(std::int64_t folder, const PropMap& props) {
    Statement update = db_->Prepare("UPDATE folders SET props = ? WHERE id = ?");
    if (update.BindBlob(1, SerializeProps(props)).Bind(2, folder).Step() != SQLITE_DONE) return db_->ErrorResult();
    return sqlite3_changes(db_->Handle()) == 1 ? S_OK : MAPI_E_OBJECT_DELETED;
}

HRESULT Profile::CreateFolder(std::uint32_t store, std::int64_t parent, std::string_view name, bool openIfExists,
                              std::int64_t& folder) {
    Transaction transaction(*db_);
    if (!transaction.Begun()) return db_->ErrorResult();
    Statement existing = db_->Prepare("SELECT id FROM folders WHERE store_id = ? AND parent_id = ? AND name = ?");
    if (existing.Bind(1, store).Bind(2, parent).Bind(3, name).Step() == SQLITE_ROW) {
        if (!openIfExists) return MAPI_E_COLLISION;
        folder = existing.Int(0);
        return S_OK;
    }
    PropMap props;
    Put(props, StringProp(PR_CONTAINER_CLASS_A, "IPF.Note"));
    Statement insert = db_->Prepare("INSERT INTO folders(store_id, parent_id, name, props) VALUES(?, ?, ?, ?)");
    if (insert.Bind(1, store).Bind(2, parent).Bind(3, name).BindBlob(4, SerializeProps(props)).Step() != SQLITE_DONE)
        return db_->ErrorResult();
    folder = db_->LastInsertId();
    return transaction.Commit();
}

HRESULT Profile::LoadStoreProps(std::uint32_t store, PropMap& props) {
    Statement query = db_->Prepare("SELECT props FROM stores WHERE id = ?");
    int rc = query.Bind(1, store).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
    return DeserializeProps(query.Blob(0), props) ? S_OK : MAPI_E_CORRUPT_DATA;
}

HRESULT Profile::SaveStoreProps(std::uint32_t store, const PropMap& props) {
    Statement update = db_->Prepare("UPDATE stores SET props = ? WHERE id = ?");
    if (update.BindBlob(1, SerializeProps(props)).Bind(2, store).Step() != SQLITE_DONE) return db_->ErrorResult();
    return S_OK;
}

namespace {

HRESULT ReadMessageRow(Statement& query, MessageRecord& record) {
    record.id = query.Int(0);
    record.store = static_cast<std::uint32_t>(query.Int(1));
    record.folder = query.Int(2);
    if (!DeserializeProps(query.Blob(3), record.props)) return MAPI_E_CORRUPT_DATA;
    if (!DeserializePropList(query.Blob(4), record.recipients)) return MAPI_E_CORRUPT_DATA;
    record.nextAttachNum = static_cast<ULONG>(query.Int(5));
    record.nextRowId = static_cast<ULONG>(query.Int(6));
    return S_OK;
}

HRESULT LoadAttachments(Database& db, MessageRecord& record) {
    record.attachments.clear();
    Statement query = db.Prepare("SELECT attach_num, props FROM attachments WHERE message_id = ? ORDER BY attach_num");
    query.Bind(1, record.id);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        PropMap props;
        if (!DeserializeProps(query.Blob(1), props)) return MAPI_E_CORRUPT_DATA;
        record.attachments[static_cast<ULONG>(query.Int(0))] = std::move(props);
    }
    return rc == SQLITE_DONE ? S_OK : db.ErrorResult();
}

}  // namespace

HRESULT Profile::FolderMessages(std::int64_t folder, std::vector<MessageRecord>& messages, bool withAttachments) {
    messages.clear();
    Statement query = db_->Prepare(
        "SELECT id, store_id, folder_id, props, recipients, next_attach, next_rowid FROM messages WHERE folder_id = ? "
        "ORDER BY id");
    query.Bind(1, folder);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        MessageRecord record;
        if (HRESULT hr = ReadMessageRow(query, record); FAILED(hr)) return hr;
        if (withAttachments) {
            if (HRESULT hr = LoadAttachments(*db_, record); FAILED(hr)) return hr;
        }
        messages.push_back(std::move(record));
    }
    return rc == SQLITE_DONE ? S_OK : db_->ErrorResult();
}

HRESULT Profile::CountMessages(std::int64_t folder, ULONG& count) {
    Statement query = db_->Prepare("SELECT COUNT(*) FROM messages WHERE folder_id = ?");
    if (query.Bind(1, folder).Step() != SQLITE_ROW) return db_->ErrorResult();
    count = static_cast<ULONG>(query.Int(0));
    return S_OK;
}

HRESULT Profile::LoadMessage(std::int64_t id, MessageRecord& record) {
    Statement query = db_->Prepare(
        "SELECT id, store_id, folder_id, props, recipients, next_attach, next_rowid FROM messages WHERE id = ?");
    int rc = query.Bind(1, id).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
    if (HRESULT hr = ReadMessageRow(query, record); FAILED(hr)) return hr;
    return LoadAttachments(*db_, record);
}

HRESULT Profile::SaveMessage(MessageRecord& record) {
    Transaction transaction(*db_);
    if (!transaction.Begun()) return db_->ErrorResult();
    std::string props = SerializeProps(record.props);
    std::string recipients = SerializePropList(record.recipients);
    std::int64_t id = record.id;
    if (id == 0) {
        Statement insert = db_->Prepare(
            "INSERT INTO messages(store_id, folder_id, props, recipients, next_attach, next_rowid) VALUES(?, ?, ?, ?, ?, ?)");
        insert.Bind(1, record.store).Bind(2, record.folder).BindBlob(3, props).BindBlob(4, recipients);
        insert.Bind(5, record.nextAttachNum).Bind(6, record.nextRowId);
        if (insert.Step() != SQLITE_DONE) return db_->ErrorResult();
        id = db_->LastInsertId();
    } else {
        Statement update = db_->Prepare(
            "UPDATE messages SET props = ?, recipients = ?, next_attach = ?, next_rowid = ? WHERE id = ?");
        update.BindBlob(1, props).BindBlob(2, recipients).Bind(3, record.nextAttachNum).Bind(4, record.nextRowId);
        if (update.Bind(5, id).Step() != SQLITE_DONE) return db_->ErrorResult();
        if (sqlite3_changes(db_->Handle()) != 1) return MAPI_E_OBJECT_DELETED;
        Statement clear = db_->Prepare("DELETE FROM attachments WHERE message_id = ?");
        if (clear.Bind(1, id).Step() != SQLITE_DONE) return db_->ErrorResult();
    }
    for (const auto& [number, attachment] : record.attachments) {
        Statement insert = db_->Prepare("INSERT INTO attachments(message_id, attach_num, props) VALUES(?, ?, ?)");
        if (insert.Bind(1, id).Bind(2, number).BindBlob(3, SerializeProps(attachment)).Step() != SQLITE_DONE)
            return db_->ErrorResult();
    }
    if (HRESULT hr = transaction.Commit(); FAILED(hr)) return hr;
    record.id = id;
    return S_OK;
}

HRESULT Profile::DeleteMessage(std::int64_t id) {
    Transaction transaction(*db_);
    if (!transaction.Begun()) return db_->ErrorResult();
    Statement message = db_->Prepare("DELETE FROM messages WHERE id = ?");
    if (message.Bind(1, id).Step() != SQLITE_DONE) return db_->ErrorResult();
    if (sqlite3_changes(db_->Handle()) != 1) return MAPI_E_NOT_FOUND;
    Statement attachments = db_->Prepare("DELETE FROM attachments WHERE message_id = ?");
    if (attachments.Bind(1, id).Step() != SQLITE_DONE) return db_->ErrorResult();
    return transaction.Commit();
}

HRESULT Profile::MoveMessage(std::int64_t id, std::int64_t folder) {
    Statement update = db_->Prepare("UPDATE messages SET folder_id = ? WHERE id = ?");
    if (update.Bind(1, folder).Bind(2, id).Step() != SQLITE_DONE) return db_->ErrorResult();
    return sqlite3_changes(db_->Handle()) == 1 ? S_OK : MAPI_E_NOT_FOUND;
}

namespace {
std::string GuidBytes(const GUID& guid) { return std::string(reinterpret_cast<const char*>(&guid), sizeof(GUID)); }
}  // namespace

HRESULT Profile::MapNames(std::uint32_t store, const std::vector<NameRecord>& names, bool create,
                          std::vector<ULONG>& ids) {
    ids.assign(names.size(), 0);
    auto lookup = [&](const NameRecord& name, ULONG& id) -> int {
        Statement query = db_->Prepare(
            "SELECT prop_id FROM named_props WHERE store_id = ? AND guid = ? AND kind = ? AND lid = ? AND name = ?");
        query.Bind(1, store).BindBlob(2, GuidBytes(name.guid)).Bind(3, name.kind);
        query.Bind(4, name.kind == MNID_ID ? name.lid : 0).BindBlob(5, name.kind == MNID_STRING ? Utf16Bytes(name.name) : "");
        int rc = query.Step();
        if (rc == SQLITE_ROW) id = static_cast<ULONG>(query.Int(0));
        return rc;
    };
    bool anyMissing = false;
    for (std::size_t n = 0; n < names.size(); ++n) {
        int rc = lookup(names[n], ids[n]);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return db_->ErrorResult();
        anyMissing = anyMissing || rc == SQLITE_DONE;
    }
    if (!anyMissing || !create) return S_OK;
    // Creating ids takes the write lock, so two processes never hand out the
    // same id for different names.
    Transaction transaction(*db_);
    if (!transaction.Begun()) return db_->ErrorResult();
    Statement limitQuery = db_->Prepare("SELECT named_limit FROM stores WHERE id = ?");
    std::int64_t limit = limitQuery.Bind(1, store).Step() == SQLITE_ROW ? limitQuery.Int(0) : 0;
    for (std::size_t n = 0; n < names.size(); ++n) {
        if (ids[n] != 0) continue;
        int rc = lookup(names[n], ids[n]);
        if (rc == SQLITE_ROW) continue;
        if (rc != SQLITE_DONE) return db_->ErrorResult();
        Statement count = db_->Prepare("SELECT COUNT(*), COALESCE(MAX(prop_id), 32767) FROM named_props WHERE store_id = ?");
        if (count.Bind(1, store).Step() != SQLITE_ROW) return db_->ErrorResult();
        std::int64_t used = count.Int(0);
        std::int64_t next = count.Int(1) + 1;
        if (used >= limit || next > MAX_NAMED_PROP_ID) continue;  // refused: stays 0
        Statement insert = db_->Prepare(
            "INSERT INTO named_props(store_id, prop_id, guid, kind, lid, name) VALUES(?, ?, ?, ?, ?, ?)");
        insert.Bind(1, store).Bind(2, next).BindBlob(3, GuidBytes(names[n].guid)).Bind(4, names[n].kind);
        insert.Bind(5, names[n].kind == MNID_ID ? names[n].lid : 0);
        insert.BindBlob(6, names[n].kind == MNID_STRING ? Utf16Bytes(names[n].name) : "");
        if (insert.Step() != SQLITE_DONE) return db_->ErrorResult();
        ids[n] = static_cast<ULONG>(next);
    }
    return transaction.Commit();
}

HRESULT Profile::NameOfId(std::uint32_t store, ULONG id, NameRecord& name) {
    Statement query = db_->Prepare("SELECT guid, kind, lid, name FROM named_props WHERE store_id = ? AND prop_id = ?");
    int rc = query.Bind(1, store).Bind(2, id).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : db_->ErrorResult();
    std::string guid = query.Blob(0);
    if (guid.size() != sizeof(GUID)) return MAPI_E_CORRUPT_DATA;
    std::memcpy(&name.guid, guid.data(), sizeof(GUID));
    name.kind = static_cast<ULONG>(query.Int(1));
    name.lid = static_cast<LONG>(query.Int(2));
    name.name = Utf16FromBytes(query.Blob(3));
    return name.kind == MNID_ID || name.kind == MNID_STRING ? S_OK : MAPI_E_CORRUPT_DATA;
}

HRESULT Profile::AllNames(std::uint32_t store, std::vector<std::pair<ULONG, NameRecord>>& names) {
    names.clear();
    Statement query = db_->Prepare("SELECT prop_id FROM named_props WHERE store_id = ? ORDER BY prop_id");
    query.Bind(1, store);
    std::vector<ULONG> ids;
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) ids.push_back(static_cast<ULONG>(query.Int(0)));
    if (rc != SQLITE_DONE) return db_->ErrorResult();
    for (ULONG id : ids) {
        NameRecord name;
        if (HRESULT hr = NameOfId(store, id, name); FAILED(hr)) return hr;
        names.emplace_back(id, std::move(name));
    }
    return S_OK;
}

HRESULT Profile::NextSubmissionNumber(std::int64_t& number) {
    Transaction transaction(*db_);
    if (!transaction.Begun()) return db_->ErrorResult();
    if (!db_->Exec("UPDATE meta SET value = value + 1 WHERE key = 'submission';")) return db_->ErrorResult();
    Statement query = db_->Prepare("SELECT value FROM meta WHERE key = 'submission'");
    if (query.Step() != SQLITE_ROW) return MAPI_E_CORRUPT_STORE;
    number = query.Int(0);
    return transaction.Commit();
}

// --------------------------------------------------------- entry ids
std::vector<BYTE> MakeEntryId(const MAPIUID& uid, ULONG objectType, std::uint32_t store, std::int64_t object) {
    std::vector<BYTE> bytes(kEntryIdSize, 0);
    std::memcpy(bytes.data() + 4, uid.ab, 16);
    for (int i = 0; i < 4; ++i) bytes[20 + i] = static_cast<BYTE>((objectType >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; ++i) bytes[24 + i] = static_cast<BYTE>((store >> (8 * i)) & 0xFF);
    auto value = static_cast<std::uint64_t>(object);
    for (int i = 0; i < 8; ++i) bytes[28 + i] = static_cast<BYTE>((value >> (8 * i)) & 0xFF);
    return bytes;
}

bool ParseEntryId(const void* data, std::size_t size, EntryId& id) {
    if (data == nullptr || size != kEntryIdSize) return false;
    const auto* bytes = static_cast<const BYTE*>(data);
    if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0) return false;
    std::memcpy(id.uid.ab, bytes + 4, 16);
    id.objectType = 0;
    id.store = 0;
    std::uint64_t object = 0;
    for (int i = 0; i < 4; ++i) id.objectType |= static_cast<ULONG>(bytes[20 + i]) << (8 * i);
    for (int i = 0; i < 4; ++i) id.store |= static_cast<std::uint32_t>(bytes[24 + i]) << (8 * i);
    for (int i = 0; i < 8; ++i) object |= static_cast<std::uint64_t>(bytes[28 + i]) << (8 * i);
    id.object = static_cast<std::int64_t>(object);
    return id.objectType >= MAPI_STORE && id.objectType <= MAPI_FORMINFO;
}

bool SameUid(const MAPIUID& a, const MAPIUID& b) { return std::memcmp(a.ab, b.ab, 16) == 0; }

HRESULT AllocEntryId(const std::vector<BYTE>& bytes, ULONG* cb, LPENTRYID* entryId) {
    void* block = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(bytes.empty() ? 1 : bytes.size()), &block); FAILED(hr))
        return hr;
    if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
    *cb = static_cast<ULONG>(bytes.size());
    *entryId = static_cast<LPENTRYID>(block);
    return S_OK;
}

std::string AsString(const std::vector<BYTE>& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace ovmapi::detail
