// The address book: containers with a hierarchy, mail users, distribution
// lists that nest, one-off entry identifiers and name resolution.
#include <algorithm>
#include <cstring>

#include "ovplatform/platform.h"
#include "propobject.h"

namespace ovmapi::detail {

// ------------------------------------------------------------- one-offs
// Flags (4) = 0, MAPI_ONE_OFF_UID (16), version (2) = 0, flags word (2), then
// display name, address type and address, each NUL-terminated, in UTF-16LE
// when the flags word has MAPI_ONE_OFF_UNICODE, else in the system code page.
struct OneOff {
    std::uint16_t flags = 0;
    std::string displayName;  // system code page
    std::string addressType;
    std::string address;
};

std::vector<BYTE> BuildOneOff(std::u16string_view name, std::u16string_view type, std::u16string_view address,
                              bool unicode, bool noRichInfo) {
    std::vector<BYTE> bytes(24, 0);
    std::memcpy(bytes.data() + 4, MAPI_ONE_OFF_UID.ab, 16);
    std::uint16_t flags = static_cast<std::uint16_t>((unicode ? MAPI_ONE_OFF_UNICODE : 0) |
                                                     (noRichInfo ? MAPI_ONE_OFF_NO_RICH_INFO : 0));
    bytes[22] = static_cast<BYTE>(flags & 0xFF);
    bytes[23] = static_cast<BYTE>(flags >> 8);
    for (std::u16string_view text : {name, type, address}) {
        if (unicode) {
            for (char16_t c : text) {
                bytes.push_back(static_cast<BYTE>(c & 0xFF));
                bytes.push_back(static_cast<BYTE>(c >> 8));
            }
            bytes.push_back(0);
            bytes.push_back(0);
        } else {
            std::string ansi = ov::Utf16ToAnsi(text);
            bytes.insert(bytes.end(), ansi.begin(), ansi.end());
            bytes.push_back(0);
        }
    }
    return bytes;
}

bool ParseOneOff(const BYTE* bytes, std::size_t size, OneOff& result) {
    if (bytes == nullptr || size < 24 + 3) return false;
    if (bytes[0] || bytes[1] || bytes[2] || bytes[3]) return false;
    if (std::memcmp(bytes + 4, MAPI_ONE_OFF_UID.ab, 16) != 0) return false;
    if (bytes[20] != 0 || bytes[21] != 0) return false;
    result.flags = static_cast<std::uint16_t>(bytes[22] | (bytes[23] << 8));
    bool unicode = (result.flags & MAPI_ONE_OFF_UNICODE) != 0;
    std::size_t at = 24;
    std::string* fields[] = {&result.displayName, &result.addressType, &result.address};
    for (std::string* field : fields) {
        if (unicode) {
            std::u16string text;
            while (true) {
                if (at + 1 >= size) return false;
                char16_t c = static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8));
                at += 2;
                if (c == 0) break;
                text.push_back(c);
            }
            *field = ov::Utf16ToAnsi(text);
        } else {
            const BYTE* end = static_cast<const BYTE*>(std::memchr(bytes + at, 0, size - at));
            if (end == nullptr) return false;
            field->assign(reinterpret_cast<const char*>(bytes + at), static_cast<std::size_t>(end - (bytes + at)));
            at = static_cast<std::size_t>(end - bytes) + 1;
        }
    }
    return at == size && !result.addressType.empty();
}

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

struct AbEntry {
    std::int64_t id = 0;
    std::int64_t container = 0;
    ULONG objectType = MAPI_MAILUSER;
    PropMap props;
};

HRESULT LoadAbEntry(Profile& profile, std::int64_t id, AbEntry& entry) {
    Statement query = profile.Db().Prepare("SELECT id, container_id, object_type, props FROM ab_entries WHERE id = ?");
    int rc = query.Bind(1, id).Step();
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : profile.Db().ErrorResult();
    entry.id = query.Int(0);
    entry.container = query.Int(1);
    entry.objectType = static_cast<ULONG>(query.Int(2));
    if (entry.objectType != MAPI_MAILUSER && entry.objectType != MAPI_DISTLIST) return MAPI_E_CORRUPT_DATA;
    return DeserializeProps(query.Blob(3), entry.props) ? S_OK : MAPI_E_CORRUPT_DATA;
}

