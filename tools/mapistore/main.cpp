// mapistore: the mail profile from the shell — folders and messages of the
// default store, one message in full or as an Outlook item file, the address
// book's contacts and the form registry.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "faxmsg/rtf_streams.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovplatform/platform.h"

namespace {

using nlohmann::ordered_json;

const char* const kUsage = R"(Usage: mapistore COMMAND [ARGUMENTS]

Looks into and administers the mail profile of the prefix
($ORVANE_PREFIX, default ~/.local/share/orvane): <prefix>/mapi/profile.db
holds the message store, the address book and the form registry; submitted
messages go to <prefix>/mapi/pickup/ as .msg files.

Commands:
  init                          create the default profile when there is none
  folders [--json]              the folders of the default store
  list FOLDER [--json]          the messages of a folder (its name, such as
                                "Outbox", or its hexadecimal entry identifier)
  show ENTRYID [--json]         every property of a message (named ones with
                                their names), its recipients and attachments
  export ENTRYID FILE.msg       write a message as an Outlook item file
  contacts import FILE.vcf [--container NAME]
                                add the cards of a vCard file to the address book
  contacts list [--json]        the address book's entries, container by container
  forms list                    the registered forms
  forms install CLASS [--name NAME]
                                register a form for a message class
  forms remove CLASS            remove a form from the registry

Options:
  -h, --help                    show this text

Exit status: 0 on success, 1 when the command failed, 2 for a usage error.
)";

struct Releaser {
    void operator()(IUnknown* object) const {
        if (object) object->Release();
    }
};
template <class T>
using Ptr = std::unique_ptr<T, Releaser>;
struct BufferFree {
    void operator()(void* block) const { MAPIFreeBuffer(block); }
};
struct RowsFree {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, RowsFree>;

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    const char* name = ovmapi::ResultName(hr);
    return name ? std::string(text) + " " + name : text;
}

void Check(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) throw Failure(what + " failed: " + Hex(hr));
}

std::string Utf8(std::string_view ansi) { return ov::AnsiToUtf8(ansi); }

// The mail system for the life of a command.
class Mapi {
public:
    Mapi() {
        Check(MAPIInitialize(nullptr), "starting the mail system");
        initialized_ = true;
        IMAPISession* session = nullptr;
        Check(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT | MAPI_EXTENDED, &session), "logging on");
        session_.reset(session);
    }
    ~Mapi() {
        store_.reset();
        if (session_) session_->Logoff(0, 0, 0);
        session_.reset();
        if (initialized_) MAPIUninitialize();
    }
    Mapi(const Mapi&) = delete;
    Mapi& operator=(const Mapi&) = delete;

    IMAPISession* Session() { return session_.get(); }
    IMsgStore* Store() {
        if (store_) return store_.get();
        IMAPITable* raw = nullptr;
        Check(session_->GetMsgStoresTable(0, &raw), "reading the stores");
        Ptr<IMAPITable> table(raw);
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        SRestriction restriction{};
        restriction.rt = RES_BITMASK;
        restriction.res.resBitMask = {BMR_NEZ, PR_RESOURCE_FLAGS, STATUS_DEFAULT_STORE};
        LPSRowSet rows = nullptr;
        Check(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), &restriction, nullptr, 0, &rows),
              "reading the stores");
        Rows held(rows);
        if (rows->cRows == 0) throw Failure("the profile has no default store");
        const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
        IMsgStore* store = nullptr;
        Check(session_->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MDB_WRITE | MAPI_BEST_ACCESS,
                                     &store),
              "opening the default store");
        store_.reset(store);
        return store;
    }

private:
    bool initialized_ = false;
    Ptr<IMAPISession> session_;
    Ptr<IMsgStore> store_;
};

std::vector<BYTE> EntryIdFromHex(const std::string& text) {
    std::vector<BYTE> bytes;
    if (text.empty() || text.size() % 2 != 0 || !ovmapi::BinFromHex(text, bytes))
        throw Failure("\"" + text + "\" is not a hexadecimal entry identifier");
    return bytes;
}

