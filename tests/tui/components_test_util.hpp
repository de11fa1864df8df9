#pragma once
// Helpers for checking drawn component frames as text.

#include <string>
#include <vector>

#include "tui/frame.hpp"

namespace stelvane::tui::testframe {

// The rows of the frame with their trailing spaces removed.
inline std::vector<std::string> trimmed(const Frame& f) {
  std::vector<std::string> out;
  for (auto line : f.lines()) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// Rows that contain anything other than spaces, with their index.
struct Row {
  int y;
  std::string text;
  friend bool operator==(const Row&, const Row&) = default;
};
inline std::vector<Row> non_empty_rows(const Frame& f) {
  std::vector<Row> out;
  auto lines = trimmed(f);
  for (std::size_t y = 0; y < lines.size(); ++y)
    if (!lines[y].empty()) out.push_back({static_cast<int>(y), lines[y]});
  return out;
}

// n copies of s.
inline std::string rep(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

inline std::string pad(const std::string& s, int width) {
  return s + std::string(static_cast<std::size_t>(width - static_cast<int>(display_width(s))), ' ');
}

// The column at which the first cell of `needle` appears in row y, or -1.
inline int column_of(const Frame& f, int y, const std::string& needle) {
  std::string line;
  for (int x = 0; x < f.width(); ++x) {
    std::string rest;
    for (int k = x; k < f.width(); ++k) rest += f.at(k, y).glyph;
    if (rest.rfind(needle, 0) == 0) return x;
  }
  return -1;
}

}  // namespace stelvane::tui::testframe
