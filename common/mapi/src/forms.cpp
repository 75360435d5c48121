// Forms: the registry by message class, the form manager, the form objects
// and the host that plays a form's window.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "ovmapi/provider.h"
#include "ovplatform/platform.h"
#include "propobject.h"

namespace ovmapi {
namespace {

struct HostState {
    std::mutex mutex;
    std::shared_ptr<FormHost> host;
    std::vector<FormShowing> shown;
};
HostState& Hosts() {
    static HostState state;
    return state;
}

const char* ActionName(FormAction action) {
    switch (action) {
        case FormAction::Send: return "send";
        case FormAction::Save: return "save";
        case FormAction::Cancel: return "cancel";
        case FormAction::Fail: return "fail";
    }
    return "cancel";
}

std::string JsonString(std::string_view ansi) {
    std::string utf8 = ov::AnsiToUtf8(ansi);
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

class HeadlessHost final : public FormHost {
public:
    FormAction Play(const FormShowing&) override {
        std::lock_guard lock(mutex_);
        if (!loaded_) {
            loaded_ = true;
            if (const char* text = std::getenv("ORVANE_FORM_ACTIONS")) {
                std::string_view rest(text);
                while (!rest.empty()) {
                    std::size_t comma = rest.find(',');
                    std::string_view word = rest.substr(0, comma);
                    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
                    if (ov::EqualsNoCase(word, "send")) actions_.push_back(FormAction::Send);
                    else if (ov::EqualsNoCase(word, "save")) actions_.push_back(FormAction::Save);
                    else if (ov::EqualsNoCase(word, "fail")) actions_.push_back(FormAction::Fail);
                    else actions_.push_back(FormAction::Cancel);
                }
            }
        }
        if (next_ < actions_.size()) return actions_[next_++];
        return FormAction::Cancel;
    }

private:
    std::mutex mutex_;
    bool loaded_ = false;
    std::vector<FormAction> actions_;
    std::size_t next_ = 0;
};

class ScriptedHost final : public FormHost {
public:
    explicit ScriptedHost(std::vector<FormAction> actions) : actions_(std::move(actions)) {}
    FormAction Play(const FormShowing&) override {
        std::lock_guard lock(mutex_);
        return next_ < actions_.size() ? actions_[next_++] : FormAction::Cancel;
    }

private:
    std::mutex mutex_;
    std::vector<FormAction> actions_;
    std::size_t next_ = 0;
};

void Record(const FormShowing& showing) {
    {
        HostState& state = Hosts();
        std::lock_guard lock(state.mutex);
        state.shown.push_back(showing);
    }
    const char* log = std::getenv("ORVANE_FORM_LOG");
    if (log == nullptr || *log == '\0') return;
    std::string line = "{\"class\":" + JsonString(showing.messageClass) + ",\"subject\":" + JsonString(showing.subject) +
                       ",\"new\":" + (showing.newMessage ? "true" : "false") + ",\"action\":\"" +
                       ActionName(showing.action) + "\",\"result\":" + std::to_string(showing.result) + ",\"recipients\":[";
    for (std::size_t n = 0; n < showing.recipients.size(); ++n)
        line += (n ? "," : "") + JsonString(showing.recipients[n]);
    line += "],\"attachments\":[";
    for (std::size_t n = 0; n < showing.attachments.size(); ++n)
        line += (n ? "," : "") + JsonString(showing.attachments[n]);
    line += "]}\n";
    int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
}

std::shared_ptr<FormHost> CurrentHost() {
    HostState& state = Hosts();
    std::lock_guard lock(state.mutex);
    if (!state.host) state.host = MakeHeadlessFormHost();
    return state.host;
}

}  // namespace

std::shared_ptr<FormHost> MakeHeadlessFormHost() { return std::make_shared<HeadlessHost>(); }
std::shared_ptr<FormHost> MakeScriptedFormHost(std::vector<FormAction> actions) {
    return std::make_shared<ScriptedHost>(std::move(actions));
}
void SetFormHost(std::shared_ptr<FormHost> host) {
    HostState& state = Hosts();
    std::lock_guard lock(state.mutex);
    state.host = std::move(host);
}
std::vector<FormShowing> ShownForms() {
    HostState& state = Hosts();
    std::lock_guard lock(state.mutex);
    return state.shown;
}
void ClearShownForms() {
    HostState& state = Hosts();
    std::lock_guard lock(state.mutex);
    state.shown.clear();
}

}  // namespace ovmapi

namespace ovmapi::detail {

ProfilePtr ProfileOfSession(LPMAPISESSION session);

namespace {

// What the host is shown of a message.
FormShowing Describe(LPMESSAGE message, std::string_view messageClass, bool newMessage) {
    FormShowing showing;
    showing.messageClass = std::string(messageClass);
    showing.newMessage = newMessage;
    LPSPropValue subject = nullptr;
    if (SUCCEEDED(HrGetOneProp(message, PR_SUBJECT_A, &subject))) showing.subject = subject->Value.lpszA;
    MAPIFreeBuffer(subject);
    Ref<IMAPITable> table;
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(1, nameColumn) = {1, {PR_DISPLAY_NAME_A}};
    if (SUCCEEDED(message->GetRecipientTable(0, table.out())) &&
        SUCCEEDED(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&nameColumn), nullptr, nullptr, 0, &rows))) {
        for (ULONG n = 0; n < rows->cRows; ++n)
            if (PROP_TYPE(rows->aRow[n].lpProps[0].ulPropTag) == PT_STRING8)
                showing.recipients.emplace_back(rows->aRow[n].lpProps[0].Value.lpszA);
    }
    FreeProws(rows);
    rows = nullptr;
    SizedSPropTagArray(1, fileColumn) = {1, {PR_ATTACH_FILENAME_A}};
    if (SUCCEEDED(message->GetAttachmentTable(0, table.out())) &&
        SUCCEEDED(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&fileColumn), nullptr, nullptr, 0, &rows))) {
        for (ULONG n = 0; n < rows->cRows; ++n)
            if (PROP_TYPE(rows->aRow[n].lpProps[0].ulPropTag) == PT_STRING8)
                showing.attachments.emplace_back(rows->aRow[n].lpProps[0].Value.lpszA);
    }
    FreeProws(rows);
    return showing;
}