HRESULT LoadAbEntries(Profile& profile, std::string_view where, std::int64_t key, std::vector<AbEntry>& entries) {
    entries.clear();
    std::string sql = "SELECT id, container_id, object_type, props FROM ab_entries " + std::string(where) + " ORDER BY id";
    Statement query = profile.Db().Prepare(sql);
    if (!where.empty()) query.Bind(1, key);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        AbEntry entry;
        entry.id = query.Int(0);
        entry.container = query.Int(1);
        entry.objectType = static_cast<ULONG>(query.Int(2));
        if (!DeserializeProps(query.Blob(3), entry.props)) return MAPI_E_CORRUPT_DATA;
        entries.push_back(std::move(entry));
    }
    return rc == SQLITE_DONE ? S_OK : profile.Db().ErrorResult();
}

void AddAbEntryComputed(const Profile& profile, const AbEntry& entry, PropMap& props) {
    std::vector<BYTE> id = MakeEntryId(profile.AbUid(), entry.objectType, 0, entry.id);
    Put(props, BinaryProp(PR_ENTRYID, id));
    Put(props, BinaryProp(PR_RECORD_KEY, id));
    Put(props, BinaryProp(PR_INSTANCE_KEY, id));
    Put(props, LongProp(PR_OBJECT_TYPE, static_cast<LONG>(entry.objectType)));
    Put(props, LongProp(PR_DISPLAY_TYPE, entry.objectType == MAPI_DISTLIST ? DT_PRIVATE_DISTLIST : DT_MAILUSER));
    Put(props, BinaryProp(PR_MAPPING_SIGNATURE, std::string_view(reinterpret_cast<const char*>(profile.AbUid().ab), 16)));
    if (entry.objectType == MAPI_DISTLIST && Find(props, PR_ADDRTYPE) == nullptr)
        Put(props, StringProp(PR_ADDRTYPE_A, "MAPIPDL"));
    std::string type = AnsiOf(props, PR_ADDRTYPE_A).value_or("");
    std::string address = AnsiOf(props, PR_EMAIL_ADDRESS_A).value_or("");
    Put(props, BinaryProp(PR_SEARCH_KEY, Upper(type + ":" + address) + std::string(1, '\0')));
    Put(props, BoolProp(PR_SEND_RICH_INFO, false));
    if (auto name = AnsiOf(props, PR_DISPLAY_NAME_A)) Put(props, StringProp(PR_TRANSMITABLE_DISPLAY_NAME_A, *name));
}

void AddOneOffComputed(const OneOff& oneOff, const std::vector<BYTE>& entryId, PropMap& props) {
    Put(props, StringProp(PR_DISPLAY_NAME_A, oneOff.displayName));
    Put(props, StringProp(PR_ADDRTYPE_A, oneOff.addressType));
    Put(props, StringProp(PR_EMAIL_ADDRESS_A, oneOff.address));
    Put(props, StringProp(PR_TRANSMITABLE_DISPLAY_NAME_A, oneOff.displayName));
    Put(props, BinaryProp(PR_ENTRYID, entryId));
    Put(props, BinaryProp(PR_RECORD_KEY, entryId));
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_MAILUSER));
    Put(props, LongProp(PR_DISPLAY_TYPE, DT_MAILUSER));
    Put(props, BoolProp(PR_SEND_RICH_INFO, (oneOff.flags & MAPI_ONE_OFF_NO_RICH_INFO) == 0));
    Put(props, BinaryProp(PR_SEARCH_KEY, Upper(oneOff.addressType + ":" + oneOff.address) + std::string(1, '\0')));
    Put(props, BinaryProp(PR_MAPPING_SIGNATURE, std::string_view(reinterpret_cast<const char*>(MAPI_ONE_OFF_UID.ab), 16)));
}

constexpr std::uint32_t kAddressBookNameScope = 0;  // named properties of address-book entries

