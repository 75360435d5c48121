#include "automation.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "faxtiff/faxtiff.h"
#include "ovplatform/platform.h"
#include "profile_text.h"
#include "app_strings.h"

namespace ovfaxapi {

using namespace ov::com;

namespace {

constexpr std::size_t kMaxRecipientText = 63;
constexpr const char* kOvprog = "ovprog.ini";

constexpr WORD kProperty = DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT;
constexpr DispatchMember kMembers[] = {
    {1, "subject", kProperty},
    {2, "year", kProperty},
    {3, "month", kProperty},
    {4, "day", kProperty},
    {5, "hour", kProperty},
    {6, "minutes", kProperty},
    {7, "schedule", kProperty},
    {8, "highres", kProperty},
    {9, "coverpage", kProperty},
    {10, "addrecipient", DISPATCH_METHOD},
    {11, "addattachment", DISPATCH_METHOD},
    {12, "setbodytext", DISPATCH_METHOD},
    {13, "setbodyfile", DISPATCH_METHOD},
    {14, "sendfax", DISPATCH_METHOD},
    {15, "about", DISPATCH_METHOD},
    {16, "getattachmentcount", DISPATCH_METHOD},
    {17, "getattachmentpath", DISPATCH_METHOD},
    {18, "removeattachment", DISPATCH_METHOD},
    {19, "reset", DISPATCH_METHOD},
};

bool FileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(ov::MapPath(path), ec);
}

bool HasExtensionNoCase(const std::string& path, std::string_view extension) {
    std::string_view base = ov::BaseName(path);
    auto dot = base.rfind('.');
    return dot != std::string_view::npos && ov::EqualsNoCase(base.substr(dot + 1), extension);
}

// Automation texts are Unicode (UTF-8 here); the object keeps texts in the
// system code page and paths as the file system spells them.
std::string TextArg(const std::vector<Variant>& args, std::size_t i) {
    if (i >= args.size()) return {};
    return ov::Utf8ToAnsi(ToText(args[i]).value_or(std::string()));
}
std::string PathArg(const std::vector<Variant>& args, std::size_t i) {
    if (i >= args.size()) return {};
    return ToText(args[i]).value_or(std::string());
}
Variant Bool(BOOL value) { return Variant{value != FALSE}; }

}  // namespace

DWORD PrintWaitLimit() {
    if (const char* text = std::getenv("ORVANE_PRINT_WAIT_MS")) {
        char* end = nullptr;
        unsigned long ms = std::strtoul(text, &end, 10);
        if (end != text && *end == '\0' && ms < 120000) return static_cast<DWORD>(ms);
    }
    return 120000;
}

std::filesystem::path TemporaryFileDirectory() {
    auto own = ov::ProgramDirectory();
    if (::access(own.c_str(), W_OK) == 0) return own;
    return ov::TempDirectory();
}

COvfaxapiDlgAutoProxy::COvfaxapiDlgAutoProxy(COvfaxapiDlg* dialog, std::filesystem::path directory)
    : dialog_(dialog), directory_(std::move(directory)) {
    if (dialog_) dialog_->SetObject(this);
    reset(FALSE);
}

COvfaxapiDlgAutoProxy::~COvfaxapiDlgAutoProxy() {
    // Releasing the object deletes what it made, as a full reset does.
    reset(FALSE);
    if (dialog_ && dialog_->object() == this) dialog_->SetObject(nullptr);
}

