#include "tui/components/select.hpp"

#include <algorithm>

#include "tui/picker_layout.hpp"

namespace stelvane::tui {

namespace {

char32_t ascii_lower(char32_t c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

}  // namespace

SelectState::SelectState(const std::vector<SelectItem>& items, std::size_t initial_index) {
  for (const auto& item : items) {
    selectable_.push_back(item.selectable);
    hot_keys_.push_back(item.hot_key);
  }
  if (!items.empty()) cursor_ = std::min(initial_index, items.size() - 1);
}

void SelectState::step(int direction) {
  std::size_t n = selectable_.size();
  if (n == 0) return;
  std::size_t pos = cursor_;
  for (std::size_t i = 0; i < n; ++i) {
    pos = direction > 0 ? (pos + 1) % n : (pos + n - 1) % n;
    if (selectable_[pos]) {
      cursor_ = pos;
      return;
    }
  }
}

SelectState::Outcome SelectState::handle(const Key& key) {
  if (key.code == KeyCode::Up || key.is_char('k')) {
    step(-1);
  } else if (key.code == KeyCode::Down || key.is_char('j')) {
    step(+1);
  } else if (key.code == KeyCode::Enter) {
    if (cursor_ < selectable_.size() && selectable_[cursor_]) return Outcome::Chosen;
  } else if (key.code == KeyCode::Esc || key.is_ctrl('c')) {
    return Outcome::Cancelled;
  } else if (key.code == KeyCode::Char && !key.ctrl) {
    for (std::size_t i = 0; i < selectable_.size(); ++i) {
      if (selectable_[i] && hot_keys_[i] && ascii_lower(*hot_keys_[i]) == ascii_lower(key.ch)) {
        cursor_ = i;
        break;
      }
    }
  }
  return Outcome::Pending;
}

Frame draw_select(const Select& select, const SelectState& state, std::size_t& scroll, int width, int height) {
  const Theme& t = select.theme;
  std::string hint = select.hint.value_or(kSelectDefaultHint);
  Frame f(width, height);
  PickerLayout l = picker_layout(width, height, select.items.size(), hint, false, "");
  f.box(l.box, select.title, select.footer, t.border, t.title, t.hint);

  auto rows = static_cast<std::size_t>(l.list.height);
  scroll = scroll_offset(scroll, state.cursor(), rows, select.items.size());
  for (std::size_t r = 0; r < rows && scroll + r < select.items.size(); ++r) {
    std::size_t i = scroll + r;
    const SelectItem& item = select.items[i];
    bool on_cursor = i == state.cursor();
    Style style = !item.selectable ? t.unavailable_row : on_cursor ? t.cursor_row : t.normal_row;
    std::string text = (on_cursor ? "> " : "  ") + item.label;
    f.put(l.list.x, l.list.y + static_cast<int>(r), text, style, l.list.width);
  }
  for (std::size_t i = 0; i < l.hint_lines.size(); ++i)
    f.put(l.list.x, l.hint_y + static_cast<int>(i), l.hint_lines[i], t.hint, l.list.width);
  return f;
}

std::optional<std::uint64_t> select(const Select& select) {
  if (select.items.empty()) return std::nullopt;
  SelectState state(select.items, select.initial_index);
  std::size_t scroll = 0;
  std::optional<std::uint64_t> result;
  run_component([&](int w, int h) { return draw_select(select, state, scroll, w, h); },
                [&](const Key& key) {
                  switch (state.handle(key)) {
                    case SelectState::Outcome::Chosen:
                      result = select.items[state.cursor()].value;
                      return true;
                    case SelectState::Outcome::Cancelled: return true;
                    case SelectState::Outcome::Pending: return false;
                  }
                  return false;
                });
  return result;
}

std::optional<std::size_t> choose(const std::string& title, const std::vector<std::string>& choices,
                                  const std::optional<std::string>& hint) {
  Select s;
  s.title = title;
  s.hint = hint;
  for (std::size_t i = 0; i < choices.size(); ++i) s.items.push_back(SelectItem{choices[i], i, std::nullopt, true});
  auto chosen = select(s);
  if (!chosen) return std::nullopt;
  return static_cast<std::size_t>(*chosen);
}

}  // namespace stelvane::tui