// A read-only property object over a fixed bag: mail users (stored or
// one-off), the address book itself.
template <class Derived, class Interface>
class FixedPropObject : public PropObject<Derived, Interface> {
public:
    FixedPropObject(ProfilePtr profile, PropMap props) : PropObject<Derived, Interface>(std::move(profile)), props_(std::move(props)) {}

protected:
    PropMap& Bag() override { return props_; }
    HRESULT CanModify() override { return MAPI_E_NO_ACCESS; }
    std::uint32_t NameScope() const override { return kAddressBookNameScope; }
    const char* Component() const override { return "Orvane Address Book"; }

    PropMap props_;
};

class MailUserObject final : public FixedPropObject<MailUserObject, IMailUser> {
public:
    using FixedPropObject::FixedPropObject;

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IMailUser; }
    const char* InterfaceName() const override { return "IMailUser"; }
};

HRESULT ContainerTableRows(Profile& profile, std::int64_t parent, bool deep, std::vector<PropMap>& rows, LONG depth);
HRESULT EntryRows(Profile& profile, const std::vector<AbEntry>& entries, std::vector<PropMap>& rows);

const std::vector<ULONG>& EntryColumns() {
    static const std::vector<ULONG> columns = {PR_ENTRYID,        PR_INSTANCE_KEY,        PR_DISPLAY_NAME_A,
                                               PR_ADDRTYPE_A,     PR_EMAIL_ADDRESS_A,     PR_OBJECT_TYPE,
                                               PR_DISPLAY_TYPE,   PR_COMPANY_NAME_A,      PR_DEPARTMENT_NAME_A,
                                               PR_GIVEN_NAME_A,   PR_SURNAME_A,           PR_BUSINESS_TELEPHONE_NUMBER_A,
                                               PR_BUSINESS_FAX_NUMBER_A};
    return columns;
}

// A container (id 0: the root, whose hierarchy holds the top containers) or
// a distribution list (its contents are its members).
template <class Derived, class Interface>
class AbContainerBase : public FixedPropObject<Derived, Interface> {
public:
    using FixedPropObject<Derived, Interface>::FixedPropObject;

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override {
        (void)ulFlags;
        if (lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = this->ContainerFault("OpenEntry");
            if (FAILED(fault)) return this->Failure(fault, "OpenEntry failed (injected)");
            LPUNKNOWN opened = nullptr;
            ULONG type = 0;
            HRESULT hr = OpenAddressBookEntry(this->profile_, cbEntryID, reinterpret_cast<const BYTE*>(lpEntryID), &type,
                                              &opened);
            if (FAILED(hr)) return this->Failure(hr, "no such entry");
            Ref<IUnknown> held(opened);
            if (lpInterface != nullptr && !(*lpInterface == IID_IUnknown) && !(*lpInterface == IID_IMAPIProp)) {
                void* asked = nullptr;
                if (FAILED(opened->QueryInterface(*lpInterface, &asked)))
                    return this->Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "the entry has no such interface");
                static_cast<IUnknown*>(asked)->Release();
            }
            if (lpulObjType != nullptr) *lpulObjType = type;
            *lppUnk = held.detach();
            return WithWarning(fault, S_OK);
        });
    }

protected:
    bool IsContainer() const override { return true; }
};

class AbContainerObject final : public AbContainerBase<AbContainerObject, IABContainer> {
public:
    AbContainerObject(ProfilePtr profile, std::int64_t id, PropMap props)
        : AbContainerBase(std::move(profile), std::move(props)), id_(id) {}

