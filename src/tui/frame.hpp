#pragma once
// An in-memory screen: a grid of cells that components draw into, turned into
// terminal output (or plain text, for tests) as a whole.
//
// Text is UTF-8; widths are display columns, so multi-byte characters such as the
// box lines and arrows take one column and East Asian wide characters two.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tui/theme.hpp"

namespace stelvane::tui {

// Display columns of one code point (0 for combining marks and controls, 2 for
// wide characters, else 1).
int char_width(char32_t cp);
// Display columns of a UTF-8 text.
std::size_t display_width(std::string_view text);
// Splits UTF-8 text into code points; invalid bytes become U+FFFD.
std::vector<char32_t> decode_utf8(std::string_view text);
std::string encode_utf8(char32_t cp);

// Greedy word wrap to `width` columns. Line breaks in the text are kept; words are
// separated by spaces, which are dropped at the wrap points; a word longer than the
// width is broken between characters. An empty text gives no lines.
std::vector<std::string> wrap_text(std::string_view text, std::size_t width);

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// A rectangle of `width` × `height` centred in an area of `area_w` × `area_h`
// (both sizes clamped to the area).
Rect centered(int area_w, int area_h, int width, int height);
// `percent` of `total`, rounded to the nearest column.
int percent_of(int total, int percent);

struct Cell {
  std::string glyph = " ";  // empty for the second column of a wide character
  std::optional<Style> style;
};

class Frame {
 public:
  Frame(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  const Cell& at(int x, int y) const { return cells_[index(x, y)]; }

  // Writes `text` from (x, y), at most `max_width` columns (and never past the
  // right edge); returns the columns written.
  int put(int x, int y, std::string_view text, std::optional<Style> style, int max_width);
  // A bordered box with plain lines; `title` in the top border after the corner,
  // `footer` right-aligned in the bottom border before the corner.
  void box(const Rect& r, std::string_view title, const std::optional<std::string>& footer, Style border,
           Style title_style, Style footer_style);

  // The screen as text, one string per row, trailing spaces kept.
  std::vector<std::string> lines() const;
  // The row `y` as text.
  std::string line(int y) const;
  // Terminal output that paints the whole frame from the top-left corner.
  std::string render() const;

 private:
  std::size_t index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
  }
  int width_;
  int height_;
  std::vector<Cell> cells_;
};

// The SGR sequence that selects `style` (after a reset).
std::string sgr(const Style& style);

}  // namespace stelvane::tui
