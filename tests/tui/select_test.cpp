#include "tui/components/select.hpp"

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

SelectItem item(std::string label, bool selectable = true, std::optional<char32_t> hot = std::nullopt) {
  return SelectItem{std::move(label), 0, hot, selectable};
}

struct KeyCase {
  const char* name;
  std::vector<SelectItem> items;
  std::size_t initial;
  std::vector<std::string> keys;
  std::size_t cursor;
  SelectState::Outcome outcome;
};

TEST(SelectStateTest, KeySequences) {
  using O = SelectState::Outcome;
  std::vector<SelectItem> skip2 = {item("a", false), item("b", false), item("c"), item("d"), item("e")};
  std::vector<SelectItem> hot = {item("Yes", true, U'y'), item("No", true, U'n'), item("Off", false, U'o'),
                                 item("Other", true, U'O')};
  std::vector<SelectItem> none = {item("a", false), item("b", false)};
  const KeyCase cases[] = {
      {"down skips unselectable items", skip2, 0, {"down"}, 2, O::Pending},
      {"enter on an unselectable item does nothing", skip2, 0, {"enter"}, 0, O::Pending},
      {"j moves down, k moves up", skip2, 2, {"j", "j", "k"}, 3, O::Pending},
      {"up wraps from the first selectable to the last", skip2, 2, {"up"}, 4, O::Pending},
      {"down wraps from the last to the first selectable", skip2, 4, {"down"}, 2, O::Pending},
      {"enter chooses a selectable item", skip2, 0, {"down", "down", "enter"}, 3, O::Chosen},
      {"esc cancels", skip2, 3, {"esc"}, 3, O::Cancelled},
      {"ctrl-c cancels", skip2, 3, {"ctrl-c"}, 3, O::Cancelled},
      {"hot key moves without choosing", hot, 0, {"n"}, 1, O::Pending},
      {"upper-case hot key finds the lower-case one", hot, 0, {"N"}, 1, O::Pending},
      {"lower-case key finds an upper-case hot key, skipping unselectable", hot, 0, {"o"}, 3, O::Pending},
      {"unknown character changes nothing", hot, 1, {"z", "space", "tab", "left"}, 1, O::Pending},
      {"hot key then enter chooses", hot, 0, {"N", "enter"}, 1, O::Chosen},
      {"no selectable item: the cursor stays", none, 1, {"down", "up", "enter"}, 1, O::Pending},
      {"initial index is clamped to the last item", skip2, 99, {}, 4, O::Pending},
  };
  for (const auto& c : cases) {
    SelectState st(c.items, c.initial);
    O last = O::Pending;
    for (const auto& k : testkeys::keys(c.keys)) {
      last = st.handle(k);
      if (last != O::Pending) break;
    }
    EXPECT_EQ(st.cursor(), c.cursor) << c.name;
    EXPECT_EQ(last, c.outcome) << c.name;
  }
}

Select three_items() {
  Select s;
  s.title = "Pick one";
  s.items = {item("Alpha"), item("Beta", false), item("Gamma")};
  return s;
}

TEST(SelectFrameTest, BoxIsCentredWithRowsAndHint) {
  Select s = three_items();
  SelectState st(s.items, 0);
  std::size_t scroll = 0;
  Frame f = draw_select(s, st, scroll, 80, 24);
  // 60 % of 80 columns, 16 on each side; 3 rows + 1 hint line + 3 = 7 rows high.
  const std::string l(16, ' ');
  std::vector<Row> expected = {
      {8, l + "┌Pick one" + rep("─", 38) + "┐"},
      {9, l + "│" + pad("> Alpha", 46) + "│"},
      {10, l + "│" + pad("  Beta", 46) + "│"},
      {11, l + "│" + pad("  Gamma", 46) + "│"},
      {12, l + "│" + std::string(46, ' ') + "│"},
      {13, l + "│" + pad("↑↓ navigate, Enter select, Esc cancel", 46) + "│"},
      {14, l + "└" + rep("─", 46) + "┘"},
  };
  EXPECT_EQ(testframe::non_empty_rows(f), expected);

  Theme t;
  EXPECT_EQ(f.at(16, 8).style, t.border);
  EXPECT_EQ(f.at(17, 8).style, t.title);
  EXPECT_EQ(f.at(17, 9).style, t.cursor_row);
  EXPECT_EQ(f.at(19, 10).style, t.unavailable_row);
  EXPECT_EQ(f.at(19, 11).style, t.normal_row);
  EXPECT_EQ(f.at(17, 13).style, t.hint);
}

