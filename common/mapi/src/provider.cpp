// Administration of the default profile: paths, stores, the form registry
// and the address book's containers.
#include "ovmapi/provider.h"

#include "internal.h"
#include "ovplatform/platform.h"

namespace ovmapi {

using namespace detail;

std::filesystem::path ProfileDatabasePath() { return ov::MapiDirectory() / "profile.db"; }
std::filesystem::path PickupDirectory() { return ov::MapiDirectory() / "pickup"; }

namespace {

// Runs body on a fresh connection to the profile (created when missing).
template <class Body>
HRESULT WithProfile(Body&& body) {
    return Guarded([&]() -> HRESULT {
        ProfilePtr profile;
        std::string error;
        if (HRESULT hr = Profile::Open(profile, error); FAILED(hr)) return hr;
        return body(*profile);
    });
}

}  // namespace

HRESULT EnsureProfile() {
    return WithProfile([](Profile&) { return S_OK; });
}

HRESULT CreateStore(std::string_view displayName, bool makeDefault, std::vector<BYTE>* entryId) {
    return WithProfile([&](Profile& profile) -> HRESULT {
        Transaction transaction(profile.Db());
        if (!transaction.Begun()) return profile.Db().ErrorResult();
        std::int64_t store = 0;
        if (HRESULT hr = CreateStoreRecord(profile.Db(), displayName, makeDefault, store); FAILED(hr)) return hr;
        if (HRESULT hr = transaction.Commit(); FAILED(hr)) return hr;
        if (entryId != nullptr)
            *entryId = MakeEntryId(profile.StoreUid(), MAPI_STORE, static_cast<std::uint32_t>(store), store);
        return S_OK;
    });
}

HRESULT ClearDefaultStore() {
    return WithProfile([](Profile& profile) -> HRESULT {
        return profile.Db().Exec("UPDATE stores SET is_default = 0;") ? S_OK : profile.Db().ErrorResult();
    });
}

HRESULT SetNamedPropertyLimit(unsigned limit) {
    return WithProfile([&](Profile& profile) -> HRESULT {
        Statement update = profile.Db().Prepare("UPDATE stores SET named_limit = ?");
        return update.Bind(1, static_cast<std::int64_t>(limit)).Step() == SQLITE_DONE ? S_OK : profile.Db().ErrorResult();
    });
}

HRESULT InstallForm(std::string_view messageClass, std::string_view displayName) {
    if (messageClass.empty()) return MAPI_E_INVALID_PARAMETER;
    return WithProfile([&](Profile& profile) -> HRESULT {
        Statement insert = profile.Db().Prepare(
            "INSERT INTO forms(message_class, display_name) VALUES(?, ?) "
            "ON CONFLICT(message_class) DO UPDATE SET display_name = excluded.display_name");
        insert.Bind(1, messageClass).Bind(2, displayName.empty() ? messageClass : displayName);
        return insert.Step() == SQLITE_DONE ? S_OK : profile.Db().ErrorResult();
    });
}

HRESULT RemoveForm(std::string_view messageClass) {
    return WithProfile([&](Profile& profile) -> HRESULT {
        Statement remove = profile.Db().Prepare("DELETE FROM forms WHERE message_class = ?");
        if (remove.Bind(1, messageClass).Step() != SQLITE_DONE) return profile.Db().ErrorResult();
        return sqlite3_changes(profile.Db().Handle()) > 0 ? S_OK : MAPI_E_NOT_FOUND;
    });
}

HRESULT ListForms(std::vector<FormRegistration>& forms) {
    forms.clear();
    return WithProfile([&](Profile& profile) -> HRESULT {
        Statement query = profile.Db().Prepare("SELECT message_class, display_name FROM forms ORDER BY message_class");
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW) forms.push_back({query.Text(0), query.Text(1)});
        return rc == SQLITE_DONE ? S_OK : profile.Db().ErrorResult();
    });
}

HRESULT CreateAddressBookContainer(std::string_view name, std::string_view parentName, std::vector<BYTE>* entryId) {
    if (name.empty()) return MAPI_E_INVALID_PARAMETER;
    return WithProfile([&](Profile& profile) -> HRESULT {
        Transaction transaction(profile.Db());
        if (!transaction.Begun()) return profile.Db().ErrorResult();
        std::int64_t parent = 0;
        if (!parentName.empty()) {
            Statement query = profile.Db().Prepare("SELECT id FROM ab_containers WHERE name = ? ORDER BY id LIMIT 1");
            if (query.Bind(1, parentName).Step() != SQLITE_ROW) return MAPI_E_NOT_FOUND;
            parent = query.Int(0);
        }
        Statement insert = profile.Db().Prepare("INSERT INTO ab_containers(parent_id, name) VALUES(?, ?)");
        if (insert.Bind(1, parent).Bind(2, name).Step() != SQLITE_DONE) return profile.Db().ErrorResult();
        std::int64_t id = profile.Db().LastInsertId();
        if (HRESULT hr = transaction.Commit(); FAILED(hr)) return hr;
        if (entryId != nullptr) *entryId = MakeEntryId(profile.AbUid(), MAPI_ABCONT, 0, id);
        return S_OK;
    });
}

}  // namespace ovmapi
