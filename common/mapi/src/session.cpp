// Starting the mail system and the session on the default profile.
#include <cstdlib>
#include <map>

#include "ovmapi/provider.h"
#include "ovplatform/platform.h"
#include "propobject.h"

namespace ovmapi::detail {
namespace {

struct InitState {
    std::mutex mutex;
    unsigned count = 0;
};
InitState& Init() {
    static InitState state;
    return state;
}

bool Initialized() {
    InitState& state = Init();
    std::lock_guard lock(state.mutex);
    return state.count > 0;
}

class SessionObject final : public ComObject<SessionObject, IMAPISession> {
public:
    explicit SessionObject(ProfilePtr profile) : profile_(std::move(profile)) {}
    ~SessionObject() {
        for (auto& [token, message] : prepared_) message->Release();
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMAPISession) {
            AddRef();
            *object = static_cast<IMAPISession*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppMAPIError = nullptr;
        return MakeError(hResult == lastResult_ ? lastError_ : std::string(), "MAPI", hResult, 0, lppMAPIError);
    }

    HRESULT GetMsgStoresTable(ULONG, LPMAPITABLE* lppTable) override {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPISession::GetMsgStoresTable");
            if (FAILED(fault)) return Failure(fault, "GetMsgStoresTable failed (injected)");
            if (HRESULT hr = LoggedOn(); FAILED(hr)) return hr;
            std::vector<PropMap> rows;
            std::lock_guard lock(profile_->Mutex());
            std::vector<std::uint32_t> stores;
            if (HRESULT hr = profile_->StoreIds(stores); FAILED(hr)) return Failure(hr, "cannot read the stores");
            for (std::uint32_t store : stores) {
                std::string name;
                bool isDefault = false;
                if (HRESULT hr = profile_->StoreRow(store, name, isDefault); FAILED(hr)) return hr;
                PropMap row;
                std::vector<BYTE> entry = MakeEntryId(profile_->StoreUid(), MAPI_STORE, store, store);
                std::string uid(reinterpret_cast<const char*>(profile_->StoreUid().ab), 16);
                Put(row, BinaryProp(PR_ENTRYID, entry));
                Put(row, BinaryProp(PR_RECORD_KEY, entry));
                Put(row, BinaryProp(PR_INSTANCE_KEY, entry));
                Put(row, BinaryProp(PR_MDB_PROVIDER, uid));
                Put(row, StringProp(PR_DISPLAY_NAME_A, name));
                Put(row, StringProp(PR_PROVIDER_DISPLAY_A, "Orvane Message Store"));
                Put(row, BoolProp(PR_DEFAULT_STORE, isDefault));
                Put(row, LongProp(PR_RESOURCE_FLAGS, isDefault ? STATUS_DEFAULT_STORE : 0));
                Put(row, LongProp(PR_OBJECT_TYPE, MAPI_STORE));
                rows.push_back(std::move(row));
            }
            std::vector<ULONG> columns = {PR_ENTRYID,         PR_DISPLAY_NAME_A, PR_MDB_PROVIDER, PR_PROVIDER_DISPLAY_A,
                                          PR_DEFAULT_STORE,   PR_RESOURCE_FLAGS, PR_RECORD_KEY,   PR_INSTANCE_KEY,
                                          PR_OBJECT_TYPE};
            return WithWarning(fault, CreateTable(std::move(rows), std::move(columns), "StoresTable", lppTable));
        });
    }

