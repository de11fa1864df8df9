// The command line as a user meets it: help, version, usage errors, the settings
// commands and the error report.
#include <regex>

#include <gtest/gtest.h>

#include "cli/app.hpp"
#include "cli/output.hpp"
#include "common/error.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

TEST(CliHelp, ListsVisibleCommandsInOrderWithAliasesAndHidesCallbacks) {
  Sandbox sb;
  auto r = sb.run({"--help"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> order = {"init-team  ", "join-team  ",       "configure  ",     "show-configuration  ",
                                          "install  ",   "uninstall-hooks  ", "uninstall-all  ", "list  ",
                                          "upgrade  ",   "debug  ",           "debug-clean  ",   "help  "};
  size_t pos = 0;
  for (const auto& name : order) {
    auto found = r.out.find("  " + name, pos);
    ASSERT_NE(found, std::string::npos) << name << " missing or out of order in:\n" << r.out;
    pos = found;
  }
  for (const char* alias : {"[aliases: init]", "[aliases: join]", "[aliases: config]", "[aliases: show-config]",
                            "[aliases: uninstall]", "[aliases: ls]", "[aliases: clean-debug]"}) {
    EXPECT_NE(r.out.find(alias), std::string::npos) << alias;
  }
  EXPECT_EQ(r.out.find("callback"), std::string::npos);
  EXPECT_EQ(r.out.find("  cc"), std::string::npos);
  EXPECT_NE(r.out.find("-v,--verbose"), std::string::npos);
  EXPECT_NE(r.out.find("Print help"), std::string::npos);
  EXPECT_NE(r.out.find("Print version"), std::string::npos);
}

TEST(CliHelp, VersionAndHelpSubcommand) {
  Sandbox sb;
  for (const char* flag : {"-V", "--version"}) {
    auto r = sb.run({flag});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "stelvane 1.0.8\n");
  }
  auto r = sb.run({"help", "install"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Provider IDs to install (comma-separated: "
                       "claude-code,cursor,gemini-cli,codex,opencode,openclaw,copilot) or \"all\" for all detected"),
            std::string::npos)
      << r.out;
  auto top = sb.run({"help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out, sb.run({"--help"}).out);
}

TEST(CliUsage, ErrorsExitTwoOnStandardErrorAndRunNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"configure", "--fail-open", "yes"},
      {"configure", "--audit-prompts", "TRUE"},
      {"codex-callback"},
      {"install", "-v"},
      {"join-team"},
      {"no-such-command"},
      {"list", "extra"},
      {"help", "no-such-command"},
  };
  for (const auto& args : cases) {
    Sandbox sb;
    auto r = sb.run(args);
    EXPECT_EQ(r.status, 2) << args[0] << ": " << r.err;
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_NE(r.err, "") << args[0];
    EXPECT_FALSE(fs::exists(sb.data_dir())) << "logging ran for a usage error: " << args[0];
    EXPECT_FALSE(fs::exists(sb.config_file())) << args[0];
  }
}

TEST(CliConfigure, NoOptionRewritesTheFileAndPrintsTheSection) {
  Sandbox sb;
  auto r = sb.run({"configure"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = read_file(sb.config_file());
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("\"install_id\": \"([0-9a-f-]{36})\"")));
  const std::string id = m[1];
  EXPECT_EQ(r.out,
            "\n stelvane 1.0.8 \n"
            "────────────────\n"
            "  Fail Open        : enabled\n"
            "  Audit Tool Use   : enabled\n"
            "  Audit Prompts    : enabled\n"
            "  Install ID       : " +
                id +
                "\n"
                "  Organization     : \n"
                "  Organization URL : \n\n");
  EXPECT_EQ(file_mode(sb.config_file()), 0600u);
  EXPECT_EQ(file_mode(sb.config_file().parent_path()), 0700u);
}

TEST(CliConfigure, OptionsChangeOnlyTheirSettings) {
  Sandbox sb;
  ASSERT_EQ(sb.run({"configure", "--fail-open", "false", "--audit-prompts", "false"}).status, 0);
  auto r = sb.run({"config", "--audit-tool-use", "false"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  Fail Open        : disabled\n"), std::string::npos);
  EXPECT_NE(r.out.find("  Audit Tool Use   : disabled\n"), std::string::npos);
  EXPECT_NE(r.out.find("  Audit Prompts    : disabled\n"), std::string::npos);
  auto show = sb.run({"show-config"});
  ASSERT_EQ(show.status, 0);
  EXPECT_NE(show.out.find("\n---- Other Settings\n───────────────────\n  Debug Mode   : disabled\n"
                          "  Auto Upgrade : enabled\n\n"),
            std::string::npos)
      << show.out;
}

TEST(CliDebug, EnableAndDisableWithTheirTexts) {
  Sandbox sb;
  auto on = sb.run({"debug"});
  ASSERT_EQ(on.status, 0) << on.err;
  const std::string dir = (sb.data_dir() / "debug").string();
  EXPECT_EQ(on.out, "Debug mode enabled. Payloads will be logged to:\n  " + dir +
                        "\n\nWarning: Debug logs may contain sensitive information.\n"
                        "Disable debug mode when done: stelvane debug --disable\n\n"
                        "Debug log location: " +
                        dir +
                        "\n\nNote: Debug logs accumulate over time. Run 'stelvane debug-clean' to remove old "
                        "logs.\n");
  EXPECT_EQ(file_mode(dir), 0700u);
  EXPECT_NE(read_file(sb.config_file()).find("\"debug\": true"), std::string::npos);
  auto off = sb.run({"debug", "--disable"});
  EXPECT_EQ(off.out, "Debug mode disabled.\n");
  EXPECT_NE(read_file(sb.config_file()).find("\"debug\": false"), std::string::npos);
}

TEST(CliErrors, BrokenConfigurationIsReportedWithItsCause) {
  Sandbox sb;
  write_file(sb.config_file(), "{\"install_id\": 3}");
  for (const char* cmd : {"configure", "show-configuration", "debug"}) {
    auto r = sb.run({cmd});
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_EQ(r.out, "") << cmd;
    EXPECT_TRUE(r.err.rfind("Error: Unable to deserialize configuration data\n\nCaused by:\n    ", 0) == 0) << r.err;
  }
  EXPECT_EQ(read_file(sb.config_file()), "{\"install_id\": 3}");
}

TEST(CliErrors, ReportNumbersSeveralCauses) {
  EXPECT_EQ(cli::format_error_report(Error("top")), "Error: top\n");
  EXPECT_EQ(cli::format_error_report(Error("top", {"one"})), "Error: top\n\nCaused by:\n    one\n");
  EXPECT_EQ(cli::format_error_report(Error("top", {"one", "two"})),
            "Error: top\n\nCaused by:\n    0: one\n    1: two\n");
}

TEST(CliErrors, CommandsNotBuiltYetSaySo) {
  Sandbox sb;
  auto r = sb.run({"upgrade"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: The 'upgrade' command is not available in this build\n");
}

TEST(CliOutput, SectionLayoutWithColour) {
  const std::string plain = cli::format_section("---- Other Settings", {{"Debug Mode", "enabled"}, {"X", "y"}}, false);
  EXPECT_EQ(plain, "\n---- Other Settings\n───────────────────\n  Debug Mode : enabled\n  X          : y\n\n");
  const std::string color = cli::format_section("T", {{"Ab", "v"}}, true);
  EXPECT_EQ(color,
            "\n\x1b[1;36mT\x1b[0m\n\x1b[34m─\x1b[0m\n  \x1b[1;36mAb\x1b[0m \x1b[90m:\x1b[0m \x1b[37mv\x1b[0m\n\n");
}

TEST(CliOutput, NoColourWhenPipedOrNoColorSet) {
  // Under a pseudo-terminal the section is coloured unless NO_COLOR is set.
  Sandbox sb;
  const std::string cmd = "script -qec '" + exe_path().string() + " show-config' /dev/null";
  auto tty = sb.run_shell(cmd);
  ASSERT_EQ(tty.status, 0) << tty.err;
  EXPECT_NE(tty.out.find("\x1b[1;36m"), std::string::npos);
  sb.set_env("NO_COLOR", "1");
  auto no = sb.run_shell(cmd);
  EXPECT_EQ(no.out.find("\x1b["), std::string::npos);
  sb.unset_env("NO_COLOR");
  EXPECT_EQ(sb.run({"show-config"}).out.find("\x1b["), std::string::npos);
}

}  // namespace
}  // namespace stelvane::test