std::string TimeText(const FILETIME& time) {
    std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t kEpoch = 116444736000000000ull;
    if (ticks < kEpoch) return "1601-01-01T00:00:00Z";
    std::time_t seconds = static_cast<std::time_t>((ticks - kEpoch) / 10000000ull);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

ordered_json ValueJson(const SPropValue& value) {
    const PropValueUnion& v = value.Value;
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_I2: return v.i;
        case PT_LONG: return v.l;
        case PT_BOOLEAN: return v.b != 0;
        case PT_I8: return v.li.QuadPart;
        case PT_R4: return v.flt;
        case PT_DOUBLE: return v.dbl;
        case PT_APPTIME: return v.at;
        case PT_CURRENCY: return v.cur.int64;
        case PT_ERROR: return "error " + Hex(v.err);
        case PT_SYSTIME: return TimeText(v.ft);
        case PT_STRING8: return Utf8(v.lpszA);
        case PT_UNICODE: {
            std::u16string text(v.lpszW);
            return ov::Utf16ToUtf8(text);
        }
        case PT_BINARY: return ovmapi::HexFromBin(v.bin.lpb, v.bin.cb);
        case PT_CLSID: return GuidText(*v.lpguid);
        case PT_MV_LONG: {
            ordered_json list = ordered_json::array();
            for (ULONG n = 0; n < v.MVl.cValues; ++n) list.push_back(v.MVl.lpl[n]);
            return list;
        }
        case PT_MV_STRING8: {
            ordered_json list = ordered_json::array();
            for (ULONG n = 0; n < v.MVszA.cValues; ++n) list.push_back(Utf8(v.MVszA.lppszA[n]));
            return list;
        }
        case PT_MV_UNICODE: {
            ordered_json list = ordered_json::array();
            for (ULONG n = 0; n < v.MVszW.cValues; ++n) list.push_back(ov::Utf16ToUtf8(v.MVszW.lppszW[n]));
            return list;
        }
        case PT_MV_BINARY: {
            ordered_json list = ordered_json::array();
            for (ULONG n = 0; n < v.MVbin.cValues; ++n) list.push_back(ovmapi::HexFromBin(v.MVbin.lpbin[n].lpb, v.MVbin.lpbin[n].cb));
            return list;
        }
        default: return nullptr;
    }
}

std::string TagText(ULONG tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", tag);
    return text;
}

// Every property of an object, named ones explained.
ordered_json PropertiesJson(IMAPIProp* object) {
    ULONG count = 0;
    LPSPropValue values = nullptr;
    Check(object->GetProps(nullptr, 0, &count, &values), "reading the properties");
    std::unique_ptr<SPropValue, BufferFree> held(values);
    ordered_json list = ordered_json::array();
    for (ULONG n = 0; n < count; ++n) {
        ordered_json entry;
        ULONG tag = values[n].ulPropTag;
        entry["tag"] = TagText(tag);
        if (PROP_ID(tag) >= MIN_NAMED_PROP_ID) {
            SizedSPropTagArray(1, one) = {1, {tag}};
            LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&one);
            ULONG names = 0;
            LPMAPINAMEID* ids = nullptr;
            if (SUCCEEDED(object->GetNamesFromIDs(&tags, nullptr, 0, &names, &ids)) && names == 1 && ids[0] != nullptr) {
                entry["set"] = GuidText(*ids[0]->lpguid);
                if (ids[0]->ulKind == MNID_STRING)
                    entry["name"] = ov::Utf16ToUtf8(ids[0]->Kind.lpwstrName);
                else
                    entry["lid"] = TagText(static_cast<ULONG>(ids[0]->Kind.lID));
            }
            MAPIFreeBuffer(ids);
        } else if (const char* name = ovmapi::PropertyName(tag)) {
            entry["name"] = name;
        }
        entry["value"] = ValueJson(values[n]);
        list.push_back(std::move(entry));
    }
    return list;
}

ordered_json TableJson(IMAPITable* table, LPSPropTagArray columns) {
    LPSRowSet rows = nullptr;
    Check(HrQueryAllRows(table, columns, nullptr, nullptr, 0, &rows), "reading a table");
    Rows held(rows);
    ordered_json list = ordered_json::array();
    for (ULONG r = 0; r < rows->cRows; ++r) {
        ordered_json row;
        for (ULONG c = 0; c < rows->aRow[r].cValues; ++c) {
            const SPropValue& value = rows->aRow[r].lpProps[c];
            if (PROP_TYPE(value.ulPropTag) == PT_ERROR) continue;
            const char* name = ovmapi::PropertyName(value.ulPropTag);
            row[name ? name : TagText(value.ulPropTag)] = ValueJson(value);
        }
        list.push_back(std::move(row));
    }
    return list;
}

IUnknown* OpenById(Mapi& mapi, const std::vector<BYTE>& id, ULONG& type) {
    IUnknown* opened = nullptr;
    Check(mapi.Session()->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())),
                                    nullptr, 0, &type, &opened),
          "opening the entry");
    return opened;
}

