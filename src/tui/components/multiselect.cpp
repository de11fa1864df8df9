#include "tui/components/multiselect.hpp"

#include "tui/picker_layout.hpp"

namespace stelvane::tui {

MultiSelectState::MultiSelectState(const std::vector<MultiSelectRow>& rows, bool at_least_one)
    : at_least_one_(at_least_one) {
  for (const auto& row : rows) {
    selectable_.push_back(row.selectable);
    selected_.push_back(row.selectable && row.preselected);
  }
}

std::vector<std::size_t> MultiSelectState::selection() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < selected_.size(); ++i)
    if (selected_[i]) out.push_back(i);
  return out;
}

MultiSelectState::Outcome MultiSelectState::handle(const Key& key) {
  std::size_t n = selectable_.size();
  if (key.code == KeyCode::Esc || key.is_ctrl('c')) return Outcome::Cancelled;
  if (key.code == KeyCode::Enter) {
    if (selection().empty() && at_least_one_) {
      status_ = kAtLeastOneMessage;
      return Outcome::Pending;
    }
    return Outcome::Confirmed;
  }
  if (n == 0) return Outcome::Pending;
  if (key.code == KeyCode::Up || key.is_char('k')) {
    cursor_ = (cursor_ + n - 1) % n;
  } else if (key.code == KeyCode::Down || key.is_char('j')) {
    cursor_ = (cursor_ + 1) % n;
  } else if (key.is_char(' ')) {
    if (selectable_[cursor_]) selected_[cursor_] = !selected_[cursor_];
  } else if (key.is_ctrl('a')) {
    for (std::size_t i = 0; i < n; ++i)
      if (selectable_[i]) selected_[i] = true;
  } else {
    return Outcome::Pending;  // not a key of this picker: the status stays
  }
  status_.clear();
  return Outcome::Pending;
}

Frame draw_multi_select(const MultiSelectView& view, const MultiSelectState& state, std::size_t& scroll, int width,
                        int height) {
  const Theme& t = view.theme;
  std::string hint = view.hint.value_or(kMultiSelectDefaultHint);
  Frame f(width, height);
  PickerLayout l = picker_layout(width, height, view.rows.size(), hint, true, state.status());
  f.box(l.box, view.title, view.footer, t.border, t.title, t.hint);

  auto rows = static_cast<std::size_t>(l.list.height);
  scroll = scroll_offset(scroll, state.cursor(), rows, view.rows.size());
  for (std::size_t r = 0; r < rows && scroll + r < view.rows.size(); ++r) {
    std::size_t i = scroll + r;
    const MultiSelectRow& row = view.rows[i];
    bool on_cursor = i == state.cursor();
    Style style = !row.selectable ? t.unavailable_row : on_cursor ? t.cursor_row : t.normal_row;
    std::string text = std::string(on_cursor ? ">" : " ") + " " + (state.is_selected(i) ? "[x]" : "[ ]") + " " + row.label;
    f.put(l.list.x, l.list.y + static_cast<int>(r), text, style, l.list.width);
  }
  for (std::size_t i = 0; i < l.status_lines.size(); ++i)
    f.put(l.list.x, l.status_y + static_cast<int>(i), l.status_lines[i], t.warning, l.list.width);
  for (std::size_t i = 0; i < l.hint_lines.size(); ++i)
    f.put(l.list.x, l.hint_y + static_cast<int>(i), l.hint_lines[i], t.hint, l.list.width);
  return f;
}

std::optional<std::vector<std::size_t>> multi_select_rows(const MultiSelectView& view) {
  if (view.rows.empty()) return std::vector<std::size_t>{};
  MultiSelectState state(view.rows, view.at_least_one);
  std::size_t scroll = 0;
  std::optional<std::vector<std::size_t>> result;
  run_component([&](int w, int h) { return draw_multi_select(view, state, scroll, w, h); },
                [&](const Key& key) {
                  switch (state.handle(key)) {
                    case MultiSelectState::Outcome::Confirmed:
                      result = state.selection();
                      return true;
                    case MultiSelectState::Outcome::Cancelled: return true;
                    case MultiSelectState::Outcome::Pending: return false;
                  }
                  return false;
                });
  return result;
}

}  // namespace stelvane::tui
