// CreateFaxMsg against the mail-system layer in a private prefix: every
// result code from a failing step, what becomes of the message for each
// combination of flags, what is stamped, and what an independent reader
// finds in the submitted file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "faxmsg/faxmsg.h"
#include "faxmsg/propset.h"
#include "faxmsg/rtf_codec.h"
#include "faxmsg/rtf_streams.h"
#include "ovmapi/faults.h"
#include "ovmapi/mapiform.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovtest/temp_prefix.h"
#include "fax_readers.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using readback::Hex;
using readback::PickupFiles;
using readback::ReadersInstalled;
using readback::ReadFaxMsg;
using readback::RunShell;


struct Releaser {
    void operator()(IUnknown* object) const {
        if (object != nullptr) object->Release();
    }
};
template <class T>
using Ptr = std::unique_ptr<T, Releaser>;
struct BufferFree {
    void operator()(void* block) const { MAPIFreeBuffer(block); }
};
template <class T>
using Buffer = std::unique_ptr<T, BufferFree>;
struct RowsFree {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, RowsFree>;

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fax job as the gateway fills it: class, subject, extended settings, two
// recipients, a body file and two attachments.
struct Job {
    tagMsgSettings settings;
    fs::path bodyFile;
    std::string bodyText =
        "Dear Ann,\r\nplease find the {order} attached.\r\n\tPrice: 12\x80 \\ net\r\n";
    std::vector<std::pair<fs::path, std::string>> attachments;

