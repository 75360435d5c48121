// The line format of `ovfax script`: one member call per line.
//   name                    call a method without arguments, or read a property
//   name arg1 arg2 ...      call a method
//   name = value            set a property
// Arguments follow the Windows command-line rules (double quotes group); an
// integer that reads back the same is a number, true/false a boolean,
// anything else a text (the object converts arguments as it needs them). Blank lines and lines starting with '#' are skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovcom/com.h"

namespace ovfax {

struct ScriptCall {
    std::string member;
    bool put = false;
    std::vector<ov::com::Variant> args;
};

// Nothing for a blank or comment line; an error text for a malformed one.
struct ParsedLine {
    std::optional<ScriptCall> call;
    std::string error;
};
ParsedLine ParseScriptLine(std::string_view line);

// How a result is printed: TRUE/FALSE, numbers, texts as they are.
std::string FormatResult(const ov::com::Variant& value);

// Calls one member by name on object.
HRESULT CallMember(ov::com::IDispatch* object, const std::string& member, bool put,
                   const std::vector<ov::com::Variant>& args, ov::com::Variant* result);

}  // namespace ovfax
