// Command lines with the Windows rules, child processes and ShellExecuteA.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "internal.h"
#include "ovplatform/platform.h"

extern char** environ;

namespace ov {

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    if (i == line.size()) {
        return arguments;
    }
    std::string current;
    int quotes = 0;       // 1 while inside a quoted part
    std::size_t backslashes = 0;
    while (i < line.size()) {
        char c = line[i];
        if (isBlank(c) && quotes == 0) {
            arguments.push_back(std::move(current));
            current.clear();
            backslashes = 0;
            while (i < line.size() && isBlank(line[i])) {
                ++i;
            }
            if (i == line.size()) {
                return arguments;
            }
            continue;
        }
        if (c == '\\') {
            current += c;
            ++backslashes;
            ++i;
            continue;
        }
        if (c == '"') {
            if (backslashes % 2 == 0) {
                // 2n backslashes: n of them, and the quote acts.
                current.resize(current.size() - backslashes / 2);
                ++quotes;
            } else {
                // 2n+1: n of them and a literal quote.
                current.resize(current.size() - backslashes / 2 - 1);
                current += '"';
            }
            ++i;
            backslashes = 0;
            // Consecutive quotes: every third one is a literal quote.
            while (i < line.size() && line[i] == '"') {
                if (++quotes == 3) {
                    current += '"';
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) {
                quotes = 0;
            }
            continue;
        }
        current += c;
        backslashes = 0;
        ++i;
    }
    arguments.push_back(std::move(current));
    return arguments;
}

std::string QuoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const auto& argument : arguments) {
        if (!line.empty()) {
            line += ' ';
        }
        line += QuoteArgument(argument);
    }
    return line;
}

long StartProcess(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> strings;
    strings.push_back(program);
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : strings) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = program.find('/') != std::string::npos
                    ? ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ)
                    : ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

std::optional<ProcessResult> WaitProcess(long pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(100);
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid)) {
            ProcessResult result;
            if (WIFEXITED(status)) {
                result.exitCode = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                result.signal = WTERMSIG(status);
            }
            return result;
        }
        if (done < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
}

}  // namespace ov

namespace {

constexpr std::uintptr_t kShellOk = 42;
constexpr std::uintptr_t kShellFileNotFound = 2;
constexpr std::uintptr_t kShellPathNotFound = 3;
constexpr std::uintptr_t kShellAccessDenied = 5;
constexpr std::uintptr_t kShellOutOfMemory = 8;
constexpr std::uintptr_t kShellNoAssociation = 31;

HINSTANCE ShellResult(std::uintptr_t code) { return reinterpret_cast<HINSTANCE>(code); }

std::uintptr_t ErrnoToShell(int error) {
    switch (error) {
        case ENOENT: return kShellFileNotFound;
        case ENOTDIR: return kShellPathNotFound;
        case EACCES:
        case EPERM: return kShellAccessDenied;
        case ENOMEM: return kShellOutOfMemory;
        default: return kShellFileNotFound;
    }
}

// Starts a detached program: the child forks the real one and ends at once,
// so nothing is left to reap; a pipe closed on exec reports a failed exec.
std::uintptr_t Launch(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& directory) {
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : strings) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return kShellOutOfMemory;
    }
    pid_t first = ::fork();
    if (first < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return kShellOutOfMemory;
    }
    if (first == 0) {
        ::close(report[0]);
        if (::fork() == 0) {
            ::setsid();
            if (!directory.empty() && ::chdir(directory.c_str()) != 0) {
                int error = errno;
                [[maybe_unused]] auto n = ::write(report[1], &error, sizeof error);
                ::_exit(127);
            }
            ::execve(argv[0], argv.data(), environ);
            int error = errno;
            [[maybe_unused]] auto n = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        return ErrnoToShell(error);
    }
    return kShellOk;
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Replaces %1 and %L with the document in each word of the command; a word
// that is exactly %* becomes the parameters' words.
std::vector<std::string> ExpandCommand(const std::string& command, const std::string& document,
                                       const std::string& parameters) {
    std::vector<std::string> words;
    bool documentPlaced = false;
    for (const auto& word : ov::SplitCommandLine(command)) {
        if (word == "%*") {
            for (auto& parameter : ov::SplitCommandLine(parameters)) {
                words.push_back(std::move(parameter));
            }
            continue;
        }
        std::string expanded;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size()) {
                char next = word[i + 1];
                if (next == '1' || next == 'L' || next == 'l') {
                    expanded += document;
                    documentPlaced = true;
                    ++i;
                    continue;
                }
                if (next == '%') {
                    expanded += '%';
                    ++i;
                    continue;
                }
            }
            expanded += word[i];
        }
        words.push_back(std::move(expanded));
    }
    if (!documentPlaced && !words.empty()) {
        words.push_back(document);
    }
    return words;
}

}  // namespace

