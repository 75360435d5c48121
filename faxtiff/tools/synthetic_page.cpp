#include "synthetic_page.h"

#include <algorithm>
#include <array>
#include <string>

namespace faxtiff::synthetic {
namespace {

struct Glyph {
    char character;
    const char* rows[7];
};

// 5 x 7 capitals, digits and punctuation; '#' is ink.
constexpr Glyph kFont[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'J', {"  ###", "   # ", "   # ", "   # ", "   # ", "#  # ", " ##  "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "#   #", "##  #", "# # #", "#  ##", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "# # #", " # # "}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'Z', {"#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {',', {"     ", "     ", "     ", "     ", " ##  ", "  #  ", " #   "}},
    {':', {"     ", " ##  ", " ##  ", "     ", " ##  ", " ##  ", "     "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {'/', {"     ", "    #", "   # ", "  #  ", " #   ", "#    ", "     "}},
    {'!', {"  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "     ", "  #  "}},
    {'?', {" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "}},
    {'(', {"   # ", "  #  ", " #   ", " #   ", " #   ", "  #  ", "   # "}},
    {')', {" #   ", "  #  ", "   # ", "   # ", "   # ", "  #  ", " #   "}},
    {'@', {" ### ", "#   #", "# ###", "# # #", "# ###", "#    ", " ####"}},
    {'+', {"     ", "  #  ", "  #  ", "#####", "  #  ", "  #  ", "     "}},
};

const Glyph* FindGlyph(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const Glyph& glyph : kFont) {
        if (glyph.character == c) return &glyph;
    }
    return nullptr;
}

void SetBlack(std::vector<std::uint8_t>& page, int lines, int x, int y) {
    if (x < 0 || x >= kLinePixels || y < 0 || y >= lines) return;
    page[static_cast<std::size_t>(y) * kLineBytes + static_cast<std::size_t>(x >> 3)] &=
        static_cast<std::uint8_t>(~(0x80u >> (x & 7)));
}

// A small deterministic generator, the same on every platform.
class Random {
public:
    explicit Random(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    int Below(int limit) { return static_cast<int>(Next() % static_cast<std::uint32_t>(limit)); }

private:
    std::uint32_t state_;
};

std::string MadeUpWord(Random& random) {
    static constexpr char kLetters[] = "ETAOINSHRDLUCMFWYPVBGKQJXZ";
    std::string word;
    const int length = 1 + random.Below(9);
    for (int i = 0; i < length; ++i) {
        // Common letters are more likely, as in real text.
        const int index = std::min(random.Below(14) + random.Below(13), 25);
        word.push_back(kLetters[index]);
    }
    if (random.Below(12) == 0) word.push_back(',');
    return word;
}

}  // namespace

std::vector<std::uint8_t> BlankPage(int lines) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(std::max(lines, 0)) * kLineBytes, 0xFF);
}

void FillBlack(std::vector<std::uint8_t>& page, int lines, int x, int y, int width, int height) {
    for (int row = y; row < y + height; ++row) {
        for (int column = x; column < x + width; ++column) SetBlack(page, lines, column, row);
    }
}

void DrawText(std::vector<std::uint8_t>& page, int lines, int x, int y, std::string_view text,
              int scale) {
    int pen = x;
    for (char c : text) {
        if (const Glyph* glyph = FindGlyph(c)) {
            for (int row = 0; row < 7; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if (glyph->rows[row][column] == '#') {
                        FillBlack(page, lines, pen + column * scale, y + row * scale, scale, scale);
                    }
                }
            }
        }
        pen += 6 * scale;
    }
}

std::vector<std::uint8_t> TextPage(int lines, std::uint32_t seed) {
    std::vector<std::uint8_t> page = BlankPage(lines);
    Random random(seed);
    const int margin = 160;
    const int scale = 3;                  // 15 x 21 pixel letters, about 10 point
    const int lineHeight = 10 * scale;    // letter height and leading
    const int right = kLinePixels - margin;
    DrawText(page, lines, margin, 140, "ORVANE FAX - SAMPLE DOCUMENT", 5);
    FillBlack(page, lines, margin, 200, right - margin, 4);
    int y = 260;
    while (y + lineHeight < lines - 300) {
        // A paragraph of 3 to 8 lines, the last one shorter.
        const int paragraphLines = 3 + random.Below(6);
        for (int line = 0; line < paragraphLines && y + lineHeight < lines - 300; ++line) {
            int pen = margin;
            const int limit = line + 1 == paragraphLines ? margin + (right - margin) / 2 : right;
            for (;;) {
                const std::string word = MadeUpWord(random);
                const int width = static_cast<int>(word.size()) * 6 * scale;
                if (pen + width > limit) break;
                DrawText(page, lines, pen, y, word, scale);
                pen += width + 6 * scale;
            }
            y += lineHeight;
        }
        y += lineHeight;
    }
    FillBlack(page, lines, margin, lines - 220, 500, 3);
    DrawText(page, lines, margin, lines - 200, "SIGNED: ORVANE", scale);
    return page;
}

std::vector<std::uint8_t> DensePage(int lines, std::uint32_t seed) {
    static constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::vector<std::uint8_t> page = BlankPage(lines);
    Random random(seed);
    for (int y = 0; y < lines; ++y) {
        for (int x = 0; x < kLinePixels; ++x) {
            // Grey level rises left to right with some noise, as in a scanned photo.
            const int level = (x * 16) / kLinePixels + random.Below(3) - 1;
            if (kBayer[y & 3][x & 3] < level) SetBlack(page, lines, x, y);
        }
    }
    return page;
}

}  // namespace faxtiff::synthetic
