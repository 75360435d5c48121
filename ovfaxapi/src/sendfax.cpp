// sendfax: the composed fax handed to the client gateway in one call.
#include "sendfax.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "mapigate/cgw.h"
#include "ovplatform/platform.h"
#include "password.h"
#include "profile_text.h"

namespace ovfaxapi {

namespace {

constexpr const char* kClientIni = "OVCLIENT.INI";
constexpr std::size_t kMaxBodyLine = 1023;
constexpr const char* kLoadWarning =
    "Your must install either of the following:\nExplorer 3.0 or above\nMicrosoft office 97\n";

void CopySlot(char* slot, std::size_t size, const std::string& text) {
    std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(slot, text.data(), n);
    slot[n] = '\0';
}

// The gateway library, loaded for one sendfax and unloaded at its end.
class Gateway {
public:
    ~Gateway() {
        if (module_) FreeLibrary(module_);
    }
    bool Load(const std::string& path, HWND owner) {
        module_ = LoadLibraryA(path.c_str());
        if (module_ == nullptr) {
            if (GetLastError() == ERROR_GEN_FAILURE) {
                MessageBoxA(owner, kLoadWarning, "client error", MB_OK | MB_ICONEXCLAMATION);
            }
            return false;
        }
        return Bind("cgwGetCaps", getCaps) && Bind("cgwGetInfo", getInfo) &&
               Bind("cgwLogon", logon) && Bind("cgwLogonEx", logonEx) &&
               Bind("cgwLogoff", logoff) && Bind("cgwAddressBook", addressBook) &&
               Bind("cgwSendMessage", sendMessage) && Bind("cgwSendMessageEx", sendMessageEx);
    }

    PFN_cgwGetCaps getCaps = nullptr;
    PFN_cgwGetInfo getInfo = nullptr;
    PFN_cgwLogon logon = nullptr;
    PFN_cgwLogonEx logonEx = nullptr;
    PFN_cgwLogoff logoff = nullptr;
    PFN_cgwAddressBook addressBook = nullptr;
    PFN_cgwSendMessage sendMessage = nullptr;
    PFN_cgwSendMessageEx sendMessageEx = nullptr;

private:
    template <typename F>
    bool Bind(const char* name, F& entry) {
        entry = reinterpret_cast<F>(GetProcAddress(module_, name));
        return entry != nullptr;
    }
    HMODULE module_ = nullptr;
};

std::vector<cgwAttachment> AttachmentEntries(const std::vector<std::string>& paths,
                                             std::vector<std::string>& baseNames) {
    std::vector<cgwAttachment> entries;
    std::size_t count = std::min<std::size_t>(paths.size(), CGW_MAX_ATTACHMENTS);
    baseNames.clear();
    baseNames.reserve(count);  // the entries point into these texts
    for (std::size_t i = 0; i < count; ++i) {
        baseNames.emplace_back(ov::BaseName(paths[i]));
        entries.push_back(cgwAttachment{0, paths[i].c_str(), baseNames.back().c_str()});
    }
    return entries;
}

std::string BodyText(const std::string& bodyPath, bool* present) {
    *present = false;
    if (bodyPath.empty()) return {};
    auto lines = ReadBodyLines(bodyPath);
    if (!lines) return {};
    *present = true;
    std::string text;
    for (const auto& line : *lines) text += line + "\r\n";
    return text;
}

}  // namespace

const char* ClientErrorText(int code) {
    static constexpr const char* kTexts[] = {
        "No error\n\nError: C-0000",
        "Generic error\n\nError: C-0001",
        "Logon failed\n\nError: C-0002",
        "logoff failed\n\nError: C-0003",
        "Send failed\n\nError: C-0007",
        "Addressbook failed\n\nError: C-0004",
        "Callback is Null\n\nError: C-0005",
        "User Aborted\n\nError: C-0006",
        "Insuffient memory\n\nError: C-0008",
        "Failed to create attachment\n\nError: C-0009",
        "Failed to open attachment\n\nError: C-0010",
        "Failed to crate body\n\nError: C-0011",
        "Failed to open body\n\nError: C-0012",
        "Invalid recipients\n\nError: C-0013",
        "Too many files\n\nError: C-0014",
        "Too many recipients\n\nError: C-0015",
        "Unknown recipient\n\nError: C-0016",
    };
    if (code < 0 || code >= static_cast<int>(std::size(kTexts))) {
        return "Unknown error - Fatal error\n\nError: C-9999";
    }
    return kTexts[code];
}

std::optional<std::vector<std::string>> ReadBodyLines(const std::string& path) {
    std::ifstream in(ov::MapPath(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    auto flush = [&] {
        lines.push_back(line);
        line.clear();
    };
    char c;
    while (in.get(c)) {
        if (c == '\n') {
            // A line ends at a line feed; the carriage return before it goes too.
            if (!line.empty() && line.back() == '\r') line.pop_back();
            flush();
            continue;
        }
        if (line.size() == kMaxBodyLine) flush();  // long lines come in pieces
        line += c;
    }
    if (!line.empty()) flush();
    return lines;
}

std::optional<std::string> FormatSchedule(int year, int month, int day, int hour, int minutes) {
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > 31 ||
        hour < 0 || hour > 23 || minutes < 0 || minutes > 59) {
        return std::nullopt;
    }
    SYSTEMTIME when{};
    when.wYear = static_cast<WORD>(year);
    when.wMonth = static_cast<WORD>(month);
    when.wDay = static_cast<WORD>(day);
    when.wHour = static_cast<WORD>(hour);
    when.wMinute = static_cast<WORD>(minutes);
    char date[256];
    char time[256];
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, sizeof date) == 0 ||
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &when, nullptr, time, sizeof time) == 0) {
        return std::nullopt;
    }
    std::string text = std::string(date) + " " + time;
    if (text.size() > 255) text.resize(255);
    return text;
}

