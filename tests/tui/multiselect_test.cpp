#include "tui/components/multiselect.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tui/components_test_util.hpp"
#include "tui/keys.hpp"

namespace stelvane::tui {
namespace {

using testframe::pad;
using testframe::rep;
using testframe::Row;

MultiSelectRow row(std::string label, bool selectable, bool preselected) {
  return MultiSelectRow{std::move(label), selectable, preselected};
}

struct KeyCase {
  const char* name;
  std::vector<std::string> keys;
  std::size_t cursor;
  std::vector<std::size_t> selection;
  std::string status;
  MultiSelectState::Outcome outcome;
};

// Rows: 0 selectable pre-selected, 1 unselectable "pre-selected", 2 selectable, 3 unselectable.
std::vector<MultiSelectRow> four_rows() {
  return {row("Claude Code [detected]", true, true), row("Cursor [not found]", false, true),
          row("Gemini CLI [detected]", true, false), row("Codex [not found]", false, false)};
}

TEST(MultiSelectStateTest, KeySequences) {
  using O = MultiSelectState::Outcome;
  const std::string msg = kAtLeastOneMessage;
  const KeyCase cases[] = {
      {"start: selectable pre-selected rows only, cursor on the first", {}, 0, {0}, "", O::Pending},
      {"down and up do not skip unselectable rows", {"down"}, 1, {0}, "", O::Pending},
      {"up wraps to the last row", {"up"}, 3, {0}, "", O::Pending},
      {"down wraps to the first row", {"up", "down"}, 0, {0}, "", O::Pending},
      {"j and k navigate", {"j", "j", "k"}, 1, {0}, "", O::Pending},
      {"space toggles", {"space", "down", "down", "space"}, 2, {2}, "", O::Pending},
      {"space on an unselectable row changes nothing", {"down", "space"}, 1, {0}, "", O::Pending},
      {"ctrl-a adds every selectable row", {"ctrl-a"}, 0, {0, 2}, "", O::Pending},
      {"ctrl-a then space unselects the cursor row", {"ctrl-a", "space"}, 0, {2}, "", O::Pending},
      {"enter with a selection confirms", {"ctrl-a", "enter"}, 0, {0, 2}, "", O::Confirmed},
      {"enter with nothing selected shows the status", {"space", "enter"}, 0, {}, msg, O::Pending},
      {"the status stays on enter and unrelated keys", {"space", "enter", "x", "enter", "tab"}, 0, {}, msg,
       O::Pending},
      {"the next navigation removes the status", {"space", "enter", "down"}, 1, {}, "", O::Pending},
      {"space removes the status", {"space", "enter", "space"}, 0, {0}, "", O::Pending},
      {"ctrl-a removes the status", {"space", "enter", "ctrl-a"}, 0, {0, 2}, "", O::Pending},
      {"esc cancels", {"esc"}, 0, {0}, "", O::Cancelled},
      {"ctrl-c cancels", {"ctrl-c"}, 0, {0}, "", O::Cancelled},
  };
  for (const auto& c : cases) {
    MultiSelectState st(four_rows(), true);
    O last = O::Pending;
    for (const auto& k : testkeys::keys(c.keys)) {
      last = st.handle(k);
      if (last != O::Pending) break;
    }
    EXPECT_EQ(st.cursor(), c.cursor) << c.name;
    EXPECT_EQ(st.selection(), c.selection) << c.name;
    EXPECT_EQ(st.status(), c.status) << c.name;
    EXPECT_EQ(last, c.outcome) << c.name;
  }
}

TEST(MultiSelectStateTest, EmptySelectionConfirmsWithoutTheAtLeastOneFlag) {
  MultiSelectState st(four_rows(), false);
  st.handle(Key::character(' '));
  EXPECT_EQ(st.handle(Key::of(KeyCode::Enter)), MultiSelectState::Outcome::Confirmed);
  EXPECT_TRUE(st.selection().empty());
  EXPECT_EQ(st.status(), "");
}

MultiSelectView install_view() {
  MultiSelectView v;
  v.title = "Select AI coding tools to install hooks for:";
  v.hint = "↑↓ navigate, Space toggle, Enter confirm, Esc cancel";
  v.at_least_one = true;
  v.rows = four_rows();
  return v;
}

TEST(MultiSelectFrameTest, RowsCarryMarkersCheckBoxesAndStyles) {
  MultiSelectView v = install_view();
  MultiSelectState st(v.rows, true);
  std::size_t scroll = 0;
  Frame f = draw_multi_select(v, st, scroll, 80, 24);
  // 4 rows + 1 status line + 1 hint line + 3 = 9 rows, centred in 24.
  const std::string l(16, ' ');
  // The hint is 52 columns: it wraps to two lines in 46, so the box is 10 high.
  auto hint = wrap_text(*v.hint, 46);
  ASSERT_EQ(hint.size(), 2u);
  std::vector<Row> expected = {
      {7, l + "┌Select AI coding tools to install hooks for:──┐"},
      {8, l + "│" + pad("> [x] Claude Code [detected]", 46) + "│"},
      {9, l + "│" + pad("  [ ] Cursor [not found]", 46) + "│"},
      {10, l + "│" + pad("  [ ] Gemini CLI [detected]", 46) + "│"},
      {11, l + "│" + pad("  [ ] Codex [not found]", 46) + "│"},
      {12, l + "│" + std::string(46, ' ') + "│"},
      {13, l + "│" + std::string(46, ' ') + "│"},
      {14, l + "│" + pad(hint[0], 46) + "│"},
      {15, l + "│" + pad(hint[1], 46) + "│"},
      {16, l + "└" + rep("─", 46) + "┘"},
  };
  EXPECT_EQ(testframe::non_empty_rows(f), expected);
  Theme t;
  EXPECT_EQ(f.at(17, 8).style, t.cursor_row);
  EXPECT_EQ(f.at(17, 9).style, t.unavailable_row);
  EXPECT_EQ(f.at(17, 10).style, t.normal_row);
  EXPECT_EQ(f.at(17, 14).style, t.hint);
}

TEST(MultiSelectFrameTest, StatusMessageAppearsBetweenListAndHint) {
  MultiSelectView v = install_view();
  v.hint = std::nullopt;
  MultiSelectState st(v.rows, true);
  st.handle(Key::character(' '));
  st.handle(Key::of(KeyCode::Enter));
  std::size_t scroll = 0;
  Frame f = draw_multi_select(v, st, scroll, 80, 24);
  auto rows = testframe::non_empty_rows(f);
  auto hint = wrap_text(kMultiSelectDefaultHint, 46);
  ASSERT_EQ(hint.size(), 2u);
  ASSERT_EQ(rows.size(), 4u + 1u + 2u + 3u);
  EXPECT_EQ(rows[5].text, std::string(16, ' ') + "│" + std::string(46, ' ') + "│");
  EXPECT_EQ(rows[6].text, std::string(16, ' ') + "│" + pad("Please select at least one tool", 46) + "│");
  EXPECT_EQ(rows[7].text, std::string(16, ' ') + "│" + pad(hint[0], 46) + "│");
  // A status longer than a line adds its lines to the box height.
  Frame narrow = draw_multi_select(v, st, scroll, 40, 24);
  auto nrows = testframe::non_empty_rows(narrow);
  EXPECT_EQ(nrows.size(), 4u + wrap_text(kAtLeastOneMessage, 22).size() + wrap_text(kMultiSelectDefaultHint, 22).size() + 3u);
}

TEST(MultiSelectFrameTest, TwentyRowsScrollWithTheCursor) {
  MultiSelectView v;
  v.title = "T";
  for (int i = 0; i < 20; ++i) v.rows.push_back(row("tool " + std::to_string(i), true, false));
  MultiSelectState st(v.rows, false);
  std::size_t scroll = 0;
  // Drawn after every key, as the component does: up wraps to 19, then up to 3.
  for (int i = 0; i < 17; ++i) {
    st.handle(Key::of(KeyCode::Up));
    draw_multi_select(v, st, scroll, 100, 40);
  }
  Frame f = draw_multi_select(v, st, scroll, 100, 40);
  auto rows = testframe::non_empty_rows(f);
  ASSERT_EQ(rows.size(), 15u + 1u + 1u + 3u);
  EXPECT_NE(rows[1].text.find("> [ ] tool 3"), std::string::npos) << rows[1].text;
  EXPECT_NE(rows[15].text.find("  [ ] tool 17"), std::string::npos) << rows[15].text;
}

TEST(MultiSelectTest, EmptyListReturnsAnEmptySelectionWithoutATerminal) {
  auto r = multi_select(MultiSelect<int>{});
  ASSERT_TRUE(r.has_value());
  EXPECT_TRUE(r->empty());
}

}  // namespace
}  // namespace stelvane::tui
