// The text of a private profile file: sections of "key=value" lines. Lines
// this reader does not understand (comments, lines without "=", over-long
// lines, section headers without "]") are kept verbatim and otherwise ignored,
// so rewriting a file never loses what a person wrote into it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ov::detail {

// Lines longer than this are kept but not read; files larger than
// kMaxProfileFileSize are not read at all.
constexpr std::size_t kMaxProfileLineLength = 65535;
constexpr std::size_t kMaxProfileFileSize = 8u << 20;

class IniDocument {
public:
    static IniDocument Parse(std::string_view content);
    std::string Serialize() const;

    // The value as written (blanks around it trimmed, quotes kept).
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::vector<std::string> Sections() const;
    std::vector<std::string> Keys(std::string_view section) const;

    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool RemoveKey(std::string_view section, std::string_view key);
    bool RemoveSection(std::string_view section);

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string text;
        Kind kind = Kind::Other;
        std::string name;   // section or key name
        std::string value;  // key value
    };
    static Line Classify(std::string text);
    // Index of the line of the key, or npos.
    std::size_t FindKey(std::string_view section, std::string_view key) const;

    std::vector<Line> lines_;
    std::string lineEnd_ = "\n";
};

}  // namespace ov::detail
