#include "tui/components/message.hpp"

#include <algorithm>

#include "tui/picker_layout.hpp"

namespace stelvane::tui {

Frame draw_message_box(const Theme& theme, const std::string& title, const std::string& message, int kind, int width,
                       int height) {
  Style style = kind == kMessageSuccess ? theme.success : theme.warning;
  Frame f(width, height);
  int box_w = percent_of(width, 50);
  int inner_w = std::max(box_w - 2, 0);
  auto lines = wrap_text(message, static_cast<std::size_t>(std::max(inner_w, 1)));
  int box_h = std::min(height - 2, static_cast<int>(lines.size()) + 4);
  Rect box = centered(width, height, box_w, std::max(box_h, 0));
  f.box(box, title, std::nullopt, style, style, theme.hint);
  int inner_h = std::max(box.height - 2, 0);
  if (inner_h == 0) return f;
  int x = box.x + 1;
  int y = box.y + 1;
  // The last inner row holds the prompt; the message fills what is above it,
  // leaving one empty row between them when there is room.
  int message_rows = std::max(inner_h - 2, 0);
  for (int i = 0; i < message_rows && static_cast<std::size_t>(i) < lines.size(); ++i)
    f.put(x, y + i, lines[static_cast<std::size_t>(i)], style, inner_w);
  f.put(x, y + inner_h - 1, kPressAnyKey, theme.hint, inner_w);
  return f;
}

void message_box(const std::string& title, const std::string& message, int kind) {
  Theme theme;
  run_component([&](int w, int h) { return draw_message_box(theme, title, message, kind, w, h); },
                [](const Key&) { return true; });
}

}  // namespace stelvane::tui