TEST(SelectFrameTest, UnavailableStyleWinsOnTheCursorRow) {
  Select s = three_items();
  SelectState st(s.items, 1);
  std::size_t scroll = 0;
  Frame f = draw_select(s, st, scroll, 80, 24);
  EXPECT_EQ(testframe::trimmed(f)[10], std::string(16, ' ') + "│" + pad("> Beta", 46) + "│");
  EXPECT_EQ(f.at(17, 10).style, Theme{}.unavailable_row);
}

TEST(SelectFrameTest, FooterIsRightAlignedInTheBottomBorder) {
  Select s = three_items();
  s.footer = "v1.0.8";
  SelectState st(s.items, 0);
  std::size_t scroll = 0;
  Frame f = draw_select(s, st, scroll, 80, 24);
  EXPECT_EQ(testframe::trimmed(f)[14], std::string(16, ' ') + "└" + rep("─", 40) + "v1.0.8┘");
  EXPECT_EQ(f.at(57, 14).style, Theme{}.hint);
}

TEST(SelectFrameTest, TwentyItemsShowFifteenRowsAndScrollWithTheCursor) {
  Select s;
  s.title = "Many";
  for (int i = 0; i < 20; ++i) s.items.push_back(item("item " + std::to_string(i)));
  SelectState st(s.items, 0);
  std::size_t scroll = 0;
  Frame f = draw_select(s, st, scroll, 100, 40);
  auto rows = testframe::non_empty_rows(f);
  // 15 rows + 1 hint + 3.
  ASSERT_EQ(rows.size(), 19u);
  EXPECT_NE(rows[15].text.find("item 14"), std::string::npos);
  for (int i = 0; i < 15; ++i) st.handle(Key::of(KeyCode::Down));
  f = draw_select(s, st, scroll, 100, 40);
  rows = testframe::non_empty_rows(f);
  EXPECT_NE(rows[1].text.find("  item 1 "), std::string::npos) << rows[1].text;
  EXPECT_NE(rows[15].text.find("> item 15"), std::string::npos) << rows[15].text;
  // Wrapping to the first item scrolls back to the top.
  for (int i = 0; i < 5; ++i) st.handle(Key::of(KeyCode::Down));
  f = draw_select(s, st, scroll, 100, 40);
  rows = testframe::non_empty_rows(f);
  EXPECT_NE(rows[1].text.find("> item 0"), std::string::npos) << rows[1].text;
}

TEST(SelectFrameTest, ShortTerminalLimitsTheBoxAndKeepsTheCursorVisible) {
  Select s;
  s.title = "Short";
  for (int i = 0; i < 12; ++i) s.items.push_back(item("row " + std::to_string(i)));
  SelectState st(s.items, 11);
  std::size_t scroll = 0;
  Frame f = draw_select(s, st, scroll, 80, 10);
  auto rows = testframe::non_empty_rows(f);
  ASSERT_EQ(rows.size(), 8u);  // 10 rows - 2
  EXPECT_EQ(rows.front().y, 1);
  EXPECT_NE(rows.front().text.find("┌Short"), std::string::npos);
  EXPECT_NE(rows.back().text.find("└"), std::string::npos);
  bool cursor_shown = false;
  for (const auto& r : rows) cursor_shown |= r.text.find("> row 11") != std::string::npos;
  EXPECT_TRUE(cursor_shown);
  EXPECT_NE(rows[rows.size() - 2].text.find("↑↓ navigate"), std::string::npos);
}

TEST(SelectFrameTest, LongHintIsWrappedAndGrowsTheBox) {
  Select s = three_items();
  s.hint = "This removes every hook, the configuration and the data directory of the program. Continue?";
  SelectState st(s.items, 0);
  std::size_t scroll = 0;
  Frame f = draw_select(s, st, scroll, 80, 24);
  auto lines = wrap_text(*s.hint, 46);
  ASSERT_EQ(lines.size(), 2u);
  auto rows = testframe::non_empty_rows(f);
  ASSERT_EQ(rows.size(), 3u + 2u + 3u);
  EXPECT_EQ(rows[5].text, std::string(16, ' ') + "│" + pad(lines[0], 46) + "│");
  EXPECT_EQ(rows[6].text, std::string(16, ' ') + "│" + pad(lines[1], 46) + "│");
}

TEST(SelectTest, EmptyListReturnsNothingWithoutATerminal) {
  // Standard input is not a terminal here: touching it would throw.
  EXPECT_EQ(select(Select{}), std::nullopt);
  EXPECT_EQ(choose("t", {}), std::nullopt);
}

}  // namespace
}  // namespace stelvane::tui
