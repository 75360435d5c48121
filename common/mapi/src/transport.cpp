// The profile's transport: a submitted message is written as an Outlook item
// file into the pickup directory, where the fax server collects it, and then
// moves to the folder its PR_SENTMAIL_ENTRYID names.
#include <cstdio>
#include <cstring>

#include "ovmapi/provider.h"
#include "ovmsgfile/msgfile.h"
#include "ovplatform/platform.h"
#include "propobject.h"

namespace ovmapi::detail {

void AddMessageComputed(const Profile& profile, const MessageRecord& record, bool modifiable, PropMap& props);
void AddAttachComputed(ULONG number, PropMap& props);

namespace {

namespace mf = ov::msgfile;

std::vector<std::int32_t> LongsOf(const Prop& prop) {
    std::vector<std::int32_t> values;
    for (const std::string& element : prop.multi) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4 && i < element.size(); ++i)
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(element[i])) << (8 * i);
        values.push_back(static_cast<std::int32_t>(value));
    }
    return values;
}

// The property in the file's terms; nothing for types a file does not carry.
std::optional<mf::Property> ToFileProperty(const Prop& prop) {
    mf::Property out;
    out.tag = prop.tag;
    switch (PROP_TYPE(prop.tag)) {
        case PT_I2: out.value = static_cast<std::int16_t>(prop.i); break;
        case PT_LONG: out.value = static_cast<std::int32_t>(prop.i); break;
        case PT_BOOLEAN: out.value = prop.i != 0; break;
        case PT_I8: out.value = static_cast<std::int64_t>(prop.i); break;
        case PT_DOUBLE: out.value = prop.d; break;
        case PT_SYSTIME: out.value = mf::FileTime{static_cast<std::uint64_t>(prop.i)}; break;
        case PT_STRING8: out.value = prop.bytes; break;
        case PT_UNICODE: out.value = Utf16FromBytes(prop.bytes); break;
        case PT_BINARY: out.value = mf::Bytes(prop.bytes.begin(), prop.bytes.end()); break;
        case PT_CLSID: {
            if (prop.bytes.size() != 16) return std::nullopt;
            std::array<std::uint8_t, 16> bytes{};
            std::memcpy(bytes.data(), prop.bytes.data(), 16);
            out.value = mf::Guid::FromBytes(bytes);
            break;
        }
        case PT_MV_STRING8: out.value = prop.multi; break;
        case PT_MV_UNICODE: {
            std::vector<std::u16string> values;
            for (const std::string& element : prop.multi) values.push_back(Utf16FromBytes(element));
            out.value = std::move(values);
            break;
        }
        case PT_MV_BINARY: {
            std::vector<mf::Bytes> values;
            for (const std::string& element : prop.multi) values.emplace_back(element.begin(), element.end());
            out.value = std::move(values);
            break;
        }
        case PT_MV_LONG: out.value = LongsOf(prop); break;
        default: return std::nullopt;
    }
    return out;
}

// Named properties the file must explain, gathered while converting.
struct Names {
    Profile& profile;
    std::uint32_t store;
    std::map<ULONG, std::optional<mf::NamedProperty>> known;

    bool Known(ULONG id) {
        if (id < MIN_NAMED_PROP_ID) return true;
        auto found = known.find(id);
        if (found == known.end()) {
            NameRecord record;
            std::optional<mf::NamedProperty> named;
            if (SUCCEEDED(profile.NameOfId(store, id, record))) {
                mf::NamedProperty entry;
                entry.id = static_cast<std::uint16_t>(id);
                std::array<std::uint8_t, 16> bytes{};
                std::memcpy(bytes.data(), &record.guid, 16);
                entry.propertySet = mf::Guid::FromBytes(bytes);
                entry.kind = record.kind == MNID_ID ? mf::NameKind::kId : mf::NameKind::kString;
                entry.lid = static_cast<std::uint32_t>(record.lid);
                entry.name = record.name;
                named = entry;
            }
            found = known.emplace(id, named).first;
        }
        return found->second.has_value();
    }
};

