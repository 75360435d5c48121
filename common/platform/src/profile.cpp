// Private profile files: the Windows calls over real INI files in the Windows
// directory. Reads take the file as it is; writes re-read it under an
// exclusive lock, change it and replace it atomically, so two processes that
// write the same file never lose each other's keys.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "internal.h"
#include "ovplatform/internal/ini_document.h"
#include "ovplatform/platform.h"

namespace ov::detail {
namespace {

constexpr std::size_t npos = std::string::npos;

std::string_view Trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

void AddUnique(std::vector<std::string>& names, const std::string& name) {
    for (const auto& existing : names) {
        if (EqualsNoCase(existing, name)) {
            return;
        }
    }
    names.push_back(name);
}

}  // namespace

IniDocument::Line IniDocument::Classify(std::string text) {
    Line line;
    line.text = std::move(text);
    if (line.text.size() > kMaxProfileLineLength) {
        return line;
    }
    std::string_view trimmed = Trim(line.text);
    if (trimmed.empty() || trimmed.front() == ';') {
        return line;
    }
    if (trimmed.front() == '[') {
        auto close = trimmed.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.name = std::string(Trim(trimmed.substr(1, close - 1)));
        }
        return line;
    }
    auto equals = trimmed.find('=');
    if (equals == std::string_view::npos) {
        return line;
    }
    std::string_view name = Trim(trimmed.substr(0, equals));
    if (name.empty()) {
        return line;
    }
    line.kind = Kind::Key;
    line.name = std::string(name);
    line.value = std::string(Trim(trimmed.substr(equals + 1)));
    return line;
}

IniDocument IniDocument::Parse(std::string_view content) {
    IniDocument document;
    auto firstEnd = content.find('\n');
    if (firstEnd != std::string_view::npos && firstEnd > 0 && content[firstEnd - 1] == '\r') {
        document.lineEnd_ = "\r\n";
    }
    while (!content.empty()) {
        auto end = content.find('\n');
        std::string_view text = content.substr(0, end);
        // A file written with CR LF keeps them; in any other file a CR is
        // part of the line and goes back out unchanged.
        if (document.lineEnd_ == "\r\n" && !text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
        }
        document.lines_.push_back(Classify(std::string(text)));
        if (end == std::string_view::npos) {
            break;
        }
        content.remove_prefix(end + 1);
    }
    return document;
}

std::string IniDocument::Serialize() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line.text;
        text += lineEnd_;
    }
    return text;
}

std::size_t IniDocument::FindKey(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Section) {
            inSection = EqualsNoCase(line.name, section);
        } else if (inSection && line.kind == Kind::Key && EqualsNoCase(line.name, key)) {
            return i;
        }
    }
    return npos;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    std::size_t index = FindKey(section, key);
    if (index == npos) {
        return std::nullopt;
    }
    return lines_[index].value;
}

std::vector<std::string> IniDocument::Sections() const {
    std::vector<std::string> names;
    for (const auto& line : lines_) {
        if (line.kind == Kind::Section) {
            AddUnique(names, line.name);
        }
    }
    return names;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
    std::vector<std::string> names;
    bool inSection = false;
    for (const auto& line : lines_) {
        if (line.kind == Kind::Section) {
            inSection = EqualsNoCase(line.name, section);
        } else if (inSection && line.kind == Kind::Key) {
            AddUnique(names, line.name);
        }
    }
    return names;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::size_t index = FindKey(section, key);
    if (index != npos) {
        Line& line = lines_[index];
        line.text = line.name + "=" + std::string(value);
        line.value = std::string(Trim(value));
        return;
    }
    Line newLine = Classify(std::string(key) + "=" + std::string(value));
    // After the last key of the first section of that name.
    std::size_t insertAt = npos;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Section) {
            if (insertAt != npos) {
                break;
            }
            inSection = EqualsNoCase(line.name, section);
            if (inSection) {
                insertAt = i + 1;
            }
        } else if (inSection && line.kind == Kind::Key) {
            insertAt = i + 1;
        }
    }
    if (insertAt != npos) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(newLine));
        return;
    }
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) {
        lines_.push_back(Classify(""));
    }
    lines_.push_back(Classify("[" + std::string(section) + "]"));
    lines_.push_back(std::move(newLine));
}

