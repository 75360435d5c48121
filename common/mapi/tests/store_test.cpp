// The message store: logon, the default store, folders, messages with their
// properties, recipients, attachments and streams, and saving.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>

#include "mapi_fixture.h"

namespace mapitest {
namespace {

using StoreTest = MapiTest;

TEST_F(StoreTest, LogonNeedsInitialize) {
    MAPIUninitialize();
    IMAPISession* session = reinterpret_cast<IMAPISession*>(1);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(session, nullptr);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    EXPECT_EQ(MAPILogonEx(0, const_cast<LPSTR>("Somebody else"), nullptr, 0, &session), MAPI_E_LOGON_FAILED);
}

TEST_F(StoreTest, DefaultStoreRowCarriesWhatTheBuilderChecks) {
    // The builder reads the table a row at a time and takes the row whose
    // fifth column is PR_DEFAULT_STORE TRUE.
    IMAPITable* raw = nullptr;
    ASSERT_EQ(session_->GetMsgStoresTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    SizedSPropTagArray(5, columns) = {5, {PR_ENTRYID, PR_MDB_PROVIDER, PR_DISPLAY_NAME_A, PR_PROVIDER_DISPLAY_A, PR_DEFAULT_STORE}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    Rows first(rows);
    ASSERT_EQ(rows->cRows, 1u);
    ASSERT_EQ(rows->aRow[0].cValues, 5u);
    for (ULONG n = 0; n < 5; ++n) EXPECT_EQ(rows->aRow[0].lpProps[n].ulPropTag, columns.aulPropTag[n]);
    EXPECT_TRUE(rows->aRow[0].lpProps[4].Value.b);
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    Rows end(rows);
    EXPECT_EQ(rows->cRows, 0u);  // the end is an empty row set
}

TEST_F(StoreTest, WithoutDefaultStoreTheRestrictionFindsNothing) {
    ASSERT_EQ(ovmapi::ClearDefaultStore(), S_OK);
    IMAPITable* raw = nullptr;
    ASSERT_EQ(session_->GetMsgStoresTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    SRestriction restriction{};
    restriction.rt = RES_BITMASK;
    restriction.res.resBitMask = {BMR_NEZ, PR_RESOURCE_FLAGS, STATUS_DEFAULT_STORE};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), nullptr, &restriction, nullptr, 0, &rows), S_OK);
    Rows held(rows);
    EXPECT_EQ(rows->cRows, 0u);
}

TEST_F(StoreTest, DefaultStoreHasTheStandardFolders) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    EXPECT_EQ(GetString(inbox.get(), PR_DISPLAY_NAME_A), "Inbox");
    EXPECT_EQ(GetString(OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID).get(), PR_DISPLAY_NAME_A), "Outbox");
    EXPECT_EQ(GetString(OpenFolder(store_.get(), PR_IPM_SENTMAIL_ENTRYID).get(), PR_DISPLAY_NAME_A), "Sent Items");
    EXPECT_EQ(GetString(OpenFolder(store_.get(), PR_IPM_WASTEBASKET_ENTRYID).get(), PR_DISPLAY_NAME_A), "Deleted Items");
    Ptr<IMAPIFolder> subtree = OpenFolder(store_.get(), PR_IPM_SUBTREE_ENTRYID);
    IMAPITable* raw = nullptr;
    ASSERT_EQ(subtree->GetHierarchyTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_A}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows), S_OK);
    Rows held(rows);
    std::set<std::string> names;
    for (ULONG n = 0; n < rows->cRows; ++n) names.insert(rows->aRow[n].lpProps[0].Value.lpszA);
    EXPECT_EQ(names, (std::set<std::string>{"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Contacts"}));
}