    HRESULT GetContentsTable(ULONG, LPMAPITABLE* lppTable) override {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = ContainerFault("GetContentsTable");
            if (FAILED(fault)) return Failure(fault, "GetContentsTable failed (injected)");
            std::vector<PropMap> rows;
            if (id_ != 0) {
                std::lock_guard lock(profile_->Mutex());
                std::vector<AbEntry> entries;
                if (HRESULT hr = LoadAbEntries(*profile_, "WHERE container_id = ?", id_, entries); FAILED(hr)) return hr;
                if (HRESULT hr = EntryRows(*profile_, entries, rows); FAILED(hr)) return hr;
            }
            return WithWarning(fault, CreateTable(std::move(rows), EntryColumns(), "AddressBookContentsTable", lppTable));
        });
    }

    HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = ContainerFault("GetHierarchyTable");
            if (FAILED(fault)) return Failure(fault, "GetHierarchyTable failed (injected)");
            std::vector<PropMap> rows;
            {
                std::lock_guard lock(profile_->Mutex());
                if (HRESULT hr = ContainerTableRows(*profile_, id_, (ulFlags & CONVENIENT_DEPTH) != 0, rows, 1); FAILED(hr))
                    return Failure(hr, "cannot read the containers");
            }
            std::vector<ULONG> columns = {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE, PR_DISPLAY_TYPE,
                                          PR_DEPTH,   PR_INSTANCE_KEY,   PR_CONTAINER_FLAGS};
            return WithWarning(fault, CreateTable(std::move(rows), std::move(columns), "AddressBookHierarchyTable", lppTable));
        });
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IABContainer || riid == IID_IMAPIContainer; }
    const char* InterfaceName() const override { return "IABContainer"; }

private:
    std::int64_t id_;
};

class DistListObject final : public AbContainerBase<DistListObject, IDistList> {
public:
    DistListObject(ProfilePtr profile, std::int64_t id, PropMap props)
        : AbContainerBase(std::move(profile), std::move(props)), id_(id) {}

    HRESULT GetContentsTable(ULONG, LPMAPITABLE* lppTable) override {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = ContainerFault("GetContentsTable");
            if (FAILED(fault)) return Failure(fault, "GetContentsTable failed (injected)");
            std::vector<AbEntry> members;
            std::vector<PropMap> rows;
            {
                std::lock_guard lock(profile_->Mutex());
                Statement query = profile_->Db().Prepare(
                    "SELECT member_id FROM ab_members WHERE list_id = ? ORDER BY position");
                query.Bind(1, id_);
                std::vector<std::int64_t> ids;
                while (query.Step() == SQLITE_ROW) ids.push_back(query.Int(0));
                for (std::int64_t member : ids) {
                    AbEntry entry;
                    if (SUCCEEDED(LoadAbEntry(*profile_, member, entry))) members.push_back(std::move(entry));
                }
                if (HRESULT hr = EntryRows(*profile_, members, rows); FAILED(hr)) return hr;
            }
            return WithWarning(fault, CreateTable(std::move(rows), EntryColumns(), "DistListContentsTable", lppTable));
        });
    }

    HRESULT GetHierarchyTable(ULONG, LPMAPITABLE* lppTable) override {
        if (lppTable != nullptr) *lppTable = nullptr;
        return MAPI_E_NO_SUPPORT;
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IDistList || riid == IID_IMAPIContainer; }
    const char* InterfaceName() const override { return "IDistList"; }

private:
    std::int64_t id_;
};

HRESULT EntryRows(Profile& profile, const std::vector<AbEntry>& entries, std::vector<PropMap>& rows) {
    for (const AbEntry& entry : entries) {
        PropMap row = entry.props;
        AddAbEntryComputed(profile, entry, row);
        rows.push_back(std::move(row));
    }
    return S_OK;
}

PropMap ContainerProps(const Profile& profile, std::int64_t id, std::string_view name) {
    PropMap props;
    std::vector<BYTE> entry = MakeEntryId(profile.AbUid(), MAPI_ABCONT, 0, id);
    Put(props, BinaryProp(PR_ENTRYID, entry));
    Put(props, BinaryProp(PR_RECORD_KEY, entry));
    Put(props, BinaryProp(PR_INSTANCE_KEY, entry));
    Put(props, StringProp(PR_DISPLAY_NAME_A, name));
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_ABCONT));
    Put(props, LongProp(PR_DISPLAY_TYPE, DT_MODIFIABLE));
    constexpr LONG kRecipients = 0x1, kSubcontainers = 0x2;
    Put(props, LongProp(PR_CONTAINER_FLAGS, id == 0 ? kSubcontainers : (kRecipients | kSubcontainers)));
    return props;
}

