// Forms: resolving classes, creating forms, and the host that plays them.
#include "mapi_fixture.h"
#include <fstream>
#include "ovmapi/mapi.h"

namespace mapitest {
namespace {

using ovmapi::FormAction;

class FormTest : public MapiTest {
protected:
    Ptr<IMAPIFormMgr> Manager() {
        IMAPIFormMgr* raw = nullptr;
        EXPECT_EQ(MAPIOpenFormMgr(session_.get(), &raw), S_OK);
        return Ptr<IMAPIFormMgr>(raw);
    }
    std::string Resolve(IMAPIFormMgr* manager, const char* messageClass, ULONG flags, HRESULT& hr) {
        IMAPIFormInfo* info = nullptr;
        hr = manager->ResolveMessageClass(messageClass, flags, nullptr, &info);
        if (FAILED(hr)) return {};
        Ptr<IMAPIFormInfo> held(info);
        return GetString(info, PR_MESSAGE_CLASS_A);
    }
};

TEST_F(FormTest, ResolvesExactlyOrUpTheClassHierarchy) {
    ASSERT_EQ(ovmapi::InstallForm("IPM.Note.OVFAX.SUBMIT", "Fax"), S_OK);
    Ptr<IMAPIFormMgr> manager = Manager();
    struct Case {
        const char* messageClass;
        ULONG flags;
        HRESULT result;
        const char* form;
    };
    const Case cases[] = {
        {"IPM.Note.OVFAX.SUBMIT", MAPIFORM_EXACTMATCH, S_OK, "IPM.Note.OVFAX.SUBMIT"},
        {"ipm.note.ovfax.submit", MAPIFORM_EXACTMATCH, S_OK, "IPM.Note.OVFAX.SUBMIT"},
        {"IPM.Note.OrvaneNote", MAPIFORM_EXACTMATCH, MAPI_E_NOT_FOUND, nullptr},
        {"IPM.Note.OVFAX.SUBMIT.Special", 0, S_OK, "IPM.Note.OVFAX.SUBMIT"},
        {"IPM.Note.OrvaneNote", 0, S_OK, "IPM.Note"},
        {"IPM.Note", 0, S_OK, "IPM.Note"},
    };
    for (const Case& c : cases) {
        HRESULT hr = S_OK;
        std::string form = Resolve(manager.get(), c.messageClass, c.flags, hr);
        EXPECT_EQ(hr, c.result) << c.messageClass;
        if (c.form != nullptr) {
            EXPECT_EQ(form, c.form) << c.messageClass;
        }
    }
    ASSERT_EQ(ovmapi::RemoveForm("IPM.NOTE.OVFAX.SUBMIT"), S_OK);
    HRESULT hr = S_OK;
    Resolve(manager.get(), "IPM.Note.OVFAX.SUBMIT", MAPIFORM_EXACTMATCH, hr);
    EXPECT_EQ(hr, MAPI_E_NOT_FOUND);
    EXPECT_EQ(ovmapi::RemoveForm("IPM.NOTE.OVFAX.SUBMIT"), MAPI_E_NOT_FOUND);
}

TEST_F(FormTest, ALaunchedFormThatSendsSubmitsTheMessage) {
    ASSERT_EQ(ovmapi::InstallForm("IPM.Note.OVFAX.SUBMIT", "Fax"), S_OK);
    ovmapi::SetFormHost(ovmapi::MakeScriptedFormHost({FormAction::Send}));
    Ptr<IMAPIFormMgr> manager = Manager();
    IMAPIFormInfo* rawInfo = nullptr;
    ASSERT_EQ(manager->ResolveMessageClass("IPM.Note.OVFAX.SUBMIT", MAPIFORM_EXACTMATCH, nullptr, &rawInfo), S_OK);
    Ptr<IMAPIFormInfo> info(rawInfo);
    void* rawPersist = nullptr;
    ASSERT_EQ(manager->CreateForm(0, MAPI_DIALOG, info.get(), IID_IPersistMessage, &rawPersist), S_OK);
    Ptr<IPersistMessage> persist(static_cast<IPersistMessage*>(rawPersist));
    void* rawForm = nullptr;
    ASSERT_EQ(persist->QueryInterface(IID_IMAPIForm, &rawForm), S_OK);
    Ptr<IMAPIForm> form(static_cast<IMAPIForm*>(rawForm));

    // The host's part: a new message in the Outbox with its site.
    Ptr<IMAPIFolder> outbox = OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID);
    IMessage* rawMessage = nullptr;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &rawMessage), S_OK);
    Ptr<IMessage> message(rawMessage);
    IMAPIMessageSite* rawSite = nullptr;
    ASSERT_EQ(ovmapi::CreateMessageSite(session_.get(), store_.get(), outbox.get(), message.get(), &rawSite), S_OK);
    Ptr<IMAPIMessageSite> site(rawSite);
    IMAPIViewContext* rawView = nullptr;
    ASSERT_EQ(ovmapi::CreateViewContext(&rawView), S_OK);
    Ptr<IMAPIViewContext> view(rawView);

    ASSERT_EQ(persist->InitNew(site.get(), message.get()), S_OK);
    ASSERT_EQ(persist->HandsOffMessage(), S_OK);
    SPropValue values[] = {String8(PR_MESSAGE_CLASS_A, "IPM.Note.OVFAX.SUBMIT"), String8(PR_SUBJECT_A, "")};
    ASSERT_EQ(message->SetProps(2, values, nullptr), S_OK);
    IAddrBook* rawBook = nullptr;
    ASSERT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &rawBook), S_OK);
    Ptr<IAddrBook> book(rawBook);
    AddRecipient(message.get(), book.get(), "Ann", "FAX", "+1555");
    ASSERT_EQ(persist->Load(site.get(), message.get(), 0, MSGFLAG_UNSENT), S_OK);
    ASSERT_EQ(form->SetViewContext(view.get()), S_OK);
    RECT position{0, 0, 400, 300};
    ASSERT_EQ(form->DoVerb(EXCHIVERB_OPEN, nullptr, 0, &position), S_OK);

    std::vector<ovmapi::FormShowing> shown = ovmapi::ShownForms();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].messageClass, "IPM.Note.OVFAX.SUBMIT");
    EXPECT_EQ(shown[0].recipients, std::vector<std::string>{"Ann"});
    EXPECT_EQ(shown[0].result, S_OK);
    std::error_code ec;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ovmapi::PickupDirectory(), ec),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(form->ShutdownForm(SAVEOPTS_NOSAVE), S_OK);
    EXPECT_EQ(form->DoVerb(EXCHIVERB_OPEN, nullptr, 0, &position), E_UNEXPECTED);
}

