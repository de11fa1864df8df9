// install -p, install and uninstall-hooks outside a terminal, and list, through the
// built executable with a private home.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

constexpr const char* kHookUrl = "https://hooks.example.invalid/h/abc?secret=s";
constexpr const char* kDone = "\nHooks installed successfully! Your AI coding tools will now use stelvane.\n";

std::string ok_line(const std::string& name, const std::string& type) {
  std::string n = name, t = type;
  n.resize(std::max<std::size_t>(20, n.size()), ' ');
  t.resize(std::max<std::size_t>(20, t.size()), ' ');
  return n + " " + t + " [SUCCESS]\n";
}

std::string claude_lines() {
  return ok_line("Claude Code", "PreToolUse") + ok_line("Claude Code", "UserPromptSubmit") +
         ok_line("Claude Code", "Stop");
}
std::string cursor_lines() {
  return ok_line("Cursor", "preToolUse") + ok_line("Cursor", "beforeSubmitPrompt") +
         ok_line("Cursor", "afterAgentResponse");
}

struct Machine {
  Sandbox sb;
  explicit Machine(bool configured = true, std::vector<std::string> tools = {".claude", ".cursor"}) {
    if (configured) sb.write_config(kHookUrl);
    for (const auto& t : tools) fs::create_directories(sb.home() / t);
  }
  // Runs from the private home, never from inside this repository.
  RunResult run(const std::vector<std::string>& args, const std::string& input = "") const {
    RunOptions o;
    o.cwd = sb.home();
    o.stdin_data = input;
    o.timeout_seconds = 30;
    return sb.run(args, o);
  }
  fs::path exe() const { return sb.bin_dir() / "stelvane"; }
  bool file_has(const fs::path& rel, const std::string& needle) const {
    fs::path p = sb.home() / rel;
    return fs::exists(p) && read_file(p).find(needle) != std::string::npos;
  }
};

struct ProvidersCase {
  const char* name;
  std::vector<std::string> tools;  // detected assistants
  std::string providers;
  int status;
  std::string out;                  // exact standard output
  std::string err;                  // exact standard error
  std::vector<std::string> hooked;  // files (under home) that must name a callback afterwards
};

TEST(InstallProvidersTest, Table) {
  const std::string banner = "stelvane 1.0.8\n";
  const ProvidersCase cases[] = {
      {"all takes the detected tools in registry order",
       {".cursor", ".claude"},
       "all",
       0,
       banner + claude_lines() + cursor_lines() + kDone,
       "",
       {".claude/settings.json", ".cursor/hooks.json"}},
      {"ALL in capitals with spaces",
       {".claude"},
       "  ALL ",
       0,
       banner + claude_lines() + kDone,
       "",
       {".claude/settings.json"}},
      {"pieces are trimmed, empty pieces dropped",
       {".claude", ".cursor"},
       "claude-code, ,cursor ",
       0,
       banner + claude_lines() + cursor_lines() + kDone,
       "",
       {".claude/settings.json", ".cursor/hooks.json"}},
      {"named order is kept and repeats are processed twice",
       {".claude", ".cursor"},
       "cursor,claude-code,cursor",
       0,
       banner + cursor_lines() + claude_lines() + cursor_lines() + kDone,
       "",
       {".claude/settings.json", ".cursor/hooks.json"}},
      {"an undetected tool named explicitly is installed",
       {},
       "codex",
       0,
       banner + ok_line("OpenAI Codex CLI", "notify") + kDone,
       "",
       {".codex/config.toml"}},
      {"only commas", {".claude"}, ",, ,", 1, "", "Error: No provider IDs specified\n", {}},
      {"empty value", {".claude"}, "", 1, "", "Error: No provider IDs specified\n", {}},
      {"ids are case-sensitive",
       {".claude", ".cursor"},
       "claude-code,Cursor",
       1,
       "",
       "Error: Unknown provider ID: Cursor\n",
       {}},
      {"all with nothing detected", {}, "all", 1, "", "Error: No supported AI coding tools detected\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(true, c.tools);
    RunResult r = m.run({"install", "-p", c.providers});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    for (const auto& f : c.hooked) EXPECT_TRUE(m.file_has(f, "-callback")) << f;
    if (c.status != 0) {
      // Nothing changed, not even the executable.
      EXPECT_FALSE(fs::exists(m.exe()));
      EXPECT_FALSE(fs::exists(m.sb.home() / ".claude" / "settings.json"));
      EXPECT_FALSE(fs::exists(m.sb.home() / ".cursor" / "hooks.json"));
    } else {
      EXPECT_TRUE(fs::exists(m.exe()));
    }
  }
}

TEST(InstallTest, WithoutATeamPrintsTheNoticeAndChangesNothing) {
  for (auto args : {std::vector<std::string>{"install", "-p", "all"}, std::vector<std::string>{"install"}}) {
    Machine m(false);
    RunResult r = m.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "stelvane 1.0.8\n\n  Not logged in.\n\n  Run `stelvane init-team` to create a new team, or\n"
              "  Run `stelvane join-team <URL>` to join an existing team.\n\n");
    EXPECT_EQ(r.err, "Error: Not Authorized\n");
    EXPECT_FALSE(fs::exists(m.exe()));
  }
}