// Plays the form; the action's result: S_OK after sending or saving,
// MAPI_E_USER_CANCEL when closed, MAPI_E_CALL_FAILED when it failed.
HRESULT Play(LPMESSAGE message, std::string_view messageClass, bool newMessage) {
    FormShowing showing = Describe(message, messageClass, newMessage);
    showing.action = CurrentHost()->Play(showing);
    HRESULT hr = S_OK;
    switch (showing.action) {
        case FormAction::Send: hr = message->SubmitMessage(0); break;
        case FormAction::Save: hr = message->SaveChanges(KEEP_OPEN_READWRITE); break;
        case FormAction::Cancel: hr = MAPI_E_USER_CANCEL; break;
        case FormAction::Fail: hr = MAPI_E_CALL_FAILED; break;
    }
    showing.result = hr;
    Record(showing);
    return hr;
}

PropMap FormInfoProps(std::string_view messageClass, std::string_view displayName) {
    PropMap props;
    Put(props, StringProp(PR_MESSAGE_CLASS_A, messageClass));
    Put(props, StringProp(PR_DISPLAY_NAME_A, displayName));
    Put(props, LongProp(PR_OBJECT_TYPE, MAPI_FORMINFO));
    return props;
}

class FormInfoObject final : public PropObject<FormInfoObject, IMAPIFormInfo> {
public:
    FormInfoObject(ProfilePtr profile, PropMap props) : PropObject(std::move(profile)), props_(std::move(props)) {}
    std::string MessageClass() const { return AnsiOf(props_, PR_MESSAGE_CLASS_A).value_or("IPM.Note"); }

protected:
    PropMap& Bag() override { return props_; }
    HRESULT CanModify() override { return MAPI_E_NO_ACCESS; }
    std::uint32_t NameScope() const override { return 0; }
    bool Supports(REFIID riid) const override { return riid == IID_IMAPIFormInfo; }
    const char* InterfaceName() const override { return "IMAPIFormInfo"; }
    const char* Component() const override { return "Orvane Forms"; }

private:
    PropMap props_;
};

