// The message store: the store object, its folders, messages and attachments.
#include <algorithm>
#include <cstring>

#include "ovmapi/provider.h"
#include "propobject.h"

namespace ovmapi::detail {
namespace {

class MessageObject;

std::vector<BYTE> StoreEntry(const Profile& profile, std::uint32_t store) {
    return MakeEntryId(profile.StoreUid(), MAPI_STORE, store, store);
}
std::vector<BYTE> FolderEntry(const Profile& profile, std::uint32_t store, std::int64_t folder) {
    return MakeEntryId(profile.StoreUid(), MAPI_FOLDER, store, folder);
}
std::vector<BYTE> MessageEntry(const Profile& profile, std::uint32_t store, std::int64_t message) {
    return MakeEntryId(profile.StoreUid(), MAPI_MESSAGE, store, message);
}

std::string InstanceKey(ULONG kind, std::int64_t id) {
    std::string key(12, '\0');
    for (int i = 0; i < 4; ++i) key[i] = static_cast<char>((kind >> (8 * i)) & 0xFF);
    auto value = static_cast<std::uint64_t>(id);
    for (int i = 0; i < 8; ++i) key[4 + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return key;
}

// Display lists of a message's recipients ("Ann; Bob"), by recipient type.
void AddRecipientDisplays(const std::vector<PropMap>& recipients, PropMap& props) {
    std::string lists[4];
    for (const PropMap& recipient : recipients) {
        LONG type = LongOf(recipient, PR_RECIPIENT_TYPE).value_or(MAPI_TO) & 0x3;
        std::string name = AnsiOf(recipient, PR_DISPLAY_NAME_A).value_or("");
        std::string& list = lists[type];
        if (!list.empty()) list += "; ";
        list += name;
    }
    Put(props, StringProp(PR_DISPLAY_TO_A, lists[MAPI_TO]));
    Put(props, StringProp(PR_DISPLAY_CC_A, lists[MAPI_CC]));
    Put(props, StringProp(PR_DISPLAY_BCC_A, lists[MAPI_BCC]));
}

bool IsMessageComputed(ULONG id) {
    switch (id) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_INSTANCE_KEY):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_STORE_RECORD_KEY):
        case PROP_ID(PR_PARENT_ENTRYID):
        case PROP_ID(PR_HASATTACH):
        case PROP_ID(PR_MESSAGE_SIZE):
        case PROP_ID(PR_DISPLAY_TO):
        case PROP_ID(PR_DISPLAY_CC):
        case PROP_ID(PR_DISPLAY_BCC):
        case PROP_ID(PR_ACCESS):
        case PROP_ID(PR_ACCESS_LEVEL):
        case PROP_ID(PR_MESSAGE_RECIPIENTS):
        case PROP_ID(PR_MESSAGE_ATTACHMENTS):
            return true;
        default:
            return false;
    }
}

std::size_t PropsSize(const PropMap& props) {
    std::size_t size = 0;
    for (const auto& [id, prop] : props) {
        size += 8 + prop.bytes.size();
        for (const std::string& value : prop.multi) size += value.size();
    }
    return size;
}

}  // namespace

// Computed properties of a message, for the message object and for tables.
void AddMessageComputed(const Profile& profile, const MessageRecord& record, bool modifiable, PropMap& props) {
    if (record.id != 0) {
        Put(props, BinaryProp(PR_ENTRYID, MessageEntry(profile, record.store, record.id)));
        Put(props, BinaryProp(PR_RECORD_KEY, MessageEntry(profile, record.store, record.id)));
        Put(props, BinaryProp(PR_INSTANCE_KEY, InstanceKey(MAPI_MESSAGE, record.id)));
    }
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_MESSAGE));
    Put(props, BinaryProp(PR_STORE_ENTRYID, StoreEntry(profile, record.store)));
    Put(props, BinaryProp(PR_STORE_RECORD_KEY, std::string_view(reinterpret_cast<const char*>(profile.StoreUid().ab), 16)));
    Put(props, BinaryProp(PR_PARENT_ENTRYID, FolderEntry(profile, record.store, record.folder)));
    bool hasAttach = !record.attachments.empty();
    Put(props, BoolProp(PR_HASATTACH, hasAttach));
    LONG flags = LongOf(props, PR_MESSAGE_FLAGS).value_or(0);
    flags = hasAttach ? (flags | static_cast<LONG>(MSGFLAG_HASATTACH)) : (flags & ~static_cast<LONG>(MSGFLAG_HASATTACH));
    Put(props, LongProp(PR_MESSAGE_FLAGS, flags));
    std::size_t size = PropsSize(props);
    for (const PropMap& recipient : record.recipients) size += PropsSize(recipient);
    for (const auto& [number, attachment] : record.attachments) size += PropsSize(attachment);
    Put(props, LongProp(PR_MESSAGE_SIZE, static_cast<LONG>(std::min<std::size_t>(size, 0x7FFFFFFF))));
    AddRecipientDisplays(record.recipients, props);
    Put(props, LongProp(PR_ACCESS, modifiable ? (MAPI_ACCESS_MODIFY | MAPI_ACCESS_READ | MAPI_ACCESS_DELETE)
                                              : MAPI_ACCESS_READ));
    Put(props, LongProp(PR_ACCESS_LEVEL, modifiable ? 1 : 0));
}