    explicit Job(const fs::path& dir, bool withFiles = true) {
        settings.SetMsgClass(faxmsg::kClassGateway, 64);
        settings.SetSubject("Order 4711", 64);
        if (!withFiles) return;
        bodyFile = dir / "letter.bdy";
        WriteFile(bodyFile, bodyText);
        settings.SetBody(bodyFile.c_str(), 2047);
        settings.SetBodyFile(1);
        std::string binary;
        for (int n = 0; n < 70000; ++n) binary += static_cast<char>((n * 7 + n / 256) & 0xFF);
        attachments = {{dir / "page1.fax", binary}, {dir / "notes.txt", "short note\n"}};
        for (const auto& [path, bytes] : attachments) {
            WriteFile(path, bytes);
            settings.AddAttach(path.c_str());
        }
    }
    void AddRecipients() {
        settings.AddRecip("\"Ann Lee\"@\"Acme\"@555-0100");
        settings.AddRecip("\"Bob\"@\"\"@+49 30 1234");
    }
};

class BuilderTest : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        ovmapi::faults::ClearAll();
        ovmapi::SetFormHost(nullptr);
        ovmapi::ClearShownForms();
        ASSERT_EQ(ovmapi::EnsureProfile(), S_OK);
    }
    void TearDown() override {
        ovmapi::faults::ClearAll();
        ovmapi::SetFormHost(nullptr);
        ovmapi::ClearShownForms();
    }

    int Build(const tagMsgSettings& settings) {
        extended_ = 0x12345;
        failedFile_ = "stale";
        return CreateFaxMsg(nullptr, &settings, &extended_, &failedFile_);
    }

    // A session of the test's own to look at the store afterwards.
    struct View {
        Ptr<IMAPISession> session;
        Ptr<IMsgStore> store;
    };
    View Open() {
        View view;
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        initialized_ = true;
        IMAPISession* session = nullptr;
        EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), S_OK);
        view.session.reset(session);
        IMAPITable* raw = nullptr;
        EXPECT_EQ(session->GetMsgStoresTable(0, &raw), S_OK);
        Ptr<IMAPITable> table(raw);
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                 nullptr, 0, &rows),
                  S_OK);
        Rows held(rows);
        for (ULONG n = 0; rows != nullptr && n < rows->cRows; ++n) {
            if (rows->aRow[n].lpProps[1].ulPropTag != PR_DEFAULT_STORE ||
                !rows->aRow[n].lpProps[1].Value.b)
                continue;
            const SBinary& id = rows->aRow[n].lpProps[0].Value.bin;
            IMsgStore* store = nullptr;
            EXPECT_EQ(session->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                            MDB_WRITE | MAPI_BEST_ACCESS, &store),
                      S_OK);
            view.store.reset(store);
        }
        return view;
    }
    ~BuilderTest() override {
        if (initialized_) MAPIUninitialize();
    }

    static Ptr<IMAPIFolder> Folder(IMsgStore* store, ULONG entryIdTag) {
        LPSPropValue value = nullptr;
        EXPECT_EQ(HrGetOneProp(store, entryIdTag, &value), S_OK);
        Buffer<SPropValue> held(value);
        if (value == nullptr) return nullptr;
        ULONG type = 0;
        IUnknown* opened = nullptr;
        EXPECT_EQ(
            store->OpenEntry(value->Value.bin.cb, reinterpret_cast<LPENTRYID>(value->Value.bin.lpb),
                             &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, &opened),
            S_OK);
        return Ptr<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(opened));
    }
    static Ptr<IMAPIFolder> Inbox(IMsgStore* store) {
        ULONG size = 0;
        LPENTRYID id = nullptr;
        EXPECT_EQ(store->GetReceiveFolder(nullptr, 0, &size, &id, nullptr), S_OK);
        Buffer<ENTRYID> held(id);
        ULONG type = 0;
        IUnknown* opened = nullptr;
        EXPECT_EQ(store->OpenEntry(size, id, &IID_IMAPIFolder, MAPI_BEST_ACCESS, &type, &opened),
                  S_OK);
        return Ptr<IMAPIFolder>(reinterpret_cast<IMAPIFolder*>(opened));
    }
    static ULONG Count(IMAPIFolder* folder) {
        IMAPITable* raw = nullptr;
        EXPECT_EQ(folder->GetContentsTable(0, &raw), S_OK);
        Ptr<IMAPITable> table(raw);
        ULONG count = 0;
        EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
        return count;
    }
    // The only message of a folder.
    static Ptr<IMessage> OnlyMessage(IMAPIFolder* folder) {
        IMAPITable* raw = nullptr;
        EXPECT_EQ(folder->GetContentsTable(0, &raw), S_OK);
        Ptr<IMAPITable> table(raw);
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                 nullptr, 0, &rows),
                  S_OK);
        Rows held(rows);
        EXPECT_TRUE(rows != nullptr && rows->cRows == 1);
        if (rows == nullptr || rows->cRows != 1) return nullptr;
        const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
        ULONG type = 0;
        IUnknown* opened = nullptr;
        EXPECT_EQ(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                    MAPI_BEST_ACCESS, &type, &opened),
                  S_OK);
        return Ptr<IMessage>(reinterpret_cast<IMessage*>(opened));
    }

    LONG extended_ = 0;
    const char* failedFile_ = nullptr;
    bool initialized_ = false;
};

// ---------------------------------------------------------------- errors
TEST(ErrorText, FormatsEveryCodeAndOnlyThose) {
    char buffer[512];
    EXPECT_STREQ(GetErrorMSG(1001, MAPI_E_LOGON_FAILED, nullptr, buffer),
                 "ERROR(E1001) : Logon failed.\r\nExtended Error : -2147221231");
    EXPECT_STREQ(GetErrorMSG(1012, 0, "ignored", buffer),
                 "ERROR(E1012) : Failed on setting message body from file.\r\nExtended Error : 0");
    EXPECT_STREQ(GetErrorMSG(1006, E_FAIL, nullptr, buffer),
                 "ERROR(E1006) : Failed on attaching file to message.\r\nExtended Error : "
                 "-2147467259 File : ''");
    EXPECT_STREQ(GetErrorMSG(1006, E_FAIL, "C:\\faxes\\a.fax", buffer),
                 "ERROR(E1006) : Failed on attaching file to message.\r\nExtended Error : "
                 "-2147467259 File : "
                 "'C:\\faxes\\a.fax'");
    for (unsigned code = 1000; code <= 1012; ++code) {
        std::string text = GetErrorMSG(code, 7, nullptr, buffer);
        char head[16];
        std::snprintf(head, sizeof head, "ERROR(E%u) : ", code);
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    }
    for (unsigned code : {0u, 999u, 1013u, 0xFFFFFFFFu}) {
        std::strcpy(buffer, "old");
        EXPECT_STREQ(GetErrorMSG(code, 5, "x", buffer), "") << code;
    }
}

