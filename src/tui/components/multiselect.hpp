#pragma once
// The multi-choice picker: a centred box with a check list; Space toggles the
// cursor item, Ctrl+A selects every selectable item, Enter confirms.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tui/frame.hpp"
#include "tui/terminal.hpp"
#include "tui/theme.hpp"

namespace stelvane::tui {

inline constexpr const char* kMultiSelectDefaultHint = "↑↓ navigate, Space toggle, Enter submit, Esc cancel";
inline constexpr const char* kAtLeastOneMessage = "Please select at least one tool";

template <class T>
struct MultiSelectItem {
  std::string label;
  T value;  // handed back when the item is selected
  bool selectable = true;
  bool preselected = false;
};

// One row as the picker sees it (the caller's value stays with the caller).
struct MultiSelectRow {
  std::string label;
  bool selectable = true;
  bool preselected = false;
};

struct MultiSelectView {
  std::vector<MultiSelectRow> rows;
  Theme theme;
  std::string title;
  std::optional<std::string> footer;
  std::optional<std::string> hint;  // default kMultiSelectDefaultHint
  bool at_least_one = false;         // refuse to confirm an empty selection
};

template <class T>
struct MultiSelect {
  std::vector<MultiSelectItem<T>> items;
  Theme theme;
  std::string title;
  std::optional<std::string> footer;
  std::optional<std::string> hint;
  bool at_least_one = false;
};

// Cursor, selection and status message, and the outcome of each key.
class MultiSelectState {
 public:
  enum class Outcome { Pending, Confirmed, Cancelled };

  MultiSelectState(const std::vector<MultiSelectRow>& rows, bool at_least_one);

  Outcome handle(const Key& key);
  std::size_t cursor() const { return cursor_; }
  bool is_selected(std::size_t i) const { return selected_[i]; }
  // Positions of the selected rows in row order.
  std::vector<std::size_t> selection() const;
  const std::string& status() const { return status_; }

 private:
  std::vector<bool> selectable_;
  std::vector<bool> selected_;
  std::size_t cursor_ = 0;
  bool at_least_one_;
  std::string status_;
};

Frame draw_multi_select(const MultiSelectView& view, const MultiSelectState& state, std::size_t& scroll, int width,
                        int height);

// Shows the picker; returns the positions of the selected rows in row order, or
// nothing when cancelled. An empty row list returns an empty list at once without
// touching the terminal. Throws Error on a terminal failure.
std::optional<std::vector<std::size_t>> multi_select_rows(const MultiSelectView& view);

// Shows the picker; returns the values of the selected items in item order.
template <class T>
std::optional<std::vector<T>> multi_select(const MultiSelect<T>& ms) {
  MultiSelectView view{{}, ms.theme, ms.title, ms.footer, ms.hint, ms.at_least_one};
  for (const auto& item : ms.items) view.rows.push_back(MultiSelectRow{item.label, item.selectable, item.preselected});
  auto chosen = multi_select_rows(view);
  if (!chosen) return std::nullopt;
  std::vector<T> values;
  for (std::size_t i : *chosen) values.push_back(ms.items[i].value);
  return values;
}

}  // namespace stelvane::tui
