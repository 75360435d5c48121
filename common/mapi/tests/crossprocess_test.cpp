// Several processes on one store: nothing is lost, and a process killed in
// the middle of a save leaves the store consistent.
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <map>
#include <thread>

#include "mapi_fixture.h"
#include "ovplatform/platform.h"

namespace mapitest {
namespace {

std::string Helper() { return (ovtest::BinaryDirectory() / "mapi_stress_helper").string(); }

// Subjects of a folder's messages with their attachment counts.
std::map<std::string, std::pair<LONG, ULONG>> Messages(IMsgStore* store, IMAPIFolder* folder) {
    std::map<std::string, std::pair<LONG, ULONG>> result;
    IMAPITable* raw = nullptr;
    EXPECT_EQ(folder->GetContentsTable(0, &raw), S_OK);
    Ptr<IMAPITable> table(raw);
    SizedSPropTagArray(3, columns) = {3, {PR_SUBJECT_A, PR_RTF_SYNC_BODY_COUNT, PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    EXPECT_EQ(HrQueryAllRows(table.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows), S_OK);
    Rows held(rows);
    for (ULONG n = 0; rows && n < rows->cRows; ++n) {
        const SPropValue* v = rows->aRow[n].lpProps;
        IUnknown* opened = nullptr;
        ULONG type = 0;
        EXPECT_EQ(store->OpenEntry(v[2].Value.bin.cb, reinterpret_cast<LPENTRYID>(v[2].Value.bin.lpb), nullptr, 0, &type,
                                   &opened),
                  S_OK);
        Ptr<IMessage> message(As<IMessage>(opened));
        IMAPITable* rawAttachments = nullptr;
        EXPECT_EQ(message->GetAttachmentTable(0, &rawAttachments), S_OK);
        Ptr<IMAPITable> attachments(rawAttachments);
        ULONG count = 0;
        attachments->GetRowCount(0, &count);
        result[v[0].Value.lpszA] = {v[1].Value.l, count};
    }
    return result;
}

using CrossProcessTest = MapiTest;

TEST_F(CrossProcessTest, TwoProcessesSavingAndSubmittingLoseNothing) {
    if (!std::filesystem::exists(Helper())) GTEST_SKIP() << "helper not built";
    constexpr int kEach = 30;
    long first = ov::StartProcess(Helper(), {"save", std::to_string(kEach), "A"});
    long second = ov::StartProcess(Helper(), {"save", std::to_string(kEach), "B"});
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    auto a = ov::WaitProcess(first, std::chrono::minutes(4));
    auto b = ov::WaitProcess(second, std::chrono::minutes(4));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->exitCode, 0);
    EXPECT_EQ(b->exitCode, 0);

    auto outbox = Messages(store_.get(), OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID).get());
    auto sent = Messages(store_.get(), OpenFolder(store_.get(), PR_IPM_SENTMAIL_ENTRYID).get());
    for (const char* tag : {"A", "B"}) {
        for (int n = 0; n < kEach; ++n) {
            std::string subject = std::string(tag) + "-" + std::to_string(n);
            auto& where = n % 2 == 0 ? sent : outbox;  // submitted ones moved on
            ASSERT_EQ(where.count(subject), 1u) << subject;
            EXPECT_EQ(where[subject].second, 1u) << subject;
        }
    }
    EXPECT_EQ(outbox.size() + sent.size(), 2u * kEach);
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ovmapi::PickupDirectory()))
        files += entry.path().extension() == ".msg";
    EXPECT_EQ(files, static_cast<std::size_t>(kEach));  // every other message, each once
}

TEST_F(CrossProcessTest, AProcessKilledWhileSavingLeavesWholeMessagesOnly) {
    if (!std::filesystem::exists(Helper())) GTEST_SKIP() << "helper not built";
    Ptr<IMAPIFolder> outbox = OpenFolder(store_.get(), PR_IPM_OUTBOX_ENTRYID);
    for (int round = 0; round < 3; ++round) {
        long pid = ov::StartProcess(Helper(), {"churn"});
        ASSERT_GT(pid, 0);
        // Let it save a few, then kill it at whatever point it has reached.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (ContentCount(outbox.get()) < static_cast<ULONG>(2 * (round + 1)) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(37 * (round + 1)));
        ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
        auto result = ov::WaitProcess(pid, std::chrono::seconds(30));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->signal, SIGKILL);
    }
    auto messages = Messages(store_.get(), outbox.get());
    ASSERT_GE(messages.size(), 6u);
    for (const auto& [subject, counts] : messages)
        EXPECT_EQ(static_cast<ULONG>(counts.first), counts.second) << subject << " was saved in part";

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(ovmapi::ProfileDatabasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

}  // namespace
}  // namespace mapitest
