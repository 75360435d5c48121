#include "script.h"

#include <charconv>

#include "ovplatform/platform.h"

namespace ovfax {

using ov::com::Variant;

namespace {

// A number only when it reads back the same, so "0049..." stays a text.
Variant ToValue(std::string_view raw) {
    std::int32_t n = 0;
    auto [end, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), n);
    if (!raw.empty() && ec == std::errc() && end == raw.data() + raw.size() &&
        std::to_string(n) == raw) {
        return n;
    }
    if (ov::EqualsNoCase(raw, "true")) return true;
    if (ov::EqualsNoCase(raw, "false")) return false;
    return std::string(raw);
}

}  // namespace

ParsedLine ParseScriptLine(std::string_view line) {
    ParsedLine parsed;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    auto first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') return parsed;
    std::vector<std::string> tokens = ov::SplitCommandLine(line);
    if (tokens.empty()) return parsed;
    ScriptCall call;
    call.member = tokens[0];
    std::size_t next = 1;
    if (tokens.size() >= 2 && tokens[1] == "=") {
        if (tokens.size() != 3) {
            parsed.error = "a property is set with: NAME = VALUE";
            return parsed;
        }
        call.put = true;
        next = 2;
    }
    for (std::size_t i = next; i < tokens.size(); ++i) {
        call.args.push_back(ToValue(tokens[i]));
    }
    parsed.call = std::move(call);
    return parsed;
}

std::string FormatResult(const Variant& value) {
    if (auto* b = std::get_if<bool>(&value)) return *b ? "TRUE" : "FALSE";
    return ov::com::ToText(value).value_or(std::string());
}

HRESULT CallMember(ov::com::IDispatch* object, const std::string& member, bool put,
                   const std::vector<Variant>& args, Variant* result) {
    std::vector<ov::com::DISPID> ids;
    HRESULT hr = object->GetIDsOfNames({member}, &ids);
    if (ov::com::Failed(hr)) return hr;
    WORD flags = put ? ov::com::DISPATCH_PROPERTYPUT
                     : static_cast<WORD>(ov::com::DISPATCH_METHOD | ov::com::DISPATCH_PROPERTYGET);
    return object->Invoke(ids[0], flags, args, result);
}

}  // namespace ovfax