HRESULT ContainerTableRows(Profile& profile, std::int64_t parent, bool deep, std::vector<PropMap>& rows, LONG depth) {
    if (depth > 64) return S_OK;
    Statement query = profile.Db().Prepare("SELECT id, name FROM ab_containers WHERE parent_id = ? ORDER BY id");
    query.Bind(1, parent);
    std::vector<std::pair<std::int64_t, std::string>> children;
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) children.emplace_back(query.Int(0), query.Text(1));
    if (rc != SQLITE_DONE) return profile.Db().ErrorResult();
    for (const auto& [id, name] : children) {
        if (id == parent) continue;
        PropMap row = ContainerProps(profile, id, name);
        Put(row, LongProp(PR_DEPTH, depth));
        rows.push_back(std::move(row));
        if (deep) {
            if (HRESULT hr = ContainerTableRows(profile, id, deep, rows, depth + 1); FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

// ---------------------------------------------------------- address book
class AddrBookObject final : public FixedPropObject<AddrBookObject, IAddrBook> {
public:
    using FixedPropObject::FixedPropObject;

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override {
        if (lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IAddrBook::OpenEntry");
            if (FAILED(fault)) return Failure(fault, "OpenEntry failed (injected)");
            LPUNKNOWN opened = nullptr;
            ULONG type = 0;
            HRESULT hr;
            if (cbEntryID == 0) {
                opened = static_cast<IMAPIProp*>(new AbContainerObject(profile_, 0, ContainerProps(*profile_, 0, "")));
                type = MAPI_ABCONT;
                hr = S_OK;
            } else {
                hr = OpenAddressBookEntry(profile_, cbEntryID, reinterpret_cast<const BYTE*>(lpEntryID), &type, &opened);
            }
            if (FAILED(hr)) return Failure(hr, "no such entry");
            Ref<IUnknown> held(opened);
            if (lpInterface != nullptr && !(*lpInterface == IID_IUnknown) && !(*lpInterface == IID_IMAPIProp)) {
                void* asked = nullptr;
                if (FAILED(opened->QueryInterface(*lpInterface, &asked)))
                    return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "the entry has no such interface");
                static_cast<IUnknown*>(asked)->Release();
            }
            if (lpulObjType != nullptr) *lpulObjType = type;
            *lppUnk = held.detach();
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IAddrBook::CompareEntryIDs");
            if (FAILED(fault)) return Failure(fault, "CompareEntryIDs failed (injected)");
            bool same = false;
            if (HRESULT hr = CompareIds(profile_, cb1, reinterpret_cast<const BYTE*>(id1), cb2,
                                        reinterpret_cast<const BYTE*>(id2), same);
                FAILED(hr))
                return Failure(hr, "an entry identifier no provider knows");
            *result = same ? TRUE : FALSE;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags, ULONG* lpcbEntryID,
                         LPENTRYID* lppEntryID) override {
        if (lpcbEntryID == nullptr || lppEntryID == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lpcbEntryID = 0;
        *lppEntryID = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IAddrBook::CreateOneOff");
            if (FAILED(fault)) return Failure(fault, "CreateOneOff failed (injected)");
            if (lpszAdrType == nullptr || lpszAddress == nullptr)
                return Failure(MAPI_E_INVALID_PARAMETER, "an address type and an address are needed");
            bool unicode = (ulFlags & MAPI_UNICODE) != 0;
            auto text = [&](LPSTR value) -> std::u16string {
                if (value == nullptr) return {};
                if (!unicode) return ov::AnsiToUtf16(value);
                auto* wide = reinterpret_cast<const WCHAR*>(value);
                std::size_t n = 0;
                while (wide[n] != 0) ++n;
                return std::u16string(wide, n);
            };
            std::u16string type = text(lpszAdrType);
            std::u16string address = text(lpszAddress);
            std::u16string name = lpszName ? text(lpszName) : address;
            if (type.empty()) return Failure(MAPI_E_INVALID_PARAMETER, "an address type is needed");
            std::vector<BYTE> bytes = BuildOneOff(name, type, address, unicode, (ulFlags & MAPI_SEND_NO_RICH_INFO) != 0);
            return WithWarning(fault, AllocEntryId(bytes, lpcbEntryID, lppEntryID));
        });
    }

    HRESULT ResolveName(ULONG_PTR, ULONG ulFlags, LPSTR, LPADRLIST lpAdrList) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IAddrBook::ResolveName");
            if (FAILED(fault)) return Failure(fault, "ResolveName failed (injected)");
            if (lpAdrList == nullptr) return Failure(MAPI_E_INVALID_PARAMETER, "no address list");
            std::vector<AbEntry> book;
            {
                std::lock_guard lock(profile_->Mutex());
                if (HRESULT hr = LoadAbEntries(*profile_, "", 0, book); FAILED(hr)) return Failure(hr, "cannot read");
            }
            bool ambiguous = false;
            bool notFound = false;
            for (ULONG n = 0; n < lpAdrList->cEntries; ++n) {
                ADRENTRY& entry = lpAdrList->aEntries[n];
                LPSPropValue id = PpropFindProp(entry.rgPropVals, entry.cValues, PR_ENTRYID);
                if (id != nullptr) continue;  // resolved already
                LPSPropValue nameValue = PpropFindProp(entry.rgPropVals, entry.cValues, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_DISPLAY_NAME)));
                std::string name = nameValue ? AnsiFromValue(*nameValue) : std::string();
                PropMap resolved;
                int matches = Match(book, name, resolved);
                if (matches == 0) {
                    notFound = true;
                    continue;
                }
                if (matches > 1) {
                    ambiguous = true;
                    continue;
                }
                if (HRESULT hr = ReplaceEntry(entry, resolved, {}, (ulFlags & MAPI_UNICODE) != 0); FAILED(hr)) return hr;
            }
            if (ambiguous) return Failure(MAPI_E_AMBIGUOUS_RECIP, "a name matches several entries");
            if (notFound) return Failure(MAPI_E_NOT_FOUND, "a name matches no entry");
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT PrepareRecips(ULONG ulFlags, LPSPropTagArray lpPropTagArray, LPADRLIST lpRecipList) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IAddrBook::PrepareRecips");
            if (FAILED(fault)) return Failure(fault, "PrepareRecips failed (injected)");
            if (lpRecipList == nullptr) return Failure(MAPI_E_INVALID_PARAMETER, "no address list");
            std::vector<ULONG> wanted;
            if (lpPropTagArray != nullptr)
                wanted.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
            for (ULONG n = 0; n < lpRecipList->cEntries; ++n) {
                ADRENTRY& entry = lpRecipList->aEntries[n];
                PropMap fromBook;
                LPSPropValue id = PpropFindProp(entry.rgPropVals, entry.cValues, PR_ENTRYID);
                if (id != nullptr) {
                    LPUNKNOWN opened = nullptr;
                    ULONG type = 0;
                    if (SUCCEEDED(OpenAddressBookEntry(profile_, id->Value.bin.cb, id->Value.bin.lpb, &type, &opened))) {
                        Ref<IUnknown> held(opened);
                        auto* prop = static_cast<IMAPIProp*>(opened);
                        ULONG count = 0;
                        LPSPropValue values = nullptr;
                        if (SUCCEEDED(prop->GetProps(nullptr, 0, &count, &values))) {
                            for (ULONG v = 0; v < count; ++v) {
                                Prop one;
                                if (SUCCEEDED(PropFromValue(values[v], one))) Put(fromBook, std::move(one));
                            }
                        }
                        MAPIFreeBuffer(values);
                    }
                }
                if (HRESULT hr = ReplaceEntry(entry, fromBook, wanted, (ulFlags & MAPI_UNICODE) != 0); FAILED(hr)) return hr;
            }
            return WithWarning(fault, S_OK);
        });
    }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IAddrBook; }
    const char* InterfaceName() const override { return "IAddrBook"; }