// Computed properties of an attachment.
void AddAttachComputed(ULONG number, PropMap& props) {
    Put(props, LongProp(PR_ATTACH_NUM, static_cast<LONG>(number)));
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_ATTACH));
    Put(props, BinaryProp(PR_INSTANCE_KEY, InstanceKey(MAPI_ATTACH, number)));
    Put(props, BinaryProp(PR_RECORD_KEY, InstanceKey(MAPI_ATTACH, number)));
    Put(props, LongProp(PR_ATTACH_SIZE, static_cast<LONG>(std::min<std::size_t>(PropsSize(props), 0x7FFFFFFF))));
}

namespace {

bool IsAttachComputed(ULONG id) {
    return id == PROP_ID(PR_ATTACH_NUM) || id == PROP_ID(PR_OBJECT_TYPE) || id == PROP_ID(PR_INSTANCE_KEY) ||
           id == PROP_ID(PR_RECORD_KEY) || id == PROP_ID(PR_ATTACH_SIZE);
}

// ------------------------------------------------------------ attachment
class AttachObject final : public PropObject<AttachObject, IAttach> {
public:
    AttachObject(ProfilePtr profile, MessageObject* parent, ULONG number, PropMap props, bool modifiable);
    ~AttachObject();

protected:
    PropMap& Bag() override { return props_; }
    void AddComputed(PropMap& props) override { AddAttachComputed(number_, props); }
    bool IsComputed(ULONG id) const override { return IsAttachComputed(id); }
    HRESULT CanModify() override { return modifiable_ ? S_OK : MAPI_E_NO_ACCESS; }
    HRESULT DoSaveChanges(ULONG flags) override;
    std::uint32_t NameScope() const override;
    bool Supports(REFIID riid) const override { return riid == IID_IAttachment; }
    const char* InterfaceName() const override { return "IAttach"; }

private:
    MessageObject* parent_;  // referenced for the attachment's lifetime
    ULONG number_;
    PropMap props_;
    bool modifiable_;
};

// --------------------------------------------------------------- message
class MessageObject final : public PropObject<MessageObject, IMessage> {
public:
    MessageObject(ProfilePtr profile, MessageRecord record, bool modifiable)
        : PropObject(std::move(profile)), record_(std::move(record)), modifiable_(modifiable) {}

    std::uint32_t Store() const { return record_.store; }
    bool Modifiable() const { return modifiable_; }
    void CommitAttachment(ULONG number, const PropMap& props) { record_.attachments[number] = props; }

