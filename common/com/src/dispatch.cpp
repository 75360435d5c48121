#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "ovcom/com.h"
#include "ovplatform/platform.h"

namespace ov::com {

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at text[pos].
std::optional<std::uint32_t> ReadHex(std::string_view text, std::size_t pos, int digits) {
    if (pos + static_cast<std::size_t>(digits) > text.size()) return std::nullopt;
    std::uint32_t value = 0;
    for (int i = 0; i < digits; ++i) {
        int v = HexValue(text[pos + static_cast<std::size_t>(i)]);
        if (v < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(v);
    }
    return value;
}
}  // namespace

std::optional<GUID> ParseGuid(std::string_view text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text.front() != '{' || text.back() != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return std::nullopt;
    }
    GUID guid;
    auto d1 = ReadHex(text, 1, 8);
    auto d2 = ReadHex(text, 10, 4);
    auto d3 = ReadHex(text, 15, 4);
    if (!d1 || !d2 || !d3) return std::nullopt;
    guid.Data1 = *d1;
    guid.Data2 = static_cast<std::uint16_t>(*d2);
    guid.Data3 = static_cast<std::uint16_t>(*d3);
    static constexpr std::size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        auto b = ReadHex(text, kBytePos[i], 2);
        if (!b) return std::nullopt;
        guid.Data4[i] = static_cast<std::uint8_t>(*b);
    }
    return guid;
}

std::string FormatGuid(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

HRESULT LookUpNames(const DispatchMember* members, std::size_t count,
                    const std::vector<std::string>& names, std::vector<DISPID>* ids) {
    if (ids == nullptr) return E_POINTER;
    ids->clear();
    HRESULT hr = S_OK;
    for (const auto& name : names) {
        DISPID id = DISPID_UNKNOWN;
        for (std::size_t i = 0; i < count; ++i) {
            if (ov::EqualsNoCase(name, members[i].name)) {
                id = members[i].id;
                break;
            }
        }
        if (id == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        ids->push_back(id);
    }
    return hr;
}

const DispatchMember* FindMember(const DispatchMember* members, std::size_t count, DISPID id) {
    for (std::size_t i = 0; i < count; ++i) {
        if (members[i].id == id) return &members[i];
    }
    return nullptr;
}

std::optional<std::int32_t> ToInt(const Variant& value) {
    if (auto* i = std::get_if<std::int32_t>(&value)) return *i;
    if (auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;  // VARIANT_TRUE is -1
    if (auto* d = std::get_if<double>(&value)) {
        if (*d >= -2147483648.0 && *d <= 2147483647.0) return static_cast<std::int32_t>(*d);
        return std::nullopt;
    }
    if (auto* s = std::get_if<std::string>(&value)) {
        std::int32_t n = 0;
        std::string_view text = *s;
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
        while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) return n;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<bool> ToBool(const Variant& value) {
    if (auto* b = std::get_if<bool>(&value)) return *b;
    if (auto* s = std::get_if<std::string>(&value)) {
        if (ov::EqualsNoCase(*s, "true")) return true;
        if (ov::EqualsNoCase(*s, "false")) return false;
    }
    if (auto n = ToInt(value)) return *n != 0;
    return std::nullopt;
}

std::optional<std::string> ToText(const Variant& value) {
    if (auto* s = std::get_if<std::string>(&value)) return *s;
    if (auto* i = std::get_if<std::int32_t>(&value)) return std::to_string(*i);
    if (auto* b = std::get_if<bool>(&value)) return std::string(*b ? "True" : "False");
    if (auto* d = std::get_if<double>(&value)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", *d);
        return std::string(text);
    }
    return std::nullopt;
}

}  // namespace ov::com