HRESULT COvfaxapiDlgAutoProxy::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kDispatchIid) {
        AddRef();
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT COvfaxapiDlgAutoProxy::GetIDsOfNames(const std::vector<std::string>& names,
                                             std::vector<DISPID>* ids) {
    return LookUpNames(kMembers, std::size(kMembers), names, ids);
}

HRESULT COvfaxapiDlgAutoProxy::Invoke(DISPID member, WORD flags, const std::vector<Variant>& args,
                                      Variant* result) {
    const DispatchMember* m = FindMember(kMembers, std::size(kMembers), member);
    if (m == nullptr) return DISP_E_MEMBERNOTFOUND;
    if ((m->kinds & flags) == 0) return DISP_E_MEMBERNOTFOUND;
    Variant out;
    if (m->kinds == kProperty) {
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        if (put && args.size() != 1) return DISP_E_BADPARAMCOUNT;
        std::int32_t* number = nullptr;
        bool* flag = nullptr;
        std::string* text = nullptr;
        switch (member) {
            case 1: text = &subject; break;
            case 2: number = &year; break;
            case 3: number = &month; break;
            case 4: number = &day; break;
            case 5: number = &hour; break;
            case 6: number = &minutes; break;
            case 7: flag = &schedule; break;
            case 8: flag = &highres; break;
            case 9: text = &coverpage; break;
        }
        if (put) {
            if (number) {
                auto v = ToInt(args[0]);
                if (!v) return DISP_E_TYPEMISMATCH;
                *number = *v;
            } else if (flag) {
                auto v = ToBool(args[0]);
                if (!v) return DISP_E_TYPEMISMATCH;
                *flag = *v;
            } else if (text) {
                auto v = ToText(args[0]);
                if (!v) return DISP_E_TYPEMISMATCH;
                *text = ov::Utf8ToAnsi(*v);
            }
            return S_OK;
        }
        if (number) out = *number;
        else if (flag) out = *flag;
        else if (text) out = ov::AnsiToUtf8(*text);
    } else {
        switch (member) {
            case 10: {
                std::vector<std::string> texts;
                for (std::size_t i = 0; i < 7; ++i) texts.push_back(TextArg(args, i));
                out = Bool(addrecipient(texts));
                break;
            }
            case 11: out = Bool(addattachment(PathArg(args, 0))); break;
            case 12: out = Bool(setbodytext(TextArg(args, 0))); break;
            case 13: out = Bool(setbodyfile(PathArg(args, 0))); break;
            case 14: out = Bool(sendfax()); break;
            case 15: about(); break;
            case 16: out = getattachmentcount(); break;
            case 17:
            case 18: {
                if (args.empty()) return DISP_E_BADPARAMCOUNT;
                auto index = ToInt(args[0]);
                if (!index) return DISP_E_TYPEMISMATCH;
                if (member == 17) out = getattachmentpath(*index);
                else out = Bool(removeattachment(*index));
                break;
            }
            case 19: {
                auto keep = args.empty() ? std::optional<bool>(false) : ToBool(args[0]);
                if (!keep) return DISP_E_TYPEMISMATCH;
                reset(*keep ? TRUE : FALSE);
                break;
            }
        }
    }
    if (result) *result = std::move(out);
    return S_OK;
}

BOOL COvfaxapiDlgAutoProxy::addrecipient(const std::vector<std::string>& texts) {
    auto text = [&](std::size_t i) {
        return i < texts.size() ? texts[i].substr(0, kMaxRecipientText) : std::string();
    };
    RecipientEntry entry{text(0), text(1), text(2), text(3), text(4), text(5), text(6)};
    if (entry.faxNumber.empty()) return FALSE;
    recipients_.push_back(std::move(entry));
    return TRUE;
}

BOOL COvfaxapiDlgAutoProxy::addattachment(const std::string& path) {
    if (path.empty()) return FALSE;
    // The commands are exact texts; any other spelling names a file.
    if (path == "open.dlg.") return OpenDialogAttach();
    if (path == "wait.print.setup") return PrintSetup();
    if (path == "wait.print.") return PrintWait();
    if (path == "wait.print.close") return PrintClose();
    return AttachFile(path);
}

BOOL COvfaxapiDlgAutoProxy::AttachFile(const std::string& path) {
    if (!FileExists(path) || path.size() > kMaxListedPath) return FALSE;
    std::string attached = path;
    if (HasExtensionNoCase(path, "ovk")) {
        // A printed document is attached as the fax image made from it.
        if (auto image = ov::CreateTempName(directory_, "fax")) {
            std::string imagePath = image->string();
            if (tiffConvertOvk(ov::MapPath(path).c_str(), imagePath.c_str()) == 0) {
                if (ListTemporary(imagePath)) {
                    attached = imagePath;
                } else {
                    std::filesystem::remove(*image);
                }
            } else {
                std::error_code ec;
                std::filesystem::remove(*image, ec);
            }
        }
    }
    attachments_.push_back(attached);
    return TRUE;
}

BOOL COvfaxapiDlgAutoProxy::OpenDialogAttach() {
    auto chosen = ov::ChooseFileToOpen("Open", "Attachment files (*.*)|*.*||");
    if (!chosen) return FALSE;
    // Several files may be chosen, one per line.
    std::size_t start = 0;
    while (start <= chosen->size()) {
        auto end = chosen->find('\n', start);
        if (end == std::string::npos) end = chosen->size();
        std::string one = chosen->substr(start, end - start);
        if (!one.empty() && FileExists(one) && !AttachFile(one)) return FALSE;
        start = end + 1;
    }
    return TRUE;
}

bool COvfaxapiDlgAutoProxy::ListTemporary(const std::string& path) {
    if (path.size() > kMaxListedPath) return false;
    temporaryFiles_.push_back(path);
    return true;
}

BOOL COvfaxapiDlgAutoProxy::setbodytext(const std::string& text) {
    if (text.empty()) return FALSE;
    auto file = ov::CreateTempName(directory_, "bdy");
    if (!file) return FALSE;
    std::string path = file->string();
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            std::filesystem::remove(*file);
            return FALSE;
        }
        bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                  std::fwrite("\r\n", 1, 2, out) == 2;
        ok = (std::fclose(out) == 0) && ok;
        if (!ok) {
            std::filesystem::remove(*file);
            return FALSE;
        }
    }
    if (!ListTemporary(path)) {
        std::filesystem::remove(*file);
        return FALSE;
    }
    return setbodyfile(path);
}