// The folders of the default store, depth first, with their paths.
ordered_json FoldersJson(Mapi& mapi) {
    IUnknown* opened = nullptr;
    ULONG type = 0;
    Check(mapi.Store()->OpenEntry(0, nullptr, nullptr, 0, &type, &opened), "opening the root folder");
    Ptr<IMAPIFolder> root(reinterpret_cast<IMAPIFolder*>(opened));
    IMAPITable* raw = nullptr;
    Check(root->GetHierarchyTable(CONVENIENT_DEPTH, &raw), "reading the folders");
    Ptr<IMAPITable> table(raw);
    SizedSPropTagArray(4, columns) = {4, {PR_DISPLAY_NAME_A, PR_DEPTH, PR_CONTENT_COUNT, PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    Check(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
          "reading the folders");
    Rows held(rows);
    ordered_json list = ordered_json::array();
    std::vector<std::string> path;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        LONG depth = v[1].Value.l;
        path.resize(static_cast<std::size_t>(std::max<LONG>(depth - 1, 0)));
        path.push_back(Utf8(v[0].Value.lpszA));
        std::string joined;
        for (const std::string& part : path) joined += (joined.empty() ? "" : "/") + part;
        list.push_back({{"name", Utf8(v[0].Value.lpszA)},
                        {"path", joined},
                        {"messages", v[2].Value.l},
                        {"entryId", ovmapi::HexFromBin(v[3].Value.bin.lpb, v[3].Value.bin.cb)}});
    }
    return list;
}

int Init() {
    Check(ovmapi::EnsureProfile(), "creating the profile");
    std::cout << "profile: " << ovmapi::ProfileDatabasePath().string() << "\n"
              << "pickup directory: " << ovmapi::PickupDirectory().string() << "\n";
    return 0;
}

int Folders(bool json) {
    Mapi mapi;
    ordered_json folders = FoldersJson(mapi);
    if (json) {
        std::cout << folders.dump(2) << "\n";
        return 0;
    }
    for (const auto& folder : folders)
        std::cout << folder["path"].get<std::string>() << "\t" << folder["messages"].get<long>() << "\t"
                  << folder["entryId"].get<std::string>() << "\n";
    return 0;
}

int List(const std::string& folderName, bool json) {
    Mapi mapi;
    std::vector<BYTE> id;
    for (const auto& folder : FoldersJson(mapi))
        if (ov::EqualsNoCase(folder["name"].get<std::string>(), folderName) ||
            ov::EqualsNoCase(folder["path"].get<std::string>(), folderName)) {
            ovmapi::BinFromHex(folder["entryId"].get<std::string>(), id);
            break;
        }
    if (id.empty()) id = EntryIdFromHex(folderName);
    ULONG type = 0;
    Ptr<IUnknown> opened(OpenById(mapi, id, type));
    if (type != MAPI_FOLDER) throw Failure("\"" + folderName + "\" is not a folder");
    auto* folder = reinterpret_cast<IMAPIFolder*>(opened.get());
    IMAPITable* raw = nullptr;
    Check(folder->GetContentsTable(0, &raw), "reading the folder");
    Ptr<IMAPITable> table(raw);
    SizedSPropTagArray(5, columns) = {5, {PR_ENTRYID, PR_MESSAGE_CLASS_A, PR_SUBJECT_A, PR_MESSAGE_FLAGS, PR_LAST_MODIFICATION_TIME}};
    ordered_json rows = TableJson(table.get(), reinterpret_cast<LPSPropTagArray>(&columns));
    if (json) {
        std::cout << rows.dump(2) << "\n";
        return 0;
    }
    for (const auto& row : rows)
        std::cout << row.value("PR_ENTRYID", "") << "\t" << row.value("PR_MESSAGE_CLASS", "") << "\t"
                  << row.value("PR_SUBJECT", "") << "\n";
    return 0;
}

int Show(const std::string& hex, bool json) {
    Mapi mapi;
    ULONG type = 0;
    Ptr<IUnknown> opened(OpenById(mapi, EntryIdFromHex(hex), type));
    if (type != MAPI_MESSAGE) throw Failure("the entry is not a message");
    auto* message = reinterpret_cast<IMessage*>(opened.get());
    ordered_json result;
    result["properties"] = PropertiesJson(message);
    // The body as the fax server renders it: the RTF kept compressed in
    // PR_RTF_COMPRESSED (nothing when the message has none).
    std::string rtf;
    HRESULT rtfResult = faxmsg::HrReadRtfBody(message, rtf);
    if (SUCCEEDED(rtfResult)) {
        result["rtf"] = rtf;
    } else if (rtfResult != MAPI_E_NOT_FOUND) {
        result["rtf_error"] = Hex(rtfResult);
    }
    IMAPITable* raw = nullptr;
    Check(message->GetRecipientTable(0, &raw), "reading the recipients");
    Ptr<IMAPITable> recipients(raw);
    result["recipients"] = TableJson(recipients.get(), nullptr);
    Check(message->GetAttachmentTable(0, &raw), "reading the attachments");
    Ptr<IMAPITable> attachmentTable(raw);
    SizedSPropTagArray(1, numbers) = {1, {PR_ATTACH_NUM}};
    LPSRowSet rows = nullptr;
    Check(HrQueryAllRows(attachmentTable.get(), reinterpret_cast<LPSPropTagArray>(&numbers), nullptr, nullptr, 0, &rows),
          "reading the attachments");
    Rows held(rows);
    ordered_json attachments = ordered_json::array();
    for (ULONG r = 0; r < rows->cRows; ++r) {
        IAttach* attach = nullptr;
        Check(message->OpenAttach(rows->aRow[r].lpProps[0].Value.ul, nullptr, 0, &attach), "opening an attachment");
        Ptr<IAttach> heldAttach(attach);
        ordered_json properties = PropertiesJson(attach);
        // The data is shown by its size; export writes it whole.
        for (auto& property : properties)
            if (property["tag"] == TagText(PR_ATTACH_DATA_BIN))
                property["value"] = "(" + std::to_string(property["value"].get<std::string>().size() / 2) + " bytes)";
        attachments.push_back(std::move(properties));
    }
    result["attachments"] = std::move(attachments);
    if (json) {
        std::cout << result.dump(2, ' ', false, ordered_json::error_handler_t::replace) << "\n";
        return 0;
    }
    auto print = [](const ordered_json& properties, const char* indent) {
        for (const auto& p : properties) {
            std::cout << indent << p["tag"].get<std::string>();
            if (p.contains("name")) std::cout << " " << p["name"].get<std::string>();
            if (p.contains("lid")) std::cout << " lid " << p["lid"].get<std::string>();
            std::cout << " = " << (p["value"].is_string() ? p["value"].get<std::string>() : p["value"].dump()) << "\n";
        }
    };
    print(result["properties"], "");
    for (const auto& recipient : result["recipients"]) std::cout << "recipient: " << recipient.dump() << "\n";
    for (const auto& attachment : result["attachments"]) {
        std::cout << "attachment:\n";
        print(attachment, "  ");
    }
    if (result.contains("rtf")) std::cout << "rtf body:\n" << result["rtf"].get<std::string>() << "\n";
    if (result.contains("rtf_error")) std::cout << "rtf body: unreadable (" << result["rtf_error"].get<std::string>() << ")\n";
    return 0;
}

int Export(const std::string& hex, const std::string& file) {
    std::string error;
    HRESULT hr = ovmapi::ExportMessage(EntryIdFromHex(hex), file, error);
    if (FAILED(hr)) throw Failure(error.empty() ? "export failed: " + Hex(hr) : error);
    std::cout << "wrote " << file << "\n";
    return 0;
}

int ContactsImport(const std::string& file, const std::string& container) {
    ovmapi::ImportSummary summary;
    HRESULT hr = ovmapi::ImportVCardFile(file, container, summary);
    for (const std::string& warning : summary.warnings) std::cerr << "mapistore: " << warning << "\n";
    if (FAILED(hr)) throw Failure("importing " + file + " failed: " + Hex(hr));
    std::cout << "imported " << summary.mailUsers << " contacts and " << summary.distributionLists
              << " distribution lists\n";
    return 0;
}

int ContactsList(bool json) {
    Mapi mapi;
    IAddrBook* rawBook = nullptr;
    Check(mapi.Session()->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &rawBook), "opening the address book");
    Ptr<IAddrBook> book(rawBook);
    IUnknown* opened = nullptr;
    ULONG type = 0;
    Check(book->OpenEntry(0, nullptr, nullptr, 0, &type, &opened), "opening the address book");
    Ptr<IABContainer> root(reinterpret_cast<IABContainer*>(opened));
    IMAPITable* raw = nullptr;
    Check(root->GetHierarchyTable(CONVENIENT_DEPTH, &raw), "reading the containers");
    Ptr<IMAPITable> hierarchy(raw);
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_A, PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    Check(HrQueryAllRows(hierarchy.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows),
          "reading the containers");
    Rows held(rows);
    ordered_json result = ordered_json::array();
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SBinary& id = rows->aRow[r].lpProps[1].Value.bin;
        Check(root->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type, &opened), "opening a container");
        Ptr<IABContainer> container(reinterpret_cast<IABContainer*>(opened));
        Check(container->GetContentsTable(0, &raw), "reading a container");
        Ptr<IMAPITable> contents(raw);
        SizedSPropTagArray(9, entryColumns) = {9,
                                               {PR_DISPLAY_NAME_A, PR_OBJECT_TYPE, PR_ADDRTYPE_A, PR_EMAIL_ADDRESS_A,
                                                PR_GIVEN_NAME_A, PR_SURNAME_A, PR_COMPANY_NAME_A, PR_DEPARTMENT_NAME_A,
                                                PR_BUSINESS_TELEPHONE_NUMBER_A}};
        result.push_back({{"container", Utf8(rows->aRow[r].lpProps[0].Value.lpszA)},
                          {"entries", TableJson(contents.get(), reinterpret_cast<LPSPropTagArray>(&entryColumns))}});
    }
    if (json) {
        std::cout << result.dump(2) << "\n";
        return 0;
    }
    for (const auto& container : result) {
        std::cout << container["container"].get<std::string>() << ":\n";
        for (const auto& entry : container["entries"]) {
            bool list = entry.value("PR_OBJECT_TYPE", 0) == static_cast<int>(MAPI_DISTLIST);
            std::cout << "  " << entry.value("PR_DISPLAY_NAME", "") << (list ? "\t(list)" : "") << "\t"
                      << entry.value("PR_ADDRTYPE", "") << ":" << entry.value("PR_EMAIL_ADDRESS", "") << "\t"
                      << entry.value("PR_COMPANY_NAME", "") << "\n";
        }
    }
    return 0;
}

