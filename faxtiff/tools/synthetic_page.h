// Pages made up for samples, tests and benchmarks: text set in a small
// built-in font, an empty page and a dense halftone. Bitmaps use the page
// image's form: 216 bytes a line, 1 = white.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace faxtiff::synthetic {

constexpr int kLineBytes = 216;
constexpr int kLinePixels = 1728;

// A white page of `lines` lines.
std::vector<std::uint8_t> BlankPage(int lines);
// A letter-like page: a title, paragraphs of words (made-up words from the
// seed) and a signature rule, at about 10-point size at 196 lines per inch.
std::vector<std::uint8_t> TextPage(int lines, std::uint32_t seed);
// An ordered-dither gradient with noise: many short runs on every line.
std::vector<std::uint8_t> DensePage(int lines, std::uint32_t seed);

// Draws text in the built-in font (upper case; unknown characters as
// blanks) with its top-left corner at (x, y), every font pixel `scale` by
// `scale` pixels. Pixels outside the page are clipped.
void DrawText(std::vector<std::uint8_t>& page, int lines, int x, int y, std::string_view text,
              int scale);
// Fills a rectangle black, clipped to the page.
void FillBlack(std::vector<std::uint8_t>& page, int lines, int x, int y, int width, int height);

}  // namespace faxtiff::synthetic
