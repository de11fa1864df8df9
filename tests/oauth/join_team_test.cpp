// join-team through the built executable with a private HOME.

#include <string>

#include <gtest/gtest.h>

#include "config/loader.hpp"
#include "resources/resources.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

std::string suffix() { return std::string(resources::deployment_value("hook_domain_suffix")); }

std::string success_text(const std::string& url, const fs::path& installed) {
  return "Joined team successfully!\n\n\nTeam URL: " + url + "\n\nRun to set up hooks for your AI coding tools:\n\n" +
         installed.string() + " install\n\n";
}

TEST(JoinTeam, AcceptedUrls) {
  const std::string s = suffix();
  struct Row {
    const char* what;
    std::string url;
    std::string oid;
  };
  const std::vector<Row> rows = {
      {"usual form", "https://o1" + s + "/o1/stelvane/5ecret", "o1"},
      {"scheme and host in capitals", "HTTPS://O1" + s + "/o1/stelvane/5ecret", "o1"},
      {"trailing slash after the secret", "https://o1" + s + "/o1/n/secret/", "o1"},
      {"query and fragment", "https://o1" + s + "/o1/n/secret?x=1&y=2#frag", "o1"},
      {"port", "https://o1" + s + ":8443/o1/n/secret", "o1"},
      {"escape kept in the oid", "https://o1" + s + "/o%41/n/secret", "o%41"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox sb;
    const RunResult r = sb.run({"join-team", row.url});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, success_text(row.url, sb.bin_dir() / "stelvane"));
    const config::Config cfg = config::parse_config(read_file(sb.config_file()));
    EXPECT_EQ(cfg.org.oid, row.oid);
    EXPECT_EQ(cfg.org.name, "");
    EXPECT_EQ(cfg.org.url, row.url);
    EXPECT_EQ(file_mode(sb.config_file()), 0600u);
    EXPECT_EQ(read_file(sb.bin_dir() / "stelvane"), read_file(exe_path()));
    EXPECT_EQ(file_mode(sb.bin_dir() / "stelvane") & 0111, 0111u);
  }
}

TEST(JoinTeam, RefusedUrlsLeaveNoConfiguration) {
  const std::string s = suffix();
  const std::string bare = s.substr(1);
  const std::string format = "Invalid team URL format. Expected: https://<id>" + s + "/<oid>/<name>/<secret>";
  struct Row {
    const char* what;
    std::string url;
    std::string message;
  };
  const std::vector<Row> rows = {
      {"not a URL", "not a url", "Invalid URL format"},
      {"relative", "/o1/n/s", "Invalid URL format"},
      {"http", "http://o1" + s + "/o1/n/s", "Team URL must use HTTPS"},
      {"other scheme before the host check", "ftp:///o1/n/s", "Team URL must use HTTPS"},
      {"no host", "https:///o1/n/s", "Team URL must have a valid host"},
      {"host outside the hook domain", "https://example.com/o1/n/s",
       "Team URL must be a Nexmoor hook URL (*" + s + ")"},
      {"host equal to the suffix", "https://" + bare + "/o1/n/s", "Team URL must be a Nexmoor hook URL (*" + s + ")"},
      {"host merely containing the suffix", "https://o1" + s + ".evil.example/o1/n/s",
       "Team URL must be a Nexmoor hook URL (*" + s + ")"},
      {"host check before the path", "https://example.com/", "Team URL must be a Nexmoor hook URL (*" + s + ")"},
      {"two segments", "https://o1" + s + "/o1/n", format},
      {"no path", "https://o1" + s, format},
      {"empty first segment", "https://o1" + s + "//n/s", "Organization ID in URL cannot be empty"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox sb;
    const RunResult r = sb.run({"join-team", row.url});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Error: " + row.message + "\n", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(sb.config_file()));
    EXPECT_FALSE(fs::exists(sb.bin_dir() / "stelvane"));
  }
}

TEST(JoinTeam, SecondTeamReplacesFirst) {
  Sandbox sb;
  sb.write_config("https://o1" + suffix() + "/o1/stelvane/old");
  const config::Config before = config::parse_config(read_file(sb.config_file()));
  const std::string url = "https://o2" + suffix() + "/o2/stelvane/new";
  const RunResult r = sb.run({"join", url});  // the alias
  ASSERT_EQ(r.status, 0) << r.err;
  const config::Config after = config::parse_config(read_file(sb.config_file()));
  EXPECT_EQ(after.org.oid, "o2");
  EXPECT_EQ(after.org.name, "");
  EXPECT_EQ(after.org.url, url);
  EXPECT_EQ(after.install_id, before.install_id);
  EXPECT_EQ(after.user.auto_upgrade, before.user.auto_upgrade);
}

TEST(JoinTeam, UnreadableConfigurationStopsBeforeChecks) {
  Sandbox sb;
  fs::create_directories(sb.config_file().parent_path());
  write_file(sb.config_file(), "{ not json");
  const RunResult r = sb.run({"join-team", "http://bad"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find("Team URL must use HTTPS"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(sb.config_file()), "{ not json");
}

TEST(JoinTeam, PlacementFailureIsReportedButJoins) {
  Sandbox sb;
  // A directory where the executable should go cannot be replaced by a file.
  fs::create_directories(sb.bin_dir() / "stelvane" / "inside");
  const std::string url = "https://o1" + suffix() + "/o1/stelvane/s";
  const RunResult r = sb.run({"join-team", url});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string installed = (sb.bin_dir() / "stelvane").string();
  EXPECT_EQ(r.err.rfind("Unable to install stelvane @ " + installed + " (", 0), 0u) << r.err;
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_EQ(r.out, success_text(url, sb.bin_dir() / "stelvane"));
  EXPECT_EQ(config::parse_config(read_file(sb.config_file())).org.oid, "o1");
}

TEST(JoinTeam, FromTheInstalledCopy) {
  Sandbox sb;
  const std::string url = "https://o1" + suffix() + "/o1/stelvane/s";
  ASSERT_EQ(sb.run({"join-team", url}).status, 0);
  const fs::path installed = sb.bin_dir() / "stelvane";
  const RunResult r = sb.run_program({installed.string(), "join-team", url});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, success_text(url, installed));
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace stelvane::test