TEST_F(StoreTest, GetPropsAnswersInRequestOrderWithErrorsForMissing) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    SPropValue values[] = {String8(PR_SUBJECT_A, "Quarterly fax"), Long(PR_IMPORTANCE, 1), Bool(PR_RTF_IN_SYNC, true)};
    ASSERT_EQ(message->SetProps(3, values, nullptr), S_OK);
    SizedSPropTagArray(4, tags) = {4, {PR_RTF_IN_SYNC, PR_SENSITIVITY, PR_SUBJECT_W, PR_IMPORTANCE}};
    ULONG count = 0;
    LPSPropValue got = nullptr;
    EXPECT_EQ(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &got), MAPI_W_ERRORS_RETURNED);
    Buffer<SPropValue> held(got);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(got[0].ulPropTag, PR_RTF_IN_SYNC);
    EXPECT_TRUE(got[0].Value.b);
    EXPECT_EQ(got[1].ulPropTag, CHANGE_PROP_TYPE(PR_SENSITIVITY, PT_ERROR));
    EXPECT_EQ(got[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(got[2].ulPropTag, PR_SUBJECT_W);  // stored as 8-bit text, asked for as UTF-16
    EXPECT_EQ(std::u16string(got[2].Value.lpszW), u"Quarterly fax");
    EXPECT_EQ(got[3].Value.l, 1);
}

TEST_F(StoreTest, ComputedPropertiesAreRefusedWithAProblem) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    std::vector<BYTE> bogus = {1, 2, 3};
    SPropValue values[] = {String8(PR_SUBJECT_A, "kept"), Binary(PR_ENTRYID, bogus)};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(message->SetProps(2, values, &problems), S_OK);
    Buffer<SPropProblemArray> held(problems);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].ulIndex, 1u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COMPUTED);
    EXPECT_EQ(GetString(message.get(), PR_SUBJECT_A), "kept");
}

TEST_F(StoreTest, SavedMessageIsSeenWholeByAnotherSession) {
    Ptr<IAddrBook> book;
    {
        IAddrBook* raw = nullptr;
        ASSERT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &raw), S_OK);
        book.reset(raw);
    }
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    SPropValue values[] = {String8(PR_MESSAGE_CLASS_A, "IPM.Note.OVFAX.Submit"), String8(PR_SUBJECT_A, "Invoice 17"),
                           String8(PR_BODY_A, "Please pay.")};
    ASSERT_EQ(message->SetProps(3, values, nullptr), S_OK);
    AddRecipient(message.get(), book.get(), "Ann Lee", "ORVANE", "\"Ann Lee\"@+15551234");
    AddRecipient(message.get(), book.get(), "Bob", "FAX", "+15550000");
    std::string data(100000, '\0');
    for (std::size_t n = 0; n < data.size(); ++n) data[n] = static_cast<char>(n * 7);
    AddAttachment(message.get(), "scan.fax", data);
    // Nothing is in the store before the save.
    EXPECT_EQ(ContentCount(OpenInbox(OpenDefaultStore(Logon().get()).get()).get()), 0u);
    ASSERT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    LPSPropValue id = nullptr;
    ASSERT_EQ(HrGetOneProp(message.get(), PR_ENTRYID, &id), S_OK);
    Buffer<SPropValue> heldId(id);
    message.reset();

    Ptr<IMAPISession> other = Logon();
    IUnknown* opened = nullptr;
    ULONG type = 0;
    ASSERT_EQ(other->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb), &IID_IMessage,
                               MAPI_MODIFY | MAPI_BEST_ACCESS, &type, &opened),
              S_OK);
    EXPECT_EQ(type, MAPI_MESSAGE);
    Ptr<IMessage> reopened(As<IMessage>(opened));
    EXPECT_EQ(GetString(reopened.get(), PR_SUBJECT_A), "Invoice 17");
    EXPECT_EQ(GetString(reopened.get(), PR_DISPLAY_TO_A), "Ann Lee; Bob");

    IMAPITable* rawTable = nullptr;
    ASSERT_EQ(reopened->GetRecipientTable(0, &rawTable), S_OK);
    Ptr<IMAPITable> recipients(rawTable);
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(3, recipientColumns) = {3, {PR_DISPLAY_NAME_A, PR_ADDRTYPE_A, PR_EMAIL_ADDRESS_A}};
    ASSERT_EQ(HrQueryAllRows(recipients.get(), reinterpret_cast<LPSPropTagArray>(&recipientColumns), nullptr, nullptr, 0, &rows),
              S_OK);
    Rows heldRows(rows);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[2].Value.lpszA, "\"Ann Lee\"@+15551234");
    EXPECT_STREQ(rows->aRow[1].lpProps[1].Value.lpszA, "FAX");

    ASSERT_EQ(reopened->GetAttachmentTable(0, &rawTable), S_OK);
    Ptr<IMAPITable> attachments(rawTable);
    LPSPropTagArray columns = nullptr;
    ASSERT_EQ(attachments->QueryColumns(0, &columns), S_OK);
    Buffer<SPropTagArray> heldColumns(columns);
    ULONG numberColumn = columns->cValues;
    for (ULONG n = 0; n < columns->cValues; ++n)
        if (columns->aulPropTag[n] == PR_ATTACH_NUM) numberColumn = n;
    ASSERT_LT(numberColumn, columns->cValues);
    ASSERT_EQ(attachments->QueryRows(10, 0, &rows), S_OK);
    Rows attachmentRows(rows);
    ASSERT_EQ(rows->cRows, 1u);
    IAttach* rawAttach = nullptr;
    ASSERT_EQ(reopened->OpenAttach(rows->aRow[0].lpProps[numberColumn].Value.ul, nullptr, MAPI_BEST_ACCESS, &rawAttach), S_OK);
    Ptr<IAttach> attach(rawAttach);
    EXPECT_EQ(GetString(attach.get(), PR_ATTACH_FILENAME_A), "scan.fax");
    IUnknown* streamUnknown = nullptr;
    ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, STGM_READ, 0, &streamUnknown), S_OK);
    Ptr<IStream> stream(As<IStream>(streamUnknown));
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, data.size());
    std::string back(data.size() + 10, '\0');
    ULONG read = 0;
    ASSERT_EQ(stream->Read(back.data(), static_cast<ULONG>(back.size()), &read), S_OK);
    back.resize(read);
    EXPECT_EQ(back, data);
    // A read-only stream refuses writing.
    ULONG written = 0;
    EXPECT_EQ(stream->Write("x", 1, &written), STG_E_ACCESSDENIED);
}

