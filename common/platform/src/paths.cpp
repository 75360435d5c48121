// The prefix, its layout and the mapping of Windows paths onto it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>

#include "internal.h"
#include "ovplatform/platform.h"

namespace ov {
namespace {

std::mutex gPrefixMutex;
std::filesystem::path gPrefix;
bool gPrefixSet = false;

std::filesystem::path DefaultPrefix() {
    if (const char* explicitPrefix = std::getenv("ORVANE_PREFIX");
        explicitPrefix != nullptr && *explicitPrefix != '\0') {
        return explicitPrefix;
    }
    if (const char* dataHome = std::getenv("XDG_DATA_HOME"); dataHome != nullptr && *dataHome == '/') {
        return std::filesystem::path(dataHome) / "orvane";
    }
    const char* home = std::getenv("HOME");
    std::filesystem::path base = (home != nullptr && *home != '\0') ? home : "/tmp";
    return base / ".local" / "share" / "orvane";
}

void CreateLayout(const std::filesystem::path& prefix) {
    // Failures here surface later as the failing call's own error, so they are
    // not reported separately.
    detail::EnsureDirectory(prefix, 0755);
    detail::EnsureDirectory(prefix / "drive_c", 0755);
    detail::EnsureDirectory(prefix / "drive_c" / "windows", 0755);
    detail::EnsureDirectory(prefix / "drive_c" / "windows" / "system32", 0755);
    detail::EnsureDirectory(prefix / "drive_c" / "windows" / "temp", 0700);
    detail::EnsureDirectory(prefix / "registry", 0700);
    detail::EnsureDirectory(prefix / "mapi", 0700);
    detail::EnsureDirectory(prefix / "run", 0700);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

const std::filesystem::path& Prefix() {
    std::lock_guard lock(gPrefixMutex);
    if (!gPrefixSet) {
        // Absolute, so that paths handed to other processes mean the same there.
        std::error_code ec;
        gPrefix = std::filesystem::absolute(DefaultPrefix(), ec).lexically_normal();
        gPrefixSet = true;
        CreateLayout(gPrefix);
    }
    return gPrefix;
}

void SetPrefixForTesting(const std::filesystem::path& prefix) {
    std::lock_guard lock(gPrefixMutex);
    gPrefix = prefix;
    gPrefixSet = true;
    CreateLayout(gPrefix);
}

std::filesystem::path WindowsDirectory() { return Prefix() / "drive_c" / "windows"; }
std::filesystem::path SystemDirectory() { return WindowsDirectory() / "system32"; }
std::filesystem::path TempDirectory() { return WindowsDirectory() / "temp"; }
std::filesystem::path RegistryDirectory() { return Prefix() / "registry"; }
std::filesystem::path MapiDirectory() { return Prefix() / "mapi"; }
std::filesystem::path RunDirectory() { return Prefix() / "run"; }

std::filesystem::path ProgramPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

std::filesystem::path ProgramDirectory() { return ProgramPath().parent_path(); }

std::string MapPath(std::string_view path) {
    std::string mapped;
    std::string_view rest = path;
    const bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                          ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (hasDrive) {
        mapped = (Prefix() / "drive_c").string();
        rest = path.substr(2);
        if (!rest.empty() && !IsSeparator(rest.front())) {
            mapped += '/';
        }
    }
    mapped.reserve(mapped.size() + rest.size());
    for (char c : rest) {
        mapped += (c == '\\') ? '/' : c;
    }
    return mapped;
}

std::string_view BaseName(std::string_view path) {
    auto pos = path.find_last_of("\\/");
    return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

std::string_view DirName(std::string_view path) {
    auto pos = path.find_last_of("\\/");
    return pos == std::string_view::npos ? std::string_view() : path.substr(0, pos);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::filesystem::path FindFileNoCase(const std::filesystem::path& path) {
    return detail::ResolveNoCase(path);
}

}  // namespace ov

namespace {

// Copies text into a caller's buffer the way the directory calls do.
template <typename Char>
DWORD CopyDirectory(const std::basic_string<Char>& text, Char* buffer, DWORD size) {
    if (buffer == nullptr || size < text.size() + 1) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = Char(0);
    return static_cast<DWORD>(text.size());
}

std::string AnsiPath(const std::filesystem::path& path) { return ov::Utf8ToAnsi(path.string()); }

}  // namespace

extern "C" {

UINT GetWindowsDirectoryA(char* buffer, UINT size) {
    return ov::detail::NoThrow<UINT>(0, [&]() -> UINT {
        return CopyDirectory(AnsiPath(ov::WindowsDirectory()), buffer, size);
    });
}

UINT GetSystemDirectoryA(char* buffer, UINT size) {
    return ov::detail::NoThrow<UINT>(0, [&]() -> UINT {
        return CopyDirectory(AnsiPath(ov::SystemDirectory()), buffer, size);
    });
}

DWORD GetTempPathA(DWORD size, char* buffer) {
    return ov::detail::NoThrow<DWORD>(0, [&]() -> DWORD {
        return CopyDirectory(AnsiPath(ov::TempDirectory()) + "/", buffer, size);
    });
}

UINT GetWindowsDirectoryW(WCHAR* buffer, UINT size) {
    return ov::detail::NoThrow<UINT>(0, [&]() -> UINT {
        return CopyDirectory(ov::Utf8ToUtf16(ov::WindowsDirectory().string()), buffer, size);
    });
}

DWORD GetTempPathW(DWORD size, WCHAR* buffer) {
    return ov::detail::NoThrow<DWORD>(0, [&]() -> DWORD {
        return CopyDirectory(ov::Utf8ToUtf16(ov::TempDirectory().string() + "/"), buffer, size);
    });
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
    return ov::detail::NoThrow<DWORD>(0, [&]() -> DWORD {
        std::string path =
            module == nullptr ? ov::ProgramPath().string() : ov::detail::LoadedModulePath(module);
        if (path.empty()) {
            SetLastError(module == nullptr ? ERROR_GEN_FAILURE : ERROR_INVALID_HANDLE);
            return 0;
        }
        path = ov::Utf8ToAnsi(path);
        if (buffer == nullptr || size == 0) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        if (path.size() + 1 > size) {
            // As Windows does: truncated and terminated, and the full size returned
            // so the caller can tell.
            std::memcpy(buffer, path.data(), size - 1);
            buffer[size - 1] = '\0';
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return size;
        }
        std::memcpy(buffer, path.data(), path.size());
        buffer[path.size()] = '\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    });
}

}  // extern "C"