// One form: its message interface (IPersistMessage) and its window
// interface (IMAPIForm).
class FormObject final : public IPersistMessage, public IMAPIForm {
public:
    explicit FormObject(std::string messageClass) : messageClass_(std::move(messageClass)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IPersistMessage) {
            *object = static_cast<IPersistMessage*>(this);
        } else if (riid == IID_IMAPIForm) {
            *object = static_cast<IMAPIForm*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppMAPIError = nullptr;
        return MakeError(hResult == lastResult_ ? lastError_ : std::string(), "Orvane Forms", hResult, 0, lppMAPIError);
    }
    HRESULT GetClassID(LPCLSID lpClassID) override {
        if (lpClassID == nullptr) return E_POINTER;
        *lpClassID = CLSID_MailMessage;
        return S_OK;
    }
    HRESULT IsDirty() override { return S_FALSE; }

    HRESULT InitNew(LPMAPIMESSAGESITE site, LPMESSAGE message) override {
        HRESULT fault = faults::Check("IPersistMessage::InitNew");
        if (FAILED(fault)) return Failure(fault, "InitNew failed (injected)");
        if (message == nullptr) return Failure(E_INVALIDARG, "no message");
        site_ = Ref<IMAPIMessageSite>::Share(site);
        message_ = Ref<IMessage>::Share(message);
        newMessage_ = true;
        return WithWarning(fault, S_OK);
    }
    HRESULT Load(LPMAPIMESSAGESITE site, LPMESSAGE message, ULONG, ULONG) override {
        HRESULT fault = faults::Check("IPersistMessage::Load");
        if (FAILED(fault)) return Failure(fault, "Load failed (injected)");
        if (message == nullptr) return Failure(E_INVALIDARG, "no message");
        site_ = Ref<IMAPIMessageSite>::Share(site);
        message_ = Ref<IMessage>::Share(message);
        return WithWarning(fault, S_OK);
    }
    HRESULT Save(LPMESSAGE message, ULONG) override {
        LPMESSAGE target = message ? message : message_.get();
        if (target == nullptr) return Failure(E_UNEXPECTED, "no message");
        return target->SaveChanges(KEEP_OPEN_READWRITE);
    }
    HRESULT SaveCompleted(LPMESSAGE) override { return S_OK; }
    HRESULT HandsOffMessage() override {
        HRESULT fault = faults::Check("IPersistMessage::HandsOffMessage");
        if (FAILED(fault)) return Failure(fault, "HandsOffMessage failed (injected)");
        message_.reset();
        return WithWarning(fault, S_OK);
    }

    HRESULT SetViewContext(LPMAPIVIEWCONTEXT context) override {
        HRESULT fault = faults::Check("IMAPIForm::SetViewContext");
        if (FAILED(fault)) return Failure(fault, "SetViewContext failed (injected)");
        view_ = Ref<IMAPIViewContext>::Share(context);
        return WithWarning(fault, S_OK);
    }
    HRESULT GetViewContext(LPMAPIVIEWCONTEXT* context) override {
        if (context == nullptr) return E_POINTER;
        *context = Ref<IMAPIViewContext>::Share(view_.get()).detach();
        return *context ? S_OK : S_FALSE;
    }
    HRESULT ShutdownForm(ULONG saveOptions) override {
        HRESULT fault = faults::Check("IMAPIForm::ShutdownForm");
        if (FAILED(fault)) return Failure(fault, "ShutdownForm failed (injected)");
        if (saveOptions == SAVEOPTS_SAVEIFDIRTY && message_) message_->SaveChanges(KEEP_OPEN_READWRITE);
        message_.reset();
        site_.reset();
        view_.reset();
        shutDown_ = true;
        return WithWarning(fault, S_OK);
    }
    HRESULT DoVerb(LONG verb, LPMAPIVIEWCONTEXT, ULONG_PTR, LPCRECT) override {
        HRESULT fault = faults::Check("IMAPIForm::DoVerb");
        if (FAILED(fault)) return Failure(fault, "DoVerb failed (injected)");
        if (shutDown_) return Failure(E_UNEXPECTED, "the form was shut down");
        if (verb != EXCHIVERB_OPEN) return Failure(MAPI_E_NO_SUPPORT, "only the open verb is offered");
        if (!message_) return Failure(E_UNEXPECTED, "no message is loaded");
        HRESULT played = Guarded([&] { return Play(message_.get(), messageClass_, newMessage_); });
        // The window opened; what the user did with it is the form's affair,
        // except a form that could not open.
        if (played == MAPI_E_CALL_FAILED) return Failure(played, "the form failed to open");
        return WithWarning(fault, S_OK);
    }

private:
    ~FormObject() = default;
    HRESULT Failure(HRESULT hr, std::string_view text) {
        lastResult_ = hr;
        lastError_ = std::string(text);
        return hr;
    }

