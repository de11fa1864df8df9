// uninstall-all through the built executable with a private home.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

constexpr const char* kPrompt =
    "This will permanently remove:\n  - All hooks from all providers\n  - Configuration and team settings\n"
    "  - Debug logs and data directory\n  - The stelvane binary\n\nAre you sure? [y/N]: ";
constexpr const char* kFailures = "Error: Uninstall had some failures. See logs for details.\n";

struct Machine {
  Sandbox sb;
  Machine() {
    sb.write_config("https://hooks.example.invalid/h/abc?secret=s");
    fs::create_directories(sb.data_dir() / "debug");
    write_file(sb.data_dir() / "debug" / "debug-1-ab.log", "payload");
    fs::create_directories(sb.home() / ".claude");
    fs::create_directories(sb.home() / ".cursor");
  }
  RunResult run(const std::vector<std::string>& args, const std::string& input = "") const {
    RunOptions o;
    o.cwd = sb.home();
    o.stdin_data = input;
    return sb.run(args, o);
  }
  fs::path exe() const { return sb.bin_dir() / "stelvane"; }
  fs::path config_dir() const { return sb.config_file().parent_path(); }
  void install_hooks() const { ASSERT_EQ(run({"install", "-p", "claude-code,cursor"}).status, 0); }
};

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(UninstallAllTest, ConfirmationAnswers) {
  struct Case {
    const char* input;
    bool proceeds;
  };
  for (Case c : {Case{"YES\n", true}, Case{"  y \n", true}, Case{"yes", true}, Case{"n\n", false}, Case{"\n", false},
                 Case{"", false}, Case{"yess\n", false}, Case{"sure\n", false}}) {
    SCOPED_TRACE(std::string("answer ") + c.input);
    Machine m;
    RunResult r = m.run({"uninstall-all"}, c.input);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.rfind(kPrompt, 0), 0u) << r.out;
    if (c.proceeds) {
      EXPECT_TRUE(ends_with(r.out, "\nFull cleanup complete.\n")) << r.out;
      EXPECT_FALSE(fs::exists(m.config_dir()));
      EXPECT_FALSE(fs::exists(m.sb.data_dir()));
    } else {
      EXPECT_EQ(r.out, std::string(kPrompt) + "Aborted.\n");
      EXPECT_TRUE(fs::exists(m.sb.config_file()));
      EXPECT_TRUE(fs::exists(m.sb.data_dir() / "debug" / "debug-1-ab.log"));
    }
  }
}

TEST(UninstallAllTest, YesAsksNothingAndRemovesEverything) {
  Machine m;
  m.install_hooks();
  RunResult r = m.run({"uninstall-all", "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Are you sure"), std::string::npos);
  const std::string expected =
      "stelvane 1.0.8\n"
      "Claude Code          PreToolUse           [SUCCESS]\n"
      "Claude Code          UserPromptSubmit     [SUCCESS]\n"
      "Claude Code          Stop                 [SUCCESS]\n"
      "Cursor               preToolUse           [SUCCESS]\n"
      "Cursor               beforeSubmitPrompt   [SUCCESS]\n"
      "Cursor               afterAgentResponse   [SUCCESS]\n"
      "Binary removed: " +
      m.exe().string() +
      "\n"
      "Configuration removed.\n"
      "Data directory removed (debug logs, upgrade state).\n"
      "\nFull cleanup complete.\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(read_file(m.sb.home() / ".claude" / "settings.json").find("stelvane"), std::string::npos);
  EXPECT_EQ(read_file(m.sb.home() / ".cursor" / "hooks.json").find("stelvane"), std::string::npos);
  EXPECT_FALSE(fs::exists(m.exe()));
  EXPECT_FALSE(fs::exists(m.config_dir()));
  EXPECT_FALSE(fs::exists(m.sb.data_dir()));
  EXPECT_TRUE(fs::exists(m.sb.home() / ".claude"));
}