TEST(ErrorText, BoundedFormCutsALongFileName) {
    std::string longName(5000, 'n');
    std::vector<char> big(6000);
    GetErrorMSG(1006, E_FAIL, longName.c_str(), big.data());
    EXPECT_EQ(std::string(big.data()),
              "ERROR(E1006) : Failed on attaching file to message.\r\nExtended Error : -2147467259 "
              "File : '" +
                  longName + "'");

    char small[48];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(GetErrorMSGBounded(1006, E_FAIL, longName.c_str(), small, sizeof small), small);
    EXPECT_EQ(std::strlen(small), sizeof small - 1);
    EXPECT_EQ(std::string(small), std::string(big.data(), sizeof small - 1));
    char none[1] = {'x'};
    EXPECT_EQ(GetErrorMSGBounded(1001, 0, nullptr, none, 0), none);
    EXPECT_EQ(none[0], 'x');
}

// ---------------------------------------------------------- result codes
// Each step of the build made to fail in turn: the code and the extended
// error it carries.
TEST_F(BuilderTest, EveryFailingStepGivesItsCodeAndExtendedError) {
    struct Case {
        const char* operation;
        HRESULT fault;
        unsigned nth;
        int code;
        HRESULT extended;
        LONG attachment = 0;  // for 1006: the path that failed
    };
    const Case cases[] = {
        {"MAPIInitialize", MAPI_E_NOT_INITIALIZED, 1, 1000, MAPI_E_NOT_INITIALIZED},
        {"MAPILogonEx", MAPI_E_LOGON_FAILED, 1, 1001, MAPI_E_LOGON_FAILED},
        {"IMAPISession::OpenAddressBook", MAPI_E_NO_ACCESS, 1, 1008, MAPI_E_NO_ACCESS},
        {"IMAPISession::GetMsgStoresTable", MAPI_E_NOT_ENOUGH_MEMORY, 1, 1002,
         MAPI_E_NOT_ENOUGH_MEMORY},
        {"IMAPISession::OpenMsgStore", MAPI_E_NO_ACCESS, 1, 1002, MAPI_E_NO_ACCESS},
        {"IMsgStore::GetReceiveFolder", MAPI_E_NOT_FOUND, 1, 1003, MAPI_E_NOT_FOUND},
        {"IMsgStore::OpenEntry", MAPI_E_NO_ACCESS, 1, 1003, MAPI_E_NO_ACCESS},
        {"IMAPIFolder::CreateMessage", MAPI_E_DISK_ERROR, 1, 1004, MAPI_E_DISK_ERROR},
        {"IMsgStore::GetProps", MAPI_E_CORRUPT_STORE, 1, 1005, MAPI_E_CORRUPT_STORE},
        {"IMessage::GetIDsFromNames", MAPI_E_NO_SUPPORT, 1, 1005, MAPI_E_NO_SUPPORT},
        {"IMessage::SetProps", MAPI_E_CALL_FAILED, 1, 1005, MAPI_E_CALL_FAILED},
        {"IMessage::GetProps", MAPI_E_CALL_FAILED, 1, 1005,
         MAPI_E_CALL_FAILED},  // the RTF synchronisation
        {"IMessage::DeleteProps", MAPI_E_NO_ACCESS, 1, 1005, MAPI_E_NO_ACCESS},
        {"IAddrBook::CreateOneOff", MAPI_E_CALL_FAILED, 2, 1009, E_FAIL},
        {"OpenStreamOnFile", MAPI_E_NOT_FOUND, 1, 1012, MAPI_E_NOT_FOUND},  // the body file
        {"IMessage::OpenProperty", MAPI_E_NO_ACCESS, 1, 1012, MAPI_E_NO_ACCESS},
        {"IMessage::ModifyRecipients", MAPI_E_TOO_BIG, 1, 1009, MAPI_E_TOO_BIG},
        {"IMessage::CreateAttach", MAPI_E_NO_ACCESS, 1, 1006, E_FAIL},
        {"OpenStreamOnFile", MAPI_E_NOT_FOUND, 3, 1006, E_FAIL, 1},  // the second attachment
        {"IAttach::OpenProperty", MAPI_E_NO_ACCESS, 1, 1006, E_FAIL},
        {"IAttach::SetProps", MAPI_E_CALL_FAILED, 1, 1006, E_FAIL},
        {"IAttach::SaveChanges", MAPI_E_DISK_ERROR, 2, 1006, E_FAIL, 1},
        {"IStream::Commit", MAPI_E_DISK_ERROR, 2, 1012, MAPI_E_DISK_ERROR},  // the stored RTF body
        {"IStream::Commit", MAPI_E_DISK_ERROR, 3, 1006, E_FAIL},  // the first attachment's data
        {"IMessage::SubmitMessage", MAPI_E_NETWORK_ERROR, 1, 1010, MAPI_E_NETWORK_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " #" + std::to_string(c.nth));
        Job job(prefix_.path());
        job.AddRecipients();
        ovmapi::faults::Inject(c.operation, c.fault, c.nth, 1);
        EXPECT_EQ(Build(job.settings), c.code);
        EXPECT_EQ(extended_, c.extended);
        if (c.code == 1006) {
            // The record's own copy of the path that failed.
            EXPECT_EQ(failedFile_, job.settings.GetAttach(c.attachment));
        } else {
            EXPECT_EQ(failedFile_, nullptr);
        }
        EXPECT_TRUE(PickupFiles().empty());
        ovmapi::faults::ClearAll();
    }
    // Nothing was left behind by any failed build.
    View view = Open();
    EXPECT_EQ(Count(Inbox(view.store.get()).get()), 0u);
}

