// Claude Code's settings file: hook type -> matcher groups -> hook objects.

#include <gtest/gtest.h>

#include "providers/file_cases.hpp"

namespace stelvane::test {
namespace {

using S = Step;

const char* const kOurs = R"({"type": "command", "command": "@EXE@ claude-callback"})";

std::string ours() { return kOurs; }

const FileCase kCases[] = {
    {.name = "MissingDirectoryIsCreated",
     .before = std::nullopt,
     .directory = false,
     .steps = {{S::Install, "PreToolUse"}},
     .after = R"({"hooks": {"PreToolUse": [{"matcher": "*", "hooks": [)" + ours() + "]}]}}"},
    {.name = "MissingFileIsCreated",
     .before = std::nullopt,
     .steps = {{S::Install, "PreToolUse"}, {S::Install, "UserPromptSubmit"}, {S::Install, "Stop"}},
     .after = R"({"hooks": {"PreToolUse": [{"matcher": "*", "hooks": [)" + ours() +
              R"(]}], "Stop": [{"matcher": "*", "hooks": [)" + ours() +
              R"(]}], "UserPromptSubmit": [{"matcher": "*", "hooks": [)" + ours() + "]}]}}"},
    {.name = "OtherToolsHooksStayAfterOurs",
     .before = R"({"hooks": {"PreToolUse": [
        {"matcher": "Bash", "hooks": [{"type": "command", "command": "/opt/guard check"}]},
        {"matcher": "*", "hooks": [{"type": "command", "command": "/opt/audit log", "timeout": 5}]}]}})",
     .steps = {{S::Install, "PreToolUse"}},
     .after = R"({"hooks": {"PreToolUse": [
        {"matcher": "Bash", "hooks": [{"type": "command", "command": "/opt/guard check"}]},
        {"matcher": "*", "hooks": [)" +
              ours() + R"(, {"type": "command", "command": "/opt/audit log", "timeout": 5}]}]}})"},
    {.name = "WildcardGroupComesFirstWhenMissing",
     .before = R"({"hooks": {"Stop": [{"matcher": "Bash", "hooks": []}, "junk", {"matcher": 3}]}})",
     .steps = {{S::Install, "Stop"}},
     .after = R"({"hooks": {"Stop": [{"matcher": "*", "hooks": [)" + ours() +
              R"(]}, {"matcher": "Bash", "hooks": []}, "junk", {"matcher": 3}]}})"},
    {.name = "SecondInstallLeavesOneHook",
     .before = "{}\n",
     .steps = {{S::Install, "PreToolUse"}, {S::Install, "PreToolUse"}},
     .after = R"({"hooks": {"PreToolUse": [{"matcher": "*", "hooks": [)" + ours() + "]}]}}",
     .warnings = {"PreToolUse already exist in @FILE@"}},
    {.name = "ForeignMembersSurviveInstallAndUninstall",
     .before = R"({"permissions": {"allow": ["Bash:ls"], "deny": []}, "model": "opus",
        "hooks": {"Stop": [{"matcher": "*", "hooks": [{"type": "command", "command": "/opt/audit", "x": {"b": 1, "a": 2}}], "note": "keep"}]}})",
     .steps = {{S::Install, "Stop"}, {S::Uninstall, "Stop"}},
     .after = R"({"model": "opus", "permissions": {"allow": ["Bash:ls"], "deny": []
}
, "hooks" : {
  "Stop" : [ {
    "matcher" : "*",
    "hooks" : [ {"type" : "command", "command" : "/opt/audit", "x" : {"a" : 2, "b" : 1}} ],
    "note" : "keep"
  } ]
}
})"},
    {.name = "RootNotAnObject",
     .before = "[1, 2]",
     .steps = {{S::Install, "PreToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected root of @FILE@ to be a JSON object"}},
    {.name = "HooksNotAnObject",
     .before = R"({"hooks": []})",
     .steps = {{S::Install, "PreToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks' field in @FILE@ to be an object"}},
    {.name = "HookTypeNotAnArray",
     .before = R"({"hooks": {"PreToolUse": {"matcher": "*"}}})",
     .steps = {{S::Install, "PreToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks.PreToolUse' field in @FILE@ to be an array"}},
    {.name = "WildcardHooksNotAnArray",
     .before = R"({"hooks": {"PreToolUse": [{"matcher": "*", "hooks": "none"}]}})",
     .steps = {{S::Install, "PreToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@",
                            "Expected 'hooks' array in wildcard matcher for PreToolUse in @FILE@"}},
    {.name = "InvalidJson",
     .before = R"({"hooks": )",
     .steps = {{S::Install, "PreToolUse"}},
     .error = ExpectedError{"Unable to parse JSON data in @FILE@", ""}},
    {.name = "UninstallRemovesOnlyTheProgramsHooks",
     .before = R"({"hooks": {"PreToolUse": [
        {"matcher": "Bash", "hooks": [{"type": "command", "command": "@EXE@ claude-callback"}]},
        {"matcher": "*", "hooks": [
          {"type": "command", "command": "/opt/audit log"},
          {"type": "command", "command": "@EXE@ claude-callback"},
          {"type": "command", "command": "/old/bin/stelvane claude-callback"},
          {"type": "command", "command": "/usr/bin/stelvane-old claude-callback"},
          {"type": "command", "command": "   "},
          {"type": "command"}]},
        {"matcher": "*", "hooks": [{"type": "command", "command": "@EXE@ claude-callback"}]}]}})",
     .steps = {{S::Uninstall, "PreToolUse"}},
     .after = R"({"hooks": {"PreToolUse": [
        {"matcher": "Bash", "hooks": [{"type": "command", "command": "@EXE@ claude-callback"}]},
        {"matcher": "*", "hooks": [
          {"type": "command", "command": "/opt/audit log"},
          {"type": "command", "command": "/usr/bin/stelvane-old claude-callback"},
          {"type": "command", "command": "   "},
          {"type": "command"}]},
        {"matcher": "*", "hooks": [{"type": "command", "command": "@EXE@ claude-callback"}]}]}})"},
    {.name = "UninstallKeepsEmptiedGroupAndArray",
     .before = std::nullopt,
     .steps = {{S::Install, "Stop"}, {S::Uninstall, "Stop"}},
     .after = R"({"hooks": {"Stop": [{"matcher": "*", "hooks": []}]}})"},
    {.name = "UninstallWithHooksAsArrayRewritesFile",
     .before = R"({"b": 1,   "hooks": [], "a": 2})",
     .steps = {{S::Uninstall, "Stop"}},
     .after = R"({"a": 2, "b": 1, "hooks": []})",
     .warnings = {"No hooks found in @FILE@"}},
    {.name = "UninstallWarnings",
     .before = R"({"hooks": {"Stop": [{"matcher": "Bash", "hooks": []}], "PreToolUse": [{"matcher": "*"}],
        "UserPromptSubmit": [{"matcher": "*", "hooks": [{"type": "command", "command": "/opt/x"}]}]}})",
     .steps = {{S::Uninstall, "Stop"},
               {S::Uninstall, "PreToolUse"},
               {S::Uninstall, "UserPromptSubmit"},
               {S::Uninstall, "Notification"}},
     .after = R"({"hooks": {"Stop": [{"matcher": "Bash", "hooks": []}], "PreToolUse": [{"matcher": "*"}],
        "UserPromptSubmit": [{"matcher": "*", "hooks": [{"type": "command", "command": "/opt/x"}]}]}})",
     .warnings = {"No wildcard matcher found for Stop in @FILE@",
                  "No hooks array found in wildcard matcher for PreToolUse in @FILE@",
                  "UserPromptSubmit hook not found in @FILE@", "No Notification hooks found in @FILE@"}},
    {.name = "UninstallOfMissingFileFails",
     .before = std::nullopt,
     .steps = {{S::Uninstall, "Stop"}},
     .error = ExpectedError{"Unable to read @FILE@", "No such file or directory (os error 2)"}},
};