bool IniDocument::RemoveKey(std::string_view section, std::string_view key) {
    bool removed = false;
    for (std::size_t index; (index = FindKey(section, key)) != npos;) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
        removed = true;
    }
    return removed;
}

bool IniDocument::RemoveSection(std::string_view section) {
    bool removed = false;
    bool inSection = false;
    std::vector<Line> kept;
    kept.reserve(lines_.size());
    for (auto& line : lines_) {
        if (line.kind == Kind::Section) {
            inSection = EqualsNoCase(line.name, section);
        }
        if (inSection) {
            removed = true;
        } else {
            kept.push_back(std::move(line));
        }
    }
    lines_ = std::move(kept);
    return removed;
}

}  // namespace ov::detail

namespace {

using ov::detail::IniDocument;

std::filesystem::path ProfilePath(const char* fileName) {
    std::string_view name = fileName != nullptr ? fileName : "win.ini";
    // Names arrive in the system code page; the file system speaks UTF-8.
    const std::string utf8 = ov::AnsiToUtf8(name);
    return ov::BaseName(utf8) == utf8 ? ov::WindowsDirectory() / utf8
                                      : std::filesystem::path(ov::MapPath(utf8));
}

// Both spellings of a file name ("OVCLIENT.INI", "ovclient.ini") share one
// lock, so writers that name the file differently still take turns.
std::filesystem::path ProfileLockPath(const std::filesystem::path& path) {
    return path.parent_path() / ("." + ov::detail::ToLowerAscii(path.filename().string()) + ".lock");
}

struct LoadedProfile {
    std::optional<IniDocument> document;  // nothing when the file cannot be read
    bool missing = false;
    std::string content;
};

LoadedProfile LoadProfile(const std::filesystem::path& path) {
    LoadedProfile loaded;
    auto read = ov::detail::ReadFileBounded(ov::detail::ResolveNoCase(path),
                                            ov::detail::kMaxProfileFileSize);
    if (read.content) {
        loaded.document = IniDocument::Parse(*read.content);
        loaded.content = std::move(*read.content);
    } else if (read.missing) {
        loaded.document = IniDocument();
        loaded.missing = true;
    }
    return loaded;
}

// Copies a NUL-separated list as Windows does: when it does not fit, as much
// as fits followed by two NULs, and size - 2 returned.
DWORD CopyList(const std::vector<std::string>& names, char* buffer, DWORD size) {
    std::string joined;
    for (const auto& name : names) {
        joined += name;
        joined += '\0';
    }
    if (joined.size() + 1 <= size) {
        std::memcpy(buffer, joined.data(), joined.size());
        buffer[joined.size()] = '\0';
        if (joined.empty() && size > 1) {
            buffer[1] = '\0';
        }
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(joined.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        SetLastError(ERROR_MORE_DATA);
        return 0;
    }
    std::memcpy(buffer, joined.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    SetLastError(ERROR_MORE_DATA);
    return size - 2;
}

DWORD CopyValue(std::string_view value, char* buffer, DWORD size) {
    std::size_t length = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    SetLastError(length < value.size() ? ERROR_MORE_DATA : ERROR_SUCCESS);
    return static_cast<DWORD>(length);
}

std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool HasLineBreak(const char* text) {
    return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

}  // namespace

extern "C" {

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
    return ov::detail::NoThrow<DWORD>(0, [&]() -> DWORD {
        if (buffer == nullptr || size == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        LoadedProfile loaded = LoadProfile(ProfilePath(fileName));
        const IniDocument empty;
        const IniDocument& document = loaded.document ? *loaded.document : empty;
        DWORD result = 0;
        if (section == nullptr) {
            result = CopyList(document.Sections(), buffer, size);
        } else if (key == nullptr) {
            result = CopyList(document.Keys(section), buffer, size);
        } else if (auto value = document.Get(section, key)) {
            return CopyValue(StripQuotes(*value), buffer, size);
        } else {
            std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
            while (!fallback.empty() && fallback.back() == ' ') {
                fallback.remove_suffix(1);
            }
            result = CopyValue(fallback, buffer, size);
        }
        if (!loaded.document) {
            SetLastError(ERROR_INVALID_DATA);
        } else if (loaded.missing) {
            SetLastError(ERROR_FILE_NOT_FOUND);
        }
        return result;
    });
}

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName) {
    return ov::detail::NoThrow<UINT>(0, [&]() -> UINT {
        if (section == nullptr || key == nullptr) {
            return static_cast<UINT>(defaultValue);
        }
        LoadedProfile loaded = LoadProfile(ProfilePath(fileName));
        if (!loaded.document) {
            return static_cast<UINT>(defaultValue);
        }
        auto value = loaded.document->Get(section, key);
        if (!value) {
            return static_cast<UINT>(defaultValue);
        }
        // Leading decimal digits with an optional sign; anything else reads as 0.
        std::string_view text = StripQuotes(*value);
        bool negative = false;
        std::size_t pos = 0;
        if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
            negative = text[pos] == '-';
            ++pos;
        }
        std::uint32_t number = 0;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
            number = number * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        }
        return negative ? 0u - number : number;
    });
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (section == nullptr) {
            // All null only asks to flush a cache; there is none.
            if (key == nullptr && value == nullptr) {
                return TRUE;
            }
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        // A line break, a "]" in a section name or a "=" in a key would write a
        // line that reads back as something else: refused.
        const bool badSection = HasLineBreak(section) || std::strchr(section, ']') != nullptr ||
                                *section == '\0';
        const bool badKey = key != nullptr && (HasLineBreak(key) || std::strchr(key, '=') != nullptr ||
                                               key[0] == '\0' || key[0] == '[' || key[0] == ';');
        const bool badValue =
            value != nullptr && key != nullptr &&
            (HasLineBreak(value) ||
             std::strlen(key) + 1 + std::strlen(value) > ov::detail::kMaxProfileLineLength);
        if (badSection || badKey || badValue) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }

        const std::filesystem::path path = ProfilePath(fileName);
        ov::detail::FileLock lock(ProfileLockPath(path), ov::detail::FileLock::Mode::Exclusive);
        if (!lock.locked()) {
            SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
            return FALSE;
        }
        const std::filesystem::path target = ov::detail::ResolveNoCase(path);
        auto read = ov::detail::ReadFileBounded(target, ov::detail::kMaxProfileFileSize);
        if (!read.content && !read.missing) {
            // Never replace a file that could not be read: its content would be lost.
            SetLastError(read.tooLarge ? ERROR_INVALID_DATA : ERROR_ACCESS_DENIED);
            return FALSE;
        }
        IniDocument document = read.content ? IniDocument::Parse(*read.content) : IniDocument();
        if (key == nullptr) {
            document.RemoveSection(section);
        } else if (value == nullptr) {
            document.RemoveKey(section, key);
        } else {
            document.Set(section, key, value);
        }
        std::string updated = document.Serialize();
        if (read.content && updated == *read.content) {
            return TRUE;
        }
        if (read.missing && updated.empty()) {
            return TRUE;
        }
        unsigned mode = 0600;
        struct stat info {};
        if (::stat(target.c_str(), &info) == 0) {
            mode = info.st_mode & 0777;
        }
        if (!ov::detail::ReplaceFileAtomically(target, updated, mode)) {
            SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
            return FALSE;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    });
}

BOOL WritePrivateProfileStringW(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                                const WCHAR* fileName) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        auto convert = [](const WCHAR* text) -> std::optional<std::string> {
            if (text == nullptr) {
                return std::nullopt;
            }
            return ov::Utf16ToAnsi(std::u16string_view(text));
        };
        auto sectionA = convert(section);
        auto keyA = convert(key);
        auto valueA = convert(value);
        auto fileA = convert(fileName);
        return WritePrivateProfileStringA(sectionA ? sectionA->c_str() : nullptr,
                                          keyA ? keyA->c_str() : nullptr,
                                          valueA ? valueA->c_str() : nullptr,
                                          fileA ? fileA->c_str() : nullptr);
    });
}

}  // extern "C"
