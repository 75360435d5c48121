// The automation object "Ovfaxapi.Application": one fax being composed, its
// dispatch interface, and the dialog that owns its messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ovcom/com.h"
#include "ovplatform/win32.h"

namespace ovfaxapi {

constexpr ov::com::CLSID kClassId = {0xF3D77976, 0xD084, 0x11D2,
                                     {0xB0, 0x1E, 0x00, 0x80, 0xC8, 0x4A, 0xD1, 0x46}};
constexpr ov::com::IID kDispatchIid = {0xF3D77978, 0xD084, 0x11D2,
                                       {0xB0, 0x1E, 0x00, 0x80, 0xC8, 0x4A, 0xD1, 0x46}};
constexpr const char* kProgId = "Ovfaxapi.Application";
constexpr const char* kPrintAttachMessage = "ovfaxapi_waitforprintattach";
constexpr const char* kAppName = "ovfaxapi";

// The seven texts of addrecipient, each at most 63 characters, in argument order.
struct RecipientEntry {
    std::string givenName;
    std::string surname;
    std::string company;
    std::string extra1;
    std::string faxNumber;
    std::string extra2;
    std::string extra3;
};

class COvfaxapiDlgAutoProxy;

// The application's dialog: hidden except while a fax is sent; its window
// receives the print-attach broadcast.
class COvfaxapiDlg {
public:
    COvfaxapiDlg();
    ~COvfaxapiDlg();
    COvfaxapiDlg(const COvfaxapiDlg&) = delete;
    COvfaxapiDlg& operator=(const COvfaxapiDlg&) = delete;

    HWND window() const { return window_; }
    void ShowProgress();
    void HideProgress();
    bool progressShown() const { return shown_; }
    void SetObject(COvfaxapiDlgAutoProxy* object) { object_ = object; }
    COvfaxapiDlgAutoProxy* object() const { return object_; }

private:
    static LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
    UINT printAttachMessage_ = 0;
    bool shown_ = false;
    COvfaxapiDlgAutoProxy* object_ = nullptr;
};

class COvfaxapiDlgAutoProxy final : public ov::com::RefCounted<ov::com::IDispatch> {
public:
    // directory: where temporary body files and converted images are made
    // (the program's directory, or the prefix's temporary directory when the
    // program's directory cannot be written).
    COvfaxapiDlgAutoProxy(COvfaxapiDlg* dialog, std::filesystem::path directory);
    ~COvfaxapiDlgAutoProxy() override;

    // IDispatch
    HRESULT QueryInterface(const ov::com::IID& iid, void** object) override;
    HRESULT GetIDsOfNames(const std::vector<std::string>& names,
                          std::vector<ov::com::DISPID>* ids) override;
    HRESULT Invoke(ov::com::DISPID member, WORD flags, const std::vector<ov::com::Variant>& args,
                   ov::com::Variant* result) override;

    // The members; texts are in the system code page, paths as the file
    // system spells them.
    BOOL addrecipient(const std::vector<std::string>& texts);
    BOOL addattachment(const std::string& path);
    BOOL setbodytext(const std::string& text);
    BOOL setbodyfile(const std::string& path);
    BOOL sendfax();
    void about();
    std::int32_t getattachmentcount() const { return static_cast<std::int32_t>(attachments_.size()); }
    std::string getattachmentpath(std::int32_t index) const;
    BOOL removeattachment(std::int32_t index);
    void reset(BOOL keepAttachments);

    // The print-attach message: attaches the printed file when waiting.
    LRESULT OnPrintAttach();

    // Properties, plain stored values.
    std::string subject;
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    std::int32_t hour = 0;
    std::int32_t minutes = 0;
    bool schedule = false;
    bool highres = false;
    std::string coverpage;

    const std::vector<RecipientEntry>& recipients() const { return recipients_; }
    const std::vector<std::string>& attachments() const { return attachments_; }
    const std::vector<std::string>& temporaryFiles() const { return temporaryFiles_; }
    const std::string& body() const { return body_; }
    bool waiting() const { return waiting_; }
    COvfaxapiDlg* dialog() const { return dialog_; }
    const std::filesystem::path& directory() const { return directory_; }

private:
    BOOL AttachFile(const std::string& path);
    BOOL OpenDialogAttach();
    BOOL PrintSetup();
    BOOL PrintWait();
    BOOL PrintClose();
    bool ListTemporary(const std::string& path);

    COvfaxapiDlg* dialog_;
    std::filesystem::path directory_;
    bool waiting_ = false;
    std::vector<RecipientEntry> recipients_;
    std::vector<std::string> attachments_;
    std::vector<std::string> temporaryFiles_;
    std::string body_;
};

// The longest path the object keeps for an attachment or temporary file.
constexpr std::size_t kMaxListedPath = 511;
// How long "wait.print." waits for a printed document, in milliseconds;
// ORVANE_PRINT_WAIT_MS shortens it for tests.
DWORD PrintWaitLimit();

// The directory for the object's temporary files: the program's own when it
// can be written there, else the prefix's temporary directory.
std::filesystem::path TemporaryFileDirectory();

}  // namespace ovfaxapi
