// The registry: one text file per hive under <prefix>/registry. Every call
// reads the hive under a shared lock; every change re-reads it under an
// exclusive lock and replaces the file atomically, so several processes may
// use the registry at once and a crash leaves the old or the new hive.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

#include "internal.h"
#include "ovplatform/internal/registry_hive.h"
#include "ovplatform/platform.h"

namespace ov::detail {
namespace {

constexpr std::string_view kHiveHeader = "ORVANE REGISTRY 1";

bool LessNoCase(std::string_view a, std::string_view b) {
    return ToLowerAscii(a) < ToLowerAscii(b);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char kHex[] = "0123456789abcdef";

std::string EscapeKeyName(std::string_view name) {
    std::string out;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '%' || c == ']') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> UnescapeKeyName(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        int high = HexDigit(text[i + 1]);
        int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (out.empty() || out.size() > kMaxKeyNameLength || out.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    return out;
}

std::string QuoteText(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

// Reads a quoted text at the start of text, advancing past it.
std::optional<std::string> UnquoteText(std::string_view& text) {
    if (text.empty() || text.front() != '"') {
        return std::nullopt;
    }
    std::string out;
    std::size_t i = 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                if (i + 2 >= text.size()) {
                    return std::nullopt;
                }
                int high = HexDigit(text[i + 1]);
                int low = HexDigit(text[i + 2]);
                if (high < 0 || low < 0) {
                    return std::nullopt;
                }
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return std::nullopt;
        }
    }
    if (i >= text.size()) {
        return std::nullopt;
    }
    text.remove_prefix(i + 1);
    return out;
}

std::string HexBytes(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (i > 0) {
            out += ',';
        }
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

std::optional<std::string> ParseHexBytes(std::string_view text) {
    std::string out;
    if (text.empty()) {
        return out;
    }
    for (std::size_t i = 0;; i += 3) {
        if (i + 2 > text.size()) {
            return std::nullopt;
        }
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        if (i + 2 == text.size()) {
            break;
        }
        if (text[i + 2] != ',') {
            return std::nullopt;
        }
    }
    if (out.size() > kMaxValueDataSize) {
        return std::nullopt;
    }
    return out;
}

void SerializeKey(const RegistryKey& key, const std::string& path, std::string& out) {
    out += "[" + path + "]\n";
    for (const auto& value : key.values) {
        out += value.name.empty() ? std::string("@") : QuoteText(value.name);
        out += '=';
        std::uint32_t number = 0;
        // A text holding a NUL (only a hand-written hex(1) gives one) stays in
        // hex, so that it reads back as it was.
        const bool plainText = value.data.find('\0') == std::string::npos;
        if (value.type == REG_SZ && plainText) {
            out += "sz:" + QuoteText(value.data);
        } else if (value.type == REG_EXPAND_SZ && plainText) {
            out += "expand_sz:" + QuoteText(value.data);
        } else if (value.type == REG_DWORD && value.data.size() == 4) {
            std::memcpy(&number, value.data.data(), 4);
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
            out += text;
        } else if (value.type == REG_BINARY) {
            out += "hex:" + HexBytes(value.data);
        } else {
            out += "hex(" + std::to_string(value.type) + "):" + HexBytes(value.data);
        }
        out += '\n';
    }
    for (const auto& subkey : key.subkeys) {
        std::string subpath = path.empty() ? EscapeKeyName(subkey.name)
                                           : path + "\\" + EscapeKeyName(subkey.name);
        SerializeKey(subkey, subpath, out);
    }
}

bool ParseValueLine(std::string_view line, RegistryKey& key) {
    std::string name;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
    } else {
        auto quoted = UnquoteText(line);
        if (!quoted || quoted->empty() || quoted->size() > kMaxValueNameLength) {
            return false;
        }
        name = std::move(*quoted);
    }
    if (line.empty() || line.front() != '=') {
        return false;
    }
    line.remove_prefix(1);
    RegistryValue value;
    value.name = name;
    auto takePrefix = [&line](std::string_view prefix) {
        if (line.substr(0, prefix.size()) == prefix) {
            line.remove_prefix(prefix.size());
            return true;
        }
        return false;
    };
    const bool expandable = takePrefix("expand_sz:");
    if (expandable || takePrefix("sz:")) {
        value.type = expandable ? REG_EXPAND_SZ : REG_SZ;
        auto text = UnquoteText(line);
        if (!text || !line.empty() || text->size() > kMaxValueDataSize ||
            text->find('\0') != std::string::npos) {
            return false;
        }
        value.data = std::move(*text);
    } else if (takePrefix("dword:")) {
        if (line.size() != 8) {
            return false;
        }
        std::uint32_t number = 0;
        for (char c : line) {
            int digit = HexDigit(c);
            if (digit < 0) {
                return false;
            }
            number = number * 16u + static_cast<std::uint32_t>(digit);
        }
        value.type = REG_DWORD;
        value.data.assign(reinterpret_cast<const char*>(&number), 4);
    } else if (takePrefix("hex:")) {
        auto bytes = ParseHexBytes(line);
        if (!bytes) {
            return false;
        }
        value.type = REG_BINARY;
        value.data = std::move(*bytes);
    } else if (takePrefix("hex(")) {
        auto close = line.find("):");
        if (close == std::string_view::npos || close == 0 || close > 10) {
            return false;
        }
        std::uint64_t type = 0;
        for (char c : line.substr(0, close)) {
            if (c < '0' || c > '9') {
                return false;
            }
            type = type * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (type > 0xFFFFFFFFu) {
            return false;
        }
        auto bytes = ParseHexBytes(line.substr(close + 2));
        if (!bytes) {
            return false;
        }
        value.type = static_cast<DWORD>(type);
        value.data = std::move(*bytes);
    } else {
        return false;
    }
    if (RegistryValue* existing = key.FindValue(value.name)) {
        *existing = std::move(value);
    } else {
        key.values.push_back(std::move(value));
    }
    return true;
}

}  // namespace

RegistryKey* RegistryKey::FindSubkey(std::string_view subkeyName) {
    for (auto& subkey : subkeys) {
        if (EqualsNoCase(subkey.name, subkeyName)) {
            return &subkey;
        }
    }
    return nullptr;
}

const RegistryKey* RegistryKey::FindSubkey(std::string_view subkeyName) const {
    return const_cast<RegistryKey*>(this)->FindSubkey(subkeyName);
}

RegistryValue* RegistryKey::FindValue(std::string_view valueName) {
    for (auto& value : values) {
        if (EqualsNoCase(value.name, valueName)) {
            return &value;
        }
    }
    return nullptr;
}

const RegistryValue* RegistryKey::FindValue(std::string_view valueName) const {
    return const_cast<RegistryKey*>(this)->FindValue(valueName);
}

RegistryKey& RegistryKey::AddSubkey(std::string_view subkeyName) {
    if (RegistryKey* existing = FindSubkey(subkeyName)) {
        return *existing;
    }
    auto position = std::find_if(subkeys.begin(), subkeys.end(), [&](const RegistryKey& other) {
        return LessNoCase(subkeyName, other.name);
    });
    RegistryKey key;
    key.name = std::string(subkeyName);
    return *subkeys.insert(position, std::move(key));
}

bool RegistryKey::RemoveSubkey(std::string_view subkeyName) {
    auto it = std::find_if(subkeys.begin(), subkeys.end(), [&](const RegistryKey& other) {
        return EqualsNoCase(other.name, subkeyName);
    });
    if (it == subkeys.end()) {
        return false;
    }
    subkeys.erase(it);
    return true;
}

std::optional<RegistryKey> ParseHive(std::string_view text) {
    RegistryKey root;
    if (text.empty()) {
        return root;
    }
    RegistryKey* current = nullptr;
    bool first = true;
    while (!text.empty()) {
        auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (first) {
            if (line != kHiveHeader) {
                return std::nullopt;
            }
            first = false;
            continue;
        }
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                return std::nullopt;
            }
            std::string_view path = line.substr(1, line.size() - 2);
            current = &root;
            std::size_t depth = 0;
            while (!path.empty()) {
                auto separator = path.find('\\');
                auto name = UnescapeKeyName(path.substr(0, separator));
                if (!name || ++depth > kMaxKeyDepth) {
                    return std::nullopt;
                }
                current = &current->AddSubkey(*name);
                if (separator == std::string_view::npos) {
                    break;
                }
                path.remove_prefix(separator + 1);
                if (path.empty()) {
                    return std::nullopt;
                }
            }
            continue;
        }
        if (current == nullptr || !ParseValueLine(line, *current)) {
            return std::nullopt;
        }
    }
    return root;
}

std::string SerializeHive(const RegistryKey& root) {
    std::string out(kHiveHeader);
    out += '\n';
    SerializeKey(root, "", out);
    return out;
}

}  // namespace ov::detail

