// One fax as the builder makes it: a message in the receive folder, the
// standard properties and 39 named fax properties, one one-off recipient, a
// 1 MB attachment through a property stream, saved and submitted to the
// pickup directory. Runs in a private prefix.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovplatform/platform.h"

namespace {

struct Prefix {
    std::filesystem::path path;
    Prefix() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
        setenv("ORVANE_PREFIX", path.c_str(), 1);
        ov::SetPrefixForTesting(path);
    }
    ~Prefix() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

void Must(HRESULT hr) {
    if (FAILED(hr)) std::abort();
}

void SubmitFaxWithAttachment(benchmark::State& state) {
    Prefix prefix;
    Must(MAPIInitialize(nullptr));
    IMAPISession* session = nullptr;
    Must(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session));
    IMAPITable* table = nullptr;
    Must(session->GetMsgStoresTable(0, &table));
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    Must(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows));
    IMsgStore* store = nullptr;
    const SBinary& storeId = rows->aRow[0].lpProps[0].Value.bin;
    Must(session->OpenMsgStore(0, storeId.cb, reinterpret_cast<LPENTRYID>(storeId.lpb), nullptr, MDB_WRITE, &store));
    FreeProws(rows);
    table->Release();
    IAddrBook* book = nullptr;
    Must(session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &book));
    ULONG cbInbox = 0;
    LPENTRYID inboxId = nullptr;
    Must(store->GetReceiveFolder(nullptr, 0, &cbInbox, &inboxId, nullptr));
    IUnknown* opened = nullptr;
    ULONG type = 0;
    Must(store->OpenEntry(cbInbox, inboxId, nullptr, MAPI_BEST_ACCESS, &type, &opened));
    MAPIFreeBuffer(inboxId);
    auto* inbox = reinterpret_cast<IMAPIFolder*>(opened);
    LPSPropValue sentMail = nullptr;
    Must(HrGetOneProp(store, PR_IPM_SENTMAIL_ENTRYID, &sentMail));

    std::vector<std::u16string> names;
    for (int n = 0; n < 39; ++n) names.push_back(u"FaxProperty" + std::u16string(1, static_cast<char16_t>(u'A' + n)));
    GUID set = PS_PUBLIC_STRINGS;
    std::vector<MAPINAMEID> ids(names.size());
    std::vector<LPMAPINAMEID> pointers;
    for (std::size_t n = 0; n < names.size(); ++n) {
        ids[n] = {&set, MNID_STRING, {}};
        ids[n].Kind.lpwstrName = const_cast<LPWSTR>(names[n].c_str());
        pointers.push_back(&ids[n]);
    }
    std::string page(1 << 20, '\0');
    for (std::size_t n = 0; n < page.size(); ++n) page[n] = static_cast<char>(n * 13);

    for (auto _ : state) {
        IMessage* message = nullptr;
        Must(inbox->CreateMessage(nullptr, 0, &message));
        LPSPropTagArray tags = nullptr;
        Must(message->GetIDsFromNames(static_cast<ULONG>(pointers.size()), pointers.data(), MAPI_CREATE, &tags));
        std::vector<SPropValue> values(10 + tags->cValues);
        values[0].ulPropTag = PR_MESSAGE_CLASS_A;
        values[0].Value.lpszA = const_cast<char*>("IPM.Note.OVFAX.Submit");
        values[1].ulPropTag = PR_SUBJECT_A;
        values[1].Value.lpszA = const_cast<char*>("Benchmark fax");
        values[2].ulPropTag = PR_NORMALIZED_SUBJECT_A;
        values[2].Value.lpszA = const_cast<char*>("Benchmark fax");
        values[3].ulPropTag = PR_BODY_A;
        values[3].Value.lpszA = const_cast<char*>(" ");
        values[4].ulPropTag = PR_SENTMAIL_ENTRYID;
        values[4].Value.bin = sentMail->Value.bin;
        values[5].ulPropTag = PR_SENSITIVITY;
        values[5].Value.l = 0;
        values[6].ulPropTag = PR_IMPORTANCE;
        values[6].Value.l = 1;
        values[7].ulPropTag = PR_RTF_IN_SYNC;
        values[7].Value.b = 1;
        values[8].ulPropTag = PR_RTF_COMPRESSED;
        values[8].Value.bin = {0, nullptr};
        values[9].ulPropTag = PR_ORIGINATOR_DELIVERY_REPORT_REQUESTED;
        values[9].Value.b = 0;
        for (ULONG n = 0; n < tags->cValues; ++n) {
            values[10 + n].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[n], PT_STRING8);
            values[10 + n].Value.lpszA = const_cast<char*>(" ");
        }
        Must(message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr));
        MAPIFreeBuffer(tags);
        ULONG cb = 0;
        LPENTRYID oneOff = nullptr;
        Must(book->CreateOneOff(const_cast<LPSTR>("+15551234"), const_cast<LPSTR>("ORVANE"), const_cast<LPSTR>("+15551234"), 0,
                                &cb, &oneOff));
        SPropValue recipient[4] = {};
        recipient[0].ulPropTag = PR_EMAIL_ADDRESS_A;
        recipient[0].Value.lpszA = const_cast<char*>("+15551234");
        recipient[1].ulPropTag = PR_RECIPIENT_TYPE;
        recipient[1].Value.l = MAPI_TO;
        recipient[2].ulPropTag = PR_DISPLAY_NAME_A;
        recipient[2].Value.lpszA = const_cast<char*>("+15551234");
        recipient[3].ulPropTag = PR_ENTRYID;
        recipient[3].Value.bin = {cb, reinterpret_cast<LPBYTE>(oneOff)};
        SizedADRLIST(1, list) = {1, {{0, 4, recipient}}};
        Must(message->ModifyRecipients(0, reinterpret_cast<LPADRLIST>(&list)));
        MAPIFreeBuffer(oneOff);
        IAttach* attach = nullptr;
        ULONG number = 0;
        Must(message->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &number, &attach));
        IUnknown* streamUnknown = nullptr;
        Must(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                  MAPI_CREATE | MAPI_MODIFY | MAPI_DEFERRED_ERRORS, &streamUnknown));
        auto* stream = reinterpret_cast<IStream*>(streamUnknown);
        ULONG written = 0;
        Must(stream->Write(page.data(), static_cast<ULONG>(page.size()), &written));
        Must(stream->Commit(0));
        stream->Release();
        SPropValue attachValues[2] = {};
        attachValues[0].ulPropTag = PR_ATTACH_FILENAME_A;
        attachValues[0].Value.lpszA = const_cast<char*>("page.fax");
        attachValues[1].ulPropTag = PR_ATTACH_METHOD;
        attachValues[1].Value.l = ATTACH_BY_VALUE;
        Must(attach->SetProps(2, attachValues, nullptr));
        Must(attach->SaveChanges(0));
        attach->Release();
        Must(message->SubmitMessage(FORCE_SUBMIT));
        message->Release();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
    MAPIFreeBuffer(sentMail);
    inbox->Release();
    book->Release();
    store->Release();
    session->Logoff(0, 0, 0);
    session->Release();
    MAPIUninitialize();
}
BENCHMARK(SubmitFaxWithAttachment)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
