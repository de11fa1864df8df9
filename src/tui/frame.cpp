#include "tui/frame.hpp"

#include <algorithm>
#include <utility>

namespace stelvane::tui {

namespace {

struct Range {
  char32_t lo;
  char32_t hi;
};

// Combining marks and other zero-width code points.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x2028, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

// East Asian wide and fullwidth ranges, and the emoji blocks terminals draw wide.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E},
    {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F900, 0x1F9FF},
    {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <std::size_t N>
bool in_ranges(const Range (&ranges)[N], char32_t cp) {
  const Range* end = ranges + N;
  const Range* it = std::upper_bound(ranges, end, cp, [](char32_t v, const Range& r) { return v < r.lo; });
  return it != ranges && cp <= (it - 1)->hi;
}

}  // namespace

int char_width(char32_t cp) {
  if (cp == 0) return 0;
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return 0;
  if (in_ranges(kZeroWidth, cp)) return 0;
  if (in_ranges(kWide, cp)) return 2;
  return 1;
}

std::vector<char32_t> decode_utf8(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    int len = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      len = 1;
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
    }
    bool ok = len > 0 && i + static_cast<std::size_t>(len) <= text.size();
    for (int k = 1; ok && k < len; ++k) {
      auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF)))
      ok = false;
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

std::string encode_utf8(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

std::size_t display_width(std::string_view text) {
  std::size_t w = 0;
  for (char32_t cp : decode_utf8(text)) w += static_cast<std::size_t>(char_width(cp));
  return w;
}

std::vector<std::string> wrap_text(std::string_view text, std::size_t width) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  if (width == 0) width = 1;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string_view para = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);

    std::string line;
    std::size_t line_w = 0;
    bool line_started = false;
    auto flush = [&] {
      lines.push_back(line);
      line.clear();
      line_w = 0;
      line_started = false;
    };
    std::size_t pos = 0;
    bool any_word = false;
    while (pos < para.size()) {
      while (pos < para.size() && para[pos] == ' ') ++pos;
      if (pos >= para.size()) break;
      std::size_t end = para.find(' ', pos);
      if (end == std::string_view::npos) end = para.size();
      std::string_view word = para.substr(pos, end - pos);
      pos = end;
      any_word = true;
      std::size_t ww = display_width(word);
      if (line_started && line_w + 1 + ww <= width) {
        line += ' ';
        line += word;
        line_w += 1 + ww;
        continue;
      }
      if (line_started) flush();
      if (ww <= width) {
        line = std::string(word);
        line_w = ww;
        line_started = true;
        continue;
      }
      // A word wider than a line: break it between characters.
      for (char32_t cp : decode_utf8(word)) {
        auto cw = static_cast<std::size_t>(char_width(cp));
        if (line_started && line_w + cw > width) flush();
        line += encode_utf8(cp);
        line_w += cw;
        line_started = true;
      }
    }
    if (line_started || !any_word) flush();
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return lines;
}

int percent_of(int total, int percent) { return (total * percent + 50) / 100; }

Rect centered(int area_w, int area_h, int width, int height) {
  width = std::clamp(width, 0, std::max(area_w, 0));
  height = std::clamp(height, 0, std::max(area_h, 0));
  return Rect{(area_w - width) / 2, (area_h - height) / 2, width, height};
}

Frame::Frame(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      cells_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {}

int Frame::put(int x, int y, std::string_view text, std::optional<Style> style, int max_width) {
  if (y < 0 || y >= height_ || x < 0 || x >= width_) return 0;
  int limit = std::min(max_width, width_ - x);
  int used = 0;
  for (char32_t cp : decode_utf8(text)) {
    int w = char_width(cp);
    if (w == 0) {
      // Combining marks join the previous glyph; controls are dropped.
      if (used > 0 && cp >= 0x300) {
        int px = x + used - 1;
        while (px > x && at(px, y).glyph.empty()) --px;
        cells_[index(px, y)].glyph += encode_utf8(cp);
      }
      continue;
    }
    if (used + w > limit) break;
    Cell& c = cells_[index(x + used, y)];
    c.glyph = encode_utf8(cp);
    c.style = style;
    if (w == 2) {
      Cell& c2 = cells_[index(x + used + 1, y)];
      c2.glyph.clear();
      c2.style = style;
    }
    used += w;
  }
  return used;
}

void Frame::box(const Rect& r, std::string_view title, const std::optional<std::string>& footer, Style border,
                Style title_style, Style footer_style) {
  if (r.width < 2 || r.height < 2) return;
  int right = r.x + r.width - 1;
  int bottom = r.y + r.height - 1;
  for (int x = r.x + 1; x < right; ++x) {
    put(x, r.y, "─", border, 1);
    put(x, bottom, "─", border, 1);
  }
  for (int y = r.y + 1; y < bottom; ++y) {
    put(r.x, y, "│", border, 1);
    put(right, y, "│", border, 1);
  }
  put(r.x, r.y, "┌", border, 1);
  put(right, r.y, "┐", border, 1);
  put(r.x, bottom, "└", border, 1);
  put(right, bottom, "┘", border, 1);
  int inner = r.width - 2;
  if (!title.empty()) put(r.x + 1, r.y, title, title_style, inner);
  if (footer && !footer->empty()) {
    int w = static_cast<int>(std::min<std::size_t>(display_width(*footer), static_cast<std::size_t>(inner)));
    put(right - w, bottom, *footer, footer_style, w);
  }
}

std::string Frame::line(int y) const {
  std::string s;
  for (int x = 0; x < width_; ++x) s += at(x, y).glyph;
  return s;
}

std::vector<std::string> Frame::lines() const {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(height_));
  for (int y = 0; y < height_; ++y) out.push_back(line(y));
  return out;
}

std::string sgr(const Style& style) {
  std::string s = "\x1b[0";
  if (style.bold) s += ";1";
  s += ";38;2;" + std::to_string(style.fg.r) + ";" + std::to_string(style.fg.g) + ";" + std::to_string(style.fg.b) +
       "m";
  return s;
}

std::string Frame::render() const {
  std::string out;
  for (int y = 0; y < height_; ++y) {
    out += "\x1b[" + std::to_string(y + 1) + ";1H";
    std::optional<Style> current;
    bool reset = true;
    for (int x = 0; x < width_; ++x) {
      const Cell& c = at(x, y);
      if (c.glyph.empty()) continue;
      if (c.style != current || (reset && c.style)) {
        out += c.style ? sgr(*c.style) : std::string("\x1b[0m");
        current = c.style;
        reset = false;
      }
      out += c.glyph;
    }
    out += "\x1b[0m";
  }
  return out;
}

}  // namespace stelvane::tui
