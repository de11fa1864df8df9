#include "tui/frame.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stelvane::tui {
namespace {

TEST(DisplayWidthTest, CountsColumnsNotBytes) {
  EXPECT_EQ(display_width("abc"), 3u);
  EXPECT_EQ(display_width("↑↓ ─│┌"), 6u);
  EXPECT_EQ(display_width("日本"), 4u);
  EXPECT_EQ(display_width("e\xcc\x81"), 1u);  // e + combining acute
}

struct WrapCase {
  const char* text;
  std::size_t width;
  std::vector<std::string> lines;
};

TEST(WrapTextTest, WrapsAtSpacesByDisplayColumns) {
  const WrapCase cases[] = {
      {"", 10, {}},
      {"short", 10, {"short"}},
      {"one two three", 7, {"one two", "three"}},
      {"one two three", 8, {"one two", "three"}},
      // Arrows are three bytes but one column: both words fit in 7 columns.
      {"↑↓ ab ↑↓", 8, {"↑↓ ab ↑↓"}},
      {"↑↓ ab ↑↓", 7, {"↑↓ ab", "↑↓"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"first\nsecond line", 6, {"first", "second", "line"}},
      {"a\n\nb", 5, {"a", "", "b"}},
      {"日本語", 4, {"日本", "語"}},
  };
  for (const auto& c : cases) EXPECT_EQ(wrap_text(c.text, c.width), c.lines) << c.text << " @" << c.width;
}

TEST(FrameTest, BoxCarriesTitleLeftAndFooterRight) {
  Frame f(12, 3);
  Style s{};
  f.box(Rect{0, 0, 12, 3}, "Ti", std::string("v1"), s, s, s);
  EXPECT_EQ(f.lines(), (std::vector<std::string>{"┌Ti────────┐", "│          │", "└────────v1┘"}));
}

TEST(FrameTest, TextIsCutAtTheGivenWidthAndWideCharactersTakeTwoCells) {
  Frame f(6, 1);
  EXPECT_EQ(f.put(0, 0, "日本語", std::nullopt, 5), 4);
  EXPECT_EQ(f.line(0), "日本  ");
  Frame g(4, 1);
  EXPECT_EQ(g.put(1, 0, "abcdef", std::nullopt, 10), 3);
  EXPECT_EQ(g.line(0), " abc");
}

TEST(FrameTest, RenderSelectsTruecolorStyles) {
  Frame f(3, 1);
  f.put(0, 0, "ab", Style{{0x22, 0xD3, 0xEE}, true}, 2);
  std::string out = f.render();
  EXPECT_NE(out.find("\x1b[0;1;38;2;34;211;238mab"), std::string::npos) << out;
  EXPECT_EQ(out.rfind("\x1b[1;1H", 0), 0u);
}

TEST(CenteredTest, SplitsTheRemainderEvenly) {
  Rect r = centered(80, 24, percent_of(80, 60), 7);
  EXPECT_EQ(r.x, 16);
  EXPECT_EQ(r.width, 48);
  EXPECT_EQ(r.y, 8);
  EXPECT_EQ(percent_of(100, 60), 60);
  EXPECT_EQ(percent_of(100, 50), 50);
}

}  // namespace
}  // namespace stelvane::tui
