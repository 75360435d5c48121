// A second process for the tests: saves and submits messages into the
// profile of $ORVANE_PREFIX.
//
//   mapi_stress_helper save COUNT TAG   save COUNT messages "TAG-n" in the
//                                       Outbox, submitting every other one
//   mapi_stress_helper churn            save big messages until killed,
//                                       printing "saved" after each
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ovmapi/mapiutil.h"

namespace {

constexpr int kChurnAttachments = 8;
constexpr std::size_t kChurnAttachmentBytes = 256 * 1024;

struct Session {
    IMAPISession* session = nullptr;
    IMsgStore* store = nullptr;
    IMAPIFolder* outbox = nullptr;
    IAddrBook* book = nullptr;
    std::vector<BYTE> sentMail;
    ~Session() {
        if (book) book->Release();
        if (outbox) outbox->Release();
        if (store) store->Release();
        if (session) session->Release();
    }
};

[[noreturn]] void Die(const char* what, HRESULT hr) {
    std::fprintf(stderr, "mapi_stress_helper: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
    std::exit(1);
}

void Must(HRESULT hr, const char* what) {
    if (FAILED(hr)) Die(what, hr);
}

void Open(Session& s) {
    Must(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &s.session), "logon");
    IMAPITable* table = nullptr;
    Must(s.session->GetMsgStoresTable(0, &table), "stores table");
    SRestriction restriction{};
    restriction.rt = RES_BITMASK;
    restriction.res.resBitMask = {BMR_NEZ, PR_RESOURCE_FLAGS, STATUS_DEFAULT_STORE};
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    Must(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), &restriction, nullptr, 0, &rows), "stores");
    table->Release();
    if (rows->cRows == 0) Die("finding the default store", MAPI_E_NOT_FOUND);
    const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
    Must(s.session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MDB_WRITE, &s.store), "open store");
    FreeProws(rows);
    LPSPropValue outbox = nullptr;
    Must(HrGetOneProp(s.store, PR_IPM_OUTBOX_ENTRYID, &outbox), "outbox id");
    IUnknown* folder = nullptr;
    ULONG type = 0;
    Must(s.store->OpenEntry(outbox->Value.bin.cb, reinterpret_cast<LPENTRYID>(outbox->Value.bin.lpb), nullptr,
                            MAPI_BEST_ACCESS, &type, &folder),
         "open outbox");
    MAPIFreeBuffer(outbox);
    s.outbox = reinterpret_cast<IMAPIFolder*>(folder);
    LPSPropValue sent = nullptr;
    Must(HrGetOneProp(s.store, PR_IPM_SENTMAIL_ENTRYID, &sent), "sent items id");
    s.sentMail.assign(sent->Value.bin.lpb, sent->Value.bin.lpb + sent->Value.bin.cb);
    MAPIFreeBuffer(sent);
    Must(s.session->OpenAddressBook(0, nullptr, 0, &s.book), "address book");
}

IMessage* NewMessage(Session& s, const std::string& subject, int attachments, std::size_t attachmentBytes) {
    IMessage* message = nullptr;
    Must(s.outbox->CreateMessage(nullptr, 0, &message), "create message");
    SPropValue values[4] = {};
    values[0].ulPropTag = PR_SUBJECT_A;
    values[0].Value.lpszA = const_cast<char*>(subject.c_str());
    values[1].ulPropTag = PR_MESSAGE_CLASS_A;
    values[1].Value.lpszA = const_cast<char*>("IPM.Note");
    values[2].ulPropTag = PR_SENTMAIL_ENTRYID;
    values[2].Value.bin = {static_cast<ULONG>(s.sentMail.size()), s.sentMail.data()};
    // How many attachments the message must have: a saved message with fewer
    // would be a torn save.
    values[3].ulPropTag = PR_RTF_SYNC_BODY_COUNT;
    values[3].Value.l = attachments;
    Must(message->SetProps(4, values, nullptr), "set props");
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    Must(s.book->CreateOneOff(const_cast<LPSTR>("Fax"), const_cast<LPSTR>("FAX"), const_cast<LPSTR>("+1555"), 0, &cb, &id),
         "one-off");
    SPropValue recipient[4] = {};
    recipient[0].ulPropTag = PR_DISPLAY_NAME_A;
    recipient[0].Value.lpszA = const_cast<char*>("Fax");
    recipient[1].ulPropTag = PR_ADDRTYPE_A;
    recipient[1].Value.lpszA = const_cast<char*>("FAX");
    recipient[2].ulPropTag = PR_EMAIL_ADDRESS_A;
    recipient[2].Value.lpszA = const_cast<char*>("+1555");
    recipient[3].ulPropTag = PR_ENTRYID;
    recipient[3].Value.bin = {cb, reinterpret_cast<LPBYTE>(id)};
    SizedADRLIST(1, list) = {1, {{0, 4, recipient}}};
    Must(message->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)), "recipients");
    MAPIFreeBuffer(id);
    std::string data(attachmentBytes, 'x');
    for (int n = 0; n < attachments; ++n) {
        IAttach* attach = nullptr;
        ULONG number = 0;
        Must(message->CreateAttach(nullptr, 0, &number, &attach), "create attachment");
        SPropValue value{};
        value.ulPropTag = PR_ATTACH_DATA_BIN;
        value.Value.bin = {static_cast<ULONG>(data.size()), reinterpret_cast<LPBYTE>(data.data())};
        Must(attach->SetProps(1, &value, nullptr), "attachment data");
        Must(attach->SaveChanges(0), "save attachment");
        attach->Release();
    }
    return message;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        std::puts("usage: mapi_stress_helper save COUNT TAG | churn");
        return 0;
    }
    Must(MAPIInitialize(nullptr), "initialize");
    Session s;
    Open(s);
    if (argc == 4 && std::strcmp(argv[1], "save") == 0) {
        int count = std::atoi(argv[2]);
        for (int n = 0; n < count; ++n) {
            IMessage* message = NewMessage(s, std::string(argv[3]) + "-" + std::to_string(n), 1, 64 * 1024);
            if (n % 2 == 0)
                Must(message->SubmitMessage(0), "submit");
            else
                Must(message->SaveChanges(0), "save");
            message->Release();
        }
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "churn") == 0) {
        for (int n = 0;; ++n) {
            IMessage* message = NewMessage(s, "churn-" + std::to_string(getpid()) + "-" + std::to_string(n), kChurnAttachments,
                                          kChurnAttachmentBytes);
            Must(message->SaveChanges(0), "save");
            message->Release();
            std::printf("saved %d\n", n);
            std::fflush(stdout);
        }
    }
    std::fprintf(stderr, "usage: mapi_stress_helper save COUNT TAG | churn\n");
    return 2;
}
