#include "tui/picker_layout.hpp"

#include <algorithm>

namespace stelvane::tui {

PickerLayout picker_layout(int width, int height, std::size_t item_count, const std::string& hint, bool has_status,
                           const std::string& status) {
  PickerLayout l;
  int box_w = percent_of(width, 60);
  int inner_w = std::max(box_w - 2, 0);
  auto hint_lines = wrap_text(hint, static_cast<std::size_t>(std::max(inner_w, 1)));
  int hint_n = std::max<int>(static_cast<int>(hint_lines.size()), 1);
  std::vector<std::string> status_lines;
  int status_n = 0;
  if (has_status) {
    status_lines = wrap_text(status, static_cast<std::size_t>(std::max(inner_w, 1)));
    status_n = std::max<int>(static_cast<int>(status_lines.size()), 1);
  }
  int visible = static_cast<int>(std::min(item_count, kMaxVisibleRows));
  int box_h = std::min(height - 2, visible + hint_n + status_n + 3);
  l.box = centered(width, height, box_w, std::max(box_h, 0));

  int inner_x = l.box.x + 1;
  int inner_y = l.box.y + 1;
  int inner_h = std::max(l.box.height - 2, 0);
  // A small screen shrinks the list first (it scrolls), then the gap above the
  // status and hint, and only then the hint itself.
  int bottom = status_n + hint_n;
  int gap = 1;
  int list_h = inner_h - gap - bottom;
  if (list_h < 1) {
    gap = 0;
    list_h = inner_h - bottom;
  }
  if (list_h < 1) list_h = std::min(1, inner_h);
  list_h = std::min(list_h, visible);
  l.list = Rect{inner_x, inner_y, inner_w, list_h};

  int y = inner_y + list_h + gap;
  int inner_end = inner_y + inner_h;
  l.status_y = y;
  for (int i = 0; i < status_n && y < inner_end; ++i, ++y) {
    if (static_cast<std::size_t>(i) < status_lines.size()) l.status_lines.push_back(status_lines[static_cast<std::size_t>(i)]);
  }
  l.hint_y = y;
  for (std::size_t i = 0; i < hint_lines.size() && y < inner_end; ++i, ++y) l.hint_lines.push_back(hint_lines[i]);
  return l;
}

std::size_t scroll_offset(std::size_t offset, std::size_t cursor, std::size_t rows, std::size_t item_count) {
  if (rows == 0) return 0;
  if (cursor < offset) offset = cursor;
  if (cursor >= offset + rows) offset = cursor + 1 - rows;
  if (item_count >= rows) offset = std::min(offset, item_count - rows);
  else offset = 0;
  return offset;
}

}  // namespace stelvane::tui