TEST_F(StoreTest, UnsavedMessageLeavesNoTrace) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    SPropValue subject = String8(PR_SUBJECT_A, "draft");
    ASSERT_EQ(raw->SetProps(1, &subject, nullptr), S_OK);
    raw->Release();
    EXPECT_EQ(ContentCount(inbox.get()), 0u);
}

TEST_F(StoreTest, ReadOnlyOpenRefusesChanges) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    std::vector<BYTE> id = SaveSimpleMessage(inbox.get(), "read me");
    IUnknown* opened = nullptr;
    ULONG type = 0;
    ASSERT_EQ(store_->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), &IID_IMessage, 0,
                                &type, &opened),
              S_OK);
    Ptr<IMessage> message(As<IMessage>(opened));
    SPropValue subject = String8(PR_SUBJECT_A, "changed");
    EXPECT_EQ(message->SetProps(1, &subject, nullptr), MAPI_E_NO_ACCESS);
    IUnknown* stream = nullptr;
    EXPECT_EQ(message->OpenProperty(PR_BODY_A, &IID_IStream, STGM_CREATE | STGM_WRITE, MAPI_CREATE | MAPI_MODIFY, &stream),
              MAPI_E_NO_ACCESS);
    EXPECT_EQ(stream, nullptr);
}

TEST_F(StoreTest, ModifyRecipientsReplacesAddsModifiesAndRemoves) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    auto names = [&]() {
        IMAPITable* table = nullptr;
        EXPECT_EQ(message->GetRecipientTable(0, &table), S_OK);
        Ptr<IMAPITable> held(table);
        SizedSPropTagArray(2, columns) = {2, {PR_ROWID, PR_DISPLAY_NAME_A}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows), S_OK);
        Rows heldRows(rows);
        std::vector<std::pair<LONG, std::string>> result;
        for (ULONG n = 0; n < rows->cRows; ++n)
            result.emplace_back(rows->aRow[n].lpProps[0].Value.l, rows->aRow[n].lpProps[1].Value.lpszA);
        return result;
    };
    auto modify = [&](ULONG flags, std::vector<std::pair<LONG, const char*>> entries) {
        SizedADRLIST(3, list) = {};
        list.cEntries = static_cast<ULONG>(entries.size());
        std::vector<std::array<SPropValue, 2>> values(entries.size());
        for (std::size_t n = 0; n < entries.size(); ++n) {
            values[n][0] = Long(PR_ROWID, entries[n].first);
            values[n][1] = String8(PR_DISPLAY_NAME_A, entries[n].second);
            list.aEntries[n] = {0, 2, values[n].data()};
        }
        return message->ModifyRecipients(flags, reinterpret_cast<LPADRLIST>(&list));
    };
    using Names = std::vector<std::pair<LONG, std::string>>;
    ASSERT_EQ(modify(0, {{0, "A"}, {0, "B"}}), S_OK);
    EXPECT_EQ(names(), (Names{{0, "A"}, {1, "B"}}));
    ASSERT_EQ(modify(MODRECIP_ADD, {{0, "C"}}), S_OK);
    EXPECT_EQ(names(), (Names{{0, "A"}, {1, "B"}, {2, "C"}}));
    ASSERT_EQ(modify(MODRECIP_MODIFY, {{1, "B2"}}), S_OK);
    ASSERT_EQ(modify(MODRECIP_REMOVE, {{0, ""}}), S_OK);
    EXPECT_EQ(names(), (Names{{1, "B2"}, {2, "C"}}));
    EXPECT_EQ(modify(MODRECIP_REMOVE, {{7, ""}}), MAPI_E_NOT_FOUND);
    ASSERT_EQ(modify(0, {{0, "only"}}), S_OK);  // a plain call replaces the whole list
    EXPECT_EQ(names(), (Names{{3, "only"}}));
    EXPECT_EQ(message->ModifyRecipients(0, nullptr), MAPI_E_INVALID_PARAMETER);
}

