// Codex: the "notify" array of config.toml, re-serialised on every write.

#include <gtest/gtest.h>

#include "providers/fixture.hpp"

namespace stelvane::test {
namespace {

struct CodexCase {
  std::string name;
  std::optional<std::string> before = std::nullopt;  // nullopt: no file
  bool directory = true;
  std::vector<std::string> steps;                   // "install" / "uninstall"
  std::optional<std::string> after = std::nullopt;  // exact text
  std::optional<ExpectedError> error = std::nullopt;
  std::vector<std::string> warnings = {};
};

std::ostream& operator<<(std::ostream& out, const CodexCase& c) { return out << c.name; }

const CodexCase kCases[] = {
    {.name = "MissingDirectoryIsCreated",
     .before = std::nullopt,
     .directory = false,
     .steps = {"install"},
     .after = "notify = [ '@EXE@', 'codex-callback' ]"},
    {.name = "CommentsGoKeysSorted",
     .before = "# my settings\nmodel = \"o3\" # fast\n\n[profiles.deep]\nmodel = \"o1\"\n\n[history]\nsize = 5\n"
               "approval_policy = \"never\"\n",
     .steps = {"install"},
     .after =
         "model = 'o3'\nnotify = [ '@EXE@', 'codex-callback' ]\n\n[history]\napproval_policy = 'never'\nsize = 5\n\n"
         "[profiles.deep]\nmodel = 'o1'"},
    {.name = "OtherNotifyProgramIsReplacedAndNotRestored",
     .before = "notify = [\"notify-send\", \"Codex\"]\nmodel = \"o3\"\n",
     .steps = {"install", "uninstall"},
     .after = "model = 'o3'",
     .warnings = {"Existing notify config found in @FILE@. It will be replaced."}},
    {.name = "NotifyOfAnotherShapeIsReplaced",
     .before = "notify = \"x\"\n",
     .steps = {"install"},
     .after = "notify = [ '@EXE@', 'codex-callback' ]",
     .warnings = {"Existing notify config found in @FILE@. It will be replaced."}},
    {.name = "EmptyNotifyIsReplaced",
     .before = "notify = []\n",
     .steps = {"install"},
     .after = "notify = [ '@EXE@', 'codex-callback' ]",
     .warnings = {"Existing notify config found in @FILE@. It will be replaced."}},
    {.name = "SameExecutableCountsAsInstalled",
     .before = "notify = [\"@EXE@\", \"something-else\"]\n",
     .steps = {"install"},
     .after = "notify = [ '@EXE@', 'something-else' ]",
     .warnings = {"notify hook already exists in @FILE@"}},
    {.name = "SecondInstallKeepsOneEntry",
     .before = std::nullopt,
     .steps = {"install", "install"},
     .after = "notify = [ '@EXE@', 'codex-callback' ]",
     .warnings = {"notify hook already exists in @FILE@"}},
    {.name = "UninstallRemovesNotifyWhateverFollows",
     .before = "notify = [\"/old/bin/stelvane\", \"codex-callback\", \"--x\"]\n[tui]\nx = 1\n",
     .steps = {"uninstall"},
     .after = "[tui]\nx = 1"},
    {.name = "UninstallLeavesAnotherProgram",
     .before = "notify = [\"/usr/bin/stelvane-notify\"]\n",
     .steps = {"uninstall"},
     .after = "notify = [ '/usr/bin/stelvane-notify' ]",
     .warnings = {"notify hook not found in @FILE@"}},
    {.name = "UninstallOfMissingFileFails",
     .before = std::nullopt,
     .steps = {"uninstall"},
     .error = ExpectedError{"Unable to read @FILE@", "No such file or directory (os error 2)"}},
    {.name = "InvalidToml",
     .before = "model = \n",
     .steps = {"install"},
     .error = ExpectedError{"Unable to parse TOML in @FILE@", ""}},
};

class CodexFile : public ProviderEnv, public ::testing::WithParamInterface<CodexCase> {};

TEST_P(CodexFile, Case) {
  const auto& c = GetParam();
  const fs::path file = home() / ".codex" / "config.toml";
  const std::map<std::string, std::string> values = {{"EXE", exe().string()}, {"FILE", file.string()}};
  if (c.directory) fs::create_directories(file.parent_path());
  if (c.before) write_file(file, expand(*c.before, values));

  auto provider = create("codex");
  std::optional<Error> failure;
  try {
    for (const auto& step : c.steps) {
      if (step == "install") {
        provider->install_hook("notify");
      } else {
        provider->uninstall_hook("notify");
      }
    }
  } catch (const Error& e) {
    failure = e;
  }
  if (c.error) {
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->message(), expand(c.error->message, values));
    if (!c.error->cause.empty()) {
      EXPECT_EQ(failure->causes().at(0), expand(c.error->cause, values));
    }
    if (c.before) {
      EXPECT_EQ(read_file(file), expand(*c.before, values));
    }
  } else {
    ASSERT_FALSE(failure.has_value()) << failure->chain();
  }
  if (c.after) {
    EXPECT_EQ(read_file(file), expand(*c.after, values));
  }
  std::vector<std::string> warnings = {};
  for (const auto& w : c.warnings) warnings.push_back(expand(w, values));
  EXPECT_EQ(logged("warning"), warnings);
}

INSTANTIATE_TEST_SUITE_P(Cases, CodexFile, ::testing::ValuesIn(kCases), [](const auto& p) { return p.param.name; });

class Codex : public ProviderEnv {};

TEST_F(Codex, CodexHomeHoldsTheFile) {
  const fs::path dir = root() / "codex-home";
  set_env("CODEX_HOME", dir.string());
  create("codex")->install_hook("notify");
  EXPECT_TRUE(fs::exists(dir / "config.toml"));
  EXPECT_FALSE(fs::exists(home() / ".codex"));
  const auto hooks = create("codex")->list_hooks();
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0].hook_type, "notify");
  EXPECT_EQ(hooks[0].matcher, "*");
  EXPECT_EQ(hooks[0].command, exe().string() + " codex-callback");
  EXPECT_TRUE(providers::is_own_hook(hooks[0]));
}

TEST_F(Codex, ListJoinsTheStringElements) {
  const fs::path file = home() / ".codex" / "config.toml";
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"notify = [\"a\", 1, \"b c\", \"\"]", {"a b c "}},
      {"notify = [2]", {""}},
      {"notify = []", {}},
      {"notify = \"a\"", {}},
      {"model = \"x\"", {}},
  };
  for (const auto& [text, commands] : cases) {
    write_file(file, text);
    std::vector<std::string> seen;
    for (const auto& h : create("codex")->list_hooks()) seen.push_back(h.command);
    EXPECT_EQ(seen, commands) << text;
  }
}

}  // namespace
}  // namespace stelvane::test
