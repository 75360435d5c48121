// Starting the helper program from a test: the child ends with the test, even
// when an assertion fails first.
#pragma once

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ovplatform/platform.h"

namespace platformtest {

class Child {
public:
    explicit Child(std::vector<std::string> arguments)
        : pid_(ov::StartProcess((ov::ProgramDirectory() / "platform_test_child").string(),
                                arguments)) {}
    ~Child() {
        if (pid_ > 0 && !finished_) {
            ::kill(static_cast<pid_t>(pid_), SIGKILL);
            ov::WaitProcess(pid_, std::chrono::seconds(10));
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    long pid() const { return pid_; }
    void Kill() { ::kill(static_cast<pid_t>(pid_), SIGKILL); }
    // The exit code, or nothing when the child did not end in time.
    std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        auto result = ov::WaitProcess(pid_, timeout);
        if (!result) {
            return std::nullopt;
        }
        finished_ = true;
        return result->signal != 0 ? -result->signal : result->exitCode;
    }

private:
    long pid_ = -1;
    bool finished_ = false;
};

inline bool WaitForFile(const std::filesystem::path& path,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::error_code ec;
    while (!std::filesystem::exists(path, ec)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace platformtest
