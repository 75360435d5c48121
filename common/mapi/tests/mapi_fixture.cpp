#include "mapi_fixture.h"

#include <cstring>

namespace mapitest {

SPropValue String8(ULONG tag, const char* text) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char*>(text);
    return value;
}
SPropValue Long(ULONG tag, LONG number) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.l = number;
    return value;
}
SPropValue Bool(ULONG tag, bool flag) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.b = flag ? 1 : 0;
    return value;
}
SPropValue Binary(ULONG tag, std::vector<BYTE>& bytes) {
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin = {static_cast<ULONG>(bytes.size()), bytes.data()};
    return value;
}
std::vector<BYTE> BinaryOf(const SPropValue& value) {
    return std::vector<BYTE>(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
}

void MapiTest::SetUp() {
    ovmapi::faults::ClearAll();
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    session_ = Logon();
    ASSERT_TRUE(session_);
    store_ = OpenDefaultStore(session_.get());
    ASSERT_TRUE(store_);
}

void MapiTest::TearDown() {
    store_.reset();
    session_.reset();
    ovmapi::faults::ClearAll();
    ovmapi::SetFormHost(nullptr);
    ovmapi::ClearShownForms();
    MAPIUninitialize();
}

Ptr<IMAPISession> MapiTest::Logon() {
    IMAPISession* session = nullptr;
    HRESULT hr = MAPILogonEx(0, nullptr, nullptr, MAPI_LOGON_UI | MAPI_ALLOW_OTHERS | MAPI_USE_DEFAULT, &session);
    EXPECT_EQ(hr, S_OK);
    return Ptr<IMAPISession>(session);
}

Ptr<IMsgStore> MapiTest::OpenDefaultStore(IMAPISession* session) {
    IMAPITable* raw = nullptr;
    EXPECT_EQ(session->GetMsgStoresTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    if (!table) return nullptr;
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_A}};
    SRestriction restriction{};
    restriction.rt = RES_BITMASK;
    restriction.res.resBitMask = {BMR_NEZ, PR_RESOURCE_FLAGS, STATUS_DEFAULT_STORE};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), &restriction, nullptr, 0, &rows), S_OK);
    Rows held(rows);
    if (rows == nullptr || rows->cRows == 0) return nullptr;
    const SPropValue& entry = rows->aRow[0].lpProps[0];
    EXPECT_EQ(entry.ulPropTag, PR_ENTRYID);
    IMsgStore* store = nullptr;
    EXPECT_EQ(session->OpenMsgStore(0, entry.Value.bin.cb, reinterpret_cast<LPENTRYID>(entry.Value.bin.lpb), nullptr,
                                    MDB_NO_DIALOG | MAPI_DEFERRED_ERRORS | MDB_WRITE | MAPI_BEST_ACCESS, &store),
              S_OK);
    return Ptr<IMsgStore>(store);
}

std::vector<BYTE> MapiTest::StoreProp(IMsgStore* store, ULONG tag) {
    LPSPropValue value = nullptr;
    EXPECT_EQ(HrGetOneProp(store, tag, &value), S_OK);
    Buffer<SPropValue> held(value);
    return value ? BinaryOf(*value) : std::vector<BYTE>();
}

Ptr<IMAPIFolder> MapiTest::OpenFolder(IMsgStore* store, ULONG entryIdTag) {
    std::vector<BYTE> id = StoreProp(store, entryIdTag);
    ULONG type = 0;
    IUnknown* folder = nullptr;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), &IID_IMAPIFolder,
                               MAPI_BEST_ACCESS, &type, &folder),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
    return Ptr<IMAPIFolder>(As<IMAPIFolder>(folder));
}

Ptr<IMAPIFolder> MapiTest::OpenInbox(IMsgStore* store) {
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    EXPECT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &id, nullptr), S_OK);
    Buffer<ENTRYID> held(id);
    ULONG type = 0;
    IUnknown* folder = nullptr;
    EXPECT_EQ(store->OpenEntry(cb, id, nullptr, MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS, &type, &folder), S_OK);
    return Ptr<IMAPIFolder>(As<IMAPIFolder>(folder));
}

