// Forms: the form manager, form information, the form's interfaces and the
// host that plays a form's window.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ovmapi/mapix.h"

constexpr ULONG MAPIFORM_EXACTMATCH = 0x0020;
constexpr ULONG SAVEOPTS_SAVEIFDIRTY = 0;
constexpr ULONG SAVEOPTS_NOSAVE = 1;
constexpr ULONG SAVEOPTS_PROMPTSAVE = 2;
constexpr LONG EXCHIVERB_OPEN = 0;

struct IMAPIFormMgr;
struct IMAPIViewContext;
using LPMAPIFORMMGR = IMAPIFormMgr*;
using LPMAPIVIEWCONTEXT = IMAPIViewContext*;

// PR_MESSAGE_CLASS and PR_DISPLAY_NAME of a registered form.
struct IMAPIFormInfo : public IMAPIProp {
protected:
    ~IMAPIFormInfo() = default;
};
using LPMAPIFORMINFO = IMAPIFormInfo*;

// What a form asks of the place it was opened from.
struct IMAPIMessageSite : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetSession(LPMAPISESSION* ppSession) = 0;
    virtual HRESULT GetStore(LPMDB* ppStore) = 0;
    virtual HRESULT GetFolder(LPMAPIFOLDER* ppFolder) = 0;
    virtual HRESULT GetMessage(LPMESSAGE* ppmsg) = 0;
    virtual HRESULT GetFormManager(LPMAPIFORMMGR* ppFormMgr) = 0;
    virtual HRESULT SaveMessage() = 0;
    virtual HRESULT SubmitMessage(ULONG ulFlags) = 0;
    virtual HRESULT GetSiteStatus(ULONG* lpulStatus) = 0;

protected:
    ~IMAPIMessageSite() = default;
};
using LPMAPIMESSAGESITE = IMAPIMessageSite*;

struct IMAPIViewContext : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetViewStatus(ULONG* lpulStatus) = 0;

protected:
    ~IMAPIViewContext() = default;
};

struct IPersistMessage : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetClassID(LPCLSID lpClassID) = 0;
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT InitNew(LPMAPIMESSAGESITE pMessageSite, LPMESSAGE pMessage) = 0;
    virtual HRESULT Load(LPMAPIMESSAGESITE pMessageSite, LPMESSAGE pMessage, ULONG ulMessageStatus,
                         ULONG ulMessageFlags) = 0;
    virtual HRESULT Save(LPMESSAGE pMessage, ULONG fSameAsLoad) = 0;
    virtual HRESULT SaveCompleted(LPMESSAGE pMessage) = 0;
    virtual HRESULT HandsOffMessage() = 0;

protected:
    ~IPersistMessage() = default;
};
using LPPERSISTMESSAGE = IPersistMessage*;

struct IMAPIForm : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT SetViewContext(LPMAPIVIEWCONTEXT pViewContext) = 0;
    virtual HRESULT GetViewContext(LPMAPIVIEWCONTEXT* ppViewContext) = 0;
    virtual HRESULT ShutdownForm(ULONG ulSaveOptions) = 0;
    // Verb 0 opens the form's window, which the form host plays.
    virtual HRESULT DoVerb(LONG iVerb, LPMAPIVIEWCONTEXT lpViewContext, ULONG_PTR hwndParent,
                           LPCRECT lprcPosRect) = 0;

protected:
    ~IMAPIForm() = default;
};
using LPMAPIFORM = IMAPIForm*;

struct IMAPIFormMgr : public IUnknown {
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    // The form of a class. MAPIFORM_EXACTMATCH: only a form registered for
    // exactly that class (letter case aside); otherwise the nearest class up
    // the dotted hierarchy, ending at the built-in note form ("IPM.Note").
    virtual HRESULT ResolveMessageClass(LPCSTR szMsgClass, ULONG ulFlags, LPMAPIFOLDER pFolderFocus,
                                        LPMAPIFORMINFO* ppResult) = 0;
    virtual HRESULT CreateForm(ULONG_PTR ulUIParam, ULONG ulFlags, LPMAPIFORMINFO pfrmiInfo, REFIID refiidToAsk,
                               LPVOID* ppvObj) = 0;

protected:
    ~IMAPIFormMgr() = default;
};

extern "C" HRESULT MAPIOpenFormMgr(LPMAPISESSION pSession, LPMAPIFORMMGR* ppmgr);

namespace ovmapi {

// ------------------------------------------------------------- form host
// The form's window is played by a host: what the user does with an open
// form. Send submits the message, Save saves it, Cancel closes it without
// saving, Fail makes the form fail to open.
enum class FormAction { Send, Save, Cancel, Fail };

struct FormShowing {
    std::string messageClass;  // the form's class
    std::string subject;       // PR_SUBJECT of the message, when it has one
    std::vector<std::string> recipients;  // display names
    std::vector<std::string> attachments;  // attachment file names
    bool newMessage = false;
    FormAction action = FormAction::Cancel;
    HRESULT result = 0;  // of sending or saving, when the form did that
};

class FormHost {
public:
    virtual ~FormHost() = default;
    // Decides what the user does with the form about to be shown.
    virtual FormAction Play(const FormShowing& showing) = 0;
};

// Headless: answers from ORVANE_FORM_ACTIONS (comma-separated "send", "save",
// "cancel", "fail"), one per form shown, then "cancel". Every form shown is
// kept (ShownForms) and, when ORVANE_FORM_LOG names a file, appended to it as
// a JSON line, so tests can observe forms of other processes.
std::shared_ptr<FormHost> MakeHeadlessFormHost();
// Scripted: answers from the list, then Cancel.
std::shared_ptr<FormHost> MakeScriptedFormHost(std::vector<FormAction> actions);
void SetFormHost(std::shared_ptr<FormHost> host);  // null: the headless host
std::vector<FormShowing> ShownForms();
void ClearShownForms();

// A message site for hosts that create a message for a form: the session,
// store, folder and message it reports are referenced for its lifetime; its
// SaveMessage and SubmitMessage act on the message.
HRESULT CreateMessageSite(LPMAPISESSION session, LPMDB store, LPMAPIFOLDER folder, LPMESSAGE message,
                          LPMAPIMESSAGESITE* site);
HRESULT CreateViewContext(LPMAPIVIEWCONTEXT* viewContext);

}  // namespace ovmapi
