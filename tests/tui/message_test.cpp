#include "tui/components/message.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tui/components_test_util.hpp"

namespace stelvane::tui {
namespace {

using testframe::pad;
using testframe::rep;
using testframe::Row;

TEST(MessageBoxFrameTest, HalfWidthBoxWithWrappedMessageAndPrompt) {
  const std::string msg = "Hooks installed successfully! Your AI coding tools will now use stelvane.";
  Frame f = draw_message_box(Theme{}, " Installation Complete ", msg, kMessageSuccess, 80, 24);
  // 50 % of 80 = 40 columns, 20 on each side; the message wraps to 38 columns.
  auto lines = wrap_text(msg, 38);
  ASSERT_EQ(lines.size(), 2u);
  const std::string l(20, ' ');
  std::vector<Row> expected = {
      {9, l + "┌ Installation Complete " + rep("─", 15) + "┐"},
      {10, l + "│" + pad(lines[0], 38) + "│"},
      {11, l + "│" + pad(lines[1], 38) + "│"},
      {12, l + "│" + std::string(38, ' ') + "│"},
      {13, l + "│" + pad("Press any key to continue", 38) + "│"},
      {14, l + "└" + rep("─", 38) + "┘"},
  };
  EXPECT_EQ(testframe::non_empty_rows(f), expected);
  Theme t;
  EXPECT_EQ(f.at(20, 9).style, t.success);
  EXPECT_EQ(f.at(21, 9).style, t.success);
  EXPECT_EQ(f.at(21, 10).style, t.success);
  EXPECT_EQ(f.at(21, 13).style, t.hint);
}

TEST(MessageBoxFrameTest, OtherKindsUseTheWarningStyle) {
  for (int kind : {0, 1, 3}) {
    Frame f = draw_message_box(Theme{}, "T", "careful", kind, 80, 24);
    auto rows = testframe::non_empty_rows(f);
    ASSERT_EQ(rows.size(), 5u);
    int x = testframe::column_of(f, rows[1].y, "careful");
    EXPECT_EQ(f.at(x, rows[1].y).style, Theme{}.warning) << kind;
    EXPECT_EQ(f.at(20, rows[0].y).style, Theme{}.warning) << kind;
  }
}

TEST(MessageBoxFrameTest, ShortTerminalKeepsThePromptOnTheLastInnerRow) {
  std::string msg;
  for (int i = 0; i < 30; ++i) msg += "word" + std::to_string(i) + " ";
  Frame f = draw_message_box(Theme{}, "T", msg, kMessageSuccess, 80, 10);
  auto rows = testframe::non_empty_rows(f);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_NE(rows[6].text.find(kPressAnyKey), std::string::npos) << rows[6].text;
}

}  // namespace
}  // namespace stelvane::tui