std::string BuildPlainMessageText(const COvfaxapiDlgAutoProxy& fax) {
    std::string text = fax.highres ? ":: h" : ":: n";
    text += ", C=" + fax.coverpage;
    if (fax.schedule) {
        char clock[32];
        std::snprintf(clock, sizeof clock, "%02d:%02d", fax.hour, fax.minutes);
        text += std::string(", ") + clock;
    }
    text += "\r\n\r\n";
    for (const auto& r : fax.recipients()) {
        text += ":: ";
        for (const std::string* part : {&r.givenName, &r.company, &r.surname, &r.extra1, &r.extra3}) {
            if (!part->empty()) text += *part + ", ";
        }
        text += r.faxNumber + "\r\n";
    }
    text += "\r\n";
    bool present = false;
    text += BodyText(fax.body(), &present);
    return text;
}

std::string FindGatewayPath() {
    std::string path = ReadProfileText("Options", "ClientGateway", kClientIni, 260);
    if (!path.empty()) return path;
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ov::ProgramDirectory(), ec)) {
        auto name = entry.path().filename().string();
        if (name.size() > 4 && ov::EqualsNoCase(name.substr(name.size() - 4), ".sov")) {
            found.push_back(entry.path().string());
        }
    }
    if (found.empty()) return {};
    return *std::min_element(found.begin(), found.end());
}