    HRESULT OpenMsgStore(ULONG_PTR, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG,
                         LPMDB* lppMDB) override {
        if (lppMDB == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppMDB = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPISession::OpenMsgStore");
            if (FAILED(fault)) return Failure(fault, "OpenMsgStore failed (injected)");
            if (HRESULT hr = LoggedOn(); FAILED(hr)) return hr;
            if (lpInterface != nullptr &&
                !(*lpInterface == IID_IMsgStore || *lpInterface == IID_IMAPIProp || *lpInterface == IID_IUnknown))
                return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "stores are IMsgStore");
            EntryId id;
            if (!ParseEntryId(lpEntryID, cbEntryID, id) || !SameUid(id.uid, profile_->StoreUid()) ||
                id.objectType != MAPI_STORE)
                return Failure(MAPI_E_INVALID_ENTRYID, "not a store of this profile");
            if (HRESULT hr = OpenStore(profile_, id.store, lppMDB); FAILED(hr)) return Failure(hr, "cannot open the store");
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT OpenAddressBook(ULONG_PTR, LPCIID lpInterface, ULONG, LPADRBOOK* lppAdrBook) override {
        if (lppAdrBook == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppAdrBook = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPISession::OpenAddressBook");
            if (FAILED(fault)) return Failure(fault, "OpenAddressBook failed (injected)");
            if (HRESULT hr = LoggedOn(); FAILED(hr)) return hr;
            if (lpInterface != nullptr && !(*lpInterface == IID_IAddrBook || *lpInterface == IID_IUnknown))
                return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "the address book is IAddrBook");
            if (HRESULT hr = ovmapi::detail::OpenAddressBook(profile_, lppAdrBook); FAILED(hr)) return hr;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override {
        if (lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPISession::OpenEntry");
            if (FAILED(fault)) return Failure(fault, "OpenEntry failed (injected)");
            if (HRESULT hr = LoggedOn(); FAILED(hr)) return hr;
            EntryId id;
            HRESULT hr;
            if (ParseEntryId(lpEntryID, cbEntryID, id) && SameUid(id.uid, profile_->StoreUid())) {
                hr = OpenStoreEntry(profile_, id, lpInterface, ulFlags, lpulObjType, lppUnk);
            } else if (cbEntryID == 0 || lpEntryID == nullptr) {
                hr = MAPI_E_INVALID_ENTRYID;
            } else {
                hr = OpenAddressBookEntry(profile_, cbEntryID, reinterpret_cast<const BYTE*>(lpEntryID), lpulObjType,
                                          lppUnk);
                if (hr == MAPI_E_INVALID_ENTRYID) hr = MAPI_E_UNKNOWN_ENTRYID;
            }
            if (FAILED(hr)) return Failure(hr, "cannot open the entry");
            return WithWarning(fault, hr);
        });
    }

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPISession::CompareEntryIDs");
            if (FAILED(fault)) return fault;
            bool same = false;
            if (HRESULT hr = CompareIds(profile_, cb1, reinterpret_cast<const BYTE*>(id1), cb2,
                                        reinterpret_cast<const BYTE*>(id2), same);
                FAILED(hr))
                return hr;
            *result = same ? TRUE : FALSE;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
        HRESULT fault = faults::Check("IMAPISession::Logoff");
        if (FAILED(fault)) return fault;
        loggedOff_ = true;
        return WithWarning(fault, S_OK);
    }

    HRESULT PrepareForm(LPCIID lpInterface, LPMESSAGE lpMessage, ULONG* lpulMessageToken) override {
        if (lpulMessageToken == nullptr || lpMessage == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lpulMessageToken = 0;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPISession::PrepareForm");
            if (FAILED(fault)) return Failure(fault, "PrepareForm failed (injected)");
            if (lpInterface != nullptr && !(*lpInterface == IID_IMessage))
                return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "forms are prepared on messages");
            lpMessage->AddRef();
            ULONG token = nextToken_++;
            prepared_[token] = lpMessage;
            *lpulMessageToken = token;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG ulMessageToken, LPMESSAGE, ULONG ulFlags, ULONG,
                     ULONG, ULONG, LPSTR lpszMessageClass) override {
        return Guarded([&]() -> HRESULT {
            auto found = prepared_.find(ulMessageToken);
            HRESULT fault = faults::Check("IMAPISession::ShowForm");
            if (FAILED(fault)) {
                if (found != prepared_.end()) {
                    found->second->Release();
                    prepared_.erase(found);
                }
                return Failure(fault, "ShowForm failed (injected)");
            }
            if (found == prepared_.end()) return Failure(MAPI_E_INVALID_PARAMETER, "unknown message token");
            Ref<IMessage> message(found->second);
            prepared_.erase(found);
            std::string messageClass = lpszMessageClass ? lpszMessageClass : "IPM.Note";
            HRESULT hr = PlayForm(this, message.get(), messageClass, (ulFlags & MAPI_NEW_MESSAGE) != 0);
            if (FAILED(hr)) return Failure(hr, "the form did not complete");
            return WithWarning(fault, hr);
        });
    }