    HRESULT GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
        (void)ulFlags;
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::GetAttachmentTable");
            if (FAILED(fault)) return Failure(fault, "GetAttachmentTable failed (injected)");
            std::vector<PropMap> rows;
            for (const auto& [number, attachment] : record_.attachments) {
                PropMap row = attachment;
                AddAttachComputed(number, row);
                rows.push_back(std::move(row));
            }
            std::vector<ULONG> columns = {PR_ATTACH_NUM,       PR_INSTANCE_KEY,      PR_RECORD_KEY,
                                          PR_RENDERING_POSITION, PR_ATTACH_METHOD,   PR_ATTACH_FILENAME_A,
                                          PR_ATTACH_LONG_FILENAME_A, PR_DISPLAY_NAME_A, PR_ATTACH_SIZE};
            return WithWarning(fault, CreateTable(std::move(rows), std::move(columns), "AttachmentTable", lppTable));
        });
    }

    HRESULT OpenAttach(ULONG number, LPCIID iid, ULONG flags, LPATTACH* lppAttach) override {
        if (lppAttach == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppAttach = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::OpenAttach");
            if (FAILED(fault)) return Failure(fault, "OpenAttach failed (injected)");
            if (iid != nullptr && !(*iid == IID_IAttachment || *iid == IID_IMAPIProp || *iid == IID_IUnknown))
                return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "attachments are IAttach");
            auto found = record_.attachments.find(number);
            if (found == record_.attachments.end()) return Failure(MAPI_E_NOT_FOUND, "no attachment of that number");
            bool modifiable = modifiable_ && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
            *lppAttach = new AttachObject(profile_, this, number, found->second, modifiable);
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT CreateAttach(LPCIID iid, ULONG flags, ULONG* number, LPATTACH* lppAttach) override {
        (void)flags;
        if (lppAttach == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppAttach = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::CreateAttach");
            if (FAILED(fault)) return Failure(fault, "CreateAttach failed (injected)");
            if (iid != nullptr && !(*iid == IID_IAttachment || *iid == IID_IMAPIProp || *iid == IID_IUnknown))
                return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "attachments are IAttach");
            if (!modifiable_) return Failure(MAPI_E_NO_ACCESS, "the message is read-only");
            ULONG created = record_.nextAttachNum++;
            if (number != nullptr) *number = created;
            *lppAttach = new AttachObject(profile_, this, created, PropMap{}, true);
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT DeleteAttach(ULONG number, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::DeleteAttach");
            if (FAILED(fault)) return Failure(fault, "DeleteAttach failed (injected)");
            if (!modifiable_) return Failure(MAPI_E_NO_ACCESS, "the message is read-only");
            if (record_.attachments.erase(number) == 0) return Failure(MAPI_E_NOT_FOUND, "no attachment of that number");
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
        (void)ulFlags;
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::GetRecipientTable");
            if (FAILED(fault)) return Failure(fault, "GetRecipientTable failed (injected)");
            std::vector<ULONG> columns = {PR_ROWID,          PR_DISPLAY_NAME_A, PR_ADDRTYPE_A, PR_EMAIL_ADDRESS_A,
                                          PR_RECIPIENT_TYPE, PR_ENTRYID,        PR_INSTANCE_KEY};
            std::vector<PropMap> rows;
            for (const PropMap& recipient : record_.recipients) {
                PropMap row = recipient;
                Put(row, BinaryProp(PR_INSTANCE_KEY, InstanceKey(MAPI_MAILUSER, LongOf(row, PR_ROWID).value_or(0))));
                for (const auto& entry : row) {
                    ULONG id = entry.first;
                    bool listed = std::any_of(columns.begin(), columns.end(), [id](ULONG tag) { return PROP_ID(tag) == id; });
                    if (!listed) columns.push_back(entry.second.tag);
                }
                rows.push_back(std::move(row));
            }
            return WithWarning(fault, CreateTable(std::move(rows), std::move(columns), "RecipientTable", lppTable));
        });
    }

    HRESULT ModifyRecipients(ULONG flags, LPADRLIST mods) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::ModifyRecipients");
            if (FAILED(fault)) return Failure(fault, "ModifyRecipients failed (injected)");
            if (mods == nullptr) return Failure(MAPI_E_INVALID_PARAMETER, "no address list");
            if ((flags & ~(MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE)) != 0)
                return Failure(MAPI_E_UNKNOWN_FLAGS, "unknown flags");
            if (!modifiable_) return Failure(MAPI_E_NO_ACCESS, "the message is read-only");
            std::vector<PropMap> entries;
            for (ULONG n = 0; n < mods->cEntries; ++n) {
                const ADRENTRY& entry = mods->aEntries[n];
                if (entry.rgPropVals == nullptr && entry.cValues != 0)
                    return Failure(MAPI_E_INVALID_PARAMETER, "an entry without values");
                PropMap props;
                for (ULONG v = 0; v < entry.cValues; ++v) {
                    ULONG type = PROP_TYPE(entry.rgPropVals[v].ulPropTag);
                    if (type == PT_ERROR || type == PT_NULL || type == PT_OBJECT) continue;
                    Prop prop;
                    if (HRESULT hr = PropFromValue(entry.rgPropVals[v], prop); FAILED(hr))
                        return Failure(hr, "a recipient value is not valid");
                    Put(props, std::move(prop));
                }
                entries.push_back(std::move(props));
            }
            std::vector<PropMap> result = record_.recipients;
            auto rowIdOf = [](const PropMap& props) { return LongOf(props, PR_ROWID); };
            auto assignRowId = [&](PropMap& props) { Put(props, LongProp(PR_ROWID, static_cast<LONG>(record_.nextRowId++))); };
            if (flags == 0) {
                result.clear();
                for (PropMap& entry : entries) {
                    assignRowId(entry);
                    result.push_back(std::move(entry));
                }
            } else if ((flags & MODRECIP_ADD) != 0) {
                for (PropMap& entry : entries) {
                    assignRowId(entry);
                    result.push_back(std::move(entry));
                }
            } else {
                for (PropMap& entry : entries) {
                    std::optional<LONG> rowId = rowIdOf(entry);
                    if (!rowId) return Failure(MAPI_E_INVALID_PARAMETER, "an entry without PR_ROWID");
                    auto found = std::find_if(result.begin(), result.end(),
                                              [&](const PropMap& row) { return rowIdOf(row) == rowId; });
                    if (found == result.end()) return Failure(MAPI_E_NOT_FOUND, "no recipient with that row id");
                    if ((flags & MODRECIP_REMOVE) != 0)
                        result.erase(found);
                    else
                        *found = std::move(entry);
                }
            }
            record_.recipients = std::move(result);
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT SubmitMessage(ULONG flags) override {
        (void)flags;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::SubmitMessage");
            if (FAILED(fault)) return Failure(fault, "SubmitMessage failed (injected)");
            if (!modifiable_) return Failure(MAPI_E_NO_ACCESS, "the message is read-only");
            if (submitted_) return Failure(MAPI_E_SUBMITTED, "the message was submitted already");
            if (record_.recipients.empty()) return Failure(MAPI_E_NO_RECIPIENTS, "the message has no recipients");
            if (HRESULT hr = Save(); FAILED(hr)) return hr;
            std::string error;
            std::lock_guard lock(profile_->Mutex());
            if (HRESULT hr = Transport(*profile_, record_.id, error); FAILED(hr)) return Failure(hr, error);
            submitted_ = true;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT SetReadFlag(ULONG flags) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMessage::SetReadFlag");
            if (FAILED(fault)) return Failure(fault, "SetReadFlag failed (injected)");
            constexpr ULONG kClearReadFlag = 0x00000004;
            LONG value = LongOf(record_.props, PR_MESSAGE_FLAGS).value_or(0);
            value = (flags & kClearReadFlag) ? (value & ~static_cast<LONG>(MSGFLAG_READ)) : (value | MSGFLAG_READ);
            Put(record_.props, LongProp(PR_MESSAGE_FLAGS, value));
            return WithWarning(fault, S_OK);
        });
    }