TEST_F(FormTest, ShowFormReportsCancelAndFailure) {
    ovmapi::SetFormHost(ovmapi::MakeScriptedFormHost({FormAction::Cancel, FormAction::Fail, FormAction::Save}));
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    for (HRESULT expected : {MAPI_E_USER_CANCEL, MAPI_E_CALL_FAILED, S_OK}) {
        IMessage* raw = nullptr;
        ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
        ULONG token = 0;
        ASSERT_EQ(session_->PrepareForm(&IID_IMessage, raw, &token), S_OK);
        raw->Release();  // the session keeps the message for the form
        EXPECT_EQ(session_->ShowForm(0, store_.get(), inbox.get(), &IID_IMessage, token, nullptr, MAPI_NEW_MESSAGE, 0,
                                     MSGFLAG_READ | MSGFLAG_UNSENT, MAPI_ACCESS_MODIFY | MAPI_ACCESS_READ,
                                     const_cast<LPSTR>("IPM.Note")),
                  expected);
    }
    EXPECT_EQ(ContentCount(inbox.get()), 1u);  // only the saved one
    EXPECT_EQ(session_->ShowForm(0, nullptr, nullptr, nullptr, 999, nullptr, 0, 0, 0, 0, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(FormTest, SendDocumentsAttachesTheFiles) {
    std::filesystem::path file = prefix_.path() / "print.ovk";
    std::ofstream(file) << "printed";
    ovmapi::SetFormHost(ovmapi::MakeScriptedFormHost({FormAction::Save, FormAction::Cancel}));
    std::string paths = file.string();
    EXPECT_EQ(MAPISendDocuments(0, const_cast<LPSTR>("|"), paths.data(), const_cast<LPSTR>(""), 0), SUCCESS_SUCCESS);
    EXPECT_EQ(MAPISendDocuments(0, const_cast<LPSTR>("|"), paths.data(), const_cast<LPSTR>(""), 0), MAPI_USER_ABORT);
    std::vector<ovmapi::FormShowing> shown = ovmapi::ShownForms();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].attachments, std::vector<std::string>{"print.ovk"});
    std::string missing = (prefix_.path() / "gone.ovk").string();
    EXPECT_EQ(MAPISendDocuments(0, const_cast<LPSTR>("|"), missing.data(), const_cast<LPSTR>(""), 0),
              MAPI_E_ATTACHMENT_OPEN_FAILURE);
}

}  // namespace
}  // namespace mapitest
