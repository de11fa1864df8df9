#pragma once
// Geometry shared by the pickers: the centred box, the list with its scrolling
// window, the status area and the hint paragraph.

#include <cstddef>
#include <string>
#include <vector>

#include "tui/frame.hpp"
#include "tui/terminal.hpp"

namespace stelvane::tui {

// At most this many list rows are visible at once.
inline constexpr std::size_t kMaxVisibleRows = 15;

struct PickerLayout {
  Rect box;
  Rect list;                             // list rows
  int status_y = 0;                      // first row of the status area
  std::vector<std::string> status_lines;  // wrapped status (drawn lines only)
  int hint_y = 0;
  std::vector<std::string> hint_lines;   // wrapped hint (drawn lines only)
};

// Lays the picker out in a screen of `width` × `height`. `status` is only used by
// pickers with a status area (`has_status`): it takes as many lines as the wrapped
// status needs, one empty line when the status is empty.
PickerLayout picker_layout(int width, int height, std::size_t item_count, const std::string& hint, bool has_status,
                           const std::string& status);

// Keeps `cursor` inside the window of `rows` list rows starting at `offset`.
std::size_t scroll_offset(std::size_t offset, std::size_t cursor, std::size_t rows, std::size_t item_count);

// Runs the component loop on a fresh terminal session: draw, wait for an event,
// hand key presses to `on_key` until it returns true. Other events only redraw.
template <class DrawFn, class KeyFn>
void run_component(DrawFn&& draw, KeyFn&& on_key) {
  Session session;
  for (;;) {
    session.draw(draw(session.width(), session.height()));
    Event ev = session.next_event();
    if (ev.kind == Event::Kind::Key && on_key(ev.key)) return;
  }
}

}  // namespace stelvane::tui