protected:
    PropMap& Bag() override { return record_.props; }
    void AddComputed(PropMap& props) override { AddMessageComputed(*profile_, record_, modifiable_, props); }
    bool IsComputed(ULONG id) const override { return IsMessageComputed(id); }
    HRESULT CanModify() override {
        if (submitted_) return MAPI_E_SUBMITTED;
        return modifiable_ ? S_OK : MAPI_E_NO_ACCESS;
    }
    HRESULT DoSaveChanges(ULONG flags) override {
        (void)flags;
        if (HRESULT hr = CanModify(); FAILED(hr)) return Failure(hr, "the message cannot be saved");
        return Save();
    }
    std::uint32_t NameScope() const override { return record_.store; }
    bool Supports(REFIID riid) const override { return riid == IID_IMessage; }
    const char* InterfaceName() const override { return "IMessage"; }

private:
    HRESULT Save() {
        std::int64_t now = NowFileTime();
        if (Find(record_.props, PR_CREATION_TIME) == nullptr) Put(record_.props, TimeProp(PR_CREATION_TIME, now));
        Put(record_.props, TimeProp(PR_LAST_MODIFICATION_TIME, now));
        if (Find(record_.props, PR_MESSAGE_FLAGS) == nullptr)
            Put(record_.props, LongProp(PR_MESSAGE_FLAGS, MSGFLAG_UNSENT | MSGFLAG_READ));
        std::lock_guard lock(profile_->Mutex());
        MessageRecord saved = record_;
        if (HRESULT hr = profile_->SaveMessage(saved); FAILED(hr))
            return Failure(hr, "cannot save the message: " + profile_->Db().LastError());
        record_.id = saved.id;
        return S_OK;
    }

    MessageRecord record_;
    bool modifiable_;
    bool submitted_ = false;
};

AttachObject::AttachObject(ProfilePtr profile, MessageObject* parent, ULONG number, PropMap props, bool modifiable)
    : PropObject(std::move(profile)), parent_(parent), number_(number), props_(std::move(props)), modifiable_(modifiable) {
    parent_->AddRef();
}
AttachObject::~AttachObject() { parent_->Release(); }
HRESULT AttachObject::DoSaveChanges(ULONG flags) {
    (void)flags;
    if (!modifiable_) return Failure(MAPI_E_NO_ACCESS, "the attachment is read-only");
    parent_->CommitAttachment(number_, props_);
    return S_OK;
}
std::uint32_t AttachObject::NameScope() const { return parent_->Store(); }

// ----------------------------------------------------------------- folder
bool IsFolderComputed(ULONG id) {
    switch (id) {
        case PROP_ID(PR_ENTRYID):
        case PROP_ID(PR_RECORD_KEY):
        case PROP_ID(PR_INSTANCE_KEY):
        case PROP_ID(PR_OBJECT_TYPE):
        case PROP_ID(PR_DISPLAY_NAME):
        case PROP_ID(PR_FOLDER_TYPE):
        case PROP_ID(PR_CONTENT_COUNT):
        case PROP_ID(PR_SUBFOLDERS):
        case PROP_ID(PR_PARENT_ENTRYID):
        case PROP_ID(PR_STORE_ENTRYID):
        case PROP_ID(PR_ACCESS):
        case PROP_ID(PR_DEPTH):
            return true;
        default:
            return false;
    }
}