mf::PropertyList ToFileProperties(const PropMap& props, Names& names) {
    mf::PropertyList list;
    for (const auto& [id, prop] : props) {
        // A name this store cannot explain would reach the fax server as a
        // meaningless number; it is left out.
        if (!names.Known(id)) continue;
        if (auto converted = ToFileProperty(prop)) list.push_back(std::move(*converted));
    }
    return list;
}

}  // namespace

// The message in the file's terms, with the properties a submission sets.
PropMap FileProps(Profile& profile, const MessageRecord& record, bool submission, mf::Message& file) {
    // The file carries what the message holds plus what readers expect to
    // find computed (display lists, attachment flag).
    PropMap props = record.props;
    PropMap computed;
    AddMessageComputed(profile, record, false, computed);
    for (ULONG tag : {PR_DISPLAY_TO_A, PR_DISPLAY_CC_A, PR_DISPLAY_BCC_A, PR_HASATTACH, PR_MESSAGE_FLAGS})
        if (const Prop* prop = Find(computed, tag)) Put(props, *prop);
    if (submission) {
        Put(props, TimeProp(PR_CLIENT_SUBMIT_TIME, NowFileTime()));
        LONG flags = LongOf(props, PR_MESSAGE_FLAGS).value_or(0);
        Put(props, LongProp(PR_MESSAGE_FLAGS, (flags | MSGFLAG_READ | MSGFLAG_FROMME) &
                                                  ~static_cast<LONG>(MSGFLAG_UNSENT | MSGFLAG_SUBMIT)));
    }

    Names names{profile, record.store, {}};
    file.properties = ToFileProperties(props, names);
    for (const PropMap& recipient : record.recipients) file.recipients.push_back({ToFileProperties(recipient, names)});
    for (const auto& [number, attachment] : record.attachments) {
        PropMap withNumber = attachment;
        Put(withNumber, LongProp(PR_ATTACH_NUM, static_cast<LONG>(number)));
        file.attachments.push_back({ToFileProperties(withNumber, names)});
    }
    for (const auto& [id, named] : names.known)
        if (named) file.namedProperties.push_back(*named);
    return props;
}

mf::WriteOptions FileOptions() {
    mf::WriteOptions options;
    options.ansiToUtf16 = [](std::string_view ansi) { return ov::AnsiToUtf16(ansi); };
    return options;
}

HRESULT StatusResult(const mf::Status& status) {
    return status.code == mf::ErrorCode::kOutOfMemory ? MAPI_E_NOT_ENOUGH_MEMORY
           : status.code == mf::ErrorCode::kIoError   ? MAPI_E_DISK_ERROR
           : status.code == mf::ErrorCode::kFileExists ? MAPI_E_COLLISION
                                                      : MAPI_E_CALL_FAILED;
}

