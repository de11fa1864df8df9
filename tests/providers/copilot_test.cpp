// Copilot CLI: the project's .github/hooks/hooks.json and the permission answer.

#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "providers/file_cases.hpp"

namespace stelvane::test {
namespace {

using S = Step;

const std::string kOurs =
    R"({"type": "command", "bash": "@EXE@ copilot-callback", "comment": "stelvane security hook"})";

const FileCase kCases[] = {
    {.name = "MissingDirectoryIsCreated",
     .before = std::nullopt,
     .directory = false,
     .steps = {{S::Install, "preToolUse"}, {S::Install, "userPromptSubmitted"}, {S::Install, "postToolUse"}},
     .after = R"({"version": 1, "hooks": {"preToolUse": [)" + kOurs + R"(], "userPromptSubmitted": [)" + kOurs +
              R"(], "postToolUse": [)" + kOurs + "]}}"},
    {.name = "OursGoesFirstAndVersionStays",
     .before = R"({"version": 3, "hooks": {"preToolUse": [{"type": "command", "bash": "/opt/scan"}]}})",
     .steps = {{S::Install, "preToolUse"}},
     .after =
         R"({"version": 3, "hooks": {"preToolUse": [)" + kOurs + R"(, {"type": "command", "bash": "/opt/scan"}]}})"},
    {.name = "SecondInstallLeavesOneHook",
     .before = std::nullopt,
     .steps = {{S::Install, "postToolUse"}, {S::Install, "postToolUse"}},
     .after = R"({"version": 1, "hooks": {"postToolUse": [)" + kOurs + "]}}",
     .warnings = {"postToolUse already exists in @FILE@"}},
    {.name = "WrongTypes",
     .before = R"({"hooks": {"preToolUse": "x"}})",
     .steps = {{S::Install, "preToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks.preToolUse' field in @FILE@ to be an array"}},
    {.name = "HooksNotAnObject",
     .before = R"({"hooks": 1})",
     .steps = {{S::Install, "preToolUse"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks' field in @FILE@ to be an object"}},
    {.name = "UninstallGoesByBashNotComment",
     .before = R"({"version": 1, "hooks": {"preToolUse": [
        {"type": "command", "bash": "@EXE@ copilot-callback", "comment": "edited"},
        {"type": "command", "bash": "/opt/other", "comment": "stelvane security hook"},
        {"type": "command", "command": "@EXE@ copilot-callback"}]}})",
     .steps = {{S::Uninstall, "preToolUse"}},
     .after = R"({"version": 1, "hooks": {"preToolUse": [
        {"type": "command", "bash": "/opt/other", "comment": "stelvane security hook"},
        {"type": "command", "command": "@EXE@ copilot-callback"}]}})"},
    {.name = "UninstallKeepsEmptiedArray",
     .before = std::nullopt,
     .steps = {{S::Install, "preToolUse"}, {S::Uninstall, "preToolUse"}, {S::Uninstall, "postToolUse"}},
     .after = R"({"version": 1, "hooks": {"preToolUse": []}})",
     .warnings = {"No postToolUse hooks found in @FILE@"}},
    {.name = "UninstallWithoutHooks",
     .before = R"({"version": 1})",
     .steps = {{S::Uninstall, "preToolUse"}},
     .after = R"({"version": 1})",
     .warnings = {"No hooks found in @FILE@"}},
};

class CopilotFile : public ProviderEnv, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CopilotFile, Case) {
  run_file_case(*this, {"copilot", work() / ".github" / "hooks" / "hooks.json"}, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, CopilotFile, ::testing::ValuesIn(kCases), [](const auto& p) { return p.param.name; });

class Copilot : public ProviderEnv {};

TEST_F(Copilot, FileLivesAtTheRepositoryRootOfTheWorkingDirectory) {
  const fs::path repo = root() / "repo";
  fs::create_directories(repo / ".git");
  fs::create_directories(repo / "src" / "deep");
  const fs::path worktree = root() / "worktree";  // a worktree has a ".git" file
  write_file(worktree / ".git", "gitdir: /elsewhere\n");
  fs::create_directories(worktree / "lib");

  fs::current_path(repo / "src" / "deep");
  create("copilot")->install_hook("preToolUse");
  EXPECT_TRUE(fs::exists(repo / ".github" / "hooks" / "hooks.json"));
  EXPECT_FALSE(fs::exists(repo / "src" / "deep" / ".github"));
  ASSERT_EQ(create("copilot")->list_hooks().size(), 1u);
  EXPECT_TRUE(providers::find_factory("copilot")->detect().hooks_installed == false);  // ~/.copilot missing

  fs::create_directories(home() / ".copilot");
  EXPECT_TRUE(providers::find_factory("copilot")->detect().hooks_installed);

  // Another repository does not see the first one's hooks.
  fs::current_path(worktree / "lib");
  expect_error([] { create("copilot")->list_hooks(); },
               {"Unable to read " + (worktree / ".github" / "hooks" / "hooks.json").string(), ""});
  EXPECT_FALSE(providers::find_factory("copilot")->detect().hooks_installed);
  create("copilot")->install_hook("postToolUse");
  EXPECT_TRUE(fs::exists(worktree / ".github" / "hooks" / "hooks.json"));
  create("copilot")->uninstall_hook("postToolUse");
  fs::current_path(repo);
  EXPECT_EQ(create("copilot")->list_hooks().size(), 1u);
}

TEST_F(Copilot, OutsideAnyRepositoryTheWorkingDirectoryIsTheRoot) {
  create("copilot")->install_hook("preToolUse");
  EXPECT_TRUE(fs::exists(work() / ".github" / "hooks" / "hooks.json"));
}

TEST_F(Copilot, ListShowsEveryBashCommandWithWildcardMatcher) {
  write_file(
      work() / ".github" / "hooks" / "hooks.json",
      R"({"hooks": {"preToolUse": [{"bash": "/a", "matcher": "x"}, {"command": "/b"}], "postToolUse": [{"bash": "/c"}]}})");
  std::vector<std::string> seen;
  for (const auto& h : create("copilot")->list_hooks()) seen.push_back(h.hook_type + "|" + h.matcher + "|" + h.command);
  EXPECT_EQ(seen, (std::vector<std::string>{"postToolUse|*|/c", "preToolUse|*|/a"}));
}

}  // namespace
}  // namespace stelvane::test
