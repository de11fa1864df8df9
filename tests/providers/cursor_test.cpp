// Cursor's hooks file: flat arrays of hook objects and a "version" member.

#include <gtest/gtest.h>

#include "providers/file_cases.hpp"

namespace stelvane::test {
namespace {

using S = Step;

const std::string kOurs = R"({"type": "command", "command": "@EXE@ cursor-callback", "matcher": "*"})";

const FileCase kCases[] = {
    {.name = "MissingDirectoryIsCreated",
     .before = std::nullopt,
     .directory = false,
     .steps = {{S::Install, "preToolUse"}},
     .after = R"({"version": 1, "hooks": {"preToolUse": [)" + kOurs + "]}}"},
    {.name = "VersionIsAddedButNeverChanged",
     .before = R"({"version": 2, "hooks": {}})",
     .steps = {{S::Install, "beforeSubmitPrompt"}},
     .after = R"({"version": 2, "hooks": {"beforeSubmitPrompt": [)" + kOurs + "]}}"},
    {.name = "MissingVersionIsWritten",
     .before = R"({"extra": [1]})",
     .steps = {{S::Install, "afterAgentResponse"}},
     .after = R"({"extra": [1], "version": 1, "hooks": {"afterAgentResponse": [)" + kOurs + "]}}"},
    {.name = "OursGoesFirst",
     .before = R"({"version": 1, "hooks": {"preToolUse": [{"command": "/opt/guard", "timeout": 3}]}})",
     .steps = {{S::Install, "preToolUse"}},
     .after =
         R"({"version": 1, "hooks": {"preToolUse": [)" + kOurs + R"(, {"command": "/opt/guard", "timeout": 3}]}})"},
    {.name = "SecondInstallLeavesOneHook",
     .before = std::nullopt,
     .steps = {{S::Install, "preToolUse"}, {S::Install, "preToolUse"}},
     .after = R"({"version": 1, "hooks": {"preToolUse": [)" + kOurs + "]}}",
     .warnings = {"preToolUse already exists in @FILE@"}},
    {.name = "RootNotAnObject",
     .before = "3",
     .steps = {{S::Install, "preToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected root of @FILE@ to be a JSON object"}},
    {.name = "HooksNotAnObject",
     .before = R"({"hooks": "x"})",
     .steps = {{S::Install, "preToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks' field in @FILE@ to be an object"}},
    {.name = "HookTypeNotAnArray",
     .before = R"({"hooks": {"preToolUse": null}})",
     .steps = {{S::Install, "preToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks.preToolUse' field in @FILE@ to be an array"}},
    {.name = "UninstallRemovesOnlyTheProgramsHooks",
     .before = R"({"version": 1, "hooks": {"preToolUse": [
        {"command": "/opt/guard"}, {"command": "@EXE@ cursor-callback", "matcher": "*"},
        {"command": "/old/stelvane cursor-callback"}, {"command": "stelvane-helper stelvane"}, {"matcher": "*"}],
        "beforeSubmitPrompt": [{"command": "@EXE@ cursor-callback"}]}})",
     .steps = {{S::Uninstall, "preToolUse"}},
     .after = R"({"version": 1, "hooks": {"preToolUse": [
        {"command": "/opt/guard"}, {"command": "stelvane-helper stelvane"}, {"matcher": "*"}],
        "beforeSubmitPrompt": [{"command": "@EXE@ cursor-callback"}]}})"},
    {.name = "UninstallKeepsEmptiedArray",
     .before = std::nullopt,
     .steps = {{S::Install, "afterAgentResponse"}, {S::Uninstall, "afterAgentResponse"}},
     .after = R"({"version": 1, "hooks": {"afterAgentResponse": []}})"},
    {.name = "UninstallWarnings",
     .before = R"({"hooks": {"preToolUse": [{"command": "/x"}], "beforeSubmitPrompt": {}}})",
     .steps = {{S::Uninstall, "preToolUse"}, {S::Uninstall, "beforeSubmitPrompt"}},
     .after = R"({"hooks": {"preToolUse": [{"command": "/x"}], "beforeSubmitPrompt": {}}})",
     .warnings = {"preToolUse hook not found in @FILE@", "No beforeSubmitPrompt hooks found in @FILE@"}},
    {.name = "UninstallWithoutHooksObject",
     .before = R"({"hooks": [1]})",
     .steps = {{S::Uninstall, "preToolUse"}},
     .after = R"({"hooks": [1]})",
     .warnings = {"No hooks found in @FILE@"}},
    {.name = "UninstallOfMissingFileFails",
     .before = std::nullopt,
     .steps = {{S::Uninstall, "preToolUse"}},
     .error = ExpectedError{"Unable to read @FILE@", "No such file or directory (os error 2)"}},
    {.name = "InvalidJson",
     .before = "{,}",
     .steps = {{S::Uninstall, "preToolUse"}},
     .error = ExpectedError{"Unable to parse JSON data in @FILE@", ""}},
};

class CursorFile : public ProviderEnv, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CursorFile, Case) { run_file_case(*this, {"cursor", home() / ".cursor" / "hooks.json"}, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Cases, CursorFile, ::testing::ValuesIn(kCases), [](const auto& p) { return p.param.name; });

class Cursor : public ProviderEnv {};

TEST_F(Cursor, ListUsesTheHooksMatcherOrWildcard) {
  write_file(
      home() / ".cursor" / "hooks.json",
      R"({"hooks": {"preToolUse": [{"command": "/a"}, {"command": "/b", "matcher": "Shell"}, {"matcher": "x"}, 7],
                 "stop": {"command": "/c"}}})");
  std::vector<std::string> seen;
  for (const auto& h : create("cursor")->list_hooks()) seen.push_back(h.hook_type + "|" + h.matcher + "|" + h.command);
  EXPECT_EQ(seen, (std::vector<std::string>{"preToolUse|*|/a", "preToolUse|Shell|/b"}));
}

}  // namespace
}  // namespace stelvane::test
