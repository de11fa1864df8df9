// The single-choice picker and the message box in a real terminal. The components
// are shown by a driver inside this test binary (a disabled test that only runs
// when started with STELVANE_TUI_DRIVER set), since no command of the program
// shows them on its own.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "support/testutil.hpp"
#include "support/tmux.hpp"
#include "tui/components/message.hpp"
#include "tui/components/select.hpp"

namespace stelvane::test {
namespace {

// Runs the component named by STELVANE_TUI_DRIVER and prints "RESULT:<value>",
// "RESULT:none" or "RESULT:error <message>".
TEST(TuiDriver, DISABLED_Run) {
  const char* which = std::getenv("STELVANE_TUI_DRIVER");
  if (which == nullptr) GTEST_SKIP();
  std::string result;
  try {
    std::string w = which;
    if (w == "select") {
      tui::Select s;
      s.title = "Choose a sign-in method";
      s.footer = "v1.0.8";
      s.items = {{"Header (unavailable)", 100, std::nullopt, false},
                 {"Also unavailable", 101, std::nullopt, false},
                 {"Google", 1, U'g', true},
                 {"Microsoft", 2, U'm', true},
                 {"GitHub", 3, U'h', true}};
      auto v = tui::select(s);
      result = v ? std::to_string(*v) : "none";
    } else if (w == "choose") {
      auto v = tui::choose("Uninstall everything?", {"Yes, remove everything", "No, keep it"},
                           "This removes every hook, the executable, the configuration and the data directory of the "
                           "program. There is no undo.");
      result = v ? std::to_string(*v) : "none";
    } else if (w == "message") {
      tui::message_box(" Warning ", "Something needs your attention.", tui::kMessageWarning);
      result = "closed";
    }
  } catch (const Error& e) {
    result = "error " + e.message();
  }
  std::printf("RESULT:%s\n", result.c_str());
}

fs::path test_binary() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? fs::path(std::string(buf, static_cast<std::size_t>(n))) : fs::path();
}

struct Driver {
  Sandbox sb;
  std::unique_ptr<Tmux> t;
  explicit Driver(const std::string& component) {
    sb.set_env("STELVANE_TUI_DRIVER", component);
    t = std::make_unique<Tmux>(
        sb, test_binary(),
        std::vector<std::string>{"--gtest_also_run_disabled_tests", "--gtest_filter=TuiDriver.DISABLED_Run"}, 80, 24);
  }
};

// Normal screen, no mouse reporting, and a typed line is echoed and read.
void expect_terminal_back(Tmux& t) {
  t.wait_for("EXIT:0");
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "0");
  EXPECT_EQ(t.pane_value("#{mouse_any_flag}#{mouse_sgr_flag}"), "00");
  t.type("typed line");
  t.keys({"Enter"});
  std::string s = t.wait_for("GOT:typed line");
  EXPECT_NE(s.find("TYPE: typed line"), std::string::npos) << s;
  EXPECT_NE(t.wait_for("FLAGS").find("echo icanon isig FLAGS"), std::string::npos);
}

TEST(SelectInTerminalTest, SkipsUnselectableRowsHotKeysAndEnter) {
  Driver d("select");
  Tmux& t = *d.t;
  std::string s = t.wait_for("┌Choose a sign-in method");
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "1");
  EXPECT_EQ(t.pane_value("#{mouse_all_flag}#{mouse_sgr_flag}"), "11");
  // 60 % of 80 columns, centred; the footer closes the bottom border.
  EXPECT_NE(s.find(std::string(16, ' ') + "┌Choose a sign-in method"), std::string::npos) << s;
  EXPECT_NE(s.find("v1.0.8┘"), std::string::npos) << s;
  EXPECT_NE(s.find("│> Header (unavailable)"), std::string::npos) << s;
  EXPECT_NE(s.find("↑↓ navigate, Enter select, Esc cancel"), std::string::npos) << s;
  t.keys({"Enter"});  // on an unselectable row: nothing
  t.keys({"Down"});
  s = t.wait_for("│> Google");
  t.keys({"H"});  // upper-case hot key
  s = t.wait_for("│> GitHub");
  t.keys({"Down"});  // wraps past the unselectable rows
  s = t.wait_for("│> Google");
  t.keys({"k"});
  s = t.wait_for("│> GitHub");
  t.keys({"Up", "Enter"});
  s = t.wait_for("RESULT:");
  EXPECT_NE(s.find("RESULT:2"), std::string::npos) << s;
  expect_terminal_back(t);
}

TEST(SelectInTerminalTest, EscReturnsNothing) {
  Driver d("select");
  Tmux& t = *d.t;
  t.wait_for("┌Choose a sign-in method");
  t.keys({"Escape"});
  EXPECT_NE(t.wait_for("RESULT:").find("RESULT:none"), std::string::npos);
  expect_terminal_back(t);
}

TEST(ChooseInTerminalTest, ExplanationIsWrappedUnderTheChoices) {
  Driver d("choose");
  Tmux& t = *d.t;
  std::string s = t.wait_for("┌Uninstall everything?");
  EXPECT_NE(s.find("│> Yes, remove everything"), std::string::npos) << s;
  EXPECT_NE(s.find("│This removes every hook, the executable, the"), std::string::npos) << s;
  EXPECT_NE(s.find("│configuration and the data directory of the"), std::string::npos) << s;
  t.keys({"j", "Enter"});
  EXPECT_NE(t.wait_for("RESULT:").find("RESULT:1"), std::string::npos);
  expect_terminal_back(t);
}

TEST(MessageBoxInTerminalTest, AnyKeyCloses) {
  Driver d("message");
  Tmux& t = *d.t;
  std::string s = t.wait_for("Press any key to continue");
  EXPECT_NE(s.find(std::string(20, ' ') + "┌ Warning "), std::string::npos) << s;
  EXPECT_NE(s.find("│Something needs your attention."), std::string::npos) << s;
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "1");
  t.keys({"Space"});
  EXPECT_NE(t.wait_for("RESULT:").find("RESULT:closed"), std::string::npos);
  expect_terminal_back(t);
}

}  // namespace
}  // namespace stelvane::test
