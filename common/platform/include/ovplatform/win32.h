// The platform layer: the Win32 calls the fax components make, implemented on
// POSIX with the semantics the components rely on. Everything the system keeps
// lives under one prefix directory (see prefix.h); this header is the
// Win32-shaped surface, prefix.h and the other headers hold the helpers that
// have no Win32 twin.
//
// Texts passed to the "A" functions are bytes in the system code page
// (Windows-1252 unless ORVANE_CODEPAGE names another); the "W" functions take
// UTF-16 (WCHAR is char16_t). Paths may be POSIX paths or Windows paths with a
// drive letter ("C:\dir\file" maps to <prefix>/drive_c/dir/file); both "\" and
// "/" separate path elements.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using WCHAR = char16_t;
using LANGID = WORD;
using HRESULT = LONG;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HANDLE = void*;
using HMODULE = void*;
using HINSTANCE = void*;
struct HKEY__;
using HKEY = HKEY__*;
struct HWND__;
using HWND = HWND__*;
using FARPROC = void (*)();
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr DWORD MAX_PATH = 260;
constexpr DWORD INFINITE = 0xFFFFFFFFu;

// Last-error values the components look at.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_BADKEY = 1010;
constexpr DWORD ERROR_CANTOPEN = 1011;
constexpr DWORD ERROR_CANTREAD = 1012;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_KEY_DELETED = 1018;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;

DWORD GetLastError();
void SetLastError(DWORD error);

// ---------------------------------------------------------------- directories
// Each writes the directory (no trailing separator, except GetTempPath which
// ends with "/") and returns its length; when the buffer is too small it
// returns the size needed including the terminating NUL and writes nothing.
UINT GetWindowsDirectoryA(char* buffer, UINT size);
UINT GetSystemDirectoryA(char* buffer, UINT size);
DWORD GetTempPathA(DWORD size, char* buffer);
UINT GetWindowsDirectoryW(WCHAR* buffer, UINT size);
DWORD GetTempPathW(DWORD size, WCHAR* buffer);
// Module null: the running executable. Otherwise a handle from LoadLibraryA,
// or any address inside a loaded library (a library's own function gives its
// own file).
// Returns the length written. When the path does not fit, it is truncated to
// size - 1 and terminated, size is returned and the last error is
// ERROR_INSUFFICIENT_BUFFER, so callers can tell.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

// -------------------------------------------------------------- profile files
// A file named without a directory lives in the Windows directory; an existing
// file is found under any spelling of its name ("OVCLIENT.INI" reaches
// "ovclient.ini"). Sections and keys compare without regard to letter case.
// Reading: a value loses its surrounding blanks and one pair of matching
// quotes; a missing key gives the default without trailing blanks; a null
// section lists the sections, a null key the keys of a section, each ending in
// NUL with one more NUL at the end (size - 2 returned when they do not fit); a
// value longer than the buffer is cut to size - 1. Lines that are not
// "[section]" or "key=value" are ignored and kept; lines over 65535 bytes are
// ignored, files over 8 MiB are not read (the default, ERROR_INVALID_DATA).
// Writing a null key removes the section, a null value removes the key. A
// write that would not read back (a line break anywhere, "]" in a section,
// "=" in a key, an empty name, a line over 65535 bytes) fails with
// ERROR_INVALID_PARAMETER. Every write is atomic and safe when several
// processes write the same file (they take turns on a ".<name>.lock" file
// beside it).
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
BOOL WritePrivateProfileStringW(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                                const WCHAR* fileName);

// ------------------------------------------------------------------- registry
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
using REGSAM = DWORD;

// All return ERROR_SUCCESS or an error value (not through GetLastError). Each
// hive is the text file <prefix>/registry/<HKEY_...>.reg, replaced atomically
// on every change; a hive file that cannot be understood gives ERROR_BADDB and
// is never overwritten. Key and value names compare without regard to case and
// keep the case they were created with. A handle whose key was deleted gives
// ERROR_KEY_DELETED.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                     REGSAM access, void* security, HKEY* result, DWORD* disposition);
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
// data null: only the type and size are reported. Too little room:
// ERROR_MORE_DATA with *dataSize set to the size needed. REG_SZ data come back
// NUL-terminated in the system code page.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueA(HKEY key, const char* valueName);
LONG RegDeleteKeyA(HKEY key, const char* subKey);   // only a key without subkeys
LONG RegDeleteTreeA(HKEY key, const char* subKey);  // subKey null: everything below key
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   char* keyClass, DWORD* classSize, void* lastWrite);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegCloseKey(HKEY key);
LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass,
                     DWORD options, REGSAM access, void* security, HKEY* result,
                     DWORD* disposition);
LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize);

// ------------------------------------------------------------ named mutexes
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;
constexpr DWORD SYNCHRONIZE = 0x100000;

// A named mutex exists while any process holds a handle to it; it is released
// (and reported abandoned to the next waiter) when its owner dies. Ownership
// belongs to a thread and is recursive, as on Windows. CreateMutexA sets the
// last error to ERROR_ALREADY_EXISTS when the mutex existed (and then does
// not take ownership); OpenMutexA returns null with ERROR_FILE_NOT_FOUND when
// no process holds it.
HANDLE CreateMutexA(void* security, BOOL initialOwner, const char* name);
HANDLE OpenMutexA(DWORD access, BOOL inherit, const char* name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE handle);
BOOL CloseHandle(HANDLE handle);

// ------------------------------------------------ window messages, broadcast
#define HWND_BROADCAST (reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0xFFFF)))
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

struct POINT {
    LONG x;
    LONG y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

// The same name gives the same number (0xC000..0xFFFF) in every process of
// the prefix; names compare without regard to case. 0 on failure.
UINT RegisterWindowMessageA(const char* name);
UINT RegisterWindowMessageW(const WCHAR* name);
// A top-level window of this thread: it receives messages posted to it and
// every broadcast of any process of the prefix, when this thread pumps its
// messages. procedure null: the default procedure (the message is dropped).
HWND CreateMessageWindow(const char* className, const char* title, WNDPROC procedure);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// HWND_BROADCAST reaches every top-level window of every process of the prefix
// (this one included); a window of another process is reached too.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Takes at most one waiting message of the calling thread. Messages of other
// processes arrive as datagrams on sockets under <prefix>/run/windows.
BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Blocks until a message arrives; FALSE for WM_QUIT.
BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
void PostQuitMessage(int exitCode);
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);

// ------------------------------------------------------------- message boxes
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONSTOP = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shown through the current presenter (messagebox.h): the terminal when
// standard input is a terminal, scripted answers otherwise.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style);

// ------------------------------------------------- processes, shell, libraries
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
// Starts file (a program, or a document through the association of its
// extension in HKEY_CLASSES_ROOT) with parameters split by the Windows
// command-line rules. Returns a value above 32 on success, else an error code
// below 32 (2 file not found, 3 path not found, 5 access denied, 8 out of
// memory, 31 no association, ...). Does not wait. An executable file is run
// itself; a document runs the "<type>\shell\<verb>\command" of its
// extension's type (verb null: "open"), "%1" and "%L" replaced by the
// document's path, a word "%*" by the parameters; without "%1" the path is
// added at the end.
HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int show);

// Loads a shared library by path; a bare name ("MAPI32.DLL") is looked for in
// the program's directory, then the system directory, without regard to case.
// Failure: null, and the last error is ERROR_MOD_NOT_FOUND when no file is
// there, ERROR_GEN_FAILURE when the file is there but does not load.
HMODULE LoadLibraryA(const char* path);
// Null with ERROR_PROC_NOT_FOUND when the library itself has no such export
// (names only the libraries it depends on define do not count).
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

// ----------------------------------------------------------------------- time
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

void GetSystemTime(SYSTEMTIME* time);  // UTC, with milliseconds
void GetLocalTime(SYSTEMTIME* time);
DWORD GetTickCount();  // milliseconds since an arbitrary start, wraps at 2^32
BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime);  // FALSE when impossible
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time);

constexpr DWORD DATE_SHORTDATE = 0x1;
constexpr DWORD DATE_LONGDATE = 0x2;
constexpr DWORD TIME_NOSECONDS = 0x2;
constexpr DWORD LOCALE_USER_DEFAULT = 0x400;
// The user's formats are one fixed set for the whole system: short date
// "yyyy-MM-dd", long date "dddd, d MMMM yyyy" (English names), time
// "HH:mm:ss". A picture may be given instead (d dd ddd dddd M MM MMM MMMM y yy
// yyyy; h hh H HH m mm s ss t tt; text in single quotes). time null: now
// (local). An impossible date or time fails (0, ERROR_INVALID_PARAMETER).
// Returns the characters written including the NUL; size 0 asks for the size.
int GetDateFormatA(DWORD locale, DWORD flags, const SYSTEMTIME* time, const char* picture,
                   char* buffer, int size);
int GetTimeFormatA(DWORD locale, DWORD flags, const SYSTEMTIME* time, const char* picture,
                   char* buffer, int size);

}  // extern "C"
