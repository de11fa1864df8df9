// Where log lines go, their layout, and debug-clean.
#include "logging/logging.hpp"

#include <regex>

#include <gtest/gtest.h>

#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

std::vector<fs::path> files_in(const fs::path& dir) {
  std::vector<fs::path> out;
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
  return out;
}

TEST(Logging, LogFileHoldsOnlyTheLatestRunInTheDocumentedLayout) {
  Sandbox sb;
  sb.set_env("STELVANE_CONFIG_DIR", (sb.root() / "first").string());
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  const fs::path log = sb.data_dir() / "stelvane.log";
  EXPECT_NE(read_file(log).find("Using config directory override from STELVANE_CONFIG_DIR: " +
                                (sb.root() / "first").string()),
            std::string::npos);
  sb.set_env("STELVANE_CONFIG_DIR", (sb.root() / "second").string());
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  const std::string text = read_file(log);
  EXPECT_EQ(text.find("first"), std::string::npos) << text;
  const std::regex line(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ (INFO |DEBUG|WARN |ERROR) stelvane::[a-z_:]+\] .*)");
  std::stringstream in(text);
  std::string l;
  int lines = 0;
  while (std::getline(in, l)) {
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    ++lines;
  }
  EXPECT_GT(lines, 0);
  EXPECT_EQ(text.find("DEBUG"), std::string::npos) << "debug lines at the default level";
}

TEST(Logging, VerboseGoesToStandardErrorAtDebugLevel) {
  Sandbox sb;
  auto r = sb.run({"-v", "show-config"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("DEBUG stelvane::config::loader] Loading config from "), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(sb.data_dir() / "stelvane.log"));
}

TEST(Logging, FilterDirectivesKeepTargetLevelsButNotTheirDefault) {
  Sandbox sb;
  sb.set_env("SPDLOG_LEVEL", "error,stelvane::config::loader=debug");
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  const std::string text = read_file(sb.data_dir() / "stelvane.log");
  EXPECT_NE(text.find("DEBUG stelvane::config::loader] Loading config"), std::string::npos) << text;
  EXPECT_EQ(text.find("DEBUG stelvane::common]"), std::string::npos) << text;
  EXPECT_NE(text.find("INFO  stelvane::config::loader] install id: "), std::string::npos) << text;
}

TEST(Logging, DebugSwitchWritesOnePrivateFilePerRun) {
  Sandbox sb;
  ASSERT_EQ(sb.run({"debug"}).status, 0);
  const fs::path dir = sb.data_dir() / "debug";
  const size_t before = files_in(dir).size();
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  auto files = files_in(dir);
  ASSERT_EQ(files.size(), before + 2);
  EXPECT_EQ(file_mode(dir), 0700u);
  for (const auto& f : files) {
    EXPECT_TRUE(std::regex_match(f.filename().string(), std::regex(R"(debug-\d+-[0-9a-f]{8,}\.log)"))) << f;
    EXPECT_EQ(file_mode(f), 0600u);
  }
}

TEST(Logging, DebugSwitchUnderAConfigOverrideTakesEffect) {
  Sandbox sb;
  sb.set_env("STELVANE_CONFIG_DIR", (sb.root() / "cfg").string());
  ASSERT_EQ(sb.run({"debug"}).status, 0);
  ASSERT_EQ(sb.run({"show-config"}).status, 0);
  EXPECT_FALSE(files_in(sb.data_dir() / "debug").empty());
}

TEST(DebugClean, RemovesOnlyLogFilesAndReportsTheirSize) {
  Sandbox sb;
  const fs::path dir = sb.data_dir() / "debug";
  write_file(dir / "a.log", std::string(2048, 'a'));
  write_file(dir / "B.LOG", std::string(1024, 'b'));
  write_file(dir / "notes.txt", "keep");
  write_file(dir / ".log", "not a log file");
  fs::create_directories(dir / "x.log");
  auto r = sb.run({"debug-clean"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Removed 2 debug log file(s) (3.0 KB)\n");
  EXPECT_TRUE(fs::exists(dir / "notes.txt"));
  EXPECT_TRUE(fs::exists(dir / ".log"));
  EXPECT_TRUE(fs::is_directory(dir / "x.log"));
  EXPECT_FALSE(fs::exists(dir / "a.log"));
}

TEST(DebugClean, NothingToCleanCreatesTheDirectory) {
  Sandbox sb;
  auto r = sb.run({"clean-debug"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "No debug log files to clean.\n");
  EXPECT_TRUE(fs::is_directory(sb.data_dir() / "debug"));
  EXPECT_EQ(file_mode(sb.data_dir() / "debug"), 0700u);
}

TEST(DebugClean, SizeTexts) {
  const std::vector<std::pair<unsigned long long, std::string>> cases = {
      {0, "0 bytes"},
      {1023, "1023 bytes"},
      {1024, "1.0 KB"},
      {1536, "1.5 KB"},
      {1048575, "1024.0 KB"},
      {1048576, "1.0 MB"},
      {5 * 1048576 + 104858, "5.1 MB"},
      {~0ULL, "17592186044416.0 MB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(logging::size_text(bytes), text) << bytes;
}

}  // namespace
}  // namespace stelvane::test
