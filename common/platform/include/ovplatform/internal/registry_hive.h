// One registry hive as it is kept on disk: a text file, one line per key
// ("[Software\Kestrin]") followed by its values ("Name"=sz:"text",
// @=dword:0000000a, "Blob"=hex:01,ff, "Other"=hex(7):...). A file this reader
// does not understand is reported as damaged, never half-read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovplatform/win32.h"

namespace ov::detail {

constexpr std::size_t kMaxHiveFileSize = 32u << 20;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxValueDataSize = 4u << 20;

struct RegistryValue {
    std::string name;  // UTF-8; empty for the default value
    DWORD type = REG_NONE;
    std::string data;  // REG_SZ, REG_EXPAND_SZ: UTF-8 text without NUL; else raw bytes
};

struct RegistryKey {
    std::string name;  // UTF-8, letter case as created
    std::vector<RegistryValue> values;
    std::vector<RegistryKey> subkeys;  // ordered without regard to case

    RegistryKey* FindSubkey(std::string_view subkeyName);
    const RegistryKey* FindSubkey(std::string_view subkeyName) const;
    RegistryValue* FindValue(std::string_view valueName);
    const RegistryValue* FindValue(std::string_view valueName) const;
    RegistryKey& AddSubkey(std::string_view subkeyName);
    bool RemoveSubkey(std::string_view subkeyName);
};

// Nothing when the text is damaged.
std::optional<RegistryKey> ParseHive(std::string_view text);
std::string SerializeHive(const RegistryKey& root);

}  // namespace ov::detail