private:
    // 0, 1 or more entries named so: a one-off "[TYPE:address]", else the
    // display names (letter case aside), else the addresses, else the names
    // that begin so.
    int Match(const std::vector<AbEntry>& book, const std::string& name, PropMap& resolved) {
        if (name.empty()) return 0;
        if (name.size() > 3 && name.front() == '[' && name.back() == ']' && name.find(':') != std::string::npos) {
            std::string inner = name.substr(1, name.size() - 2);
            std::size_t colon = inner.find(':');
            std::string type = inner.substr(0, colon);
            std::string address = inner.substr(colon + 1);
            if (type.empty() || address.empty()) return 0;
            OneOff oneOff{0, address, type, address};
            std::vector<BYTE> id = BuildOneOff(ov::AnsiToUtf16(address), ov::AnsiToUtf16(type), ov::AnsiToUtf16(address), false, false);
            AddOneOffComputed(oneOff, id, resolved);
            return 1;
        }
        auto search = [&](auto&& test) {
            const AbEntry* found = nullptr;
            int count = 0;
            for (const AbEntry& entry : book)
                if (test(entry)) {
                    found = &entry;
                    ++count;
                }
            if (count == 1) {
                resolved = found->props;
                AddAbEntryComputed(*profile_, *found, resolved);
            }
            return count;
        };
        int count = search([&](const AbEntry& e) { return ov::EqualsNoCase(AnsiOf(e.props, PR_DISPLAY_NAME_A).value_or(""), name); });
        if (count == 0)
            count = search([&](const AbEntry& e) { return ov::EqualsNoCase(AnsiOf(e.props, PR_EMAIL_ADDRESS_A).value_or(""), name); });
        if (count == 0)
            count = search([&](const AbEntry& e) {
                std::string display = AnsiOf(e.props, PR_DISPLAY_NAME_A).value_or("");
                return display.size() >= name.size() && ov::EqualsNoCase(std::string_view(display).substr(0, name.size()), name);
            });
        return count;
    }

    // Replaces the entry's values: the wanted tags first (from the book, else
    // from the entry, else an error value), then the book's standard columns
    // (when resolving), then every other value the entry had.
    HRESULT ReplaceEntry(ADRENTRY& entry, const PropMap& book, const std::vector<ULONG>& wanted, bool unicode) {
        std::vector<Prop> result;
        std::vector<ULONG> taken;
        PropMap old;
        std::vector<ULONG> oldOrder;
        for (ULONG v = 0; v < entry.cValues; ++v) {
            Prop one;
            if (PROP_TYPE(entry.rgPropVals[v].ulPropTag) == PT_ERROR) continue;
            if (SUCCEEDED(PropFromValue(entry.rgPropVals[v], one))) {
                oldOrder.push_back(PROP_ID(one.tag));
                Put(old, std::move(one));
            }
        }
        auto add = [&](ULONG tag, bool allowError) {
            ULONG id = PROP_ID(tag);
            if (std::find(taken.begin(), taken.end(), id) != taken.end()) return;
            Prop converted;
            const Prop* source = Find(book, tag);
            if (source == nullptr || !ConvertForRequest(*source, PROP_TYPE(tag), converted)) {
                source = Find(old, tag);
                if (source == nullptr || !ConvertForRequest(*source, PROP_TYPE(tag), converted)) {
                    if (!allowError) return;
                    converted = Prop{};
                    converted.tag = CHANGE_PROP_TYPE(tag, PT_ERROR);
                    converted.i = MAPI_E_NOT_FOUND;
                }
            }
            taken.push_back(id);
            result.push_back(std::move(converted));
        };
        for (ULONG tag : wanted) add(tag, true);
        if (wanted.empty()) {
            ULONG text = unicode ? PT_UNICODE : PT_STRING8;
            for (ULONG tag : {PROP_TAG(text, PROP_ID(PR_DISPLAY_NAME)), PROP_TAG(text, PROP_ID(PR_ADDRTYPE)),
                              PROP_TAG(text, PROP_ID(PR_EMAIL_ADDRESS)), PR_ENTRYID, PR_OBJECT_TYPE, PR_DISPLAY_TYPE,
                              PR_SEARCH_KEY, PR_SEND_RICH_INFO})
                add(tag, false);
        }
        for (ULONG id : oldOrder) add(old[id].tag, false);
        void* block = nullptr;
        if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (result.empty() ? 1 : result.size())), &block);
            FAILED(hr))
            return hr;
        auto* values = static_cast<SPropValue*>(block);
        for (std::size_t n = 0; n < result.size(); ++n) {
            if (HRESULT hr = CopyToValue(result[n], block, values[n]); FAILED(hr)) {
                MAPIFreeBuffer(block);
                return hr;
            }
        }
        MAPIFreeBuffer(entry.rgPropVals);
        entry.rgPropVals = values;
        entry.cValues = static_cast<ULONG>(result.size());
        return S_OK;
    }
};

}  // namespace