std::vector<BYTE> MapiTest::SaveSimpleMessage(IMAPIFolder* folder, const char* subject) {
    IMessage* raw = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    SPropValue values[] = {String8(PR_MESSAGE_CLASS_A, "IPM.Note"), String8(PR_SUBJECT_A, subject)};
    EXPECT_EQ(message->SetProps(2, values, nullptr), S_OK);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    LPSPropValue id = nullptr;
    EXPECT_EQ(HrGetOneProp(message.get(), PR_ENTRYID, &id), S_OK);
    Buffer<SPropValue> held(id);
    return id ? BinaryOf(*id) : std::vector<BYTE>();
}

ULONG MapiTest::ContentCount(IMAPIFolder* folder) {
    IMAPITable* raw = nullptr;
    EXPECT_EQ(folder->GetContentsTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    ULONG count = 0;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    return count;
}

std::string MapiTest::GetString(IMAPIProp* object, ULONG tag) {
    LPSPropValue value = nullptr;
    if (FAILED(HrGetOneProp(object, tag, &value))) return "<missing>";
    Buffer<SPropValue> held(value);
    return value->Value.lpszA;
}

void MapiTest::AddRecipient(IMessage* message, IAddrBook* book, const char* name, const char* type, const char* address) {
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    ASSERT_EQ(book->CreateOneOff(const_cast<LPSTR>(name), const_cast<LPSTR>(type), const_cast<LPSTR>(address), 0, &cb, &id),
              S_OK);
    Buffer<ENTRYID> heldId(id);
    void* block = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(CbNewADRLIST(1), &block), S_OK);
    auto* list = static_cast<ADRLIST*>(block);
    list->cEntries = 1;
    list->aEntries[0].ulReserved1 = 0;
    list->aEntries[0].cValues = 5;
    ASSERT_EQ(MAPIAllocateBuffer(5 * sizeof(SPropValue), reinterpret_cast<void**>(&list->aEntries[0].rgPropVals)), S_OK);
    LPSPropValue values = list->aEntries[0].rgPropVals;
    values[0] = String8(PR_DISPLAY_NAME_A, name);
    values[1] = String8(PR_ADDRTYPE_A, type);
    values[2] = String8(PR_EMAIL_ADDRESS_A, address);
    values[3] = Long(PR_RECIPIENT_TYPE, MAPI_TO);
    values[4].ulPropTag = PR_ENTRYID;
    values[4].Value.bin = {cb, reinterpret_cast<LPBYTE>(id)};
    EXPECT_EQ(message->ModifyRecipients(MODRECIP_ADD, list), S_OK);
    // The strings belong to the caller; only the list blocks are freed here.
    FreePadrlist(list);
}

void MapiTest::AddAttachment(IMessage* message, const char* name, const std::string& bytes) {
    IAttach* raw = nullptr;
    ULONG number = 0;
    ASSERT_EQ(message->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &number, &raw), S_OK);
    Ptr<IAttach> attach(raw);
    IUnknown* opened = nullptr;
    ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE,
                                   MAPI_CREATE | MAPI_MODIFY | MAPI_DEFERRED_ERRORS, &opened),
              S_OK);
    Ptr<IStream> stream(As<IStream>(opened));
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    ASSERT_EQ(stream->Commit(0), S_OK);
    SPropValue values[] = {String8(PR_ATTACH_FILENAME_A, name), String8(PR_ATTACH_LONG_FILENAME_A, name),
                           String8(PR_DISPLAY_NAME_A, name), Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                           Long(PR_RENDERING_POSITION, -1)};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(attach->SetProps(5, values, &problems), S_OK);
    EXPECT_EQ(problems, nullptr);
    ASSERT_EQ(attach->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
}

}  // namespace mapitest
