// What the provider's parts share: property bags, entry identifiers, the
// database, the profile of a session and the factories of the objects.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovmapi/faults.h"
#include "ovmapi/mapiform.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/mapix.h"

namespace ovmapi::detail {

// Runs a method body; no exception leaves an interface method.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

// A failing fault code ends the call; a warning replaces the call's S_OK.
inline HRESULT WithWarning(HRESULT fault, HRESULT result) {
    return (result == S_OK && fault > 0) ? fault : result;
}

// ------------------------------------------------------------- properties
// One property held by the provider. Numbers of every width live in i (as
// FILETIME ticks for PT_SYSTIME), floating values in d; strings, binaries and
// GUIDs are bytes (PT_UNICODE as UTF-16LE). Multi-valued properties keep one
// element per entry of multi, each in the single value's byte form (numbers as
// 8 little-endian bytes).
struct Prop {
    ULONG tag = 0;
    std::int64_t i = 0;
    double d = 0;
    std::string bytes;
    std::vector<std::string> multi;
};
using PropMap = std::map<ULONG, Prop>;  // by property id

bool IsSupportedType(ULONG type);
HRESULT PropFromValue(const SPropValue& value, Prop& prop);
// The value as a request with requestedType wants it (PT_UNSPECIFIED: as
// stored; PT_STRING8 and PT_UNICODE convert into each other); false when the
// types do not match.
bool ConvertForRequest(const Prop& prop, ULONG requestedType, Prop& out);
// Fills out, allocating what it points at with MAPIAllocateMore on root.
HRESULT CopyToValue(const Prop& prop, void* root, SPropValue& out);
// Values in one allocation: for each requested tag the value or PT_ERROR.
// Null tags: every property (with MAPI_UNICODE, 8-bit strings as UTF-16).
HRESULT ValuesFromMap(const PropMap& props, const SPropTagArray* tags, ULONG flags, ULONG* count,
                      LPSPropValue* values);
std::string SerializeProps(const PropMap& props);
bool DeserializeProps(std::string_view data, PropMap& props);
std::string SerializePropList(const std::vector<PropMap>& list);
bool DeserializePropList(std::string_view data, std::vector<PropMap>& list);

Prop LongProp(ULONG tag, LONG value);
Prop BoolProp(ULONG tag, bool value);
Prop StringProp(ULONG tag, std::string_view ansi);  // PT_STRING8 or PT_UNICODE tag
Prop BinaryProp(ULONG tag, std::string_view bytes);
Prop BinaryProp(ULONG tag, const std::vector<BYTE>& bytes);
Prop TimeProp(ULONG tag, std::int64_t ticks);
void Put(PropMap& props, Prop prop);
const Prop* Find(const PropMap& props, ULONG tag);  // by id, any type
std::optional<std::string> AnsiOf(const PropMap& props, ULONG tag);  // string as system code page
std::optional<std::string> BinaryOf(const PropMap& props, ULONG tag);
std::optional<LONG> LongOf(const PropMap& props, ULONG tag);
std::optional<bool> BoolOf(const PropMap& props, ULONG tag);
std::string AnsiFromValue(const SPropValue& value);  // PT_STRING8 or PT_UNICODE, else empty
std::int64_t NowFileTime();
std::string Utf16Bytes(std::u16string_view text);
std::u16string Utf16FromBytes(std::string_view bytes);

bool Restriction(const SRestriction* restriction, const PropMap& row, unsigned depth = 0);

// ------------------------------------------------------------ entry ids
// Store and address-book objects: 4 flag bytes, the provider's 16-byte UID,
// the object type, the store number and the object number (36 bytes).
struct EntryId {
    MAPIUID uid{};
    ULONG objectType = 0;
    std::uint32_t store = 0;
    std::int64_t object = 0;
};
constexpr std::size_t kEntryIdSize = 36;
std::vector<BYTE> MakeEntryId(const MAPIUID& uid, ULONG objectType, std::uint32_t store, std::int64_t object);
bool ParseEntryId(const void* bytes, std::size_t size, EntryId& id);
bool SameUid(const MAPIUID& a, const MAPIUID& b);
HRESULT AllocEntryId(const std::vector<BYTE>& bytes, ULONG* cb, LPENTRYID* entryId);
std::string AsString(const std::vector<BYTE>& bytes);

// ---------------------------------------------------------------- SQLite
class Statement {
public:
    Statement() = default;
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
    Statement& operator=(Statement&&) = delete;
    Statement(const Statement&) = delete;
    bool Ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, std::string_view text);  // TEXT
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& BindNull(int index);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    std::int64_t Int(int column) const;
    std::string Text(int column) const;
    std::string Blob(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    ~Database();
    // Opens (creating when missing) and brings the schema up to date.
    static HRESULT Open(const std::string& path, std::unique_ptr<Database>& db, std::string& error);
    sqlite3* Handle() const { return db_; }
    Statement Prepare(std::string_view sql) { return Statement(db_, sql); }
    bool Exec(const char* sql);
    std::string LastError() const;
    int LastErrorCode() const;
    std::int64_t LastInsertId() const;
    // Maps the connection's last error to a result code.
    HRESULT ErrorResult() const;

private:
    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when not committed.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Begun() const { return begun_; }
    HRESULT Commit();

private:
    Database& db_;
    bool begun_ = false;
    bool done_ = false;
};

// -------------------------------------------------------------- profile
struct NameRecord {
    GUID guid{};
    ULONG kind = MNID_STRING;
    LONG lid = 0;
    std::u16string name;
};

struct MessageRecord {
    std::int64_t id = 0;  // 0 until first saved
    std::uint32_t store = 0;
    std::int64_t folder = 0;
    PropMap props;
    std::vector<PropMap> recipients;
    std::map<ULONG, PropMap> attachments;  // by attachment number
    ULONG nextAttachNum = 0;
    ULONG nextRowId = 0;
};

struct FolderRecord {
    std::int64_t id = 0;
    std::uint32_t store = 0;
    std::int64_t parent = 0;  // 0 for the store's root
    std::string name;
    std::string role;
    PropMap props;
};

// One session's connection to the profile database.
class Profile {
public:
    static HRESULT Open(std::shared_ptr<Profile>& profile, std::string& error);
    Database& Db() { return *db_; }
    const MAPIUID& StoreUid() const { return storeUid_; }
    const MAPIUID& AbUid() const { return abUid_; }
    std::mutex& Mutex() { return mutex_; }