    std::atomic<ULONG> refs_{1};
    std::string messageClass_;
    Ref<IMAPIMessageSite> site_;
    Ref<IMessage> message_;
    Ref<IMAPIViewContext> view_;
    bool newMessage_ = false;
    bool shutDown_ = false;
    HRESULT lastResult_ = S_OK;
    std::string lastError_;
};

class FormManagerObject final : public ComObject<FormManagerObject, IMAPIFormMgr> {
public:
    explicit FormManagerObject(ProfilePtr profile) : profile_(std::move(profile)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMAPIFormMgr) {
            AddRef();
            *object = static_cast<IMAPIFormMgr*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppMAPIError = nullptr;
        return MakeError(hResult == lastResult_ ? lastError_ : std::string(), "Orvane Forms", hResult, 0, lppMAPIError);
    }

    HRESULT ResolveMessageClass(LPCSTR szMsgClass, ULONG ulFlags, LPMAPIFOLDER, LPMAPIFORMINFO* ppResult) override {
        if (ppResult == nullptr) return MAPI_E_INVALID_PARAMETER;
        *ppResult = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPIFormMgr::ResolveMessageClass");
            if (FAILED(fault)) return Failure(fault, "ResolveMessageClass failed (injected)");
            if (szMsgClass == nullptr) return Failure(MAPI_E_INVALID_PARAMETER, "no message class");
            std::string wanted = szMsgClass;
            bool exact = (ulFlags & MAPIFORM_EXACTMATCH) != 0;
            std::lock_guard lock(profile_->Mutex());
            while (true) {
                Statement query = profile_->Db().Prepare("SELECT message_class, display_name FROM forms WHERE message_class = ?");
                int rc = query.Bind(1, wanted).Step();
                if (rc == SQLITE_ROW) {
                    *ppResult = new FormInfoObject(profile_, FormInfoProps(query.Text(0), query.Text(1)));
                    return WithWarning(fault, S_OK);
                }
                if (rc != SQLITE_DONE) return Failure(profile_->Db().ErrorResult(), "cannot read the form registry");
                if (ov::EqualsNoCase(wanted, "IPM.Note") || ov::EqualsNoCase(wanted, "IPM")) break;
                std::size_t dot = wanted.rfind('.');
                if (exact || dot == std::string::npos) {
                    if (exact) return Failure(MAPI_E_NOT_FOUND, "no form is installed for " + std::string(szMsgClass));
                    break;
                }
                wanted.resize(dot);
            }
            *ppResult = new FormInfoObject(profile_, FormInfoProps("IPM.Note", "Note"));
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT CreateForm(ULONG_PTR, ULONG, LPMAPIFORMINFO pfrmiInfo, REFIID refiidToAsk, LPVOID* ppvObj) override {
        if (ppvObj == nullptr) return MAPI_E_INVALID_PARAMETER;
        *ppvObj = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = faults::Check("IMAPIFormMgr::CreateForm");
            if (FAILED(fault)) return Failure(fault, "CreateForm failed (injected)");
            auto* info = dynamic_cast<FormInfoObject*>(pfrmiInfo);
            if (info == nullptr) return Failure(MAPI_E_INVALID_PARAMETER, "form information of another manager");
            Ref<IPersistMessage> form(new FormObject(info->MessageClass()));
            HRESULT hr = form->QueryInterface(refiidToAsk, ppvObj);
            if (FAILED(hr)) return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "forms are IPersistMessage and IMAPIForm");
            return WithWarning(fault, S_OK);
        });
    }

private:
    HRESULT Failure(HRESULT hr, std::string_view text) {
        lastResult_ = hr;
        lastError_ = std::string(text);
        return hr;
    }
    ProfilePtr profile_;
    HRESULT lastResult_ = S_OK;
    std::string lastError_;
};