TEST(InstallTest, UnreadableConfigurationIsTheError) {
  Machine m(false);
  write_file(m.sb.config_file(), "{ not json");
  RunResult r = m.run({"install", "-p", "all"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
  EXPECT_FALSE(fs::exists(m.exe()));
}

TEST(InstallTest, FailingHookTypeIsReportedAndTheRestContinues) {
  Machine m;
  write_file(m.sb.home() / ".claude" / "settings.json", "{\"hooks\": []}\n");
  RunResult r = m.run({"install", "-p", "claude-code,cursor"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string path = (m.sb.home() / ".claude" / "settings.json").string();
  std::string fail = "Claude Code          PreToolUse           [FAILURE] Unable to update " + path + "\n";
  EXPECT_NE(r.out.find(fail), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Claude Code          Stop                 [FAILURE] Unable to update"), std::string::npos);
  EXPECT_NE(r.out.find(cursor_lines() + kDone), std::string::npos) << r.out;
  // Only the outermost message is shown.
  EXPECT_EQ(r.out.find("Expected"), std::string::npos) << r.out;
}

TEST(InstallTest, InteractiveInstallWithNothingDetectedPrintsTheHints) {
  Machine m(true, {});
  RunResult r = m.run({"install"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("\nNo supported AI coding tools detected on this system.\n\n"
                        "Supported tools and installation hints:\n  Claude Code - Install Claude Code from ",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("\n  GitHub Copilot CLI - Install GitHub Copilot CLI from "), std::string::npos);
  EXPECT_EQ(r.err, "Error: No tools detected. Please install a supported AI coding tool first.\n");
}

TEST(InstallTest, PickerRefusesCleanlyWithoutATerminal) {
  Machine m;
  RunResult r = m.run({"install"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unable to set up the terminal\n\nCaused by:\n    Standard input is not a terminal\n");
  EXPECT_FALSE(fs::exists(m.exe()));
  ASSERT_EQ(m.run({"install", "-p", "cursor"}).status, 0);
  r = m.run({"uninstall-hooks"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unable to set up the terminal\n\nCaused by:\n    Standard input is not a terminal\n");
  EXPECT_TRUE(m.file_has(".cursor/hooks.json", "cursor-callback"));
}

TEST(PlaceExecutableTest, ReplacesAnOldCopyByRenameWithTheBuiltModeAndNoLeftovers) {
  Machine m;
  fs::create_directories(m.sb.bin_dir());
  write_file(m.exe(), "old binary");
  chmod(m.exe().c_str(), 0700);
  struct stat before {};
  ASSERT_EQ(stat(m.exe().c_str(), &before), 0);
  RunResult r = m.run({"-v", "install", "-p", "cursor"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(m.exe()), read_file(exe_path()));
  EXPECT_EQ(file_mode(m.exe()), file_mode(exe_path()));
  struct stat after {};
  ASSERT_EQ(stat(m.exe().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "a new file renamed into place, not rewritten in place";
  const std::string dest = m.exe().string();
  auto at = [&](const std::string& s) { return r.err.find(s); };
  ASSERT_NE(at("Install location " + dest), std::string::npos) << r.err;
  ASSERT_NE(at("removed existing binary at " + dest), std::string::npos) << r.err;
  ASSERT_NE(at("copied to " + dest), std::string::npos) << r.err;
  EXPECT_LT(at("Install location "), at("copied to "));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(m.sb.bin_dir())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"stelvane"});
}

TEST(PlaceExecutableTest, SymlinkAtTheDestinationIsReplacedAndItsTargetLeftAlone) {
  Machine m;
  fs::create_directories(m.sb.bin_dir());
  fs::path other = m.sb.root() / "elsewhere";
  write_file(other, "not ours");
  fs::create_symlink(other, m.exe());
  ASSERT_EQ(m.run({"install", "-p", "cursor"}).status, 0);
  EXPECT_FALSE(fs::is_symlink(m.exe()));
  EXPECT_EQ(read_file(m.exe()), read_file(exe_path()));
  EXPECT_EQ(read_file(other), "not ours");
}

TEST(PlaceExecutableTest, RunningTheInstalledCopyCopiesNothing) {
  Machine m;
  ASSERT_EQ(m.run({"install", "-p", "cursor"}).status, 0);
  struct stat before {};
  ASSERT_EQ(stat(m.exe().c_str(), &before), 0);
  RunOptions o;
  o.cwd = m.sb.home();
  RunResult r = m.sb.run_program({m.exe().string(), "-v", "install", "-p", "claude-code"}, o);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("already installed at " + m.exe().string()), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("copied to"), std::string::npos) << r.err;
  struct stat after {};
  ASSERT_EQ(stat(m.exe().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(PlaceExecutableTest, FailureStopsBeforeAnyHook) {
  Machine m;
  // A non-empty directory where the executable belongs cannot be replaced.
  fs::create_directories(m.exe() / "inside");
  RunResult r = m.run({"install", "-p", "cursor"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Error: Unable to copy " + exe_path().string() + " to " + m.exe().string() + "\n", 0), 0u)
      << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(m.sb.home() / ".cursor" / "hooks.json"));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(m.sb.bin_dir())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"stelvane"}) << "no temporary file left";
}

struct NothingCase {
  const char* name;
  std::vector<std::string> tools;
  std::string out;
};

TEST(UninstallHooksTest, NothingInstalled) {
  const NothingCase cases[] = {
      {"tools detected",
       {".claude", ".cursor"},
       "\nNo stelvane hooks are installed in any detected tools.\n\nDetected tools (hooks not installed):\n"
       "  Claude Code - available but hooks not installed\n  Cursor - available but hooks not installed\n"
       "Nothing to uninstall.\n"},
      {"nothing detected", {}, "\nNo supported AI coding tools detected on this system.\nNothing to uninstall.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(true, c.tools);
    RunResult r = m.run({"uninstall-hooks"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

struct ListCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // relative to home
  std::vector<std::string> dirs;
  std::string claude_section;  // exact text of the Claude Code section
};

TEST(ListTest, Table) {
  const std::string title = "\n Claude Code (claude-code) \n" + std::string() + [] {
    std::string u;
    for (int i = 0; i < 27; ++i) u += "─";
    return u;
  }() + "\n";
  const ListCase cases[] = {
      {"not detected", {}, {}, ""},
      {"detected, empty settings",
       {{".claude/settings.json", "{}\n"}},
       {},
       title + "  Status : no hooks installed\n\n"},
      {"detected, settings missing", {}, {".claude"}, ""},
      {"detected with our hook and another tool's",
       {{".claude/settings.json",
         R"({"hooks":{"PreToolUse":[{"matcher":"Bash","hooks":[{"type":"command","command":"/opt/other/guard check"}]},)"
         R"({"matcher":"*","hooks":[{"type":"command","command":"/x/stelvane claude-callback"}]}]}})"}},
       {},
       title + "  PreToolUse : Bash /opt/other/guard check\n  PreToolUse : * /x/stelvane claude-callback\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(false, {});
    for (const auto& d : c.dirs) fs::create_directories(m.sb.home() / d);
    for (const auto& [rel, content] : c.files) {
      fs::create_directories((m.sb.home() / rel).parent_path());
      write_file(m.sb.home() / rel, content);
    }
    RunResult r = m.run({"list"});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.rfind("stelvane 1.0.8\n\n Claude Code (claude-code) \n", 0), 0u) << r.out;
    std::string claude = r.out.substr(15, r.out.find("\n Cursor (cursor) ") - 15);
    if (std::string(c.name) == "not detected") {
      EXPECT_NE(claude.find("  Status : not detected\n  Hint   : Install Claude Code from "), std::string::npos)
          << claude;
    } else if (std::string(c.name) == "detected, settings missing") {
      EXPECT_EQ(claude, title + "  Error : listing hooks: Unable to read " +
                            (m.sb.home() / ".claude" / "settings.json").string() + "\n\n");
    } else {
      EXPECT_EQ(claude, c.claude_section);
    }
  }
}

TEST(ListTest, NoAssistantsGivesSevenSectionsWithStatusAndHint) {
  Machine m(false, {});
  RunResult r = m.run({"list"});
  EXPECT_EQ(r.status, 0);
  const char* titles[] = {" Claude Code (claude-code) ",   " Cursor (cursor) ",     " Gemini CLI (gemini-cli) ",
                          " OpenAI Codex CLI (codex) ",    " OpenCode (opencode) ", " OpenClaw (openclaw) ",
                          " GitHub Copilot CLI (copilot) "};
  std::size_t pos = 0;
  for (const char* t : titles) {
    pos = r.out.find(std::string("\n") + t + "\n", pos);
    ASSERT_NE(pos, std::string::npos) << t;
    std::size_t end = r.out.find("\n\n", pos + 1);
    std::string section = r.out.substr(pos, end - pos);
    EXPECT_NE(section.find("\n  Status : not detected\n  Hint   : Install "), std::string::npos) << section;
  }
  int sections = 0;
  for (std::size_t p = 0; (p = r.out.find("  Status : ", p)) != std::string::npos; ++p) ++sections;
  EXPECT_EQ(sections, 7);
}

}  // namespace
}  // namespace stelvane::test