TEST_F(BuilderTest, ProfileWithoutDefaultStoreOrNamedIdsFails) {
    Job job(prefix_.path(), false);
    job.AddRecipients();
    job.settings.SetExSettings(1);
    // The store creates only a few ids: the mapping of the whole set fails
    // and none of it is written.
    ASSERT_EQ(ovmapi::SetNamedPropertyLimit(20), S_OK);
    EXPECT_EQ(Build(job.settings), 1005);
    EXPECT_EQ(extended_, MAPI_E_NOT_FOUND);
    ASSERT_EQ(ovmapi::SetNamedPropertyLimit(0x7FFF), S_OK);

    ASSERT_EQ(ovmapi::ClearDefaultStore(), S_OK);
    EXPECT_EQ(Build(job.settings), 1002);
    EXPECT_EQ(extended_, MAPI_E_NOT_FOUND);
}

TEST_F(BuilderTest, MissingOrLockedFilesAreReported) {
    {
        Job job(prefix_.path());
        job.AddRecipients();
        fs::remove(job.bodyFile);
        EXPECT_EQ(Build(job.settings), 1012);
        EXPECT_EQ(extended_, MAPI_E_NOT_FOUND);
    }
    {
        Job job(prefix_.path());
        job.AddRecipients();
        job.settings.AddAttach((prefix_.path() / "gone.fax").c_str());
        EXPECT_EQ(Build(job.settings), 1006);
        EXPECT_EQ(extended_, E_FAIL);
        EXPECT_EQ(failedFile_, job.settings.GetAttach(2));
    }
    {
        // An attachment another program is writing cannot be read exclusively.
        Job job(prefix_.path());
        job.AddRecipients();
        IStream* writer = nullptr;
        ASSERT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_WRITE,
                                   job.attachments[1].first.c_str(), nullptr, &writer),
                  S_OK);
        Ptr<IStream> held(writer);
        EXPECT_EQ(Build(job.settings), 1006);
        EXPECT_EQ(failedFile_, job.settings.GetAttach(1));
        held.reset();
        EXPECT_EQ(Build(job.settings), 0);
    }
    // The null record is refused without touching the mail system.
    ovmapi::faults::ClearAll();
    LONG extended = 0;
    const char* failed = "x";
    EXPECT_EQ(CreateFaxMsg(nullptr, nullptr, &extended, &failed), 1005);
    EXPECT_EQ(extended, E_INVALIDARG);
    EXPECT_EQ(failed, nullptr);
    EXPECT_EQ(ovmapi::faults::CallCount("MAPIInitialize"), 0u);
}