class MessageSiteObject final : public ComObject<MessageSiteObject, IMAPIMessageSite> {
public:
    MessageSiteObject(LPMAPISESSION session, LPMDB store, LPMAPIFOLDER folder, LPMESSAGE message)
        : session_(Ref<IMAPISession>::Share(session)),
          store_(Ref<IMsgStore>::Share(store)),
          folder_(Ref<IMAPIFolder>::Share(folder)),
          message_(Ref<IMessage>::Share(message)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMAPIMessageSite) {
            AddRef();
            *object = static_cast<IMAPIMessageSite*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        return MakeError({}, "Orvane Forms", hResult, 0, lppMAPIError);
    }
    HRESULT GetSession(LPMAPISESSION* out) override { return Give(session_, out); }
    HRESULT GetStore(LPMDB* out) override { return Give(store_, out); }
    HRESULT GetFolder(LPMAPIFOLDER* out) override { return Give(folder_, out); }
    HRESULT GetMessage(LPMESSAGE* out) override { return Give(message_, out); }
    HRESULT GetFormManager(LPMAPIFORMMGR* out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        return session_ ? MAPIOpenFormMgr(session_.get(), out) : MAPI_E_NOT_FOUND;
    }
    HRESULT SaveMessage() override { return message_ ? message_->SaveChanges(KEEP_OPEN_READWRITE) : MAPI_E_NOT_FOUND; }
    HRESULT SubmitMessage(ULONG flags) override { return message_ ? message_->SubmitMessage(flags) : MAPI_E_NOT_FOUND; }
    HRESULT GetSiteStatus(ULONG* status) override {
        if (status == nullptr) return E_POINTER;
        constexpr ULONG kCanSave = 0x2, kCanSubmit = 0x4;
        *status = message_ ? (kCanSave | kCanSubmit) : 0;
        return S_OK;
    }

private:
    template <class T, class Out>
    static HRESULT Give(const Ref<T>& held, Out** out) {
        if (out == nullptr) return E_POINTER;
        *out = Ref<T>::Share(held.get()).detach();
        return *out ? S_OK : MAPI_E_NOT_FOUND;
    }
    Ref<IMAPISession> session_;
    Ref<IMsgStore> store_;
    Ref<IMAPIFolder> folder_;
    Ref<IMessage> message_;
};

class ViewContextObject final : public ComObject<ViewContextObject, IMAPIViewContext> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMAPIViewContext) {
            AddRef();
            *object = static_cast<IMAPIViewContext*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT GetLastError(HRESULT hResult, ULONG, LPMAPIERROR* lppMAPIError) override {
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        return MakeError({}, "Orvane Forms", hResult, 0, lppMAPIError);
    }
    HRESULT GetViewStatus(ULONG* status) override {
        if (status == nullptr) return E_POINTER;
        *status = 0;
        return S_OK;
    }
};

}  // namespace

HRESULT PlayForm(LPMAPISESSION, LPMESSAGE message, std::string_view messageClass, bool newMessage) {
    return Play(message, messageClass, newMessage);
}

HRESULT CreateFormManager(LPMAPISESSION, const ProfilePtr& profile, LPMAPIFORMMGR* result) {
    *result = new FormManagerObject(profile);
    return S_OK;
}

}  // namespace ovmapi::detail

namespace ovmapi {

HRESULT CreateMessageSite(LPMAPISESSION session, LPMDB store, LPMAPIFOLDER folder, LPMESSAGE message,
                          LPMAPIMESSAGESITE* site) {
    if (site == nullptr) return E_POINTER;
    *site = nullptr;
    return detail::Guarded([&] {
        *site = new detail::MessageSiteObject(session, store, folder, message);
        return S_OK;
    });
}

HRESULT CreateViewContext(LPMAPIVIEWCONTEXT* viewContext) {
    if (viewContext == nullptr) return E_POINTER;
    return detail::Guarded([&] {
        *viewContext = new detail::ViewContextObject();
        return S_OK;
    });
}

}  // namespace ovmapi

extern "C" HRESULT MAPIOpenFormMgr(LPMAPISESSION pSession, LPMAPIFORMMGR* ppmgr) {
    if (ppmgr == nullptr) return MAPI_E_INVALID_PARAMETER;
    *ppmgr = nullptr;
    if (pSession == nullptr) return MAPI_E_INVALID_PARAMETER;
    HRESULT fault = ovmapi::faults::Check("MAPIOpenFormMgr");
    if (FAILED(fault)) return fault;
    return ovmapi::detail::Guarded([&]() -> HRESULT {
        ovmapi::detail::ProfilePtr profile = ovmapi::detail::ProfileOfSession(pSession);
        if (!profile) return MAPI_E_INVALID_PARAMETER;
        return ovmapi::detail::WithWarning(fault, ovmapi::detail::CreateFormManager(pSession, profile, ppmgr));
    });
}
