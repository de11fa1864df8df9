// The install and uninstall-hooks pickers in a real terminal, away from the main
// paths: mouse reports, standard output redirected to a file, a very short
// terminal, cancelling uninstall-hooks, and a hang-up while the message box is up.

#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testutil.hpp"
#include "support/tmux.hpp"

namespace stelvane::test {
namespace {

constexpr const char* kInstallTitle = "Select AI coding tools to install hooks for:";

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

// Normal screen, no mouse reporting, cursor shown, and a typed line is echoed and
// read as a line.
void expect_terminal_back(Tmux& t, const std::string& exit_line) {
  t.wait_for(exit_line);
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "0");
  EXPECT_EQ(t.pane_value("#{mouse_any_flag}#{mouse_sgr_flag}"), "00");
  EXPECT_EQ(t.pane_value("#{cursor_flag}"), "1");
  t.type("still works");
  t.keys({"Enter"});
  std::string s = t.wait_for("GOT:still works");
  EXPECT_NE(s.find("TYPE: still works"), std::string::npos) << s;
  EXPECT_NE(t.wait_for("FLAGS").find("echo icanon isig FLAGS"), std::string::npos);
}

std::vector<std::string> lines_of(const std::string& screen) {
  std::vector<std::string> out;
  std::istringstream in(screen);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(InstallPickerEdgesTest, MouseReportsNeitherChooseNorCancel) {
  TwoTools f;
  Tmux t(f.sb, {"install"});
  t.wait_for(kInstallTitle);
  // A click and release on the Gemini row (SGR), motion (SGR), a wheel step
  // (urxvt) and an old-style X10 click: none of them is a key.
  t.raw("\x1b[<0;30;12M\x1b[<0;30;12m\x1b[<35;31;12M\x1b[65;30;12M");
  t.raw(std::string("\x1b[M") + "\x20\x3e\x2c");
  t.keys({"Down"});
  std::string s = t.wait_for("> [x] Cursor [detected]");
  EXPECT_NE(s.find("  [x] Claude Code [detected]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [ ] Gemini CLI [not found]"), std::string::npos) << s;
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "1");
  t.keys({"Escape"});
  EXPECT_NE(t.wait_for("EXIT:0").find("Installation cancelled."), std::string::npos);
  EXPECT_FALSE(fs::exists(f.claude_settings()));
  expect_terminal_back(t, "EXIT:0");
}

TEST(InstallPickerEdgesTest, OutputRedirectedToAFileStillShowsThePickerOnTheTerminal) {
  TwoTools f;
  const fs::path out = f.sb.root() / "install-output.txt";
  Tmux t(f.sb, "/bin/sh",
         {"-c", "exec " + shell_quote(exe_path().string()) + " install > " + shell_quote(out.string())});
  std::string s = t.wait_for(kInstallTitle);
  EXPECT_NE(s.find("> [x] Claude Code [detected]"), std::string::npos) << s;
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "1");
  t.keys({"Enter"});
  t.wait_for("Press any key to continue");
  t.keys({"x"});
  expect_terminal_back(t, "EXIT:0");
  EXPECT_TRUE(f.has(f.claude_settings(), "claude-callback"));
  EXPECT_TRUE(f.has(f.cursor_hooks(), "cursor-callback"));
  // The file holds the summary as plain text and nothing of the screen handling.
  std::string text = read_file(out);
  EXPECT_EQ(text.rfind("stelvane 1.0.8\nClaude Code          PreToolUse           [SUCCESS]\n", 0), 0u) << text;
  EXPECT_NE(text.find("Cursor               afterAgentResponse   [SUCCESS]\n"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
  EXPECT_EQ(text.find(kInstallTitle), std::string::npos) << text;
}

TEST(InstallPickerEdgesTest, TenRowTerminalShowsAnEightRowBoxThatScrolls) {
  TwoTools f;
  Tmux t(f.sb, {"install"}, 80, 10);
  std::string s = t.wait_for(kInstallTitle);
  std::vector<std::string> rows = lines_of(s);
  ASSERT_GE(rows.size(), 10u) << s;
  // Centred: one free row above and below an 8-row box.
  EXPECT_EQ(rows[0].find_first_not_of(' '), std::string::npos) << s;
  EXPECT_EQ(rows[1].find("┌Select AI coding tools"), 16u) << s;
  EXPECT_NE(rows[8].find("└"), std::string::npos) << s;
  EXPECT_EQ(rows[9].find_first_not_of(' '), std::string::npos) << s;
  EXPECT_NE(s.find("> [x] Claude Code [detected]"), std::string::npos) << s;
  // Up from the first row wraps to the last one, which scrolls into view.
  t.keys({"Up"});
  s = t.wait_for("> [ ] GitHub Copilot CLI [not found]");
  EXPECT_EQ(s.find("Claude Code [detected]"), std::string::npos) << s;
  t.keys({"Escape"});
  expect_terminal_back(t, "EXIT:0");
}

TEST(UninstallPickerEdgesTest, EscCancelsAndKeepsTheHooks) {
  TwoTools f;
  ASSERT_EQ(f.sb.run({"install", "-p", "claude-code,cursor"}).status, 0);
  const std::string claude_before = read_file(f.claude_settings());
  Tmux t(f.sb, {"uninstall-hooks"});
  std::string s = t.wait_for("Select AI coding tools to uninstall hooks from:");
  EXPECT_NE(s.find("> [x] Claude Code [installed]"), std::string::npos) << s;
  EXPECT_NE(s.find("  [x] Cursor [installed]"), std::string::npos) << s;
  t.keys({"Escape"});
  s = t.wait_for("EXIT:0");
  EXPECT_NE(s.find("Uninstallation cancelled."), std::string::npos) << s;
  EXPECT_EQ(read_file(f.claude_settings()), claude_before);
  EXPECT_TRUE(f.has(f.cursor_hooks(), "cursor-callback"));
  expect_terminal_back(t, "EXIT:0");
}

TEST(InstallPickerEdgesTest, HangUpWhileTheMessageBoxIsShownRestoresTheTerminal) {
  TwoTools f;
  Tmux t(f.sb, {"install"});
  t.wait_for(kInstallTitle);
  t.keys({"Enter"});
  t.wait_for("Press any key to continue");
  EXPECT_EQ(t.pane_value("#{alternate_on}"), "1");
  pid_t pid = t.program_pid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGHUP), 0);
  expect_terminal_back(t, "EXIT:129");
  // The hooks were written before the box was shown.
  EXPECT_TRUE(f.has(f.claude_settings(), "claude-callback"));
}

}  // namespace
}  // namespace stelvane::test