// ----------------------------------------------------------- disposition
TEST_F(BuilderTest, FlagsDecideWhatBecomesOfTheMessage) {
    struct Case {
        LONG flags;
        bool submitFails;
        std::vector<ovmapi::FormAction> formActions;
        int code;
        std::size_t pickup;  // files written by the transport
        ULONG inbox;         // saved in the receive folder
        std::size_t forms;   // forms shown
    };
    using A = ovmapi::FormAction;
    const Case cases[] = {
        {8, false, {}, 0, 1, 0, 0},            // submit
        {8, true, {}, 1010, 0, 0, 0},          // submit fails, nothing to fall back on
        {10, false, {}, 0, 1, 0, 0},           // submit, save only as fallback
        {10, true, {}, 0, 0, 1, 0},            // submit fails: saved
        {12, true, {A::Cancel}, 0, 0, 0, 1},   // submit fails: form, closed by the user
        {12, true, {A::Send}, 0, 1, 0, 1},     // submit fails: form, sent from there
        {2, false, {}, 0, 0, 1, 0},            // save
        {0, false, {}, 0, 0, 1, 0},            // nothing asked: save
        {6, false, {}, 0, 0, 1, 0},            // edit and save: save wins
        {4, false, {A::Cancel}, 0, 0, 0, 1},   // edit: closed without sending
        {4, false, {A::Save}, 0, 0, 1, 1},     // edit: saved from the form
        {4, false, {A::Fail}, 1007, 0, 0, 1},  // the form cannot be opened
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.flags) +
                     (c.submitFails ? " failing submission" : ""));
        ovtest::TempPrefix prefix;  // every case on a fresh profile
        ASSERT_EQ(ovmapi::EnsureProfile(), S_OK);
        ovmapi::ClearShownForms();
        ovmapi::SetFormHost(ovmapi::MakeScriptedFormHost(c.formActions));
        Job job(prefix.path());
        job.AddRecipients();
        job.settings.SetFlags(c.flags);
        if (c.submitFails)
            ovmapi::faults::Inject("IMessage::SubmitMessage", MAPI_E_NETWORK_ERROR, 1, 1);
        EXPECT_EQ(Build(job.settings), c.code);
        if (c.code == 0 && c.formActions.empty() && !c.submitFails) {
            EXPECT_GE(extended_, 0);
        }
        if (!c.formActions.empty() && c.formActions[0] == A::Cancel) {
            EXPECT_EQ(extended_, 0);
        }
        if (c.code == 1007) {
            EXPECT_EQ(extended_, MAPI_E_CALL_FAILED);
        }
        ovmapi::faults::ClearAll();
        EXPECT_EQ(PickupFiles().size(), c.pickup);
        {
            View view = Open();
            EXPECT_EQ(Count(Inbox(view.store.get()).get()), c.inbox);
            if (c.pickup == 1 && c.formActions.empty()) {  // moved on to Sent Items
                EXPECT_EQ(Count(Folder(view.store.get(), PR_IPM_SENTMAIL_ENTRYID).get()), 1u);
            }
        }
        std::vector<ovmapi::FormShowing> shown = ovmapi::ShownForms();
        ASSERT_EQ(shown.size(), c.forms);
        if (!shown.empty()) {
            EXPECT_EQ(shown[0].messageClass, faxmsg::kClassGateway);
            EXPECT_EQ(shown[0].subject, "Order 4711");
            EXPECT_EQ(shown[0].recipients.size(), 2u);
            EXPECT_EQ(shown[0].attachments, (std::vector<std::string>{"page1.fax", "notes.txt"}));
            EXPECT_TRUE(shown[0].newMessage);
        }
        MAPIUninitialize();
        initialized_ = false;
        ++round;
    }
    EXPECT_EQ(round, 12);
}