// ---------------------------------------------------------------- the calls
namespace {

using ov::detail::RegistryKey;
using ov::detail::RegistryValue;

constexpr std::uintptr_t kPredefinedBase = 0x80000000u;
constexpr const char* kHiveNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                      "HKEY_LOCAL_MACHINE"};
constexpr int kHiveCount = 3;

struct KeyLocation {
    int hive = 0;
    std::vector<std::string> path;  // UTF-8 names, letter case as stored
};

std::mutex gHandlesMutex;
std::map<std::uintptr_t, KeyLocation> gHandles;
std::uintptr_t gNextHandle = 0x1000;

std::optional<KeyLocation> LocationOf(HKEY key) {
    auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value >= kPredefinedBase && value < kPredefinedBase + kHiveCount) {
        return KeyLocation{static_cast<int>(value - kPredefinedBase), {}};
    }
    std::lock_guard lock(gHandlesMutex);
    auto it = gHandles.find(value);
    if (it == gHandles.end()) {
        return std::nullopt;
    }
    return it->second;
}

HKEY NewHandle(KeyLocation location) {
    std::lock_guard lock(gHandlesMutex);
    std::uintptr_t value = gNextHandle;
    gNextHandle += 4;
    gHandles.emplace(value, std::move(location));
    return reinterpret_cast<HKEY>(value);
}