extern "C" {

HINSTANCE ShellExecuteA(HWND, const char* verb, const char* file, const char* parameters,
                        const char* directory, int) {
    return ov::detail::NoThrow<HINSTANCE>(reinterpret_cast<HINSTANCE>(std::uintptr_t{8}), [&]() -> HINSTANCE {
        if (file == nullptr || *file == '\0') {
            return ShellResult(kShellFileNotFound);
        }
        const std::string path = ov::FindFileNoCase(ov::MapPath(ov::AnsiToUtf8(file))).string();
        const std::string params = parameters != nullptr ? ov::AnsiToUtf8(parameters) : std::string();
        const std::string workDirectory = directory != nullptr ? ov::MapPath(ov::AnsiToUtf8(directory)) : std::string();
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            auto parent = std::filesystem::path(path).parent_path();
            return ShellResult(parent.empty() || std::filesystem::is_directory(parent, ec)
                                   ? kShellFileNotFound
                                   : kShellPathNotFound);
        }
        const std::string verbName = (verb == nullptr || *verb == '\0') ? "open" : verb;
        if (ov::EqualsNoCase(verbName, "open") && IsExecutableFile(path)) {
            return ShellResult(Launch(path, ov::SplitCommandLine(params), workDirectory));
        }
        // A document: the command of its extension's file type.
        const std::string name(ov::BaseName(path));
        const auto dot = name.rfind('.');
        if (dot == std::string::npos || dot == 0) {
            return ShellResult(kShellNoAssociation);
        }
        std::string fileType;
        if (ov::detail::ReadRegistryString(HKEY_CLASSES_ROOT, name.substr(dot), nullptr, fileType) !=
                ERROR_SUCCESS ||
            fileType.empty()) {
            return ShellResult(kShellNoAssociation);
        }
        std::string command;
        if (ov::detail::ReadRegistryString(HKEY_CLASSES_ROOT, fileType + "\\shell\\" + verbName + "\\command",
                                           nullptr, command) != ERROR_SUCCESS ||
            command.empty()) {
            return ShellResult(kShellNoAssociation);
        }
        auto words = ExpandCommand(command, path, params);
        if (words.empty()) {
            return ShellResult(kShellNoAssociation);
        }
        std::string program = ov::MapPath(words.front());
        if (program.find('/') == std::string::npos) {
            // A bare program name is looked up on the search path.
            const char* searchPath = std::getenv("PATH");
            std::string_view entries = searchPath != nullptr ? searchPath : "/usr/bin:/bin";
            while (!entries.empty()) {
                auto colon = entries.find(':');
                std::string candidate = std::string(entries.substr(0, colon)) + "/" + program;
                if (IsExecutableFile(candidate)) {
                    program = candidate;
                    break;
                }
                entries.remove_prefix(colon == std::string_view::npos ? entries.size() : colon + 1);
            }
        }
        words.erase(words.begin());
        return ShellResult(Launch(program, words, workDirectory));
    });
}

}  // extern "C"
