#pragma once
// The single-choice picker: a centred box with a list of items, one of which the
// user picks with the arrow keys (or k/j), a hot key, and Enter.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tui/frame.hpp"
#include "tui/terminal.hpp"
#include "tui/theme.hpp"

namespace stelvane::tui {

struct SelectItem {
  std::string label;
  std::uint64_t value = 0;              // returned when the item is chosen
  std::optional<char32_t> hot_key;      // matched ignoring ASCII letter case
  bool selectable = true;
};

inline constexpr const char* kSelectDefaultHint = "↑↓ navigate, Enter select, Esc cancel";

struct Select {
  std::vector<SelectItem> items;
  Theme theme;
  std::string title;
  std::optional<std::string> footer;
  std::optional<std::string> hint;  // default kSelectDefaultHint
  std::size_t initial_index = 0;
};

// Cursor movement and the outcome of each key, without any terminal.
class SelectState {
 public:
  enum class Outcome { Pending, Chosen, Cancelled };

  SelectState(const std::vector<SelectItem>& items, std::size_t initial_index);

  Outcome handle(const Key& key);
  std::size_t cursor() const { return cursor_; }

 private:
  void step(int direction);

  std::vector<bool> selectable_;
  std::vector<std::optional<char32_t>> hot_keys_;
  std::size_t cursor_ = 0;
};

// The screen of the picker for a terminal of `width` × `height`. `scroll` is the
// first visible list row; it is updated so the cursor row stays visible.
Frame draw_select(const Select& select, const SelectState& state, std::size_t& scroll, int width, int height);

// Shows the picker and returns the chosen item's value, or nothing when the user
// cancels (Esc, Ctrl+C). An empty item list returns nothing at once without
// touching the terminal. Throws Error on a terminal failure (the terminal is
// restored first).
std::optional<std::uint64_t> select(const Select& select);

// A picker of plain texts: returns the chosen text's position. `hint` replaces the
// default hint (confirmations put their explanation there).
std::optional<std::size_t> choose(const std::string& title, const std::vector<std::string>& choices,
                                  const std::optional<std::string>& hint = std::nullopt);

}  // namespace stelvane::tui