int FormsList() {
    std::vector<ovmapi::FormRegistration> forms;
    Check(ovmapi::ListForms(forms), "reading the form registry");
    for (const auto& form : forms) std::cout << form.messageClass << "\t" << form.displayName << "\n";
    return 0;
}

struct Arguments {
    std::vector<std::string> words;
    bool json = false;
    std::string container;
    std::string name;
};

int Usage(const std::string& problem) {
    std::cerr << "mapistore: " << problem << "\nTry 'mapistore --help'.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--json") {
            args.json = true;
        } else if (arg == "--container" || arg == "--name") {
            if (i + 1 >= argc) return Usage(arg + " needs a value");
            (arg == "--container" ? args.container : args.name) = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else {
            args.words.push_back(arg);
        }
    }
    const std::vector<std::string>& w = args.words;
    auto need = [&](std::size_t count) { return w.size() == count; };
    try {
        if (w.empty()) return Usage("no command given");
        const std::string& command = w[0];
        if (command == "init" && need(1)) return Init();
        if (command == "folders" && need(1)) return Folders(args.json);
        if (command == "list" && need(2)) return List(w[1], args.json);
        if (command == "show" && need(2)) return Show(w[1], args.json);
        if (command == "export" && need(3)) return Export(w[1], w[2]);
        if (command == "contacts" && w.size() >= 2) {
            if (w[1] == "import" && need(3)) return ContactsImport(w[2], args.container);
            if (w[1] == "list" && need(2)) return ContactsList(args.json);
        }
        if (command == "forms" && w.size() >= 2) {
            if (w[1] == "list" && need(2)) return FormsList();
            if (w[1] == "install" && need(3)) {
                Check(ovmapi::InstallForm(w[2], args.name), "registering the form");
                std::cout << "installed " << w[2] << "\n";
                return 0;
            }
            if (w[1] == "remove" && need(3)) {
                HRESULT hr = ovmapi::RemoveForm(w[2]);
                if (hr == MAPI_E_NOT_FOUND) throw Failure("no form is registered for " + w[2]);
                Check(hr, "removing the form");
                std::cout << "removed " << w[2] << "\n";
                return 0;
            }
        }
        return Usage("unknown command or wrong arguments: " + command);
    } catch (const Failure& failure) {
        std::cerr << "mapistore: " << failure.what() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "mapistore: " << error.what() << "\n";
        return 1;
    }
}