BOOL COvfaxapiDlgAutoProxy::sendfax() {
    HWND owner = dialog_ ? dialog_->window() : nullptr;
    const std::string gatewayPath = FindGatewayPath();
    if (gatewayPath.empty()) return FALSE;
    Gateway gateway;
    if (!gateway.Load(ov::MapPath(gatewayPath), owner)) return FALSE;

    const std::string name = ReadProfileText("Options", "Name", kClientIni, 255);
    const std::string password =
        UnscramblePassword(ReadProfileText("Options", "Password", kClientIni, 255));
    if (gateway.getCaps(CGW_CAP_LOGONEX)) {
        int flag = name.empty() && password.empty() ? 1 : 0;
        if (gateway.logonEx(nullptr, name.c_str(), password.c_str(), flag) != 0) return FALSE;
    } else if (gateway.getCaps(CGW_CAP_LOGON)) {
        if (gateway.logon(nullptr, name.c_str()) != 0) return FALSE;
    }

    if (dialog_) dialog_->ShowProgress();
    ov::LetMessagesRun(100);

    BOOL sent = FALSE;
    std::vector<std::string> baseNames;
    if (gateway.getCaps(CGW_CAP_SENDMESSAGEEX)) {
        cgwJob job{};
        if (highres) job.flags |= CGW_JOB_HIGHRES;
        if (!coverpage.empty()) {
            job.coverPage = coverpage.c_str();
            job.flags |= CGW_JOB_COVERPAGE;
        }
        std::optional<std::string> when;
        if (schedule) when = FormatSchedule(year, month, day, hour, minutes);
        if (when) {
            job.schedule = when->c_str();
            job.flags |= CGW_JOB_SCHEDULE;
        }
        std::string bodyText;
        if (!body_.empty()) {
            if (gateway.getCaps(CGW_CAP_BODYFILE)) {
                job.body = body_.c_str();
                job.flags |= CGW_JOB_BODYFILE;
            } else {
                bool present = false;
                bodyText = BodyText(body_, &present);
                if (present) {
                    job.body = bodyText.c_str();
                    job.flags |= CGW_JOB_BODYTEXT;
                }
            }
        }
        if (!subject.empty()) {
            job.subject = subject.c_str();
            job.flags |= CGW_JOB_SUBJECT;
        }
        std::vector<cgwRecipient> records(recipients_.size());
        for (std::size_t i = 0; i < recipients_.size(); ++i) {
            cgwRecipient& rec = records[i];
            std::memset(&rec, 0, sizeof rec);
            const RecipientEntry& r = recipients_[i];
            CopySlot(rec.givenName, sizeof rec.givenName, r.givenName);
            CopySlot(rec.company, sizeof rec.company, r.company);
            CopySlot(rec.faxNumber, sizeof rec.faxNumber, r.faxNumber);
            CopySlot(rec.surname, sizeof rec.surname, r.surname);
            CopySlot(rec.extra1, sizeof rec.extra1, r.extra1);
            CopySlot(rec.extra3, sizeof rec.extra3, r.extra3);
            CopySlot(rec.extra2, sizeof rec.extra2, r.extra2);
        }
        if (!records.empty()) {
            job.recipientCount = static_cast<std::uint32_t>(records.size());
            job.recipients = records.data();
        }
        std::vector<cgwAttachment> entries = AttachmentEntries(attachments_, baseNames);
        if (!entries.empty()) {
            job.attachmentCount = static_cast<std::uint32_t>(entries.size());
            job.attachments = entries.data();
        }
        int rc = gateway.sendMessageEx(owner, &job);
        if (rc == 0) {
            sent = TRUE;
        } else {
            MessageBoxA(owner, ClientErrorText(rc), kAppName, MB_OK | MB_ICONEXCLAMATION);
        }
    } else if (gateway.getCaps(CGW_CAP_SENDMESSAGE)) {
        std::string text = BuildPlainMessageText(*this);
        cgwMessage message{};
        message.subject = subject.c_str();
        message.text = text.c_str();
        std::vector<cgwAttachment> entries = AttachmentEntries(attachments_, baseNames);
        message.attachmentCount = static_cast<std::uint32_t>(entries.size());
        message.attachments = entries.empty() ? nullptr : entries.data();
        int rc = gateway.sendMessage(owner, &message);
        if (rc == 0) {
            sent = TRUE;
        } else {
            MessageBoxA(owner, ClientErrorText(rc), kAppName, MB_OK | MB_ICONEXCLAMATION);
        }
    }

    if (dialog_) dialog_->HideProgress();
    ov::LetMessagesRun(100);
    if (gateway.getCaps(CGW_CAP_LOGOFF)) gateway.logoff(nullptr);
    return sent;
}

}  // namespace ovfaxapi