TEST_F(BuilderTest, FormFailuresGive1007) {
    for (const char* operation : {"IMAPISession::PrepareForm", "IMAPISession::ShowForm"}) {
        SCOPED_TRACE(operation);
        Job job(prefix_.path(), false);
        job.AddRecipients();
        job.settings.SetFlags(tagMsgSettings::kFlagMsgEdit);
        ovmapi::faults::Inject(operation, MAPI_E_NO_SUPPORT, 1, 1);
        EXPECT_EQ(Build(job.settings), 1007);
        EXPECT_EQ(extended_, MAPI_E_NO_SUPPORT);
        ovmapi::faults::ClearAll();
    }
    // Without a class the form of "IPM.Note" is opened.
    ovmapi::ClearShownForms();
    tagMsgSettings plain;
    plain.AddRecip("555");
    plain.SetFlags(tagMsgSettings::kFlagMsgEdit);
    EXPECT_EQ(Build(plain), 0);
    ASSERT_EQ(ovmapi::ShownForms().size(), 1u);
    EXPECT_EQ(ovmapi::ShownForms()[0].messageClass, "IPM.Note");
}

// -------------------------------------------------------------- stamping
TEST_F(BuilderTest, StampsTheStandardAndFaxProperties) {
    struct Case {
        const char* name;
        bool ex;
        const char* schedTime;
        bool schedFt;
        const char* cover;
        const char* formCover;
        const char* bill;
        LONG res;
    };
    const Case cases[] = {
        {"plain", false, nullptr, false, nullptr, nullptr, nullptr, -1},
        {"extended without schedule", true, nullptr, false, nullptr, nullptr, nullptr, 0},
        {"schedule as FILETIME", true, nullptr, true, "Standard", nullptr, "4711", 1},
        {"schedule as text", true, "2026-12-24 08:00:00", false, nullptr, "Letter", nullptr, 2},
    };
    const FILETIME when{0x89ABCDEF, 0x01DC0123};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ovtest::TempPrefix prefix;
        ASSERT_EQ(ovmapi::EnsureProfile(), S_OK);
        tagMsgSettings settings;
        settings.SetFlags(tagMsgSettings::kFlagMsgSave);
        settings.AddRecip("\"Ann Lee\"@\"Acme\"@555-0100");
        settings.SetBody("Plain body", 100);
        if (c.ex) settings.SetExSettings(1);
        if (c.res != -1) settings.SetRes(c.res);
        if (c.cover) settings.SetCvrName(c.cover, 100);
        if (c.formCover) settings.SetFCvrName(c.formCover, 100);
        if (c.bill) settings.SetBillCode(c.bill, 100);
        if (c.schedFt) settings.SetSchedFT(&when);
        if (c.schedTime) settings.SetSchedTime(c.schedTime, 100);
        ASSERT_EQ(Build(settings), 0);

        View view = Open();
        Ptr<IMessage> message = OnlyMessage(Inbox(view.store.get()).get());
        ASSERT_TRUE(message);
        faxmsg::FaxPropTags tags;
        ASSERT_EQ(faxmsg::MapFaxPropertySet(view.store.get(), tags), S_OK);
        std::vector<ULONG> wanted = {PR_MESSAGE_CLASS_A, PR_SUBJECT_A,      PR_NORMALIZED_SUBJECT_A,
                                     PR_BODY_A,          PR_SENSITIVITY,    PR_IMPORTANCE,
                                     PR_RTF_IN_SYNC,     PR_RTF_COMPRESSED, PR_SENTMAIL_ENTRYID};
        wanted.insert(wanted.end(), tags.tags.begin(), tags.tags.end());
        std::vector<ULONG> array(wanted.size() + 1);
        array[0] = static_cast<ULONG>(wanted.size());
        std::copy(wanted.begin(), wanted.end(), array.begin() + 1);
        ULONG count = 0;
        LPSPropValue raw = nullptr;
        ASSERT_TRUE(SUCCEEDED(
            message->GetProps(reinterpret_cast<LPSPropTagArray>(array.data()), 0, &count, &raw)));
        Buffer<SPropValue> values(raw);
        auto has = [&](std::size_t i) { return PROP_TYPE(raw[i].ulPropTag) != PT_ERROR; };
        auto text = [&](std::size_t i) {
            return has(i) ? std::string(raw[i].Value.lpszA) : std::string("<none>");
        };
        const std::size_t fax = 9;
        EXPECT_EQ(text(0), "IPM.Note");
        EXPECT_EQ(text(1), "");
        EXPECT_EQ(text(2), "");
        EXPECT_EQ(text(3), "Plain body");
        EXPECT_EQ(raw[4].Value.l, 0);
        EXPECT_EQ(raw[5].Value.l, 1);
        // The synchronisation left no RTF and said so.
        ASSERT_TRUE(has(6));
        EXPECT_EQ(raw[6].Value.b, 0);
        EXPECT_FALSE(has(7));
        EXPECT_TRUE(has(8));
        ASSERT_TRUE(has(fax + faxmsg::kMsExchange01));
        EXPECT_EQ(raw[fax + faxmsg::kMsExchange01].Value.b, 0);
        if (!c.ex) {
            // Only MS_EXCHANGE_01 of the whole set.
            for (std::size_t n = 1; n < faxmsg::kFaxPropCount; ++n)
                EXPECT_FALSE(has(fax + n)) << faxmsg::FaxPropDefs()[n].name8;
            continue;
        }
        EXPECT_EQ(text(fax + faxmsg::kOrvaneSign), "Orvane Extended Properties");
        EXPECT_EQ(raw[fax + faxmsg::kCvrPage].Value.b != 0, c.formCover != nullptr);
        EXPECT_EQ(raw[fax + faxmsg::kHighRes].Value.b != 0, c.res > 0);
        EXPECT_EQ(text(fax + faxmsg::kCvrPageName), c.formCover ? c.formCover : " ");
        EXPECT_EQ(text(fax + faxmsg::kTmplName), c.cover ? c.cover : " ");
        EXPECT_EQ(text(fax + faxmsg::kBillCode), c.bill ? c.bill : " ");
        if (c.schedFt) {
            EXPECT_FALSE(has(fax + faxmsg::kScheduleTime));
            ASSERT_TRUE(has(fax + faxmsg::kScheduleFT));
            EXPECT_EQ(raw[fax + faxmsg::kScheduleFT].Value.ft.dwLowDateTime, when.dwLowDateTime);
            EXPECT_EQ(raw[fax + faxmsg::kScheduleFT].Value.ft.dwHighDateTime, when.dwHighDateTime);
        } else {
            EXPECT_EQ(text(fax + faxmsg::kScheduleTime), c.schedTime ? c.schedTime : " ");
            EXPECT_FALSE(has(fax + faxmsg::kScheduleFT));
        }
        for (faxmsg::FaxProp unwritten : {faxmsg::kFaxInfo1, faxmsg::kGWay, faxmsg::kOriginalFax})
            EXPECT_FALSE(has(fax + unwritten));
        MAPIUninitialize();
        initialized_ = false;
    }
}

