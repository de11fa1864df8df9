// uninstall-all keeps going after a failure and ends with the failure verdict:
// a hook that cannot be removed, and a bin directory that cannot be determined.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

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
  RunResult run(const std::vector<std::string>& args) const {
    RunOptions o;
    o.cwd = sb.home();
    return sb.run(args, o);
  }
  fs::path exe() const { return sb.bin_dir() / "stelvane"; }
};

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(UninstallAllFailuresTest, HookThatCannotBeRemovedGivesTheFailureVerdictAndTheRestIsRemoved) {
  Machine m;
  ASSERT_EQ(m.run({"install", "-p", "claude-code,cursor"}).status, 0);
  // Claude Code's settings are a link to a file whose name leaves no room for the
  // temporary file of a rewrite: reading works (the hooks are found), writing fails.
  const fs::path settings = m.sb.home() / ".claude" / "settings.json";
  const fs::path real = m.sb.root() / std::string(250, 's');
  fs::rename(settings, real);
  fs::create_symlink(real, settings);
  const std::string before = read_file(real);

  RunResult r = m.run({"-v", "uninstall-all", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.err, kFailures)) << r.err;
  for (const char* type : {"PreToolUse           ", "UserPromptSubmit     ", "Stop                 "})
    EXPECT_NE(r.out.find(std::string("Claude Code          ") + type + "[FAILURE] "), std::string::npos) << r.out;
  // The other assistant, the executable and both directories are still handled.
  EXPECT_NE(r.out.find("Cursor               afterAgentResponse   [SUCCESS]\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Binary removed: " + m.exe().string() + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Configuration removed.\nData directory removed (debug logs, upgrade state).\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Full cleanup complete."), std::string::npos) << r.out;
  EXPECT_EQ(read_file(real), before);
  EXPECT_EQ(read_file(m.sb.home() / ".cursor" / "hooks.json").find("stelvane"), std::string::npos);
  EXPECT_FALSE(fs::exists(m.exe()));
  EXPECT_FALSE(fs::exists(m.sb.config_file().parent_path()));
  EXPECT_FALSE(fs::exists(m.sb.data_dir()));
}

TEST(UninstallAllFailuresTest, UnknownBinDirectorySkipsTheBinCleanupAndGoesOn) {
  Machine m;
  fs::create_directories(m.sb.bin_dir());
  write_file(m.sb.bin_dir() / ".stelvane.upgrade.lock", "1");
  // A relative override is refused, so the executable's location is unknown.
  m.sb.set_env("STELVANE_BIN_DIR", "relative/bin");
  RunResult r = m.run({"-v", "uninstall-all", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(ends_with(r.err, kFailures)) << r.err;
  EXPECT_NE(r.err.find("Unable to determine binary location: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Skipping binary and upgrade file cleanup, continuing with config/data removal."),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("Binary removed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Cleaned up"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(m.sb.bin_dir() / ".stelvane.upgrade.lock"));
  EXPECT_NE(r.out.find("Configuration removed.\nData directory removed (debug logs, upgrade state).\n"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(m.sb.config_file().parent_path()));
  EXPECT_FALSE(fs::exists(m.sb.data_dir()));
}

}  // namespace
}  // namespace stelvane::test
