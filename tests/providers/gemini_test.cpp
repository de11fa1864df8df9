// Gemini CLI's settings file: Claude Code's layout, hook objects named "stelvane".

#include <gtest/gtest.h>

#include "providers/file_cases.hpp"

namespace stelvane::test {
namespace {

using S = Step;

const std::string kOurs = R"({"type": "command", "command": "@EXE@ gemini-callback", "name": "stelvane"})";

const FileCase kCases[] = {
    {.name = "MissingDirectoryIsCreated",
     .before = std::nullopt,
     .directory = false,
     .steps = {{S::Install, "BeforeTool"}},
     .after = R"({"hooks": {"BeforeTool": [{"matcher": "*", "hooks": [)" + kOurs + "]}]}}"},
    {.name = "UnrelatedSettingsArePreserved",
     .before = R"({"theme": "dark", "mcpServers": {"x": {"command": "y"}}})",
     .steps = {{S::Install, "BeforeTool"}, {S::Install, "SessionStart"}, {S::Install, "AfterAgent"}},
     .after = R"({"theme": "dark", "mcpServers": {"x": {"command": "y"}}, "hooks": {
        "AfterAgent": [{"matcher": "*", "hooks": [)" +
              kOurs + R"(]}],
        "BeforeTool": [{"matcher": "*", "hooks": [)" +
              kOurs + R"(]}],
        "SessionStart": [{"matcher": "*", "hooks": [)" +
              kOurs + "]}]}}"},
    {.name = "OursGoesBeforeAnotherToolInTheWildcardGroup",
     .before =
         R"({"hooks": {"BeforeTool": [{"matcher": "*", "hooks": [{"type": "command", "command": "/opt/lint"}]}]}})",
     .steps = {{S::Install, "BeforeTool"}},
     .after = R"({"hooks": {"BeforeTool": [{"matcher": "*", "hooks": [)" + kOurs +
              R"(, {"type": "command", "command": "/opt/lint"}]}]}})"},
    {.name = "SecondInstallWarnsWithItsOwnText",
     .before = std::nullopt,
     .steps = {{S::Install, "BeforeTool"}, {S::Install, "BeforeTool"}},
     .after = R"({"hooks": {"BeforeTool": [{"matcher": "*", "hooks": [)" + kOurs + "]}]}}",
     .warnings = {"BeforeTool already exists in @FILE@"}},
    {.name = "WrongTypes",
     .before = R"({"hooks": {"BeforeTool": "x"}})",
     .steps = {{S::Install, "BeforeTool"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'hooks.BeforeTool' field in @FILE@ to be an array"}},
    {.name = "RootNotAnObject",
     .before = "\"text\"",
     .steps = {{S::Install, "BeforeTool"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected root of @FILE@ to be a JSON object"}},
    {.name = "UninstallGoesByCommandNotName",
     .before = R"({"hooks": {"AfterAgent": [{"matcher": "*", "hooks": [
        {"type": "command", "command": "/old/stelvane gemini-callback", "name": "renamed"},
        {"type": "command", "command": "@EXE@ gemini-callback"},
        {"type": "command", "command": "/opt/other", "name": "stelvane"},
        {"type": "command", "name": "stelvane"}]}]}})",
     .steps = {{S::Uninstall, "AfterAgent"}},
     .after = R"({"hooks": {"AfterAgent": [{"matcher": "*", "hooks": [
        {"type": "command", "command": "/opt/other", "name": "stelvane"},
        {"type": "command", "name": "stelvane"}]}]}})"},
    {.name = "UninstallKeepsEmptiedArrays",
     .before = std::nullopt,
     .steps = {{S::Install, "SessionStart"}, {S::Uninstall, "SessionStart"}, {S::Uninstall, "SessionStart"}},
     .after = R"({"hooks": {"SessionStart": [{"matcher": "*", "hooks": []}]}})",
     .warnings = {"SessionStart hook not found in @FILE@"}},
    {.name = "UninstallWarnings",
     .before = R"({"hooks": {"BeforeTool": [{"matcher": "x"}], "AfterAgent": [{"matcher": "*", "hooks": {}}]}})",
     .steps = {{S::Uninstall, "BeforeTool"}, {S::Uninstall, "AfterAgent"}, {S::Uninstall, "SessionStart"}},
     .after = R"({"hooks": {"BeforeTool": [{"matcher": "x"}], "AfterAgent": [{"matcher": "*", "hooks": {}}]}})",
     .warnings = {"No wildcard matcher found for BeforeTool in @FILE@",
                  "No hooks array found in wildcard matcher for AfterAgent in @FILE@",
                  "No SessionStart hooks found in @FILE@"}},
};

class GeminiFile : public ProviderEnv, public ::testing::WithParamInterface<FileCase> {};

TEST_P(GeminiFile, Case) { run_file_case(*this, {"gemini-cli", home() / ".gemini" / "settings.json"}, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Cases, GeminiFile, ::testing::ValuesIn(kCases), [](const auto& p) { return p.param.name; });

class Gemini : public ProviderEnv {};

TEST_F(Gemini, HookWithoutCommandIsNeitherListedNorRemoved) {
  const auto file = home() / ".gemini" / "settings.json";
  write_file(
      file,
      R"({"hooks": {"BeforeTool": [{"matcher": "*", "hooks": [{"name": "stelvane"}, {"command": "/x/stelvane gemini-callback"}]}]}})");
  auto provider = create("gemini-cli");
  const auto hooks = provider->list_hooks();
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0].command, "/x/stelvane gemini-callback");
  EXPECT_EQ(hooks[0].matcher, "*");
  provider->uninstall_hook("BeforeTool");
  EXPECT_TRUE(provider->list_hooks().empty());
  EXPECT_NE(read_file(file).find("\"name\": \"stelvane\""), std::string::npos);
  EXPECT_EQ(logged("info").back(), "Uninstalling BeforeTool from " + file.string());
}

}  // namespace
}  // namespace stelvane::test