class NamedPropertyTest : public MapiTest {
protected:
    // The 39 names of the fax property set, as the builder maps them.
    std::vector<std::u16string> FaxNames() {
        std::vector<std::u16string> names;
        for (int n = 0; n < 39; ++n) names.push_back(u"FaxName" + std::u16string(1, static_cast<char16_t>(u'A' + n)));
        return names;
    }
    HRESULT Map(IMAPIProp* object, const std::vector<std::u16string>& names, ULONG flags, std::vector<ULONG>& tags) {
        std::vector<MAPINAMEID> ids(names.size());
        std::vector<LPMAPINAMEID> pointers;
        GUID set = PS_PUBLIC_STRINGS;
        for (std::size_t n = 0; n < names.size(); ++n) {
            ids[n].lpguid = &set;
            ids[n].ulKind = MNID_STRING;
            ids[n].Kind.lpwstrName = const_cast<LPWSTR>(names[n].c_str());
            pointers.push_back(&ids[n]);
        }
        LPSPropTagArray result = nullptr;
        HRESULT hr = object->GetIDsFromNames(static_cast<ULONG>(names.size()), pointers.data(), flags, &result);
        Buffer<SPropTagArray> held(result);
        tags.clear();
        if (result) tags.assign(result->aulPropTag, result->aulPropTag + result->cValues);
        return hr;
    }
};

TEST_F(NamedPropertyTest, CreatedOnceAndStableAcrossObjectsAndSessions) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    std::vector<ULONG> first;
    ASSERT_EQ(Map(message.get(), FaxNames(), MAPI_CREATE, first), S_OK);
    ASSERT_EQ(first.size(), 39u);
    std::set<ULONG> distinct;
    for (ULONG tag : first) {
        EXPECT_NE(PROP_TYPE(tag), PT_ERROR);
        EXPECT_GE(PROP_ID(tag), 0x8000u);
        distinct.insert(PROP_ID(tag));
    }
    EXPECT_EQ(distinct.size(), 39u);
    std::vector<ULONG> again;
    ASSERT_EQ(Map(OpenDefaultStore(Logon().get()).get(), FaxNames(), 0, again), S_OK);
    EXPECT_EQ(again, first);

    // A value under a named id comes back with its name.
    SPropValue value = String8(PROP_TAG(PT_STRING8, PROP_ID(first[5])), "BILL-7");
    ASSERT_EQ(message->SetProps(1, &value, nullptr), S_OK);
    SizedSPropTagArray(1, asked) = {1, {PROP_TAG(PT_UNSPECIFIED, PROP_ID(first[5]))}};
    LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&asked);
    ULONG count = 0;
    LPMAPINAMEID* names = nullptr;
    ASSERT_EQ(message->GetNamesFromIDs(&tags, nullptr, 0, &count, &names), S_OK);
    Buffer<LPMAPINAMEID> heldNames(names);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(names[0]->ulKind, MNID_STRING);
    EXPECT_EQ(std::u16string(names[0]->Kind.lpwstrName), u"FaxNameF");
    EXPECT_TRUE(*names[0]->lpguid == PS_PUBLIC_STRINGS);
}