HRESULT AddFolderComputed(Profile& profile, const FolderRecord& record, PropMap& props) {
    Put(props, BinaryProp(PR_ENTRYID, FolderEntry(profile, record.store, record.id)));
    Put(props, BinaryProp(PR_RECORD_KEY, FolderEntry(profile, record.store, record.id)));
    Put(props, BinaryProp(PR_INSTANCE_KEY, InstanceKey(MAPI_FOLDER, record.id)));
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_FOLDER));
    Put(props, StringProp(PR_DISPLAY_NAME_A, record.name));
    Put(props, LongProp(PR_FOLDER_TYPE, record.role == "root" ? FOLDER_ROOT : FOLDER_GENERIC));
    ULONG count = 0;
    if (HRESULT hr = profile.CountMessages(record.id, count); FAILED(hr)) return hr;
    Put(props, LongProp(PR_CONTENT_COUNT, static_cast<LONG>(count)));
    std::vector<FolderRecord> children;
    if (HRESULT hr = profile.ChildFolders(record.store, record.id, children); FAILED(hr)) return hr;
    Put(props, BoolProp(PR_SUBFOLDERS, !children.empty()));
    Put(props, BinaryProp(PR_PARENT_ENTRYID, FolderEntry(profile, record.store, record.parent ? record.parent : record.id)));
    Put(props, BinaryProp(PR_STORE_ENTRYID, StoreEntry(profile, record.store)));
    Put(props, LongProp(PR_ACCESS, MAPI_ACCESS_MODIFY | MAPI_ACCESS_READ | MAPI_ACCESS_CREATE_HIERARCHY |
                                       MAPI_ACCESS_CREATE_CONTENTS));
    return S_OK;
}

HRESULT OpenMessageRecord(const ProfilePtr& profile, std::int64_t id, std::uint32_t store, bool modifiable,
                          LPMESSAGE* result) {
    MessageRecord record;
    {
        std::lock_guard lock(profile->Mutex());
        if (HRESULT hr = profile->LoadMessage(id, record); FAILED(hr)) return hr;
    }
    if (record.store != store) return MAPI_E_NOT_FOUND;
    *result = new MessageObject(profile, std::move(record), modifiable);
    return S_OK;
}

class FolderObject final : public PropObject<FolderObject, IMAPIFolder> {
public:
    FolderObject(ProfilePtr profile, FolderRecord record) : PropObject(std::move(profile)), record_(std::move(record)) {}

    HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = ContainerFault("GetContentsTable");
            if (FAILED(fault)) return Failure(fault, "GetContentsTable failed (injected)");
            if ((ulFlags & MAPI_ASSOCIATED) != 0)
                return WithWarning(fault, CreateTable({}, {PR_ENTRYID, PR_INSTANCE_KEY}, "ContentsTable", lppTable));
            std::vector<MessageRecord> messages;
            {
                std::lock_guard lock(profile_->Mutex());
                if (HRESULT hr = profile_->FolderMessages(record_.id, messages, false); FAILED(hr))
                    return Failure(hr, "cannot read the folder");
            }
            std::vector<PropMap> rows;
            for (const MessageRecord& message : messages) {
                PropMap row = message.props;
                AddMessageComputed(*profile_, message, true, row);
                rows.push_back(std::move(row));
            }
            std::vector<ULONG> columns = {PR_ENTRYID,         PR_INSTANCE_KEY,   PR_MESSAGE_CLASS_A,
                                          PR_SUBJECT_A,       PR_MESSAGE_FLAGS,  PR_MESSAGE_DELIVERY_TIME,
                                          PR_CLIENT_SUBMIT_TIME, PR_DISPLAY_TO_A, PR_HASATTACH,
                                          PR_MESSAGE_SIZE,    PR_LAST_MODIFICATION_TIME};
            return WithWarning(fault, CreateTable(std::move(rows), std::move(columns), "ContentsTable", lppTable));
        });
    }

    HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override {
        if (lppTable == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = ContainerFault("GetHierarchyTable");
            if (FAILED(fault)) return Failure(fault, "GetHierarchyTable failed (injected)");
            std::vector<PropMap> rows;
            std::lock_guard lock(profile_->Mutex());
            std::function<HRESULT(std::int64_t, LONG)> walk = [&](std::int64_t parent, LONG depth) -> HRESULT {
                std::vector<FolderRecord> children;
                if (HRESULT hr = profile_->ChildFolders(record_.store, parent, children); FAILED(hr)) return hr;
                for (const FolderRecord& child : children) {
                    PropMap row = child.props;
                    if (HRESULT hr = AddFolderComputed(*profile_, child, row); FAILED(hr)) return hr;
                    Put(row, LongProp(PR_DEPTH, depth));
                    rows.push_back(std::move(row));
                    if ((ulFlags & CONVENIENT_DEPTH) != 0 && depth < 64) {
                        if (HRESULT hr = walk(child.id, depth + 1); FAILED(hr)) return hr;
                    }
                }
                return S_OK;
            };
            if (HRESULT hr = walk(record_.id, 1); FAILED(hr)) return Failure(hr, "cannot read the folders");
            std::vector<ULONG> columns = {PR_ENTRYID,      PR_DISPLAY_NAME_A, PR_CONTENT_COUNT, PR_SUBFOLDERS,
                                          PR_FOLDER_TYPE,  PR_DEPTH,          PR_INSTANCE_KEY,  PR_CONTAINER_CLASS_A};
            return WithWarning(fault, CreateTable(std::move(rows), std::move(columns), "HierarchyTable", lppTable));
        });
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override {
        if (lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = ContainerFault("OpenEntry");
            if (FAILED(fault)) return Failure(fault, "OpenEntry failed (injected)");
            EntryId id;
            if (cbEntryID == 0) {
                id.uid = profile_->StoreUid();
                id.objectType = MAPI_FOLDER;
                id.store = record_.store;
                id.object = record_.id;
            } else if (!ParseEntryId(lpEntryID, cbEntryID, id) || !SameUid(id.uid, profile_->StoreUid()) ||
                       id.store != record_.store) {
                return Failure(MAPI_E_INVALID_ENTRYID, "not an entry of this store");
            }
            HRESULT hr = OpenStoreEntry(profile_, id, lpInterface, ulFlags, lpulObjType, lppUnk);
            if (FAILED(hr)) return Failure(hr, "cannot open the entry");
            return WithWarning(fault, hr);
        });
    }

    HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) override {
        if (lppMessage == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppMessage = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPIFolder::CreateMessage");
            if (FAILED(fault)) return Failure(fault, "CreateMessage failed (injected)");
            if (lpInterface != nullptr &&
                !(*lpInterface == IID_IMessage || *lpInterface == IID_IMAPIProp || *lpInterface == IID_IUnknown))
                return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "messages are IMessage");
            MessageRecord record;
            record.store = record_.store;
            record.folder = record_.id;
            Put(record.props, LongProp(PR_MESSAGE_FLAGS, (ulFlags & MAPI_ASSOCIATED) ? MSGFLAG_ASSOCIATED | MSGFLAG_UNSENT
                                                                                     : MSGFLAG_UNSENT | MSGFLAG_READ));
            *lppMessage = new MessageObject(profile_, std::move(record), true);
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT CreateFolder(ULONG ulFolderType, LPSTR lpszFolderName, LPSTR lpszFolderComment, LPCIID lpInterface,
                         ULONG ulFlags, LPMAPIFOLDER* lppFolder) override {
        (void)lpszFolderComment;
        if (lppFolder == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppFolder = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPIFolder::CreateFolder");
            if (FAILED(fault)) return Failure(fault, "CreateFolder failed (injected)");
            if (lpszFolderName == nullptr || ulFolderType == FOLDER_SEARCH || (lpInterface != nullptr && !(*lpInterface == IID_IMAPIFolder)))
                return Failure(MAPI_E_INVALID_PARAMETER, "a generic folder with a name is needed");
            std::string name = (ulFlags & MAPI_UNICODE) != 0
                                   ? AnsiFromValue(SPropValue{PR_DISPLAY_NAME_W, 0, {.lpszW = reinterpret_cast<LPWSTR>(lpszFolderName)}})
                                   : std::string(lpszFolderName);
            std::int64_t folder = 0;
            {
                std::lock_guard lock(profile_->Mutex());
                if (HRESULT hr = profile_->CreateFolder(record_.store, record_.id, name, (ulFlags & OPEN_IF_EXISTS) != 0, folder);
                    FAILED(hr))
                    return Failure(hr, "cannot create the folder");
            }
            EntryId id{profile_->StoreUid(), MAPI_FOLDER, record_.store, folder};
            LPUNKNOWN opened = nullptr;
            if (HRESULT hr = OpenStoreEntry(profile_, id, &IID_IMAPIFolder, MAPI_MODIFY, nullptr, &opened); FAILED(hr))
                return hr;
            *lppFolder = static_cast<LPMAPIFOLDER>(static_cast<IMAPIContainer*>(static_cast<IMAPIProp*>(opened)));
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPIFolder::DeleteMessages");
            if (FAILED(fault)) return Failure(fault, "DeleteMessages failed (injected)");
            if (lpMsgList == nullptr) return MAPI_E_INVALID_PARAMETER;
            bool partial = false;
            std::lock_guard lock(profile_->Mutex());
            for (ULONG n = 0; n < lpMsgList->cValues; ++n) {
                EntryId id;
                MessageRecord record;
                if (!ParseEntryId(lpMsgList->lpbin[n].lpb, lpMsgList->lpbin[n].cb, id) ||
                    !SameUid(id.uid, profile_->StoreUid()) || id.objectType != MAPI_MESSAGE ||
                    FAILED(profile_->LoadMessage(id.object, record)) || record.folder != record_.id ||
                    FAILED(profile_->DeleteMessage(id.object))) {
                    partial = true;
                }
            }
            return WithWarning(fault, partial ? MAPI_W_PARTIAL_COMPLETION : S_OK);
        });
    }

