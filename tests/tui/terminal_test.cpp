#include "tui/terminal.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/error.hpp"
#include "tui/keys.hpp"

namespace stelvane::tui {
namespace {

using testkeys::key;

Event k(const std::string& name) { return Event{Event::Kind::Key, key(name)}; }
Event mouse() { return Event{Event::Kind::Mouse, {}}; }
Event other_key() { return Event{Event::Kind::Key, Key::of(KeyCode::Other)}; }

std::vector<Event> decode_all(std::string bytes) {
  std::vector<Event> out;
  while (auto ev = decode_event(bytes, true)) out.push_back(*ev);
  return out;
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::vector<Event> events;
};

TEST(DecodeEventTest, DecodesWhatTerminalsSend) {
  const DecodeCase cases[] = {
      {"arrows, normal cursor keys", "\x1b[A\x1b[B\x1b[C\x1b[D", {k("up"), k("down"), k("right"), k("left")}},
      {"arrows, application cursor keys", "\x1bOA\x1bOB", {k("up"), k("down")}},
      {"arrow with modifier", "\x1b[1;5A", {k("up")}},
      {"enter as CR and as LF", "\r\n", {k("enter"), k("enter")}},
      {"lone escape", "\x1b", {k("esc")}},
      {"double escape", "\x1b\x1b", {k("esc"), k("esc")}},
      {"control keys", "\x01\x03", {k("ctrl-a"), k("ctrl-c")}},
      {"space and letters", " kJ", {k("space"), k("k"), k("J")}},
      {"multi-byte character", "\xc3\xa9", {Event{Event::Kind::Key, Key::character(0xE9)}}},
      {"tab", "\t", {k("tab")}},
      {"SGR mouse press and release", "\x1b[<0;10;5M\x1b[<0;10;5m", {mouse(), mouse()}},
      {"urxvt mouse", "\x1b[32;10;5M", {mouse()}},
      {"X10 mouse", std::string("\x1b[M") + "\x20\x21\x22", {mouse()}},
      {"function key then letter", "\x1b[15~j", {other_key(), k("j")}},
      {"escape then unfinished CSI at the end", "\x1b[", {k("esc"), k("[")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decode_all(c.bytes), c.events) << c.name;
  }
}

TEST(DecodeEventTest, IncompleteSequencesWaitForMoreUnlessFinal) {
  for (std::string partial : {"\x1b", "\x1b[", "\x1bO", "\x1b[1;5", "\x1b[<0;1", "\xe2\x86"}) {
    std::string buf = partial;
    EXPECT_FALSE(decode_event(buf, false).has_value()) << partial;
    EXPECT_EQ(buf, partial) << "nothing consumed";
  }
  // The rest arriving later completes the sequence.
  std::string buf = "\x1b";
  ASSERT_FALSE(decode_event(buf, false));
  buf += "[B";
  EXPECT_EQ(decode_event(buf, false), k("down"));
  EXPECT_TRUE(buf.empty());
}

TEST(SessionTest, RefusesWhenStandardInputIsNotATerminal) {
  // The test runner's standard input is not a terminal under ctest; make sure.
  if (isatty(0)) GTEST_SKIP() << "standard input is a terminal";
  try {
    Session s;
    FAIL() << "session started without a terminal";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Unable to set up the terminal");
    ASSERT_FALSE(e.causes().empty());
    EXPECT_EQ(e.causes()[0], "Standard input is not a terminal");
  }
}

}  // namespace
}  // namespace stelvane::tui