class ClaudeCodeFile : public ProviderEnv, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ClaudeCodeFile, Case) {
  run_file_case(*this, {"claude-code", home() / ".claude" / "settings.json"}, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, ClaudeCodeFile, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return p.param.name; });

class ClaudeCode : public ProviderEnv {};

TEST_F(ClaudeCode, NewFileIsWrittenInTheProgramsLayout) {
  auto provider = create("claude-code");
  provider->install_hook("PreToolUse");
  const std::string expected =
      "{\n  \"hooks\": {\n    \"PreToolUse\": [\n      {\n        \"hooks\": [\n          {\n"
      "            \"command\": \"" +
      exe().string() +
      " claude-callback\",\n"
      "            \"type\": \"command\"\n          }\n        ],\n"
      "        \"matcher\": \"*\"\n      }\n    ]\n  }\n}";
  EXPECT_EQ(read_file(home() / ".claude" / "settings.json"), expected);
  EXPECT_EQ(logged("info"),
            (std::vector<std::string>{"Installing PreToolUse in " + (home() / ".claude" / "settings.json").string()}));
}

TEST_F(ClaudeCode, ListShowsEveryCommandUnderItsGroupMatcher) {
  write_file(home() / ".claude" / "settings.json", R"({"hooks": {
      "Stop": [{"matcher": "*", "hooks": [{"command": "/a"}, {"type": "command"}, {"command": 5}]},
               {"hooks": [{"command": "/b"}]}, "junk", {"matcher": 1, "hooks": [{"command": "/c"}]}],
      "PreToolUse": [{"matcher": "Bash", "hooks": [{"command": "/d"}]}],
      "Other": {"matcher": "*"}}})");
  const auto hooks = create("claude-code")->list_hooks();
  std::vector<std::string> seen;
  for (const auto& h : hooks) seen.push_back(h.hook_type + "|" + h.matcher + "|" + h.command);
  EXPECT_EQ(seen, (std::vector<std::string>{"PreToolUse|Bash|/d", "Stop|*|/a", "Stop||/b", "Stop||/c"}));
}

TEST_F(ClaudeCode, ListOfMissingOrBrokenFileFails) {
  const auto file = (home() / ".claude" / "settings.json").string();
  expect_error([&] { create("claude-code")->list_hooks(); }, {"Unable to read " + file, ""});
  write_file(file, "not json");
  expect_error([&] { create("claude-code")->list_hooks(); }, {"Unable to parse JSON data in " + file, ""});
  write_file(file, "[]");
  EXPECT_TRUE(create("claude-code")->list_hooks().empty());
}

}  // namespace
}  // namespace stelvane::test