HRESULT OpenAddressBook(const ProfilePtr& profile, LPADRBOOK* result) {
    PropMap props;
    Put(props, StringProp(PR_DISPLAY_NAME_A, "Address Book"));
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_ADDRBOOK));
    *result = new AddrBookObject(profile, std::move(props));
    return S_OK;
}

HRESULT OpenAddressBookEntry(const ProfilePtr& profile, ULONG cb, const BYTE* entryId, ULONG* objectType,
                             LPUNKNOWN* result) {
    *result = nullptr;
    OneOff oneOff;
    if (ParseOneOff(entryId, cb, oneOff)) {
        PropMap props;
        AddOneOffComputed(oneOff, std::vector<BYTE>(entryId, entryId + cb), props);
        *result = new MailUserObject(profile, std::move(props));
        if (objectType != nullptr) *objectType = MAPI_MAILUSER;
        return S_OK;
    }
    EntryId id;
    if (!ParseEntryId(entryId, cb, id) || !SameUid(id.uid, profile->AbUid())) return MAPI_E_INVALID_ENTRYID;
    std::lock_guard lock(profile->Mutex());
    if (id.objectType == MAPI_ABCONT) {
        if (id.object == 0) {
            *result = static_cast<IMAPIProp*>(new AbContainerObject(profile, 0, ContainerProps(*profile, 0, "")));
        } else {
            Statement query = profile->Db().Prepare("SELECT name FROM ab_containers WHERE id = ?");
            int rc = query.Bind(1, id.object).Step();
            if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? MAPI_E_NOT_FOUND : profile->Db().ErrorResult();
            *result = static_cast<IMAPIProp*>(
                new AbContainerObject(profile, id.object, ContainerProps(*profile, id.object, query.Text(0))));
        }
        if (objectType != nullptr) *objectType = MAPI_ABCONT;
        return S_OK;
    }
    AbEntry entry;
    if (HRESULT hr = LoadAbEntry(*profile, id.object, entry); FAILED(hr)) return hr;
    if (entry.objectType != id.objectType) return MAPI_E_NOT_FOUND;
    PropMap props = entry.props;
    AddAbEntryComputed(*profile, entry, props);
    if (entry.objectType == MAPI_DISTLIST)
        *result = static_cast<IMAPIProp*>(new DistListObject(profile, entry.id, std::move(props)));
    else
        *result = new MailUserObject(profile, std::move(props));
    if (objectType != nullptr) *objectType = entry.objectType;
    return S_OK;
}

