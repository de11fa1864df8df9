// OpenCode: the "stelvane" entry of "plugins" in opencode.json.

#include <gtest/gtest.h>

#include "providers/file_cases.hpp"

namespace stelvane::test {
namespace {

using S = Step;

const std::string kOurs =
    R"({"enabled": true, "command": "@EXE@ opencode-callback", "description": "stelvane security hooks"})";

const FileCase kCases[] = {
    {.name = "MissingDirectoryIsCreated",
     .before = std::nullopt,
     .directory = false,
     .steps = {{S::Install, "plugins"}},
     .after = R"({"plugins": {"stelvane": )" + kOurs + "}}"},
    {.name = "OtherPluginsStay",
     .before =
         R"({"$schema": "https://opencode.ai/config.json", "plugins": {"fmt": {"command": "/opt/fmt", "enabled": true}}})",
     .steps = {{S::Install, "plugins"}},
     .after =
         R"({"$schema": "https://opencode.ai/config.json", "plugins": {"fmt": {"command": "/opt/fmt", "enabled": true}, "stelvane": )" +
         kOurs + "}}"},
    {.name = "EntryWithOtherCommandIsReplacedSilently",
     .before = R"({"plugins": {"stelvane": {"command": "/old/stelvane opencode-callback", "enabled": false, "x": 1}}})",
     .steps = {{S::Install, "plugins"}},
     .after = R"({"plugins": {"stelvane": )" + kOurs + "}}"},
    {.name = "DisabledEntryWithCurrentCommandStaysDisabled",
     .before = R"({"plugins": {"stelvane": {"command": "@EXE@ opencode-callback", "enabled": false}}})",
     .steps = {{S::Install, "plugins"}},
     .after = R"({"plugins": {"stelvane": {"command": "@EXE@ opencode-callback", "enabled": false}}})",
     .warnings = {"stelvane plugin already exists in @FILE@"}},
    {.name = "PluginsNotAnObject",
     .before = R"({"plugins": ["a"]})",
     .steps = {{S::Install, "plugins"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected 'plugins' field in @FILE@ to be an object"}},
    {.name = "RootNotAnObject",
     .before = "null",
     .steps = {{S::Install, "plugins"}},
     .error = ExpectedError{"Unable to update @FILE@", "Expected root of @FILE@ to be a JSON object"}},
    {.name = "InvalidJsonHasItsOwnWording",
     .before = "{",
     .steps = {{S::Install, "plugins"}},
     .error = ExpectedError{"Unable to parse JSON in @FILE@", ""}},
    {.name = "UninstallRemovesOnlyOurEntryAndKeepsEmptyPlugins",
     .before = R"({"plugins": {"fmt": {"command": "/opt/fmt"}}})",
     .steps = {{S::Install, "plugins"}, {S::Uninstall, "plugins"}, {S::Uninstall, "plugins"}},
     .after = R"({"plugins": {"fmt": {"command": "/opt/fmt"}}})",
     .warnings = {"stelvane plugin not found in @FILE@"}},
    {.name = "UninstallEmptiesPlugins",
     .before = std::nullopt,
     .steps = {{S::Install, "plugins"}, {S::Uninstall, "plugins"}},
     .after = R"({"plugins": {}})"},
    {.name = "UninstallWithPluginsAsArrayRewrites",
     .before = R"({"plugins": [],  "z": 1, "a": 0})",
     .steps = {{S::Uninstall, "plugins"}},
     .after = R"({"a": 0, "plugins": [], "z": 1})",
     .warnings = {"No plugins found in @FILE@"}},
};

class OpenCodeFile : public ProviderEnv, public ::testing::WithParamInterface<FileCase> {};

TEST_P(OpenCodeFile, Case) {
  run_file_case(*this, {"opencode", root() / "xdg-config" / "opencode" / "opencode.json"}, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenCodeFile, ::testing::ValuesIn(kCases), [](const auto& p) { return p.param.name; });

class OpenCode : public ProviderEnv {};

TEST_F(OpenCode, OpencodeConfigVariableChoosesTheDirectoryNotTheName) {
  set_env("OPENCODE_CONFIG", (root() / "elsewhere" / "custom-name.json").string());
  create("opencode")->install_hook("plugins");
  EXPECT_TRUE(fs::exists(root() / "elsewhere" / "opencode.json"));
  EXPECT_FALSE(fs::exists(root() / "elsewhere" / "custom-name.json"));
  EXPECT_FALSE(fs::exists(root() / "xdg-config" / "opencode"));
}

TEST_F(OpenCode, ListShowsNamedEntriesWithCommands) {
  write_file(root() / "xdg-config" / "opencode" / "opencode.json",
             R"({"plugins": {"b": {"command": "/b", "enabled": false}, "a": {"command": "/a", "enabled": "no"},
                 "c": {"enabled": true}, "stelvane": {"command": "@"}}})");
  std::vector<std::string> seen;
  for (const auto& h : create("opencode")->list_hooks())
    seen.push_back(h.hook_type + "|" + h.matcher + "|" + h.command);
  EXPECT_EQ(seen, (std::vector<std::string>{"plugin|a|/a", "plugin|b (disabled)|/b", "plugin|stelvane|@"}));
}

}  // namespace
}  // namespace stelvane::test
