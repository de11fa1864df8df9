// The install and uninstall-hooks pickers and the message box in a real terminal.

#include <signal.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testutil.hpp"
#include "support/tmux.hpp"

namespace stelvane::test {
namespace {

constexpr const char* kTitle = "Select AI coding tools to install hooks for:";

// A team configuration and two detected assistants (Claude Code, Cursor).
struct TwoTools {
  Sandbox sb;
  TwoTools() {
    sb.write_config("https://hooks.example.invalid/h/abc?secret=s");
    fs::create_directories(sb.home() / ".claude");
    fs::create_directories(sb.home() / ".cursor");
  }
  fs::path claude_settings() const { return sb.home() / ".claude" / "settings.json"; }
  fs::path cursor_hooks() const { return sb.home() / ".cursor" / "hooks.json"; }
  bool has(const fs::path& p, const std::string& needle) const {
    return fs::exists(p) && read_file(p).find(needle) != std::string::npos;
  }
};

// The terminal is fully taken over while a component is shown.
void expect_taken_over(Tmux& t) {
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "1");
  // tmux keeps the last of the 1000/1002/1003 modes (all motion) and SGR reports.
  EXPECT_EQ(t.pane_value("#{mouse_all_flag}#{mouse_sgr_flag}"), "11");
  EXPECT_EQ(t.pane_value("#{cursor_flag}"), "0");
}

// After the program ended: normal screen, no mouse reporting, cursor shown, and a
// line typed at a shell prompt is echoed and read as a line.
void expect_terminal_back(Tmux& t, const std::string& exit_line) {
  t.wait_for(exit_line);
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "0");
  EXPECT_EQ(t.pane_value("#{mouse_any_flag}#{mouse_sgr_flag}"), "00");
  EXPECT_EQ(t.pane_value("#{cursor_flag}"), "1");
  t.type("hello there");
  t.keys({"Enter"});
  std::string s = t.wait_for("GOT:hello there");
  EXPECT_NE(s.find("TYPE: hello there"), std::string::npos) << s;
  std::string flags = t.wait_for("FLAGS");
  EXPECT_NE(flags.find("echo icanon isig FLAGS"), std::string::npos) << flags;
}

TEST(InstallPickerTest, EnterInstallsThePreselectedToolsAndShowsTheMessageBox) {
  TwoTools f;
  Tmux t(f.sb, {"install"});
  std::string s = t.wait_for(kTitle);
  EXPECT_NE(s.find("> [x] Claude Code [detected]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [x] Cursor [detected]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [ ] Gemini CLI [not found]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [ ] GitHub Copilot CLI [not found]"), std::string::npos) << s;
  EXPECT_NE(s.find("↑↓ navigate, Space toggle, Enter confirm, Esc cancel"), std::string::npos) << s;
  expect_taken_over(t);

  t.keys({"Enter"});
  s = t.wait_for("Press any key to continue");
  EXPECT_NE(s.find(" Installation Complete "), std::string::npos) << s;
  EXPECT_NE(s.find("Hooks installed successfully!"), std::string::npos) << s;
  expect_taken_over(t);
  EXPECT_TRUE(f.has(f.claude_settings(), "claude-callback"));
  EXPECT_TRUE(f.has(f.cursor_hooks(), "cursor-callback"));
  EXPECT_TRUE(fs::exists(f.sb.bin_dir() / "stelvane"));

  t.keys({"q"});
  s = t.wait_for("EXIT:0");
  EXPECT_NE(s.find("Claude Code          PreToolUse           [SUCCESS]"), std::string::npos) << s;
  EXPECT_NE(s.find("Cursor               afterAgentResponse   [SUCCESS]"), std::string::npos) << s;
  expect_terminal_back(t, "EXIT:0");

  // The exact sequences, once each way: takeover before the first frame; on leaving
  // the alternate screen, then the five mouse modes in reverse order, then the cursor.
  const std::string enter = "\x1b[?1049h\x1b[?1000h\x1b[?1002h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
  const std::string leave = "\x1b[?1049l\x1b[?1006l\x1b[?1015l\x1b[?1003l\x1b[?1002l\x1b[?1000l\x1b[?25h";
  std::string bytes = t.output();
  auto first_enter = bytes.find(enter);
  ASSERT_NE(first_enter, std::string::npos);
  EXPECT_LT(first_enter, bytes.find(kTitle));
  // Two components (picker, message box): two takeovers and two restores.
  EXPECT_NE(bytes.find(enter, first_enter + 1), std::string::npos);
  auto first_leave = bytes.find(leave);
  ASSERT_NE(first_leave, std::string::npos);
  EXPECT_NE(bytes.find(leave, first_leave + 1), std::string::npos);
  EXPECT_LT(bytes.rfind(leave), bytes.find("EXIT:0"));
}