    HRESULT DefaultStore(std::uint32_t& store);
    HRESULT StoreRow(std::uint32_t store, std::string& name, bool& isDefault);
    HRESULT StoreIds(std::vector<std::uint32_t>& stores);
    HRESULT FolderByRole(std::uint32_t store, std::string_view role, std::int64_t& folder);
    HRESULT LoadFolder(std::int64_t folder, FolderRecord& record);
    HRESULT ChildFolders(std::uint32_t store, std::int64_t parent, std::vector<FolderRecord>& folders);
    HRESULT SaveFolderProps(std::int64_t folder, const PropMap& props);
    HRESULT CreateFolder(std::uint32_t store, std::int64_t parent, std::string_view name, bool openIfExists,
                         std::int64_t& folder);
    HRESULT LoadStoreProps(std::uint32_t store, PropMap& props);
    HRESULT SaveStoreProps(std::uint32_t store, const PropMap& props);
    HRESULT FolderMessages(std::int64_t folder, std::vector<MessageRecord>& messages, bool withAttachments);
    HRESULT CountMessages(std::int64_t folder, ULONG& count);
    HRESULT LoadMessage(std::int64_t id, MessageRecord& record);
    // Writes the whole message in one transaction; assigns the id when new.
    HRESULT SaveMessage(MessageRecord& record);
    HRESULT DeleteMessage(std::int64_t id);
    HRESULT MoveMessage(std::int64_t id, std::int64_t folder);
    HRESULT MapNames(std::uint32_t store, const std::vector<NameRecord>& names, bool create,
                     std::vector<ULONG>& ids);
    HRESULT NameOfId(std::uint32_t store, ULONG id, NameRecord& name);
    HRESULT AllNames(std::uint32_t store, std::vector<std::pair<ULONG, NameRecord>>& names);
    HRESULT NextSubmissionNumber(std::int64_t& number);

private:
    std::unique_ptr<Database> db_;
    MAPIUID storeUid_{};
    MAPIUID abUid_{};
    std::mutex mutex_;
};
using ProfilePtr = std::shared_ptr<Profile>;

// Creates the profile database and its defaults when missing.
HRESULT EnsureProfileDatabase(Database& db);
// A store with its IPM subtree folders (inside the caller's transaction).
HRESULT CreateStoreRecord(Database& db, std::string_view name, bool makeDefault, std::int64_t& store);

// -------------------------------------------------------------- objects
// Reference counting for the provider's objects: created with one reference,
// destroyed by the last Release.
template <class Derived, class Interface>
class ComObject : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// Releases on destruction.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}  // takes over a reference
    Ref(const Ref& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    Ref& operator=(const Ref& other) {
        if (this != &other) {
            if (other.p_) other.p_->AddRef();
            reset();
            p_ = other.p_;
        }
        return *this;
    }
    ~Ref() { reset(); }
    static Ref Share(T* p) {
        if (p) p->AddRef();
        return Ref(p);
    }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** out() {
        reset();
        return &p_;
    }
    T* detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

HRESULT MakeError(std::string_view text, std::string_view component, HRESULT hr, ULONG lowLevel,
                  LPMAPIERROR* error);

HRESULT CreateTable(std::vector<PropMap> rows, std::vector<ULONG> defaultColumns, const char* interfaceName,
                    LPMAPITABLE* table);
// A stream over bytes in memory; commit hands the bytes to onCommit (none:
// a plain memory stream).
HRESULT CreateBytesStream(std::string initial, bool writable, std::function<HRESULT(const std::string&)> onCommit,
                          IUnknown* keepAlive, LPSTREAM* stream);

HRESULT OpenStore(const ProfilePtr& profile, std::uint32_t store, LPMDB* result);
HRESULT OpenStoreEntry(const ProfilePtr& profile, const EntryId& id, LPCIID iid, ULONG flags, ULONG* objectType,
                       LPUNKNOWN* result);
HRESULT OpenAddressBook(const ProfilePtr& profile, LPADRBOOK* result);
HRESULT OpenAddressBookEntry(const ProfilePtr& profile, ULONG cb, const BYTE* entryId, ULONG* objectType,
                             LPUNKNOWN* result);
HRESULT CompareIds(const ProfilePtr& profile, ULONG cb1, const BYTE* id1, ULONG cb2, const BYTE* id2, bool& same);
HRESULT CreateFormManager(LPMAPISESSION session, const ProfilePtr& profile, LPMAPIFORMMGR* result);
// Plays the form of a message through the form host.
HRESULT PlayForm(LPMAPISESSION session, LPMESSAGE message, std::string_view messageClass, bool newMessage);

// The transport: writes the saved message to the pickup directory and moves
// it to the folder its PR_SENTMAIL_ENTRYID names.
HRESULT Transport(Profile& profile, std::int64_t messageId, std::string& error);

// Fault-point names of an object kind's property methods.
struct FaultNames {
    const char* interfaceName;  // "IMessage"
    bool container;             // answers to IMAPIContainer:: too
};

}  // namespace ovmapi::detail