// Splits "a\b\c" into names; empty names (doubled or outer separators) are
// skipped. Nothing when a name is too long.
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view utf8) {
    std::vector<std::string> names;
    while (!utf8.empty()) {
        auto separator = utf8.find('\\');
        std::string_view name = utf8.substr(0, separator);
        if (name.size() > ov::detail::kMaxKeyNameLength) {
            return std::nullopt;
        }
        if (!name.empty()) {
            names.emplace_back(name);
        }
        if (separator == std::string_view::npos) {
            break;
        }
        utf8.remove_prefix(separator + 1);
    }
    return names;
}

std::filesystem::path HivePath(int hive) {
    return ov::RegistryDirectory() / (std::string(kHiveNames[hive]) + ".reg");
}

std::filesystem::path HiveLockPath(int hive) {
    return ov::RegistryDirectory() / ("." + std::string(kHiveNames[hive]) + ".lock");
}

LONG LoadHive(int hive, RegistryKey& root) {
    auto read = ov::detail::ReadFileBounded(HivePath(hive), ov::detail::kMaxHiveFileSize);
    if (read.missing) {
        root = RegistryKey();
        return ERROR_SUCCESS;
    }
    if (!read.content) {
        return read.tooLarge ? ERROR_BADDB : ERROR_CANTREAD;
    }
    auto parsed = ov::detail::ParseHive(*read.content);
    if (!parsed) {
        return ERROR_BADDB;
    }
    root = std::move(*parsed);
    return ERROR_SUCCESS;
}