BOOL COvfaxapiDlgAutoProxy::setbodyfile(const std::string& path) {
    if (path.empty() || !body_.empty() || !FileExists(path)) return FALSE;
    body_ = path;
    return TRUE;
}

void COvfaxapiDlgAutoProxy::about() {
    std::string text = LoadString(2000) + "\n" + LoadString(2001) + "\n\n" + LoadString(2002);
    MessageBoxA(dialog_ ? dialog_->window() : nullptr, text.c_str(), LoadString(2000).c_str(),
                MB_OK | MB_ICONINFORMATION);
}

std::string COvfaxapiDlgAutoProxy::getattachmentpath(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= attachments_.size()) return {};
    return attachments_[static_cast<std::size_t>(index)];
}

BOOL COvfaxapiDlgAutoProxy::removeattachment(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= attachments_.size()) return FALSE;
    attachments_.erase(attachments_.begin() + index);
    return TRUE;
}

void COvfaxapiDlgAutoProxy::reset(BOOL keepAttachments) {
    if (!keepAttachments) {
        for (const auto& file : temporaryFiles_) {
            std::error_code ec;
            std::filesystem::remove(ov::MapPath(file), ec);
        }
    }
    waiting_ = false;
    SYSTEMTIME now;
    GetSystemTime(&now);
    year = now.wYear;
    month = now.wMonth;
    day = now.wDay;
    hour = now.wHour;
    minutes = now.wMinute;
    subject.clear();
    coverpage.clear();
    body_.clear();
    highres = false;
    schedule = false;
    recipients_.clear();
    if (!keepAttachments) {
        attachments_.clear();
        temporaryFiles_.clear();
    }
}

// ------------------------------------------------------------ printed files

BOOL COvfaxapiDlgAutoProxy::PrintSetup() {
    std::string client = ReadProfileText("General", "ClientName", kOvprog, 260);
    if (client.empty() || !FileExists(client)) return FALSE;
    WritePrivateProfileStringA("General", "ClientNameBackup", client.c_str(), kOvprog);
    WritePrivateProfileStringA("General", "ClientName", ov::ProgramPath().c_str(), kOvprog);
    waiting_ = true;
    return TRUE;
}

BOOL COvfaxapiDlgAutoProxy::PrintWait() {
    const DWORD start = GetTickCount();
    const DWORD limit = PrintWaitLimit();
    while (waiting_ && GetTickCount() - start < limit) ov::LetMessagesRun(100);
    return waiting_ ? FALSE : TRUE;
}

BOOL COvfaxapiDlgAutoProxy::PrintClose() {
    std::string backup = ReadProfileText("General", "ClientNameBackup", kOvprog, 260);
    WritePrivateProfileStringA("General", "ClientNameBackup", nullptr, kOvprog);
    if (backup.empty()) return FALSE;
    WritePrivateProfileStringA("General", "ClientName", backup.c_str(), kOvprog);
    return TRUE;
}

LRESULT COvfaxapiDlgAutoProxy::OnPrintAttach() {
    if (!waiting_) return 0;
    std::string printed = ReadProfileText("General", "CommandLine", kOvprog, 260);
    if (printed.empty()) return 1;
    AttachFile(printed);
    ListTemporary(printed);
    waiting_ = false;
    return 0;
}

}  // namespace ovfaxapi