TEST(UninstallAllTest, NoHooksAndNoExecutableStillEndsClean) {
  Machine m;
  RunResult r = m.run({"-v", "uninstall-all", "-y"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("No hooks are currently installed.\nBinary removed: " + m.exe().string() + "\n", 0), 0u)
      << r.out;
  EXPECT_TRUE(ends_with(r.out, "\nFull cleanup complete.\n"));
  EXPECT_NE(r.err.find(m.exe().string() + " doesn't exist"), std::string::npos) << r.err;
}

TEST(UninstallAllTest, UpgradeLockAndTemporaryFilesAreCounted) {
  Machine m;
  fs::create_directories(m.sb.bin_dir());
  const fs::path bin = m.sb.bin_dir();
  write_file(bin / ".stelvane.upgrade.lock", "123");
  write_file(bin / "stelvane_upgrade_0a1b2c3d", "x");
  write_file(bin / ".stelvane_new_Ab12Cd", "x");
  write_file(bin / "my_stelvane_upgrade_x", "keep");  // the prefix only in the middle
  write_file(bin / "other-tool", "keep");
  fs::path outside = m.sb.root() / "precious";
  write_file(outside, "keep");
  fs::create_symlink(outside, bin / "stelvane_upgrade_link");
  RunResult r = m.run({"-v", "uninstall-all", "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nCleaned up 3 temporary file(s).\n"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(bin / ".stelvane.upgrade.lock"));
  EXPECT_FALSE(fs::exists(bin / "stelvane_upgrade_0a1b2c3d"));
  EXPECT_FALSE(fs::exists(bin / ".stelvane_new_Ab12Cd"));
  EXPECT_TRUE(fs::exists(bin / "my_stelvane_upgrade_x"));
  EXPECT_TRUE(fs::exists(bin / "other-tool"));
  EXPECT_TRUE(fs::is_symlink(bin / "stelvane_upgrade_link"));
  EXPECT_EQ(read_file(outside), "keep");
  EXPECT_NE(r.err.find("Refusing to remove symlink " + (bin / "stelvane_upgrade_link").string() + ": potential attack"),
            std::string::npos)
      << r.err;
}

TEST(UninstallAllTest, SymlinksAtTheProgramDirectoriesAreLeftAlone) {
  struct Case {
    const char* name;
    bool config_link;
  };
  for (Case c : {Case{"config directory", true}, Case{"data directory", false}}) {
    SCOPED_TRACE(c.name);
    Machine m;
    fs::path dir = c.config_link ? m.config_dir() : m.sb.data_dir();
    fs::path target = m.sb.root() / "target-dir";
    fs::rename(dir, target);
    fs::create_symlink(target, dir);
    const std::vector<std::string> inside = {c.config_link ? "config.json" : "debug/debug-1-ab.log"};
    RunResult r = m.run({"-v", "uninstall-all", "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.err, kFailures)) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir));
    for (const auto& f : inside) EXPECT_TRUE(fs::exists(target / f)) << f;
    std::string word = c.config_link ? "Config" : "Data";
    EXPECT_NE(r.err.find(word + " directory " + dir.string() + " is a symlink. Refusing to remove for safety."),
              std::string::npos)
        << r.err;
    if (c.config_link) {
      // The run goes on with the data directory.
      EXPECT_EQ(r.out.find("Configuration removed."), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("Data directory removed (debug logs, upgrade state).\n"), std::string::npos) << r.out;
      EXPECT_FALSE(fs::exists(m.sb.data_dir()));
    } else {
      EXPECT_NE(r.out.find("Configuration removed.\n"), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("Data directory removed"), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.out.find("Full cleanup complete."), std::string::npos);
  }
}

TEST(UninstallAllTest, ConfigPathThatIsAFileIsKeptAndCountsAsRemoved) {
  Machine m;
  fs::remove_all(m.config_dir());
  write_file(m.config_dir(), "a file");
  // Without --verbose the configuration would be loaded for logging set-up; the
  // run must cope with the file either way.
  RunResult r = m.run({"-v", "uninstall-all", "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Configuration removed.\n"), std::string::npos);
  EXPECT_EQ(read_file(m.config_dir()), "a file");
  EXPECT_NE(r.err.find("Config path " + m.config_dir().string() + " is not a directory, skipping removal"),
            std::string::npos)
      << r.err;
}

TEST(UninstallAllTest, SymlinkAtTheExecutableIsRefused) {
  Machine m;
  fs::create_directories(m.sb.bin_dir());
  fs::path real = m.sb.root() / "real-exe";
  write_file(real, "x");
  fs::create_symlink(real, m.exe());
  RunResult r = m.run({"uninstall-all", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kFailures);
  EXPECT_TRUE(fs::is_symlink(m.exe()));
  EXPECT_TRUE(fs::exists(real));
  EXPECT_EQ(r.out.find("Binary removed"), std::string::npos) << r.out;
}

TEST(UninstallAllTest, RunningFromTheInstalledCopyDeletesItself) {
  Machine m;
  m.install_hooks();
  ASSERT_TRUE(fs::exists(m.exe()));
  RunOptions o;
  o.cwd = m.sb.home();
  RunResult r = m.sb.run_program({m.exe().string(), "-v", "uninstall-all", "--yes"}, o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Binary removed: " + m.exe().string() + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Deleting self (running executable) at " + m.exe().string()), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(m.exe()));
  EXPECT_TRUE(ends_with(r.out, "\nFull cleanup complete.\n"));
}

}  // namespace
}  // namespace stelvane::test
