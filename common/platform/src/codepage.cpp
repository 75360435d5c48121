// The system's 8-bit code page and the conversions to and from UTF-16/UTF-8.
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ovplatform/platform.h"

namespace ov {
namespace {

constexpr unsigned kCp1252 = 1252;
constexpr unsigned kLatin1 = 28591;
constexpr unsigned kUtf8 = 65001;

// Windows-1252 bytes 0x80..0x9F. The five bytes Windows leaves undefined map to
// the C1 control of the same value, as Windows' own conversion does, so that
// every byte survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// Decodes one code point of UTF-8 at text[pos], advancing pos; malformed
// sequences give U+FFFD and advance by one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    int length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    if (pos + length > text.size()) {
        ++pos;
        return 0xFFFD;
    }
    for (int i = 1; i < length; ++i) {
        unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += length;
    return c;
}

char32_t DecodeUtf16(std::u16string_view text, std::size_t& pos) {
    char16_t unit = text[pos++];
    if (unit >= 0xD800 && unit <= 0xDBFF && pos < text.size() && text[pos] >= 0xDC00 &&
        text[pos] <= 0xDFFF) {
        char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[pos] - 0xDC00);
        ++pos;
        return c;
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return 0xFFFD;
    }
    return unit;
}

char32_t SingleByteToUnicode(unsigned codePage, unsigned char byte) {
    if (codePage == kCp1252 && byte >= 0x80 && byte <= 0x9F) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

// The byte for a code point in a single-byte code page, or -1.
int UnicodeToSingleByte(unsigned codePage, char32_t c) {
    if (codePage == kCp1252) {
        if (c >= 0x80 && c <= 0x9F) {
            // Only the five undefined bytes map back to their C1 twin.
            if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) {
                return static_cast<int>(c);
            }
            return -1;
        }
        for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
            if (kCp1252High[i] == c) {
                return static_cast<int>(0x80 + i);
            }
        }
    }
    return c <= 0xFF ? static_cast<int>(c) : -1;
}

}  // namespace

unsigned SystemCodePage() {
    const char* name = std::getenv("ORVANE_CODEPAGE");
    if (name != nullptr) {
        if (std::strcmp(name, "28591") == 0) {
            return kLatin1;
        }
        if (std::strcmp(name, "65001") == 0) {
            return kUtf8;
        }
    }
    return kCp1252;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        AppendUtf8(out, DecodeUtf16(text, pos));
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        AppendUtf16(out, DecodeUtf8(utf8, pos));
    }
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    unsigned codePage = SystemCodePage();
    if (codePage == kUtf8) {
        return Utf8ToUtf16(ansi);
    }
    std::u16string out;
    out.reserve(ansi.size());
    for (char c : ansi) {
        AppendUtf16(out, SingleByteToUnicode(codePage, static_cast<unsigned char>(c)));
    }
    return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
    unsigned codePage = SystemCodePage();
    if (codePage == kUtf8) {
        return Utf16ToUtf8(text);
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        int byte = UnicodeToSingleByte(codePage, DecodeUtf16(text, pos));
        out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
    unsigned codePage = SystemCodePage();
    if (codePage == kUtf8) {
        return std::string(ansi);
    }
    std::string out;
    out.reserve(ansi.size());
    for (char c : ansi) {
        AppendUtf8(out, SingleByteToUnicode(codePage, static_cast<unsigned char>(c)));
    }
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
    unsigned codePage = SystemCodePage();
    if (codePage == kUtf8) {
        return std::string(utf8);
    }
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        int byte = UnicodeToSingleByte(codePage, DecodeUtf8(utf8, pos));
        out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return out;
}

}  // namespace ov
