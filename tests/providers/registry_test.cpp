// The registry: identities, detection, the installed-hook test and picker labels.

#include <gtest/gtest.h>

#include "providers/fixture.hpp"
#include "resources/resources.hpp"

namespace stelvane::test {
namespace {

using providers::HookEntry;
using providers::ProviderInfo;

struct Identity {
  std::string id;
  std::string display_name;
  std::string type_name;
  std::vector<std::string> hook_types;
  std::string hint_format;  // "{}" = the deployment value below
  std::string hint_key;
};

const Identity kIdentities[] = {
    {"claude-code",
     "Claude Code",
     "ClaudeCode",
     {"PreToolUse", "UserPromptSubmit", "Stop"},
     "Install Claude Code from {} or run: npm install -g @anthropic-ai/claude-code",
     "claude_code_download_url"},
    {"cursor",
     "Cursor",
     "Cursor",
     {"preToolUse", "beforeSubmitPrompt", "afterAgentResponse"},
     "Install Cursor from {}",
     "cursor_download_url"},
    {"gemini-cli",
     "Gemini CLI",
     "Gemini",
     {"BeforeTool", "SessionStart", "AfterAgent"},
     "Install Gemini CLI from {}",
     "gemini_cli_url"},
    {"codex", "OpenAI Codex CLI", "Codex", {"notify"}, "Install Codex CLI from {}", "codex_cli_url"},
    {"opencode", "OpenCode", "OpenCode", {"plugins"}, "Install OpenCode from {}", "opencode_docs_url"},
    {"openclaw",
     "OpenClaw",
     "OpenClaw",
     {"plugin"},
     "Install OpenClaw: npm install -g openclaw or visit {}",
     "openclaw_home_url"},
    {"copilot",
     "GitHub Copilot CLI",
     "Copilot",
     {"preToolUse", "userPromptSubmitted", "postToolUse"},
     "Install GitHub Copilot CLI from {}",
     "copilot_cli_docs_url"},
};

class Registry : public ProviderEnv {};

TEST_F(Registry, SevenAssistantsInTheirFixedOrder) {
  const auto& registry = providers::registry();
  ASSERT_EQ(registry.size(), std::size(kIdentities));
  for (size_t i = 0; i < registry.size(); ++i) {
    const auto& factory = *registry[i];
    const auto& expected = kIdentities[i];
    SCOPED_TRACE(expected.id);
    EXPECT_EQ(factory.id(), expected.id);
    EXPECT_EQ(factory.display_name(), expected.display_name);
    const auto hook_types = factory.hook_types();
    std::vector<std::string> types(hook_types.begin(), hook_types.end());
    EXPECT_EQ(types, expected.hook_types);
    EXPECT_EQ(factory.create()->type_name(), expected.type_name);
    EXPECT_EQ(providers::find_factory(expected.id), &factory);

    const ProviderInfo info = factory.discover();
    EXPECT_EQ(info.id, expected.id);
    EXPECT_EQ(info.display_name, expected.display_name);
    std::string hint = expected.hint_format;
    hint.replace(hint.find("{}"), 2, resources::deployment_value(expected.hint_key));
    EXPECT_EQ(info.install_hint, hint);
    EXPECT_FALSE(info.detected);
    EXPECT_FALSE(info.config_dir.has_value());
  }
  EXPECT_EQ(providers::find_factory("claude"), nullptr);
}

TEST_F(Registry, KindsNameThemselvesForDiagnosticsAndTheCloud) {
  using K = providers::ProviderKind;
  const std::tuple<K, const char*, const char*> kinds[] = {
      {K::ClaudeCode, "ClaudeCode", "claudecode"}, {K::Cursor, "Cursor", "cursor"},
      {K::GeminiCli, "GeminiCli", "geminicli"},    {K::Codex, "Codex", "codex"},
      {K::OpenCode, "OpenCode", "opencode"},       {K::OpenClaw, "OpenClaw", "openclaw"},
      {K::Copilot, "Copilot", "copilot"}};
  for (const auto& [kind, diagnostic, source] : kinds) {
    EXPECT_EQ(providers::diagnostic_name(kind), diagnostic);
    EXPECT_EQ(providers::source_name(kind), source);
  }
  EXPECT_EQ(providers::create_for_kind(K::GeminiCli)->type_name(), "Gemini");
  EXPECT_EQ(providers::create_for_kind(K::Copilot)->type_name(), "Copilot");
  expect_error([] { providers::create_for_kind(K::Codex); },
               {"Codex requires payload argument, use codex_hook() instead", ""});
}

struct DetectionCase {
  std::string name;
  std::vector<std::string> dirs;   // relative to HOME, or absolute after expansion
  std::vector<std::string> files;  // same
  std::map<std::string, std::string> env;
  std::string id;
  bool detected;
  std::optional<std::string> config_dir;  // expected config_dir (after expansion)
};

std::ostream& operator<<(std::ostream& out, const DetectionCase& c) { return out << c.name; }

const DetectionCase kDetection[] = {
    {"ClaudeDirectory", {".claude"}, {}, {}, "claude-code", true, "@HOME@/.claude"},
    {"CursorFileIsNotAnInstall", {}, {".cursor"}, {}, "cursor", false, "@HOME@/.cursor"},
    {"CursorMissing", {}, {}, {}, "cursor", false, std::nullopt},
    {"GeminiDirectory", {".gemini"}, {}, {}, "gemini-cli", true, "@HOME@/.gemini"},
    {"OpenClawFileCounts", {}, {".openclaw"}, {}, "openclaw", true, "@HOME@/.openclaw"},
    {"CopilotDirectory", {".copilot"}, {}, {}, "copilot", true, "@HOME@/.copilot"},
    {"CodexDefault", {".codex"}, {}, {}, "codex", true, "@HOME@/.codex"},
    {"CodexHomeWithoutDotCodex",
     {"elsewhere"},
     {},
     {{"CODEX_HOME", "@HOME@/elsewhere"}},
     "codex",
     true,
     "@HOME@/elsewhere"},
    {"CodexHomeMissingHidesDotCodex", {".codex"}, {}, {{"CODEX_HOME", "@HOME@/missing"}}, "codex", false, std::nullopt},
    {"CodexHomeEmptyCountsAsUnset", {".codex"}, {}, {{"CODEX_HOME", ""}}, "codex", true, "@HOME@/.codex"},
    {"OpenCodeDefault", {"@ROOT@/xdg-config/opencode"}, {}, {}, "opencode", true, "@ROOT@/xdg-config/opencode"},
    {"OpenCodeConfigFileNamesItsDirectory",
     {"oc"},
     {},
     {{"OPENCODE_CONFIG", "@HOME@/oc/custom.json"}},
     "opencode",
     true,
     "@HOME@/oc"},
    {"OpenCodeConfigDirectoryMissing",
     {"@ROOT@/xdg-config/opencode"},
     {},
     {{"OPENCODE_CONFIG", "@HOME@/none/opencode.json"}},
     "opencode",
     false,
     std::nullopt},
    {"OpenCodeConfigWithoutParentFallsBack",
     {"@ROOT@/xdg-config/opencode"},
     {},
     {{"OPENCODE_CONFIG", "oc.json"}},
     "opencode",
     true,
     "@ROOT@/xdg-config/opencode"},
};

class Detection : public ProviderEnv, public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(Detection, Case) {
  const auto& c = GetParam();
  const std::map<std::string, std::string> values = {{"HOME", home().string()}, {"ROOT", root().string()}};
  auto place = [&](const std::string& p) {
    const std::string expanded = expand(p, values);
    return expanded.starts_with("/") ? fs::path(expanded) : home() / expanded;
  };
  for (const auto& d : c.dirs) fs::create_directories(place(d));
  for (const auto& f : c.files) write_file(place(f), "x");
  for (const auto& [name, value] : c.env) set_env(name.c_str(), expand(value, values));