protected:
    PropMap& Bag() override { return record_.props; }
    HRESULT AllProps(PropMap& all) override {
        all = record_.props;
        std::lock_guard lock(profile_->Mutex());
        return AddFolderComputed(*profile_, record_, all);
    }
    bool IsComputed(ULONG id) const override { return IsFolderComputed(id); }
    HRESULT Persist() override {
        std::lock_guard lock(profile_->Mutex());
        return profile_->SaveFolderProps(record_.id, record_.props);
    }
    std::uint32_t NameScope() const override { return record_.store; }
    bool Supports(REFIID riid) const override { return riid == IID_IMAPIFolder || riid == IID_IMAPIContainer; }
    const char* InterfaceName() const override { return "IMAPIFolder"; }

private:
    FolderRecord record_;
};

// ------------------------------------------------------------------ store
class StoreObject final : public PropObject<StoreObject, IMsgStore> {
public:
    StoreObject(ProfilePtr profile, std::uint32_t store, PropMap props)
        : PropObject(std::move(profile)), store_(store), props_(std::move(props)) {}

    HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID id1, ULONG cb2, LPENTRYID id2, ULONG, ULONG* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMsgStore::CompareEntryIDs");
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

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override {
        if (lppUnk == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMsgStore::OpenEntry");
            if (FAILED(fault)) return Failure(fault, "OpenEntry failed (injected)");
            EntryId id;
            if (cbEntryID == 0) {
                std::int64_t root = 0;
                std::lock_guard lock(profile_->Mutex());
                if (HRESULT hr = profile_->FolderByRole(store_, "root", root); FAILED(hr)) return Failure(hr, "no root folder");
                id = EntryId{profile_->StoreUid(), MAPI_FOLDER, store_, root};
            } else if (!ParseEntryId(lpEntryID, cbEntryID, id) || !SameUid(id.uid, profile_->StoreUid())) {
                return Failure(MAPI_E_INVALID_ENTRYID, "not an entry of this store");
            } else if (id.store != store_) {
                return Failure(MAPI_E_NOT_FOUND, "an entry of another store");
            }
            HRESULT hr = OpenStoreEntry(profile_, id, lpInterface, ulFlags, lpulObjType, lppUnk);
            if (FAILED(hr)) return Failure(hr, "cannot open the entry");
            return WithWarning(fault, hr);
        });
    }

    HRESULT SetReceiveFolder(LPSTR, ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }

    HRESULT GetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID, LPENTRYID* lppEntryID,
                             LPSTR* lppszExplicitClass) override {
        (void)lpszMessageClass;
        (void)ulFlags;
        if (lpcbEntryID == nullptr || lppEntryID == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lpcbEntryID = 0;
        *lppEntryID = nullptr;
        if (lppszExplicitClass != nullptr) *lppszExplicitClass = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMsgStore::GetReceiveFolder");
            if (FAILED(fault)) return Failure(fault, "GetReceiveFolder failed (injected)");
            std::int64_t inbox = 0;
            {
                std::lock_guard lock(profile_->Mutex());
                if (HRESULT hr = profile_->FolderByRole(store_, "inbox", inbox); FAILED(hr))
                    return Failure(hr, "the store has no receive folder");
            }
            if (HRESULT hr = AllocEntryId(FolderEntry(*profile_, store_, inbox), lpcbEntryID, lppEntryID); FAILED(hr))
                return hr;
            if (lppszExplicitClass != nullptr) {
                void* text = nullptr;
                if (HRESULT hr = MAPIAllocateBuffer(1, &text); FAILED(hr)) {
                    MAPIFreeBuffer(*lppEntryID);
                    *lppEntryID = nullptr;
                    *lpcbEntryID = 0;
                    return hr;
                }
                static_cast<char*>(text)[0] = '\0';
                *lppszExplicitClass = static_cast<LPSTR>(text);
            }
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT StoreLogoff(ULONG* lpulFlags) override {
        (void)lpulFlags;
        HRESULT fault = faults::Check("IMsgStore::StoreLogoff");
        return FAILED(fault) ? fault : WithWarning(fault, S_OK);
    }

protected:
    PropMap& Bag() override { return props_; }
    HRESULT AllProps(PropMap& all) override {
        all = props_;
        std::lock_guard lock(profile_->Mutex());
        std::string name;
        bool isDefault = false;
        if (HRESULT hr = profile_->StoreRow(store_, name, isDefault); FAILED(hr)) return hr;
        std::vector<BYTE> entry = StoreEntry(*profile_, store_);
        Put(all, BinaryProp(PR_ENTRYID, entry));
        Put(all, BinaryProp(PR_STORE_ENTRYID, entry));
        Put(all, BinaryProp(PR_RECORD_KEY, std::string_view(reinterpret_cast<const char*>(profile_->StoreUid().ab), 16)));
        Put(all, BinaryProp(PR_STORE_RECORD_KEY, std::string_view(reinterpret_cast<const char*>(profile_->StoreUid().ab), 16)));
        Put(all, BinaryProp(PR_MDB_PROVIDER, std::string_view(reinterpret_cast<const char*>(profile_->StoreUid().ab), 16)));
        Put(all, LongProp(PR_OBJECT_TYPE, MAPI_STORE));
        Put(all, StringProp(PR_DISPLAY_NAME_A, name));
        Put(all, StringProp(PR_PROVIDER_DISPLAY_A, "Orvane Message Store"));
        Put(all, BoolProp(PR_DEFAULT_STORE, isDefault));
        Put(all, LongProp(PR_RESOURCE_FLAGS, isDefault ? STATUS_DEFAULT_STORE : 0));
        Put(all, LongProp(PR_STORE_SUPPORT_MASK, STORE_RTF_OK | STORE_UNICODE_OK));
        static const std::pair<const char*, ULONG> kFolders[] = {{"ipm", PR_IPM_SUBTREE_ENTRYID},
                                                                 {"outbox", PR_IPM_OUTBOX_ENTRYID},
                                                                 {"sent", PR_IPM_SENTMAIL_ENTRYID},
                                                                 {"deleted", PR_IPM_WASTEBASKET_ENTRYID}};
        for (const auto& [role, tag] : kFolders) {
            std::int64_t folder = 0;
            if (SUCCEEDED(profile_->FolderByRole(store_, role, folder)))
                Put(all, BinaryProp(tag, FolderEntry(*profile_, store_, folder)));
        }
        return S_OK;
    }
    bool IsComputed(ULONG id) const override {
        switch (id) {
            case PROP_ID(PR_ENTRYID):
            case PROP_ID(PR_STORE_ENTRYID):
            case PROP_ID(PR_RECORD_KEY):
            case PROP_ID(PR_STORE_RECORD_KEY):
            case PROP_ID(PR_MDB_PROVIDER):
            case PROP_ID(PR_OBJECT_TYPE):
            case PROP_ID(PR_DISPLAY_NAME):
            case PROP_ID(PR_DEFAULT_STORE):
            case PROP_ID(PR_RESOURCE_FLAGS):
            case PROP_ID(PR_IPM_SUBTREE_ENTRYID):
            case PROP_ID(PR_IPM_OUTBOX_ENTRYID):
            case PROP_ID(PR_IPM_SENTMAIL_ENTRYID):
            case PROP_ID(PR_IPM_WASTEBASKET_ENTRYID):
                return true;
            default:
                return false;
        }
    }
    HRESULT Persist() override {
        std::lock_guard lock(profile_->Mutex());
        return profile_->SaveStoreProps(store_, props_);
    }
    std::uint32_t NameScope() const override { return store_; }
    bool Supports(REFIID riid) const override { return riid == IID_IMsgStore; }
    const char* InterfaceName() const override { return "IMsgStore"; }

private:
    std::uint32_t store_;
    PropMap props_;
};

bool InterfaceFits(LPCIID iid, ULONG objectType) {
    if (iid == nullptr || *iid == IID_IUnknown || *iid == IID_IMAPIProp) return true;
    switch (objectType) {
        case MAPI_STORE: return *iid == IID_IMsgStore;
        case MAPI_FOLDER: return *iid == IID_IMAPIFolder || *iid == IID_IMAPIContainer;
        case MAPI_MESSAGE: return *iid == IID_IMessage;
        default: return false;
    }
}

}  // namespace

