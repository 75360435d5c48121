#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <thread>

#include "child_process.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

using platformtest::Child;
using platformtest::WaitForFile;

class MutexTest : public ovtest::PrefixTest {
protected:
    std::string ReadyFile(const char* name) { return (prefix_.path() / name).string(); }
};

TEST_F(MutexTest, CreateReportsAnExistingMutexAndOpenNeedsOne) {
    SetLastError(12345);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "ovnetinstalling"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    HANDLE first = CreateMutexA(nullptr, FALSE, "ovnetinstalling");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateMutexA(nullptr, TRUE, "ovnetinstalling");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(ReleaseMutex(second));  // an existing mutex is not taken on create
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    HANDLE opened = OpenMutexA(SYNCHRONIZE, FALSE, "ovnetinstalling");
    EXPECT_NE(opened, nullptr);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "OVNETINSTALLING"), nullptr);  // names keep their case

    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(opened));
    EXPECT_FALSE(CloseHandle(opened));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // The last handle gone, the mutex is gone.
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "ovnetinstalling"), nullptr);
}

TEST_F(MutexTest, OwnershipIsRecursivePerThread) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "opensafe_mutex");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // again, by the owner

    std::atomic<DWORD> otherResult{0};
    std::atomic<bool> otherRelease{true};
    std::thread other([&] {
        otherRelease = ReleaseMutex(mutex) != FALSE;  // not the owner
        otherResult = WaitForSingleObject(mutex, 50);
    });
    other.join();
    EXPECT_FALSE(otherRelease);
    EXPECT_EQ(otherResult, WAIT_TIMEOUT);

    EXPECT_TRUE(ReleaseMutex(mutex));
    std::thread stillOwned([&] { otherResult = WaitForSingleObject(mutex, 20); });
    stillOwned.join();
    EXPECT_EQ(otherResult, WAIT_TIMEOUT);  // one release of two
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));

    std::thread taker([&] {
        otherResult = WaitForSingleObject(mutex, 1000);
        ReleaseMutex(mutex);
    });
    taker.join();
    EXPECT_EQ(otherResult, WAIT_OBJECT_0);
    CloseHandle(mutex);
}

TEST_F(MutexTest, AWaitingThreadGetsTheMutexWhenItIsReleased) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);  // unnamed works in-process
    ASSERT_NE(mutex, nullptr);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] {
        result = WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
    });
    Sleep(30);
    EXPECT_EQ(result, WAIT_FAILED);  // still waiting
    ReleaseMutex(mutex);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    CloseHandle(mutex);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(MutexTest, AThreadEndingWhileOwningLeavesTheMutexAbandoned) {
    for (const char* name : {"opensafe_mutex", static_cast<const char*>(nullptr)}) {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
        ASSERT_NE(mutex, nullptr);
        std::thread owner([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); });
        owner.join();
        EXPECT_EQ(WaitForSingleObject(mutex, 5000), WAIT_ABANDONED) << (name ? name : "unnamed");
        EXPECT_TRUE(ReleaseMutex(mutex));
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // ordinary again
        EXPECT_TRUE(ReleaseMutex(mutex));
        CloseHandle(mutex);
    }
}

TEST_F(MutexTest, TwoProcessesContendForOneMutex) {
    const std::string ready = ReadyFile("holder-ready");
    const std::string go = ReadyFile("holder-go");
    Child holder({"mutex-hold-until", "Orvane install forms", ready, go});
    ASSERT_TRUE(WaitForFile(ready));
    // Held elsewhere: it exists, and a short wait times out, here and in a third process.
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Orvane install forms");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 20), WAIT_TIMEOUT);
    Child impatient({"mutex-wait", "Orvane install forms", "20"});
    EXPECT_EQ(impatient.Wait(), 2);
    // A patient waiter gets it once the holder lets go, and it was not abandoned.
    ::close(ov::CreateFileExclusive(go));
    EXPECT_EQ(WaitForSingleObject(mutex, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(holder.Wait(), 0);
    Child blocked({"mutex-wait", "Orvane install forms", "20"});
    EXPECT_EQ(blocked.Wait(), 2);
    EXPECT_TRUE(ReleaseMutex(mutex));
    Child next({"mutex-wait", "Orvane install forms", "20000"});
    EXPECT_EQ(next.Wait(), 0);
    CloseHandle(mutex);
}

TEST_F(MutexTest, AMutexExistsWhileAnyProcessHoldsAHandle) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "ovnetinstalling");
    ASSERT_NE(mutex, nullptr);
    Child whileHeld({"mutex-exists", "ovnetinstalling"});
    EXPECT_EQ(whileHeld.Wait(), 0);
    CloseHandle(mutex);
    Child afterClose({"mutex-exists", "ovnetinstalling"});
    EXPECT_EQ(afterClose.Wait(), 1);
}

TEST_F(MutexTest, AKilledHolderLeavesTheMutexAbandoned) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "opensafe_mutex");
    ASSERT_NE(mutex, nullptr);
    const std::string ready = ReadyFile("holder-ready");
    Child holder({"mutex-hold", "opensafe_mutex", ready});
    ASSERT_TRUE(WaitForFile(ready));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    holder.Kill();
    EXPECT_EQ(holder.Wait(), -SIGKILL);
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
    // Owned now, and properly released it is an ordinary mutex again.
    EXPECT_TRUE(ReleaseMutex(mutex));
    Child next({"mutex-wait", "opensafe_mutex", "10000"});
    EXPECT_EQ(next.Wait(), 0);
    CloseHandle(mutex);
}

TEST_F(MutexTest, NamesMayHoldAnyCharacterUpToTheLimit) {
    const std::string names[] = {"Global\\with/slashes", "..", "", std::string(MAX_PATH, 'n'),
                                 "caf\xE9 \x01 %41"};
    std::vector<HANDLE> handles;
    for (const auto& name : names) {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
        ASSERT_NE(mutex, nullptr) << name;
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << name;  // all distinct
        handles.push_back(mutex);
    }
    // "%41" must not meet "A".
    HANDLE plain = CreateMutexA(nullptr, FALSE, "caf\xE9 \x01 A");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(plain);
    const std::string tooLong(MAX_PATH + 1, 'n');
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (HANDLE handle : handles) {
        EXPECT_TRUE(ReleaseMutex(handle));
        EXPECT_TRUE(CloseHandle(handle));
    }
}

}  // namespace