  const auto* factory = providers::find_factory(c.id);
  ASSERT_NE(factory, nullptr);
  for (const ProviderInfo& info : {factory->discover(), factory->detect()}) {
    EXPECT_EQ(info.detected, c.detected);
    EXPECT_FALSE(info.hooks_installed);
    if (c.config_dir) {
      ASSERT_TRUE(info.config_dir.has_value());
      EXPECT_EQ(info.config_dir->string(), expand(*c.config_dir, values));
    } else {
      EXPECT_FALSE(info.config_dir.has_value());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Detection, ::testing::ValuesIn(kDetection), [](const auto& p) { return p.param.name; });

TEST_F(Registry, DetectFindsTheProgramsHooksAndForgivesBrokenFiles) {
  const auto* claude = providers::find_factory("claude-code");
  fs::create_directories(home() / ".claude");
  write_file(home() / ".claude" / "settings.json", "{ broken");
  auto info = claude->detect();
  EXPECT_TRUE(info.detected);
  EXPECT_FALSE(info.hooks_installed);

  fs::remove(home() / ".claude" / "settings.json");
  claude->create()->install_hook("Stop");
  EXPECT_TRUE(claude->detect().hooks_installed);
  EXPECT_FALSE(claude->discover().hooks_installed);

  // An undetected assistant is never asked: hooks in a file without its directory
  // marker do not count.
  write_file(home() / ".codex-elsewhere" / "config.toml", "notify = [\"/x/stelvane\", \"codex-callback\"]\n");
  set_env("CODEX_HOME", (home() / ".codex-missing").string());
  EXPECT_FALSE(providers::find_factory("codex")->detect().hooks_installed);
  set_env("CODEX_HOME", (home() / ".codex-elsewhere").string());
  EXPECT_TRUE(providers::find_factory("codex")->detect().hooks_installed);
}

TEST(OwnHook, RecognisesTheProgramsCommandsAndMatcher) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"", "/Users/a/.local/bin/stelvane", true},                  // ends with /stelvane
      {"", "/Users/a/.local/bin/stelvane claude-callback", true},  // -callback and /stelvane
      {"*", "stelvane cursor-callback", true},                     // -callback and the name
      {"", "/opt/stelvane run", true},                             // "/stelvane "
      {"", "/opt/bin/stelvane-old --check", false},
      {"", "/usr/bin/other-callback", false},
      {"", "stelvane", false},
      {"stelvane", "[plugin - index.ts missing]", true},
      {"stelvane (disabled)", "[plugin: /x/index.ts]", false},
  };
  for (const auto& [matcher, command, own] : cases) {
    EXPECT_EQ(providers::is_own_hook(HookEntry{"t", matcher, command}), own) << matcher << " | " << command;
  }
}

TEST(StatusLabel, FollowsDetectionAndInstallState) {
  const std::tuple<bool, bool, bool, const char*> cases[] = {
      {false, true, false, "Cursor [detected]"},   {false, true, true, "Cursor [detected]"},
      {false, false, false, "Cursor [not found]"}, {true, true, true, "Cursor [installed]"},
      {true, false, true, "Cursor [installed]"},   {true, true, false, "Cursor [available but not installed]"},
      {true, false, false, "Cursor [not found]"},
  };
  for (const auto& [flag, detected, installed, label] : cases) {
    ProviderInfo info;
    info.display_name = "Cursor";
    info.detected = detected;
    info.hooks_installed = installed;
    EXPECT_EQ(providers::status_label(info, flag), label);
  }
}

}  // namespace
}  // namespace stelvane::test