    const ProfilePtr& Profile() const { return profile_; }

private:
    HRESULT LoggedOn() { return loggedOff_ ? Failure(MAPI_E_END_OF_SESSION, "the session was logged off") : S_OK; }
    HRESULT Failure(HRESULT hr, std::string_view text) {
        lastResult_ = hr;
        lastError_ = std::string(text);
        return hr;
    }

    ProfilePtr profile_;
    bool loggedOff_ = false;
    std::map<ULONG, LPMESSAGE> prepared_;
    ULONG nextToken_ = 1;
    HRESULT lastResult_ = S_OK;
    std::string lastError_;
};

}  // namespace

// The profile behind a session of this layer, for the form manager.
ProfilePtr ProfileOfSession(LPMAPISESSION session) {
    auto* ours = dynamic_cast<SessionObject*>(session);
    return ours ? ours->Profile() : nullptr;
}

HRESULT OpenSessionOnProfile(LPMAPISESSION* session, std::string& error) {
    ProfilePtr profile;
    if (HRESULT hr = Profile::Open(profile, error); FAILED(hr)) return hr;
    *session = new SessionObject(std::move(profile));
    return S_OK;
}

}  // namespace ovmapi::detail

using namespace ovmapi::detail;

extern "C" HRESULT MAPIInitialize(LPVOID lpMapiInit) {
    if (lpMapiInit != nullptr) {
        auto* init = static_cast<MAPIINIT_0*>(lpMapiInit);
        if (init->ulVersion != MAPI_INIT_VERSION) return MAPI_E_VERSION;
    }
    HRESULT fault = ovmapi::faults::Check("MAPIInitialize");
    if (FAILED(fault)) return fault;
    return Guarded([&]() -> HRESULT {
        InitState& state = Init();
        std::lock_guard lock(state.mutex);
        if (state.count == 0) {
            // Faults for this process may come from its starter.
            if (const char* text = std::getenv("ORVANE_MAPI_FAULTS"); text != nullptr && *text != '\0') {
                std::vector<ovmapi::faults::Fault> faults;
                if (!ovmapi::faults::ParseFaults(text, faults)) return MAPI_E_INVALID_PARAMETER;
                for (const auto& fault : faults) ovmapi::faults::Inject(fault);
            }
        }
        ++state.count;
        return WithWarning(fault, S_OK);
    });
}

extern "C" void MAPIUninitialize() {
    InitState& state = Init();
    std::lock_guard lock(state.mutex);
    if (state.count > 0) --state.count;
}

extern "C" HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, ULONG ulFlags,
                               LPMAPISESSION* lppSession) {
    (void)ulUIParam;
    (void)lpszPassword;
    (void)ulFlags;
    if (lppSession == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppSession = nullptr;
    if (!Initialized()) return MAPI_E_NOT_INITIALIZED;
    HRESULT fault = ovmapi::faults::Check("MAPILogonEx");
    if (FAILED(fault)) return fault;
    return Guarded([&]() -> HRESULT {
        // The one profile answers to no name, to "Default" and to its own name.
        if (lpszProfileName != nullptr && *lpszProfileName != '\0' && !ov::EqualsNoCase(lpszProfileName, "Default") &&
            !ov::EqualsNoCase(lpszProfileName, "Orvane"))
            return MAPI_E_LOGON_FAILED;
        std::string error;
        HRESULT hr = OpenSessionOnProfile(lppSession, error);
        if (FAILED(hr)) return hr == MAPI_E_NOT_ENOUGH_MEMORY ? hr : MAPI_E_LOGON_FAILED;
        return WithWarning(fault, S_OK);
    });
}