HRESULT Transport(Profile& profile, std::int64_t messageId, std::string& error) {
    HRESULT fault = faults::Check("Transport::Deliver");
    if (FAILED(fault)) {
        error = "the transport refused the message (injected)";
        return fault;
    }
    MessageRecord record;
    if (HRESULT hr = profile.LoadMessage(messageId, record); FAILED(hr)) {
        error = "the submitted message cannot be read back";
        return hr;
    }
    mf::Message file;
    PropMap props = FileProps(profile, record, true, file);
    mf::WriteOptions options = FileOptions();
    std::filesystem::path written;
    for (int attempt = 0; attempt < 16 && written.empty(); ++attempt) {
        std::int64_t number = 0;
        if (HRESULT hr = profile.NextSubmissionNumber(number); FAILED(hr)) {
            error = "cannot number the submission: " + profile.Db().LastError();
            return hr;
        }
        char name[32];
        std::snprintf(name, sizeof name, "%010lld.msg", static_cast<long long>(number));
        std::filesystem::path path = PickupDirectory() / name;
        mf::Status status = mf::WriteMsgFile(file, path, options);
        if (status.ok()) {
            written = path;
        } else if (status.code != mf::ErrorCode::kFileExists) {
            error = "cannot write " + path.string() + ": " + status.message;
            return StatusResult(status);
        }
    }
    if (written.empty()) {
        error = "no free name in the pickup directory";
        return MAPI_E_COLLISION;
    }

    // The message leaves the outgoing side in one step: flags, submit time
    // and its new folder (or it goes when it asked to be deleted).
    std::int64_t folder = record.folder;
    if (auto sentMail = BinaryOf(record.props, PR_SENTMAIL_ENTRYID)) {
        EntryId id;
        FolderRecord target;
        if (ParseEntryId(sentMail->data(), sentMail->size(), id) && SameUid(id.uid, profile.StoreUid()) &&
            id.objectType == MAPI_FOLDER && SUCCEEDED(profile.LoadFolder(id.object, target)) &&
            target.store == record.store)
            folder = target.id;
    }
    bool deleteAfter = BoolOf(record.props, PR_DELETE_AFTER_SUBMIT).value_or(false);
    HRESULT hr;
    {
        Transaction transaction(profile.Db());
        if (!transaction.Begun()) {
            hr = profile.Db().ErrorResult();
        } else if (deleteAfter) {
            Statement message = profile.Db().Prepare("DELETE FROM messages WHERE id = ?");
            Statement attachments = profile.Db().Prepare("DELETE FROM attachments WHERE message_id = ?");
            hr = message.Bind(1, messageId).Step() == SQLITE_DONE && attachments.Bind(1, messageId).Step() == SQLITE_DONE
                     ? transaction.Commit()
                     : profile.Db().ErrorResult();
        } else {
            PropMap stored = record.props;
            Put(stored, *Find(props, PR_CLIENT_SUBMIT_TIME));
            Put(stored, *Find(props, PR_MESSAGE_FLAGS));
            Statement update = profile.Db().Prepare("UPDATE messages SET props = ?, folder_id = ? WHERE id = ?");
            hr = update.BindBlob(1, SerializeProps(stored)).Bind(2, folder).Bind(3, messageId).Step() == SQLITE_DONE
                     ? transaction.Commit()
                     : profile.Db().ErrorResult();
        }
    }
    if (FAILED(hr)) {
        // Undelivered after all: the fax server must not see it.
        std::error_code ec;
        std::filesystem::remove(written, ec);
        error = "cannot move the submitted message: " + profile.Db().LastError();
        return hr;
    }
    return WithWarning(fault, S_OK);
}

}  // namespace ovmapi::detail

namespace ovmapi {

HRESULT ExportMessage(const std::vector<BYTE>& entryId, const std::filesystem::path& file, std::string& error) {
    using namespace detail;
    return Guarded([&]() -> HRESULT {
        ProfilePtr profile;
        if (HRESULT hr = Profile::Open(profile, error); FAILED(hr)) return hr;
        EntryId id;
        if (!ParseEntryId(entryId.data(), entryId.size(), id) || !SameUid(id.uid, profile->StoreUid()) ||
            id.objectType != MAPI_MESSAGE) {
            error = "not the entry identifier of a message of this profile";
            return MAPI_E_INVALID_ENTRYID;
        }
        MessageRecord record;
        if (HRESULT hr = profile->LoadMessage(id.object, record); FAILED(hr)) {
            error = hr == MAPI_E_NOT_FOUND ? "no such message" : "cannot read the message: " + profile->Db().LastError();
            return hr;
        }
        ov::msgfile::Message message;
        FileProps(*profile, record, false, message);
        ov::msgfile::Status status = ov::msgfile::WriteMsgFile(message, file, FileOptions());
        if (!status.ok()) {
            error = "cannot write " + file.string() + ": " + status.message;
            return StatusResult(status);
        }
        return S_OK;
    });
}

}  // namespace ovmapi
