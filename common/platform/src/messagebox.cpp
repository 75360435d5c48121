// Message boxes and the file-open dialog, through presenters: the terminal
// when a person is there, scripted answers otherwise. Every box shown is kept
// so tests can look at it, and logged as a JSON line when asked.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <mutex>

#include "internal.h"
#include "ovplatform/platform.h"

namespace ov {
namespace {

std::vector<int> Buttons(UINT style) {
    switch (style & 0xF) {
        case MB_OKCANCEL: return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO: return {IDYES, IDNO};
        case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
        default: return {IDOK};
    }
}

const char* ButtonName(int id) {
    switch (id) {
        case IDOK: return "IDOK";
        case IDCANCEL: return "IDCANCEL";
        case IDABORT: return "IDABORT";
        case IDRETRY: return "IDRETRY";
        case IDIGNORE: return "IDIGNORE";
        case IDYES: return "IDYES";
        case IDNO: return "IDNO";
        default: return "?";
    }
}

int ButtonFromName(std::string_view name) {
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    for (int id = IDOK; id <= IDNO; ++id) {
        if (EqualsNoCase(name, ButtonName(id)) || EqualsNoCase(name, ButtonName(id) + 2)) {
            return id;
        }
    }
    return 0;
}

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

// Answers taken from ORVANE_MSGBOX_ANSWERS are consumed across the process.
std::mutex gEnvironmentAnswersMutex;
std::size_t gEnvironmentAnswersUsed = 0;
std::string gEnvironmentAnswersSeen;  // a new list starts from its first answer

std::optional<int> NextEnvironmentAnswer() {
    const char* list = std::getenv("ORVANE_MSGBOX_ANSWERS");
    if (list == nullptr) {
        return std::nullopt;
    }
    std::lock_guard lock(gEnvironmentAnswersMutex);
    if (gEnvironmentAnswersSeen != list) {
        gEnvironmentAnswersSeen = list;
        gEnvironmentAnswersUsed = 0;
    }
    std::string_view rest = list;
    for (std::size_t index = 0; !rest.empty(); ++index) {
        auto comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
        if (index == gEnvironmentAnswersUsed) {
            ++gEnvironmentAnswersUsed;
            int id = ButtonFromName(item);
            if (id != 0) {
                return id;
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

class ScriptedPresenter : public MessageBoxPresenter {
public:
    explicit ScriptedPresenter(std::vector<int> answers) : answers_(answers.begin(), answers.end()) {}

    int Present(const MessageBoxRecord& box) override {
        int answer = 0;
        {
            std::lock_guard lock(mutex_);
            if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
        }
        if (answer == 0) {
            answer = NextEnvironmentAnswer().value_or(DefaultButton(box.style));
        }
        std::fprintf(stderr, "[%s] %s -> %s\n", AnsiToUtf8(box.caption).c_str(),
                     AnsiToUtf8(box.text).c_str(), ButtonName(answer));
        return answer;
    }

private:
    std::mutex mutex_;
    std::deque<int> answers_;
};

class TerminalPresenter : public MessageBoxPresenter {
public:
    int Present(const MessageBoxRecord& box) override {
        const auto buttons = Buttons(box.style);
        std::string prompt;
        for (int id : buttons) {
            prompt += std::string(prompt.empty() ? "" : " / ") + (ButtonName(id) + 2);
        }
        std::fprintf(stderr, "\n== %s ==\n%s\n[%s] ", AnsiToUtf8(box.caption).c_str(),
                     AnsiToUtf8(box.text).c_str(), prompt.c_str());
        std::fflush(stderr);
        for (;;) {
            std::string line;
            if (!std::getline(std::cin, line)) {
                // No more input: the box is dismissed the way Escape would.
                for (int id : buttons) {
                    if (id == IDCANCEL) return IDCANCEL;
                }
                return DefaultButton(box.style);
            }
            if (line.empty()) {
                return DefaultButton(box.style);
            }
            for (int id : buttons) {
                std::string name = ButtonName(id) + 2;
                if (EqualsNoCase(line, name) ||
                    (line.size() == 1 && EqualsNoCase(line, name.substr(0, 1)))) {
                    return id;
                }
            }
            std::fprintf(stderr, "[%s] ", prompt.c_str());
            std::fflush(stderr);
        }
    }
};

std::mutex gPresenterMutex;
std::shared_ptr<MessageBoxPresenter> gPresenter;
std::vector<MessageBoxRecord> gShown;

std::shared_ptr<MessageBoxPresenter> CurrentPresenter() {
    std::lock_guard lock(gPresenterMutex);
    if (!gPresenter) {
        gPresenter = ::isatty(STDIN_FILENO) ? MakeTerminalPresenter() : MakeScriptedPresenter();
    }
    return gPresenter;
}

void AppendToLog(const MessageBoxRecord& box) {
    const char* logPath = std::getenv("ORVANE_MSGBOX_LOG");
    if (logPath == nullptr || *logPath == '\0') {
        return;
    }
    detail::UniqueFd fd(::open(logPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return;
    }
    std::string line = "{\"pid\":" + std::to_string(::getpid()) +
                       ",\"caption\":" + JsonString(AnsiToUtf8(box.caption)) +
                       ",\"text\":" + JsonString(AnsiToUtf8(box.text)) +
                       ",\"style\":" + std::to_string(box.style) +
                       ",\"answer\":" + std::to_string(box.answer) + ",\"answerName\":\"" +
                       ButtonName(box.answer) + "\"}\n";
    detail::WriteAll(fd.get(), line);
}

// The file chooser's scripted answers.
std::mutex gChooserMutex;
std::deque<std::optional<std::string>> gChooserAnswers;
std::size_t gChooserEnvironmentUsed = 0;
std::string gChooserEnvironmentSeen;

}  // namespace

int DefaultButton(UINT style) {
    const auto buttons = Buttons(style);
    const std::size_t index = (style & 0xF00) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

std::shared_ptr<MessageBoxPresenter> MakeTerminalPresenter() {
    return std::make_shared<TerminalPresenter>();
}

std::shared_ptr<MessageBoxPresenter> MakeScriptedPresenter(std::vector<int> answers) {
    return std::make_shared<ScriptedPresenter>(std::move(answers));
}

void SetMessageBoxPresenter(std::shared_ptr<MessageBoxPresenter> presenter) {
    std::lock_guard lock(gPresenterMutex);
    gPresenter = std::move(presenter);
}

std::vector<MessageBoxRecord> ShownMessageBoxes() {
    std::lock_guard lock(gPresenterMutex);
    return gShown;
}

void ClearShownMessageBoxes() {
    std::lock_guard lock(gPresenterMutex);
    gShown.clear();
}

std::optional<std::string> ChooseFileToOpen(const std::string& title, const std::string& filter) {
    {
        std::lock_guard lock(gChooserMutex);
        if (!gChooserAnswers.empty()) {
            auto answer = gChooserAnswers.front();
            gChooserAnswers.pop_front();
            return answer;
        }
        if (const char* list = std::getenv("ORVANE_FILE_CHOOSER"); list != nullptr) {
            if (gChooserEnvironmentSeen != list) {
                gChooserEnvironmentSeen = list;
                gChooserEnvironmentUsed = 0;
            }
            std::string_view rest = list;
            for (std::size_t index = 0; !rest.empty(); ++index) {
                auto newline = rest.find('\n');
                std::string_view item = rest.substr(0, newline);
                rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
                if (index == gChooserEnvironmentUsed) {
                    ++gChooserEnvironmentUsed;
                    if (item.empty()) {
                        return std::nullopt;  // an empty line cancels
                    }
                    return std::string(item);
                }
            }
            return std::nullopt;
        }
    }
    if (!::isatty(STDIN_FILENO)) {
        return std::nullopt;
    }
    std::fprintf(stderr, "\n== %s ==\nFile (%s), empty to cancel: ", title.c_str(), filter.c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line) || line.empty()) {
        return std::nullopt;
    }
    return line;
}

void SetFileChooserAnswers(std::vector<std::optional<std::string>> answers) {
    std::lock_guard lock(gChooserMutex);
    gChooserAnswers.assign(answers.begin(), answers.end());
}

}  // namespace ov

extern "C" {

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style) {
    return ov::detail::NoThrow<int>(0, [&]() -> int {
        ov::MessageBoxRecord box;
        box.text = text != nullptr ? text : "";
        box.caption = caption != nullptr ? caption : "Error";
        box.style = style;
        box.owner = owner;
        try {
            box.answer = ov::CurrentPresenter()->Present(box);
        } catch (...) {
            SetLastError(ERROR_GEN_FAILURE);
            return 0;
        }
        {
            std::lock_guard lock(ov::gPresenterMutex);
            ov::gShown.push_back(box);
        }
        ov::AppendToLog(box);
        return box.answer;
    });
}

}  // extern "C"
