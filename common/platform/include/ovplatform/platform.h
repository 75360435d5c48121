// The platform layer's own helpers: the prefix and path mapping, code pages,
// command lines and processes, message-box presenters, the file chooser,
// temporary names, language strings and the message pump rule. The Win32-shaped
// calls are in win32.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovplatform/win32.h"

namespace ov {

// ------------------------------------------------------------ prefix, paths
// $ORVANE_PREFIX, else ${XDG_DATA_HOME:-$HOME/.local/share}/orvane. The layout
// (drive_c/windows/system32, drive_c/windows/temp 0700, registry/, mapi/,
// run/ 0700) is created on first use. Read once per process; tests that need
// another prefix call SetPrefixForTesting before any other call.
const std::filesystem::path& Prefix();
void SetPrefixForTesting(const std::filesystem::path& prefix);

std::filesystem::path WindowsDirectory();   // <prefix>/drive_c/windows
std::filesystem::path SystemDirectory();    // <prefix>/drive_c/windows/system32
std::filesystem::path TempDirectory();      // <prefix>/drive_c/windows/temp
std::filesystem::path RegistryDirectory();  // <prefix>/registry
std::filesystem::path MapiDirectory();      // <prefix>/mapi
std::filesystem::path RunDirectory();       // <prefix>/run
std::filesystem::path ProgramDirectory();   // directory of the running executable
std::filesystem::path ProgramPath();        // the running executable

// "C:\dir\file" -> <prefix>/drive_c/dir/file (any drive letter maps to
// drive_c); other paths with "\" get "/"; a relative path stays relative.
std::string MapPath(std::string_view path);
// The part after the last "\" or "/" (the whole text when there is none).
std::string_view BaseName(std::string_view path);
// Everything before the last "\" or "/" (empty when there is none).
std::string_view DirName(std::string_view path);
// The existing entry of path's directory whose name equals path's final name
// without regard to letter case (path itself when it exists or none does), so
// "OVCLIENT.INI" and "ovclient.ini" reach the same file.
std::filesystem::path FindFileNoCase(const std::filesystem::path& path);
// Case-insensitive comparison of ASCII letters, as the system compares names.
bool EqualsNoCase(std::string_view a, std::string_view b);

// ----------------------------------------------------------------- code pages
// The system code page: Windows-1252 unless ORVANE_CODEPAGE names another
// supported one ("1252", "28591" Latin-1, "65001" UTF-8).
unsigned SystemCodePage();
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);  // unmappable characters become '?'
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);

// ------------------------------------------------------------- files
// Creates a new file exclusively (O_CREAT|O_EXCL|O_NOFOLLOW), readable only by
// its owner unless mode says otherwise. Returns the descriptor or -1 (errno).
int CreateFileExclusive(const std::filesystem::path& path, unsigned mode = 0600);

// The temporary-name rule: in directory, "%08lX.<extension>" of a number that
// starts as the product of the current UTC time's milliseconds, seconds,
// minutes, hour and day of month (32-bit, wrapping) and is raised by one until
// no file of that name exists; the file is created exclusively (empty) so that
// the name stays ours. Returns the full path, or nothing on failure.
std::optional<std::filesystem::path> CreateTempName(const std::filesystem::path& directory,
                                                    std::string_view extension);
// The starting number of that rule for a given time.
std::uint32_t TempNameSeed(const SYSTEMTIME& utcNow);

// ------------------------------------------------- command lines, processes
// Windows command-line rules (CommandLineToArgvW): whitespace separates,
// double quotes group, 2n backslashes before a quote give n and the quote
// acts, 2n+1 give n and a literal quote.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);
std::string QuoteArgument(std::string_view argument);
std::string JoinCommandLine(const std::vector<std::string>& arguments);

struct ProcessResult {
    int exitCode = -1;   // -1 when killed by a signal
    int signal = 0;
};
// Starts program with arguments (argv[1...]); returns the pid or -1.
long StartProcess(const std::string& program, const std::vector<std::string>& arguments);
// Waits for a child started by StartProcess; nothing on timeout.
std::optional<ProcessResult> WaitProcess(long pid,
                                         std::chrono::milliseconds timeout = std::chrono::hours(24));

// ------------------------------------------------------------- message boxes
struct MessageBoxRecord {
    std::string text;     // system code page
    std::string caption;  // system code page
    UINT style = 0;
    HWND owner = nullptr;
    int answer = 0;
};
class MessageBoxPresenter {
public:
    virtual ~MessageBoxPresenter() = default;
    virtual int Present(const MessageBoxRecord& box) = 0;
};
// The terminal presenter asks on the controlling terminal; the scripted one
// answers from a list (then from ORVANE_MSGBOX_ANSWERS, comma-separated
// names such as "IDYES,IDNO", then the box's default button) and prints the
// box to standard error. Every box shown is kept (ShownMessageBoxes) and,
// when ORVANE_MSGBOX_LOG names a file, appended to it as one JSON line, so
// tests can observe boxes of other processes.
std::shared_ptr<MessageBoxPresenter> MakeTerminalPresenter();
std::shared_ptr<MessageBoxPresenter> MakeScriptedPresenter(std::vector<int> answers = {});
void SetMessageBoxPresenter(std::shared_ptr<MessageBoxPresenter> presenter);  // null: default
std::vector<MessageBoxRecord> ShownMessageBoxes();
void ClearShownMessageBoxes();
int DefaultButton(UINT style);

// -------------------------------------------------------------- file chooser
// The common file-open dialog: a path typed on the terminal when interactive,
// scripted answers otherwise (SetFileChooserAnswers, then ORVANE_FILE_CHOOSER,
// paths separated by newlines). Nothing when the user cancels.
std::optional<std::string> ChooseFileToOpen(const std::string& title, const std::string& filter);
void SetFileChooserAnswers(std::vector<std::optional<std::string>> answers);

// ------------------------------------------------------------- message pump
// Lets window messages run for n milliseconds: until n ms have passed since the
// start, take at most one waiting message of the thread, translate and
// dispatch it, then sleep 1 millisecond.
void LetMessagesRun(DWORD milliseconds);

// ---------------------------------------------------------- language strings
constexpr LANGID kLangEnglish = 1033;
constexpr LANGID kLangGerman = 1031;
constexpr LANGID kLangFrench = 1036;

struct LanguageString {
    LANGID language;
    UINT id;
    const char* utf8;  // the text, UTF-8 in the source
};
// A component's string tables compiled into it; the first language listed for
// an id is its default.
struct StringTable {
    const LanguageString* entries;
    std::size_t count;
};
// "ovclient.ini" [Options] "Language": "English" 1033, "German" 1031,
// "French" 1036, anything else 1033; case-insensitive; default "English".
LANGID UserInterfaceLanguage();
LANGID LanguageFromName(std::string_view name);
// Looks the id up in the language's table, else the default table; writes at
// most size - 1 bytes in the system code page and terminates. Returns the
// length written (0 when the id is in no table).
int LoadLanguageString(const StringTable& table, LANGID language, UINT id, char* buffer,
                       int size);

}  // namespace ov
