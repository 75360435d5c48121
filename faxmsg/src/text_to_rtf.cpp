// Plain text to RTF, as the fax server expects a message body built from a
// text file: a fixed head naming font 2 for the text's code page, then the
// text with RTF's special characters escaped.
#include <new>

#include "faxmsg/rtf_codec.h"
#include "ovplatform/platform.h"

namespace faxmsg {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

unsigned EffectiveCodePage(unsigned codePage) {
    return codePage != 0 ? codePage : ov::SystemCodePage();
}

bool IsDoubleByteCodePage(unsigned codePage) {
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// Lead bytes of the double-byte code pages: Shift-JIS leaves 0xA0 to 0xDF
// to single-byte katakana; the Chinese and Korean pages lead with any byte
// from 0x81 to 0xFE.
bool IsLeadByte(unsigned codePage, std::uint8_t byte) {
    if (codePage == 932) {
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }
    return byte >= 0x81 && byte <= 0xFE;
}

// Font 2's description; "%lu" stands where the character set number goes.
const char* FontTwoDescription(unsigned codePage) {
    switch (codePage) {
        case 932:
            return "\\froman\\fcharset%lu \\'82\\'6c\\'82\\'72 \\'96\\'be\\'92\\'a9;";
        case 936:
            return "\\froman\\fcharset%lu \\'cb\\'ce\\'cc\\'e5;";
        case 949:
            return "\\froman\\fcharset%lu \\'b9\\'d9\\'c5\\'c1\\'c3\\'bc;";
        case 950:
            return "\\froman\\fcharset%lu \\'b2\\'d3\\'a9\\'fa\\'c5\\'e9;";
        case 1250:
            return "\\fswiss\\fcharset%lu{\\*\\fname Arial;}Arial CE;";
        case 1251:
            return "\\fswiss\\fcharset%lu{\\*\\fname Arial;}Arial Cyr;";
        default:
            return "\\fswiss\\fcharset%lu Arial;";
    }
}

void AppendHex(std::uint8_t byte, std::string& out) {
    out += "\\'";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

}  // namespace

unsigned RtfCharsetForCodePage(unsigned codePage) noexcept {
    switch (codePage) {
        case 874:
            return 222;
        case 932:
            return 128;
        case 936:
            return 134;
        case 949:
            return 129;
        case 950:
            return 136;
        case 1250:
            return 238;
        case 1251:
            return 204;
        case 1252:
            return 0;
        case 1253:
            return 161;
        case 1254:
            return 162;
        case 1255:
            return 177;
        case 1256:
            return 178;
        case 1257:
            return 186;
        default:
            return 1;
    }
}

namespace {

std::string BuildHead(unsigned codePage) {
    std::string fontTwo = FontTwoDescription(codePage);
    fontTwo.replace(fontTwo.find("%lu"), 3, std::to_string(RtfCharsetForCodePage(codePage)));
    std::string head =
        "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}"
        "{\\f1\\fnil Symbol;}{\\f2";
    head += fontTwo;
    head += "}}\r\n";
    head += "{\\colortbl\\red0\\green0\\blue0;}\r\n";
    head += "\\pard\\plain\\f2\\fs20 ";
    return head;
}

}  // namespace

std::string RtfHeadForCodePage(unsigned codePage) noexcept {
    try {
        return BuildHead(EffectiveCodePage(codePage));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

TextToRtfConverter::TextToRtfConverter(unsigned codePage) noexcept
    : codePage_(EffectiveCodePage(codePage)), doubleByte_(IsDoubleByteCodePage(codePage_)) {}

void TextToRtfConverter::AppendHead(std::string& out) {
    if (!headWritten_) {
        out += BuildHead(codePage_);
        headWritten_ = true;
    }
}

void TextToRtfConverter::ConvertByte(std::uint8_t byte, std::string& out) {
    if (trailByteDue_) {
        // The second byte of a double-byte character may look like "\" or
        // "{"; it is written as hex with its lead so the pair stays whole.
        AppendHex(byte, out);
        trailByteDue_ = false;
        return;
    }
    const char partner = lastBreak_ == '\r' ? '\n' : lastBreak_ == '\n' ? '\r' : '\0';
    lastBreak_ = 0;
    if (partner != 0 && byte == static_cast<std::uint8_t>(partner)) {
        out += partner;  // CR LF or LF CR: one break
        return;
    }
    switch (byte) {
        case '\t':
            out += "\\tab ";
            return;
        case '\r':
        case '\n':
            out += "\\par ";
            out += static_cast<char>(byte);
            lastBreak_ = static_cast<char>(byte);
            return;
        case '\\':
        case '{':
        case '}':
            out += '\\';
            out += static_cast<char>(byte);
            return;
        default:
            break;
    }
    if (byte >= 0x80) {
        AppendHex(byte, out);
        trailByteDue_ = doubleByte_ && IsLeadByte(codePage_, byte);
        return;
    }
    out += static_cast<char>(byte);
}

bool TextToRtfConverter::Convert(std::span<const std::uint8_t> text, std::string& out) noexcept {
    if (finished_) {
        return false;
    }
    const std::size_t before = out.size();
    // Saved so that a conversion cut short by lack of memory leaves no trace.
    const bool headWritten = headWritten_;
    const bool trailByteDue = trailByteDue_;
    const char lastBreak = lastBreak_;
    try {
        AppendHead(out);
        // Most bytes pass unchanged; a little room up front saves regrowth.
        out.reserve(out.size() + text.size() + text.size() / 8);
        for (std::uint8_t byte : text) {
            ConvertByte(byte, out);
        }
    } catch (const std::bad_alloc&) {
        out.resize(before);
        headWritten_ = headWritten;
        trailByteDue_ = trailByteDue;
        lastBreak_ = lastBreak;
        return false;
    }
    return true;
}

bool TextToRtfConverter::Convert(std::string_view text, std::string& out) noexcept {
    return Convert(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                 text.size()),
                   out);
}

bool TextToRtfConverter::Finish(std::string& out) noexcept {
    if (finished_) {
        return false;
    }
    const std::size_t before = out.size();
    const bool headWritten = headWritten_;
    try {
        AppendHead(out);
        out += '}';
    } catch (const std::bad_alloc&) {
        out.resize(before);
        headWritten_ = headWritten;
        return false;
    }
    finished_ = true;
    return true;
}

std::string ConvertTextToRtf(std::string_view text, unsigned codePage) noexcept {
    try {
        std::string rtf;
        TextToRtfConverter converter(codePage);
        if (!converter.Convert(text, rtf) || !converter.Finish(rtf)) {
            return {};
        }
        return rtf;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace faxmsg