TEST_F(NamedPropertyTest, UnknownNameWithoutCreateIsAnError) {
    std::vector<ULONG> tags;
    EXPECT_EQ(Map(store_.get(), {u"Known"}, MAPI_CREATE, tags), S_OK);
    EXPECT_EQ(Map(store_.get(), {u"Known", u"Unknown"}, 0, tags), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_NE(PROP_TYPE(tags[0]), PT_ERROR);
    EXPECT_EQ(PROP_TYPE(tags[1]), PT_ERROR);
}

TEST_F(NamedPropertyTest, AStoreThatRefusesNewIdsAnswersPtError) {
    ASSERT_EQ(ovmapi::SetNamedPropertyLimit(38), S_OK);
    std::vector<ULONG> tags;
    EXPECT_EQ(Map(store_.get(), FaxNames(), MAPI_CREATE, tags), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(tags.size(), 39u);
    EXPECT_NE(PROP_TYPE(tags[37]), PT_ERROR);
    EXPECT_EQ(PROP_TYPE(tags[38]), PT_ERROR);
}

TEST_F(NamedPropertyTest, EachStoreHasItsOwnMapping) {
    std::vector<ULONG> onDefault;
    ASSERT_EQ(Map(store_.get(), {u"Padding", u"ScheduleFT"}, MAPI_CREATE, onDefault), S_OK);
    std::vector<BYTE> otherId;
    ASSERT_EQ(ovmapi::CreateStore("Archive", false, &otherId), S_OK);
    IMsgStore* raw = nullptr;
    ASSERT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(otherId.size()), reinterpret_cast<LPENTRYID>(otherId.data()),
                                     nullptr, MDB_WRITE, &raw),
              S_OK);
    Ptr<IMsgStore> other(raw);
    std::vector<ULONG> onOther;
    ASSERT_EQ(Map(other.get(), {u"ScheduleFT"}, MAPI_CREATE, onOther), S_OK);
    EXPECT_NE(PROP_ID(onOther[0]), PROP_ID(onDefault[1]));
}

TEST_F(StoreTest, PropertyStreamsWriteCopyAndSeek) {
    std::filesystem::path file = prefix_.path() / "page.bin";
    std::string bytes(300000, 'q');
    bytes[12345] = 'Z';
    std::ofstream(file, std::ios::binary) << bytes;

    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    IStream* rawFile = nullptr;
    ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ | STGM_SHARE_EXCLUSIVE, file.c_str(), nullptr,
                               &rawFile),
              S_OK);
    Ptr<IStream> source(rawFile);
    IUnknown* opened = nullptr;
    ASSERT_EQ(message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                    MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS, &opened),
              S_OK);
    Ptr<IStream> target(As<IStream>(opened));
    ULARGE_INTEGER all;
    all.QuadPart = ~0ull;
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(source->CopyTo(target.get(), all, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, bytes.size());
    EXPECT_EQ(written.QuadPart, bytes.size());
    // Until the commit the property is unchanged.
    LPSPropValue value = nullptr;
    EXPECT_EQ(HrGetOneProp(message.get(), PR_RTF_COMPRESSED, &value), MAPI_E_NOT_FOUND);
    ASSERT_EQ(target->Commit(0), S_OK);
    ASSERT_EQ(HrGetOneProp(message.get(), PR_RTF_COMPRESSED, &value), S_OK);
    Buffer<SPropValue> held(value);
    EXPECT_EQ(value->Value.bin.cb, bytes.size());

    LARGE_INTEGER move;
    move.QuadPart = 12345;
    ULARGE_INTEGER at{};
    ASSERT_EQ(source->Seek(move, STREAM_SEEK_SET, &at), S_OK);
    EXPECT_EQ(at.QuadPart, 12345u);
    char one = 0;
    ULONG got = 0;
    ASSERT_EQ(source->Read(&one, 1, &got), S_OK);
    EXPECT_EQ(one, 'Z');
    move.QuadPart = -1;
    EXPECT_EQ(source->Seek(move, STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);

    // A property that does not exist opens only with MAPI_CREATE.
    EXPECT_EQ(message->OpenProperty(PR_BODY_A, &IID_IStream, STGM_READ, 0, &opened), MAPI_E_NOT_FOUND);
}

TEST_F(StoreTest, FileStreamsRespectSharingAndMissingFiles) {
    IStream* stream = nullptr;
    std::string missing = (prefix_.path() / "nothing.txt").string();
    EXPECT_TRUE(FAILED(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, missing.c_str(), nullptr, &stream)));
    EXPECT_EQ(stream, nullptr);
    std::string path = (prefix_.path() / "busy.txt").string();
    IStream* writer = nullptr;
    ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_READWRITE, path.c_str(), nullptr, &writer),
              S_OK);
    Ptr<IStream> heldWriter(writer);
    EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ | STGM_SHARE_EXCLUSIVE, path.c_str(), nullptr,
                               &stream),
              STG_E_ACCESSDENIED);
    heldWriter.reset();
    ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ | STGM_SHARE_EXCLUSIVE, path.c_str(), nullptr,
                               &stream),
              S_OK);
    stream->Release();
}