HRESULT OpenStore(const ProfilePtr& profile, std::uint32_t store, LPMDB* result) {
    PropMap props;
    {
        std::lock_guard lock(profile->Mutex());
        if (HRESULT hr = profile->LoadStoreProps(store, props); FAILED(hr)) return hr;
    }
    *result = new StoreObject(profile, store, std::move(props));
    return S_OK;
}

HRESULT OpenStoreEntry(const ProfilePtr& profile, const EntryId& id, LPCIID iid, ULONG flags, ULONG* objectType,
                       LPUNKNOWN* result) {
    *result = nullptr;
    if (!SameUid(id.uid, profile->StoreUid())) return MAPI_E_INVALID_ENTRYID;
    if (!InterfaceFits(iid, id.objectType)) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    bool modifiable = (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    switch (id.objectType) {
        case MAPI_STORE: {
            LPMDB store = nullptr;
            if (HRESULT hr = OpenStore(profile, id.store, &store); FAILED(hr)) return hr;
            *result = store;
            break;
        }
        case MAPI_FOLDER: {
            FolderRecord record;
            {
                std::lock_guard lock(profile->Mutex());
                if (HRESULT hr = profile->LoadFolder(id.object, record); FAILED(hr)) return hr;
            }
            if (record.store != id.store) return MAPI_E_NOT_FOUND;
            *result = static_cast<IMAPIProp*>(new FolderObject(profile, std::move(record)));
            break;
        }
        case MAPI_MESSAGE: {
            LPMESSAGE message = nullptr;
            if (HRESULT hr = OpenMessageRecord(profile, id.object, id.store, modifiable, &message); FAILED(hr)) return hr;
            *result = message;
            break;
        }
        default:
            return MAPI_E_INVALID_ENTRYID;
    }
    if (objectType != nullptr) *objectType = id.objectType;
    return S_OK;
}

}  // namespace ovmapi::detail