TEST(InstallPickerTest, EscCancelsWithoutChangingAnything) {
  TwoTools f;
  Tmux t(f.sb, {"install"});
  t.wait_for(kTitle);
  t.keys({"Escape"});
  std::string s = t.wait_for("EXIT:0");
  EXPECT_NE(s.find("Installation cancelled."), std::string::npos) << s;
  EXPECT_FALSE(fs::exists(f.claude_settings()));
  EXPECT_FALSE(fs::exists(f.cursor_hooks()));
  EXPECT_FALSE(fs::exists(f.sb.bin_dir() / "stelvane"));
  expect_terminal_back(t, "EXIT:0");
}

TEST(InstallPickerTest, SpaceCtrlAAndTheAtLeastOneRule) {
  TwoTools f;
  Tmux t(f.sb, {"install"});
  t.wait_for(kTitle);
  // Unselect both detected tools (the second with the application-mode arrow).
  t.keys({"Space"});
  t.raw("\x1bOB");
  t.keys({"Space"});
  std::string s = t.wait_for("> [ ] Cursor [detected]");
  EXPECT_NE(s.find("  [ ] Claude Code [detected]"), std::string::npos) << s;
  // Space on an unavailable row changes nothing.
  t.keys({"Down", "Space"});
  s = t.wait_for("> [ ] Gemini CLI [not found]");
  t.keys({"Enter"});
  s = t.wait_for("Please select at least one tool");
  t.keys({"Up"});
  s = t.wait_for("> [ ] Cursor [detected]");
  EXPECT_EQ(s.find("Please select at least one tool"), std::string::npos) << s;
  t.keys({"C-a"});
  s = t.wait_for("  [x] Claude Code [detected]");
  EXPECT_NE(s.find("> [x] Cursor [detected]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [ ] Gemini CLI [not found]"), std::string::npos) << s;
  // Cursor off again: only Claude Code gets hooks.
  t.keys({"Space", "Enter"});
  t.wait_for("Press any key to continue");
  t.keys({"Enter"});
  s = t.wait_for("EXIT:0");
  EXPECT_NE(s.find("Claude Code          Stop"), std::string::npos) << s;
  EXPECT_EQ(s.find("Cursor               "), std::string::npos) << s;
  EXPECT_TRUE(f.has(f.claude_settings(), "claude-callback"));
  EXPECT_FALSE(fs::exists(f.cursor_hooks()));
  expect_terminal_back(t, "EXIT:0");
}

TEST(InstallPickerTest, CtrlCCancels) {
  TwoTools f;
  Tmux t(f.sb, {"install"});
  t.wait_for(kTitle);
  t.keys({"C-c"});
  std::string s = t.wait_for("EXIT:0");
  EXPECT_NE(s.find("Installation cancelled."), std::string::npos) << s;
  expect_terminal_back(t, "EXIT:0");
}

TEST(InstallPickerTest, TerminationSignalsRestoreTheTerminal) {
  struct Case {
    int sig;
    const char* exit_line;
  };
  for (Case c : {Case{SIGTERM, "EXIT:143"}, Case{SIGHUP, "EXIT:129"}}) {
    SCOPED_TRACE(c.exit_line);
    TwoTools f;
    Tmux t(f.sb, {"install"});
    t.wait_for(kTitle);
    expect_taken_over(t);
    pid_t pid = t.program_pid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, c.sig), 0);
    expect_terminal_back(t, c.exit_line);
    EXPECT_FALSE(fs::exists(f.claude_settings()));
  }
}

TEST(InstallPickerTest, ResizeRedrawsTheBoxToTheNewWidth) {
  TwoTools f;
  Tmux t(f.sb, {"install"}, 100, 30);
  std::string s = t.wait_for(kTitle);
  // 60 % of 100 columns: the box starts after 20.
  EXPECT_NE(s.find("\n" + std::string(20, ' ') + "┌Select"), std::string::npos) << s;
  t.resize(80, 24);
  s = t.wait_for("\n" + std::string(16, ' ') + "┌Select");
  t.keys({"Escape"});
  expect_terminal_back(t, "EXIT:0");
}

TEST(UninstallPickerTest, OnlyToolsWithHooksAreSelectable) {
  TwoTools f;
  ASSERT_EQ(f.sb.run({"install", "-p", "cursor"}).status, 0);
  Tmux t(f.sb, {"uninstall-hooks"});
  std::string s = t.wait_for("Select AI coding tools to uninstall hooks from:");
  EXPECT_NE(s.find("> [ ] Claude Code [available but not installed]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [x] Cursor [installed]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [ ] Gemini CLI [not found]"), std::string::npos) << s;
  t.keys({"Enter"});
  s = t.wait_for("EXIT:0");
  EXPECT_NE(s.find("Cursor               preToolUse           [SUCCESS]"), std::string::npos) << s;
  EXPECT_NE(s.find("Hooks removed. Binary retained for future use."), std::string::npos) << s;
  EXPECT_EQ(s.find("Claude Code          "), std::string::npos) << s;
  EXPECT_FALSE(f.has(f.cursor_hooks(), "cursor-callback"));
  EXPECT_TRUE(fs::exists(f.sb.bin_dir() / "stelvane"));
  expect_terminal_back(t, "EXIT:0");
}

}  // namespace
}  // namespace stelvane::test