HRESULT CompareIds(const ProfilePtr& profile, ULONG cb1, const BYTE* id1, ULONG cb2, const BYTE* id2, bool& same) {
    same = false;
    if ((cb1 != 0 && id1 == nullptr) || (cb2 != 0 && id2 == nullptr)) return MAPI_E_INVALID_PARAMETER;
    OneOff a, b;
    EntryId x, y;
    bool aOneOff = ParseOneOff(id1, cb1, a), bOneOff = ParseOneOff(id2, cb2, b);
    bool aOurs = ParseEntryId(id1, cb1, x) && (SameUid(x.uid, profile->StoreUid()) || SameUid(x.uid, profile->AbUid()));
    bool bOurs = ParseEntryId(id2, cb2, y) && (SameUid(y.uid, profile->StoreUid()) || SameUid(y.uid, profile->AbUid()));
    if (!(aOneOff || aOurs) || !(bOneOff || bOurs)) return MAPI_E_UNKNOWN_ENTRYID;
    if (aOneOff && bOneOff) {
        same = ov::EqualsNoCase(a.addressType, b.addressType) && ov::EqualsNoCase(a.address, b.address);
    } else if (aOurs && bOurs) {
        same = SameUid(x.uid, y.uid) && x.objectType == y.objectType && x.store == y.store && x.object == y.object;
    }
    return S_OK;
}

}  // namespace ovmapi::detail