TEST_F(StoreTest, TablesFollowColumnsRestrictionAndCursor) {
    Ptr<IMAPIFolder> outbox = OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID);
    for (const char* subject : {"one", "two", "three"}) SaveSimpleMessage(outbox.get(), subject);
    IMAPITable* raw = nullptr;
    ASSERT_EQ(outbox->GetContentsTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    SizedSPropTagArray(2, columns) = {2, {PR_SUBJECT_A, PR_SENSITIVITY}};
    ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), TBL_BATCH), S_OK);
    LPSPropTagArray asked = nullptr;
    ASSERT_EQ(table->QueryColumns(0, &asked), S_OK);
    Buffer<SPropTagArray> heldColumns(asked);
    ASSERT_EQ(asked->cValues, 2u);
    EXPECT_EQ(asked->aulPropTag[1], PR_SENSITIVITY);
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 3u);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(2, 0, &rows), S_OK);
    Rows firstTwo(rows);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[1].lpProps[0].Value.lpszA, "two");
    EXPECT_EQ(PROP_TYPE(rows->aRow[1].lpProps[1].ulPropTag), PT_ERROR);
    ASSERT_EQ(table->QueryRows(2, 0, &rows), S_OK);
    Rows last(rows);
    EXPECT_EQ(rows->cRows, 1u);

    SPropValue wanted = String8(PR_SUBJECT_A, "three");
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = {RELOP_EQ, PR_SUBJECT_A, &wanted};
    ASSERT_EQ(table->Restrict(&restriction, 0), S_OK);
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(StoreTest, DeletePropsRemovesAndRefusesComputed) {
    // What the RTF synchronisation does on a new message.
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    std::vector<BYTE> empty;
    SPropValue values[] = {String8(PR_BODY_A, " "), Bool(PR_RTF_IN_SYNC, true), Binary(PR_RTF_COMPRESSED, empty)};
    ASSERT_EQ(message->SetProps(3, values, nullptr), S_OK);
    SizedSPropTagArray(3, gone) = {3, {PR_RTF_COMPRESSED, PR_RTF_SYNC_BODY_TAG_A, PR_ENTRYID}};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&gone), &problems), S_OK);
    Buffer<SPropProblemArray> held(problems);
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].ulPropTag, PR_ENTRYID);
    LPSPropValue value = nullptr;
    EXPECT_EQ(HrGetOneProp(message.get(), PR_RTF_COMPRESSED, &value), MAPI_E_NOT_FOUND);
    EXPECT_EQ(GetString(message.get(), PR_BODY_A), " ");
}

TEST_F(StoreTest, CreateFolderCollidesUnlessAskedToOpen) {
    Ptr<IMAPIFolder> subtree = OpenFolder(store_.get(), PR_IPM_SUBTREE_ENTRYID);
    IMAPIFolder* first = nullptr;
    ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Faxes"), nullptr, nullptr, 0, &first), S_OK);
    Ptr<IMAPIFolder> created(first);
    IMAPIFolder* second = nullptr;
    EXPECT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Faxes"), nullptr, nullptr, 0, &second),
              MAPI_E_COLLISION);
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(subtree->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Faxes"), nullptr, nullptr, OPEN_IF_EXISTS, &second),
              S_OK);
    Ptr<IMAPIFolder> reopened(second);
    SaveSimpleMessage(created.get(), "filed");
    EXPECT_EQ(ContentCount(reopened.get()), 1u);  // the same folder
}

}  // namespace
}  // namespace mapitest
