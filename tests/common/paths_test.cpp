// Directory resolution: overrides and their validation, the XDG rule, private
// modes, and the bin directory taken from the account database.
#include "common/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "common/error.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

TEST(PathsOverride, ValidationMessagesNameTheVariableAndValue) {
  struct Case {
    const char* var;
    const char* value;
    const char* message;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"STELVANE_CONFIG_DIR", "relative/dir", "STELVANE_CONFIG_DIR must be an absolute path: relative/dir"},
      {"STELVANE_CONFIG_DIR", "", "STELVANE_CONFIG_DIR must be an absolute path: "},
      {"STELVANE_DATA_DIR", "/tmp/a/../b", "STELVANE_DATA_DIR contains parent directory references: /tmp/a/../b"},
      {"STELVANE_BIN_DIR", "/x/..", "STELVANE_BIN_DIR contains parent directory references: /x/.."},
      {"STELVANE_DATA_DIR", "/tmp/./b", ""},
      {"STELVANE_DATA_DIR", "//tmp//b/", ""},
      {"STELVANE_DATA_DIR", "/tmp/a..b", ""},
  };
  for (const auto& c : cases) {
    try {
      common::validate_override(c.var, c.value);
      EXPECT_STREQ(c.message, "") << c.value;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), c.message) << c.value;
    }
  }
}

TEST(PathsOverride, InvalidOverrideFailsTheCommandInsteadOfFallingBack) {
  Sandbox sb;
  sb.set_env("STELVANE_CONFIG_DIR", "relative/dir");
  auto r = sb.run({"show-config"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: STELVANE_CONFIG_DIR must be an absolute path: relative/dir\n");

  Sandbox sb2;
  sb2.set_env("STELVANE_DATA_DIR", "/tmp/a/../b");
  auto r2 = sb2.run({"show-config"});
  EXPECT_EQ(r2.status, 1);
  EXPECT_EQ(r2.err, "Error: STELVANE_DATA_DIR contains parent directory references: /tmp/a/../b\n");
}

TEST(PathsOverride, OverridesAreUsedAsTheDirectoriesThemselves) {
  Sandbox sb;
  const fs::path cfg = sb.root() / "x" / "cfg", data = sb.root() / "x" / "data";
  sb.set_env("STELVANE_CONFIG_DIR", cfg.string());
  sb.set_env("STELVANE_DATA_DIR", data.string());
  ASSERT_EQ(sb.run({"configure"}).status, 0);
  EXPECT_TRUE(fs::exists(cfg / "config.json"));
  EXPECT_TRUE(fs::exists(data / "stelvane.log"));
  EXPECT_EQ(file_mode(cfg), 0700u);
  EXPECT_EQ(file_mode(data), 0700u);
  EXPECT_FALSE(fs::exists(sb.config_file()));
}

TEST(PathsXdg, FollowsXdgVariablesElseHome) {
  Sandbox sb;
  ASSERT_EQ(sb.run({"configure"}).status, 0);
  EXPECT_TRUE(fs::exists(sb.config_home() / "stelvane" / "config.json"));
  EXPECT_TRUE(fs::exists(sb.data_home() / "stelvane" / "stelvane.log"));

  sb.unset_env("XDG_CONFIG_HOME");
  sb.unset_env("XDG_DATA_HOME");
  ASSERT_EQ(sb.run({"configure"}).status, 0);
  EXPECT_TRUE(fs::exists(sb.home() / ".config" / "stelvane" / "config.json"));
  EXPECT_TRUE(fs::exists(sb.home() / ".local" / "share" / "stelvane" / "stelvane.log"));
}

TEST(PathsSecure, ExistingDirectoryIsMadePrivateParentsUntouched) {
  Sandbox sb;
  fs::create_directories(sb.config_home() / "stelvane");
  fs::permissions(sb.config_home(), fs::perms(0755));
  fs::permissions(sb.config_home() / "stelvane", fs::perms(0755));
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  EXPECT_EQ(file_mode(sb.config_home() / "stelvane"), 0700u);
  EXPECT_EQ(file_mode(sb.config_home()), 0755u);
}

TEST(PathsSecure, FileInTheWayIsAnError) {
  Sandbox sb;
  write_file(sb.config_home() / "stelvane", "not a directory");
  auto r = sb.run({"show-config"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error: Unable to create directory: " + (sb.config_home() / "stelvane").string()),
            std::string::npos)
      << r.err;
}

class BinDirTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("STELVANE_BIN_DIR");
    if (saved_home_) setenv("HOME", saved_home_->c_str(), 1);
  }
  std::optional<std::string> saved_home_ =
      std::getenv("HOME") ? std::optional<std::string>(std::getenv("HOME")) : std::nullopt;
  TempDir tmp;
};

TEST_F(BinDirTest, OverrideDirectoryIsCreatedWithDefaultMode) {
  const fs::path dir = tmp.path() / "a" / "bin";
  setenv("STELVANE_BIN_DIR", dir.c_str(), 1);
  EXPECT_EQ(common::installed_executable_path(), dir / "stelvane");
  EXPECT_TRUE(fs::is_directory(dir));
}

TEST_F(BinDirTest, HomeFromTheAccountDatabaseNotFromHome) {
  unsetenv("STELVANE_BIN_DIR");
  setenv("HOME", tmp.path().c_str(), 1);
  struct passwd* pw = getpwuid(getuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(common::installed_executable_path(), fs::path(pw->pw_dir) / ".local" / "bin" / "stelvane");
  // The platform configuration directory still follows HOME.
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(common::platform_config_dir(), tmp.path() / ".config");
}

}  // namespace
}  // namespace stelvane::test
