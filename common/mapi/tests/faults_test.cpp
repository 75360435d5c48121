// Fault injection: failures and warnings by operation name and call count.
#include <cstdlib>

#include "mapi_fixture.h"

namespace mapitest {
namespace {

using ovmapi::faults::Fault;
using FaultTest = MapiTest;

TEST(FaultText, ParsesEntriesOrRejectsTheWhole) {
    struct Case {
        const char* text;
        bool ok;
        std::size_t count;
    };
    const Case cases[] = {
        {"IMessage::SubmitMessage=0x80004005", true, 1},
        {"MAPILogonEx=0x80040111@2x0; IMAPIProp::SaveChanges=2147500037@3", true, 2},
        {" , ;", true, 0},
        {"NoCode=", false, 0},
        {"=0x1", false, 0},
        {"X=0x1@0", false, 0},
        {"X=0x1FFFFFFFF", false, 0},
        {"X=0x80004005@2xmany", false, 0},
    };
    for (const Case& c : cases) {
        std::vector<Fault> faults;
        EXPECT_EQ(ovmapi::faults::ParseFaults(c.text, faults), c.ok) << c.text;
        EXPECT_EQ(faults.size(), c.count) << c.text;
    }
    std::vector<Fault> faults;
    ASSERT_TRUE(ovmapi::faults::ParseFaults("MAPILogonEx=0x80040111@2x3", faults));
    EXPECT_EQ(faults[0].operation, "MAPILogonEx");
    EXPECT_EQ(faults[0].result, MAPI_E_LOGON_FAILED);
    EXPECT_EQ(faults[0].nthCall, 2u);
    EXPECT_EQ(faults[0].count, 3u);
}

TEST_F(FaultTest, StrikesTheNthCallOnlyAndNullsOutValues) {
    Ptr<IMAPIFolder> inbox = OpenInbox(store_.get());
    IMessage* raw = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &raw), S_OK);
    Ptr<IMessage> message(raw);
    ovmapi::faults::Inject("IMessage::SaveChanges", MAPI_E_NOT_ENOUGH_DISK, 2);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_NOT_ENOUGH_DISK);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(ovmapi::faults::CallCount("IMessage::SaveChanges"), 3u);

    // The error text of the failed call is available to the caller.
    ovmapi::faults::Inject("IMAPIProp::SetProps", MAPI_E_CALL_FAILED);  // the alias every property object has
    SPropValue subject = String8(PR_SUBJECT_A, "x");
    EXPECT_EQ(message->SetProps(1, &subject, nullptr), MAPI_E_CALL_FAILED);
    LPMAPIERROR error = nullptr;
    ASSERT_EQ(message->GetLastError(MAPI_E_CALL_FAILED, 0, &error), S_OK);
    Buffer<MAPIERROR> held(error);
    EXPECT_NE(std::string(error->lpszError).find("SetProps"), std::string::npos);

    ovmapi::faults::Inject("IMAPISession::OpenMsgStore", MAPI_E_NOT_FOUND, 1, 0);
    std::vector<BYTE> id = StoreProp(store_.get(), PR_ENTRYID);
    for (int n = 0; n < 2; ++n) {  // count 0: for ever
        IMsgStore* store = reinterpret_cast<IMsgStore*>(1);
        EXPECT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                                         MDB_WRITE, &store),
                  MAPI_E_NOT_FOUND);
        EXPECT_EQ(store, nullptr);
    }
}

TEST_F(FaultTest, AWarningLetsTheCallWork) {
    ovmapi::faults::Inject("IMsgStore::GetProps", MAPI_W_ERRORS_RETURNED);
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_SENTMAIL_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    EXPECT_EQ(store_->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values), MAPI_W_ERRORS_RETURNED);
    Buffer<SPropValue> held(values);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(values[0].ulPropTag, PR_IPM_SENTMAIL_ENTRYID);
}

TEST_F(FaultTest, FaultsComeFromTheEnvironmentAtInitialize) {
    setenv("ORVANE_MAPI_FAULTS", "MAPILogonEx=0x80040111", 1);
    MAPIUninitialize();
    ovmapi::faults::ClearAll();
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    unsetenv("ORVANE_MAPI_FAULTS");
    IMAPISession* session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), S_OK);
    session->Release();
}

TEST_F(FaultTest, AllocationFailuresReachTheCaller) {
    ovmapi::faults::ScopedFault fault("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY);
    LPSPropValue value = nullptr;
    EXPECT_EQ(HrGetOneProp(store_.get(), PR_DISPLAY_NAME_A, &value), MAPI_E_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(value, nullptr);
}

}  // namespace
}  // namespace mapitest