RegistryKey* Navigate(RegistryKey& root, const std::vector<std::string>& path) {
    RegistryKey* key = &root;
    for (const auto& name : path) {
        key = key->FindSubkey(name);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

// Runs action on the hive read under a shared lock.
LONG ReadHive(int hive, const std::function<LONG(RegistryKey&)>& action) {
    ov::detail::FileLock lock(HiveLockPath(hive), ov::detail::FileLock::Mode::Shared);
    if (!lock.locked()) {
        return ERROR_CANTOPEN;
    }
    RegistryKey root;
    if (LONG status = LoadHive(hive, root); status != ERROR_SUCCESS) {
        return status;
    }
    return action(root);
}

// Runs action on the hive under an exclusive lock and stores the result when
// the action reports a change.
LONG ChangeHive(int hive, const std::function<LONG(RegistryKey&, bool&)>& action) {
    ov::detail::FileLock lock(HiveLockPath(hive), ov::detail::FileLock::Mode::Exclusive);
    if (!lock.locked()) {
        return ERROR_CANTOPEN;
    }
    RegistryKey root;
    if (LONG status = LoadHive(hive, root); status != ERROR_SUCCESS) {
        return status;
    }
    bool changed = false;
    LONG status = action(root, changed);
    if (status != ERROR_SUCCESS || !changed) {
        return status;
    }
    std::string text = ov::detail::SerializeHive(root);
    if (text.size() > ov::detail::kMaxHiveFileSize) {
        // Stored, the hive could not be read back: refuse the change instead.
        return ERROR_OUTOFMEMORY;
    }
    if (!ov::detail::ReplaceFileAtomically(HivePath(hive), text)) {
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

LONG CreateKey(HKEY key, std::string_view subKeyUtf8, HKEY* result, DWORD* disposition) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    auto base = LocationOf(key);
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    auto names = SplitKeyPath(subKeyUtf8);
    if (!names || base->path.size() + names->size() > ov::detail::kMaxKeyDepth) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyLocation location{base->hive, {}};
    bool created = false;
    LONG status = ChangeHive(base->hive, [&](RegistryKey& root, bool& changed) -> LONG {
        RegistryKey* current = Navigate(root, base->path);
        if (current == nullptr) {
            return ERROR_KEY_DELETED;
        }
        location.path = base->path;
        for (const auto& name : *names) {
            RegistryKey* next = current->FindSubkey(name);
            if (next == nullptr) {
                next = &current->AddSubkey(name);
                created = true;
                changed = true;
            }
            location.path.push_back(next->name);
            current = next;
        }
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *result = NewHandle(std::move(location));
    return ERROR_SUCCESS;
}

LONG OpenKey(HKEY key, std::string_view subKeyUtf8, HKEY* result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = nullptr;
    auto base = LocationOf(key);
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    auto names = SplitKeyPath(subKeyUtf8);
    if (!names) {
        return ERROR_INVALID_PARAMETER;
    }
    KeyLocation location{base->hive, {}};
    LONG status = ReadHive(base->hive, [&](RegistryKey& root) -> LONG {
        RegistryKey* current = Navigate(root, base->path);
        if (current == nullptr) {
            return ERROR_KEY_DELETED;
        }
        location.path = base->path;
        for (const auto& name : *names) {
            current = current->FindSubkey(name);
            if (current == nullptr) {
                return ERROR_FILE_NOT_FOUND;
            }
            location.path.push_back(current->name);
        }
        return ERROR_SUCCESS;
    });
    if (status == ERROR_SUCCESS) {
        *result = NewHandle(std::move(location));
    }
    return status;
}

enum class Encoding { Ansi, Wide };

// The bytes a caller receives for a value.
std::string ValueBytes(const RegistryValue& value, Encoding encoding) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) {
        return value.data;
    }
    if (encoding == Encoding::Ansi) {
        std::string text = ov::Utf8ToAnsi(value.data);
        text += '\0';
        return text;
    }
    std::u16string text = ov::Utf8ToUtf16(value.data);
    text += u'\0';
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

LONG CopyData(const std::string& bytes, BYTE* data, DWORD* dataSize) {
    if (data != nullptr && dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (dataSize == nullptr) {
        return ERROR_SUCCESS;
    }
    const auto needed = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, std::string_view nameUtf8, Encoding encoding, DWORD* type, BYTE* data,
                DWORD* dataSize) {
    auto location = LocationOf(key);
    if (!location) {
        return ERROR_INVALID_HANDLE;
    }
    if (data != nullptr && dataSize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return ReadHive(location->hive, [&](RegistryKey& root) -> LONG {
        RegistryKey* current = Navigate(root, location->path);
        if (current == nullptr) {
            return ERROR_KEY_DELETED;
        }
        const RegistryValue* value = current->FindValue(nameUtf8);
        if (value == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (type != nullptr) {
            *type = value->type;
        }
        return CopyData(ValueBytes(*value, encoding), data, dataSize);
    });
}

LONG SetValue(HKEY key, std::string_view nameUtf8, DWORD type, const BYTE* data, DWORD dataSize,
              Encoding encoding) {
    auto location = LocationOf(key);
    if (!location) {
        return ERROR_INVALID_HANDLE;
    }
    if ((data == nullptr && dataSize != 0) || nameUtf8.size() > ov::detail::kMaxValueNameLength ||
        dataSize > ov::detail::kMaxValueDataSize) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryValue value;
    value.name = std::string(nameUtf8);
    value.type = type;
    const char* bytes = reinterpret_cast<const char*>(data);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // The text ends at its first NUL (or the size given).
        if (encoding == Encoding::Ansi) {
            std::string_view text(bytes != nullptr ? bytes : "", dataSize);
            value.data = ov::AnsiToUtf8(text.substr(0, text.find('\0')));
        } else {
            std::u16string text(dataSize / 2, u'\0');
            if (!text.empty()) {
                std::memcpy(text.data(), bytes, text.size() * sizeof(char16_t));
            }
            value.data = ov::Utf16ToUtf8(std::u16string_view(text).substr(0, text.find(u'\0')));
        }
    } else if (dataSize > 0) {
        value.data.assign(bytes, dataSize);
    }
    return ChangeHive(location->hive, [&](RegistryKey& root, bool& changed) -> LONG {
        RegistryKey* current = Navigate(root, location->path);
        if (current == nullptr) {
            return ERROR_KEY_DELETED;
        }
        if (RegistryValue* existing = current->FindValue(value.name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            current->values.push_back(value);
        }
        changed = true;
        return ERROR_SUCCESS;
    });
}

std::string AnsiArgument(const char* text) { return text != nullptr ? ov::AnsiToUtf8(text) : std::string(); }
std::string WideArgument(const WCHAR* text) {
    return text != nullptr ? ov::Utf16ToUtf8(std::u16string_view(text)) : std::string();
}

// Copies a name into a caller's buffer of *size characters; too little room
// (the name and its NUL) is ERROR_MORE_DATA.
LONG CopyName(const std::string& name, char* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (*size <= name.size()) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *size = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG DeletePath(HKEY key, const char* subKey, bool wholeTree) {
    auto location = LocationOf(key);
    if (!location) {
        return ERROR_INVALID_HANDLE;
    }
    auto names = SplitKeyPath(AnsiArgument(subKey));
    if (!names) {
        return ERROR_INVALID_PARAMETER;
    }
    return ChangeHive(location->hive, [&](RegistryKey& root, bool& changed) -> LONG {
        RegistryKey* base = Navigate(root, location->path);
        if (base == nullptr) {
            return ERROR_KEY_DELETED;
        }
        if (wholeTree && subKey == nullptr) {
            changed = !base->values.empty() || !base->subkeys.empty();
            base->values.clear();
            base->subkeys.clear();
            return ERROR_SUCCESS;
        }
        std::vector<std::string> full = location->path;
        full.insert(full.end(), names->begin(), names->end());
        if (full.empty()) {
            return ERROR_ACCESS_DENIED;  // a hive's root is never deleted
        }
        std::vector<std::string> parentPath(full.begin(), full.end() - 1);
        RegistryKey* parent = Navigate(root, parentPath);
        RegistryKey* target = parent != nullptr ? parent->FindSubkey(full.back()) : nullptr;
        if (target == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (!wholeTree && !target->subkeys.empty()) {
            return ERROR_ACCESS_DENIED;
        }
        parent->RemoveSubkey(full.back());
        changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace

namespace ov::detail {

LONG ReadRegistryString(HKEY root, const std::string& subKey, const char* valueName,
                        std::string& utf8Value) {
    auto location = LocationOf(root);
    auto names = SplitKeyPath(subKey);
    if (!location || !names) {
        return ERROR_INVALID_PARAMETER;
    }
    return ReadHive(location->hive, [&](RegistryKey& hiveRoot) -> LONG {
        std::vector<std::string> path = location->path;
        path.insert(path.end(), names->begin(), names->end());
        RegistryKey* key = Navigate(hiveRoot, path);
        if (key == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        const RegistryValue* value = key->FindValue(valueName != nullptr ? valueName : "");
        if (value == nullptr || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) {
            return ERROR_FILE_NOT_FOUND;
        }
        utf8Value = value->data;
        return ERROR_SUCCESS;
    });
}

}  // namespace ov::detail

extern "C" {

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM, void*, HKEY* result,
                     DWORD* disposition) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return CreateKey(key, AnsiArgument(subKey), result, disposition);
    });
}

LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD, WCHAR*, DWORD, REGSAM, void*,
                     HKEY* result, DWORD* disposition) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return CreateKey(key, WideArgument(subKey), result, disposition);
    });
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM, HKEY* result) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return OpenKey(key, AnsiArgument(subKey), result);
    });
}

LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD, REGSAM, HKEY* result) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return OpenKey(key, WideArgument(subKey), result);
    });
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return QueryValue(key, AnsiArgument(valueName), Encoding::Ansi, type, data, dataSize);
    });
}

LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return QueryValue(key, WideArgument(valueName), Encoding::Wide, type, data, dataSize);
    });
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return SetValue(key, AnsiArgument(valueName), type, data, dataSize, Encoding::Ansi);
    });
}

LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        return SetValue(key, WideArgument(valueName), type, data, dataSize, Encoding::Wide);
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        auto location = LocationOf(key);
        if (!location) {
            return ERROR_INVALID_HANDLE;
        }
        const std::string name = AnsiArgument(valueName);
        return ChangeHive(location->hive, [&](RegistryKey& root, bool& changed) -> LONG {
            RegistryKey* current = Navigate(root, location->path);
            if (current == nullptr) {
                return ERROR_KEY_DELETED;
            }
            auto it = std::find_if(current->values.begin(), current->values.end(),
                                   [&](const RegistryValue& value) { return ov::EqualsNoCase(value.name, name); });
            if (it == current->values.end()) {
                return ERROR_FILE_NOT_FOUND;
            }
            current->values.erase(it);
            changed = true;
            return ERROR_SUCCESS;
        });
    });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        if (subKey == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        return DeletePath(key, subKey, false);
    });
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) { return DeletePath(key, subKey, true); }

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, char* keyClass,
                   DWORD* classSize, void* lastWrite) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        auto location = LocationOf(key);
        if (!location) {
            return ERROR_INVALID_HANDLE;
        }
        return ReadHive(location->hive, [&](RegistryKey& root) -> LONG {
            RegistryKey* current = Navigate(root, location->path);
            if (current == nullptr) {
                return ERROR_KEY_DELETED;
            }
            if (index >= current->subkeys.size()) {
                return ERROR_NO_MORE_ITEMS;
            }
            LONG status = CopyName(ov::Utf8ToAnsi(current->subkeys[index].name), name, nameSize);
            if (status == ERROR_SUCCESS) {
                if (keyClass != nullptr && classSize != nullptr && *classSize > 0) {
                    keyClass[0] = '\0';
                    *classSize = 0;
                }
                if (lastWrite != nullptr) {
                    std::memset(lastWrite, 0, sizeof(FILETIME));
                }
            }
            return status;
        });
    });
}

LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        auto location = LocationOf(key);
        if (!location) {
            return ERROR_INVALID_HANDLE;
        }
        return ReadHive(location->hive, [&](RegistryKey& root) -> LONG {
            RegistryKey* current = Navigate(root, location->path);
            if (current == nullptr) {
                return ERROR_KEY_DELETED;
            }
            if (index >= current->values.size()) {
                return ERROR_NO_MORE_ITEMS;
            }
            const RegistryValue& value = current->values[index];
            if (LONG status = CopyName(ov::Utf8ToAnsi(value.name), name, nameSize);
                status != ERROR_SUCCESS) {
                return status;
            }
            if (type != nullptr) {
                *type = value.type;
            }
            return CopyData(ValueBytes(value, Encoding::Ansi), data, dataSize);
        });
    });
}

LONG RegCloseKey(HKEY key) {
    return ov::detail::NoThrowStatus([&]() -> LONG {
        auto value = reinterpret_cast<std::uintptr_t>(key);
        if (value >= kPredefinedBase && value < kPredefinedBase + kHiveCount) {
            return ERROR_SUCCESS;
        }
        std::lock_guard lock(gHandlesMutex);
        return gHandles.erase(value) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    });
}

}  // extern "C"