// ---------------------------------------------- through independent readers
TEST_F(BuilderTest, SubmittedFaxReadsBackThroughIndependentReaders) {
    if (!ReadersInstalled())
        GTEST_SKIP() << "node or the npm readers missing (scripts/deps.sh installs them)";
    Job job(prefix_.path());
    job.AddRecipients();
    job.settings.SetRes(1);
    job.settings.SetCvrName("Standard", 100);
    job.settings.SetBillCode("4711", 100);
    const FILETIME when{0x13E17300, 0x01DDCA66};  // 2027-03-04 05:06:06 UTC
    job.settings.SetSchedFT(&when);
    ASSERT_EQ(Build(job.settings), 0);
    EXPECT_GE(extended_, 0);

    std::vector<fs::path> files = PickupFiles();
    ASSERT_EQ(files.size(), 1u);
    json got = ReadFaxMsg(files[0]);
    ASSERT_FALSE(got.contains("error")) << got.dump();
    EXPECT_EQ(got["messageClass"], "IPM.Note.OVFAX.Submit");
    EXPECT_EQ(got["subject"], "Order 4711");
    EXPECT_EQ(got["body"], " ");
    // The body is the compressed RTF of the body file, exactly.
    EXPECT_EQ(got["rtfHex"], Hex(faxmsg::ConvertTextToRtf(job.bodyText, 0)));
    ASSERT_EQ(got["recipients"].size(), 2u);
    EXPECT_EQ(got["recipients"][0]["name"], "\"Ann Lee\"@\"Acme\"@555-0100");
    EXPECT_EQ(got["recipients"][0]["email"], "\"Ann Lee\"@\"Acme\"@555-0100");
    EXPECT_EQ(got["recipients"][1]["name"], "\"Bob\"@\"\"@+49 30 1234");
    for (const auto& recipient : got["recipients"]) EXPECT_EQ(recipient["addressType"], "ORVANE");
    ASSERT_EQ(got["attachments"].size(), 2u);
    for (std::size_t n = 0; n < 2; ++n) {
        EXPECT_EQ(got["attachments"][n]["fileName"], job.attachments[n].first.filename().string());
        EXPECT_EQ(got["attachments"][n]["contentHex"], Hex(job.attachments[n].second));
    }
    const json& named = got["named"];
    EXPECT_EQ(named["OrvaneSign"], "Orvane Extended Properties");
    EXPECT_EQ(named["HighRes"], true);
    EXPECT_EQ(named["CVRPage"], false);
    EXPECT_EQ(named["MS_EXCHANGE_01"], false);
    EXPECT_EQ(named["TMPLName"], "Standard");
    EXPECT_EQ(named["CVRPageName"], " ");
    EXPECT_EQ(named["BillCode"], "4711");
    EXPECT_FALSE(named.contains("ScheduleTime"));
    EXPECT_EQ(named["ScheduleFT"], "Thu, 04 Mar 2027 05:06:06 GMT");
}

// The RTF stored from a body file reads back through our own reader too, as
// `mapistore show` uses it.
TEST_F(BuilderTest, SavedBodyReadsBackAsRtf) {
    for (const std::string& text :
         {std::string(), std::string("Hi\r\n"), std::string(200000, 'a') + "\x81\x82"}) {
        ovtest::TempPrefix prefix;
        ASSERT_EQ(ovmapi::EnsureProfile(), S_OK);
        tagMsgSettings settings;
        settings.SetFlags(tagMsgSettings::kFlagMsgSave);
        settings.AddRecip("555");
        fs::path body = prefix.path() / "body.txt";
        WriteFile(body, text);
        settings.SetBody(body.c_str(), 2047);
        settings.SetBodyFile(1);
        ASSERT_EQ(Build(settings), 0);
        View view = Open();
        Ptr<IMessage> message = OnlyMessage(Inbox(view.store.get()).get());
        ASSERT_TRUE(message);
        std::string rtf;
        ASSERT_EQ(faxmsg::HrReadRtfBody(message.get(), rtf), S_OK);
        EXPECT_EQ(rtf, faxmsg::ConvertTextToRtf(text, 0));
        EXPECT_EQ(faxmsg::HrReadRtfBody(message.get(), rtf, 10), MAPI_E_TOO_BIG);
        MAPIUninitialize();
        initialized_ = false;
    }
}

}  // namespace
