// Every provider rewrites the assistant's file atomically: a link stays a link,
// the file keeps its mode, and a failed write leaves the old content in place.

#include <cerrno>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/atomic_file.hpp"
#include "providers/fixture.hpp"

namespace stelvane::test {
namespace {

struct Target {
  std::string id;
  std::string hook_type;
  std::string file;  // relative to the test root
  std::string seed;  // valid content without the program's hook
  // Which replacement (counting from 1) writes this file during install.
  int write_number;
  // Text that the file holds once the program's hook is in.
  std::string marker;
};

std::ostream& operator<<(std::ostream& out, const Target& t) { return out << t.id; }

const Target kTargets[] = {
    {"claude-code", "Stop", "home/.claude/settings.json", R"({"model": "x"})", 1, "@EXE@"},
    {"cursor", "preToolUse", "home/.cursor/hooks.json", R"({"version": 1})", 1, "@EXE@"},
    {"gemini-cli", "BeforeTool", "home/.gemini/settings.json", R"({"theme": "x"})", 1, "@EXE@"},
    {"codex", "notify", "home/.codex/config.toml", "model = 'x'\n", 1, "@EXE@"},
    {"opencode", "plugins", "xdg-config/opencode/opencode.json", R"({"theme": "x"})", 1, "@EXE@"},
    {"openclaw", "plugin", "home/.openclaw/openclaw.json", R"({"gateway": {}})", 3, "\"stelvane\": {"},
    {"copilot", "preToolUse", "work/.github/hooks/hooks.json", R"({"version": 1})", 1, "@EXE@"},
};

class FileSafety : public ProviderEnv, public ::testing::WithParamInterface<Target> {
 protected:
  void TearDown() override {
    common::testing::set_fault(nullptr);
    ProviderEnv::TearDown();
  }
  fs::path file() const { return root() / GetParam().file; }
  std::string marker() const { return expand(GetParam().marker, {{"EXE", exe().string()}}); }
};

TEST_P(FileSafety, LinkedFileStaysALinkAndItsTargetIsUpdated) {
  const fs::path target = root() / "dotfiles" / "managed.conf";
  write_file(target, GetParam().seed);
  fs::create_directories(file().parent_path());
  fs::create_symlink(target, file());

  create(GetParam().id)->install_hook(GetParam().hook_type);

  ASSERT_TRUE(fs::is_symlink(fs::symlink_status(file())));
  EXPECT_EQ(fs::read_symlink(file()), target);
  EXPECT_NE(read_file(target).find(marker()), std::string::npos) << read_file(target);
}

TEST_P(FileSafety, OwnerOnlyFileKeepsItsMode) {
  write_file(file(), GetParam().seed);
  fs::permissions(file(), fs::perms::owner_read | fs::perms::owner_write);
  create(GetParam().id)->install_hook(GetParam().hook_type);
  EXPECT_EQ(file_mode(file()), 0600u);
  EXPECT_NE(read_file(file()).find(marker()), std::string::npos);
}

TEST_P(FileSafety, FailedWriteLeavesTheFileAsItWas) {
  write_file(file(), GetParam().seed);
  int renames = 0;
  const int fail_at = GetParam().write_number;
  common::testing::set_fault([&](std::string_view step) {
    if (step != "rename") return 0;
    return ++renames == fail_at ? EIO : 0;
  });
  auto provider = create(GetParam().id);
  expect_error([&] { provider->install_hook(GetParam().hook_type); }, {"Failed to write to " + file().string(), ""});
  common::testing::set_fault(nullptr);

  EXPECT_EQ(read_file(file()), GetParam().seed);
  for (const auto& entry : fs::directory_iterator(file().parent_path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos) << entry.path();
  }
}

TEST_P(FileSafety, NewFileGetsTheDefaultMode) {
  if (GetParam().id == "openclaw") fs::create_directories(file().parent_path());
  const mode_t old_mask = ::umask(027);
  try {
    create(GetParam().id)->install_hook(GetParam().hook_type);
  } catch (...) {
    ::umask(old_mask);
    throw;
  }
  ::umask(old_mask);
  EXPECT_EQ(file_mode(file()), 0640u);
}

INSTANTIATE_TEST_SUITE_P(Providers, FileSafety, ::testing::ValuesIn(kTargets), [](const auto& p) {
  std::string name = p.param.id;
  std::erase(name, '-');
  return name;
});

class DefaultFiles : public ProviderEnv {
 protected:
  void TearDown() override {
    common::testing::set_fault(nullptr);
    ProviderEnv::TearDown();
  }
};

// A failing final write leaves the freshly created default file, exactly as the
// program writes it.
TEST_F(DefaultFiles, AreLeftBehindWhenTheFirstRewriteFails) {
  const std::pair<std::string, fs::path> cases[] = {
      {"cursor", home() / ".cursor" / "hooks.json"},
      {"copilot", work() / ".github" / "hooks" / "hooks.json"},
      {"claude-code", home() / ".claude" / "settings.json"},
      {"gemini-cli", home() / ".gemini" / "settings.json"},
      {"opencode", root() / "xdg-config" / "opencode" / "opencode.json"},
      {"codex", home() / ".codex" / "config.toml"},
  };
  const std::map<std::string, std::string> expected = {
      {"cursor", "{\n  \"hooks\": {},\n  \"version\": 1\n}"},
      {"copilot", "{\n  \"hooks\": {},\n  \"version\": 1\n}"},
      {"claude-code", "{}\n"},
      {"gemini-cli", "{}\n"},
      {"opencode", "{}\n"},
      {"codex", "# Codex CLI configuration\n"},
  };
  for (const auto& [id, path] : cases) {
    int renames = 0;
    common::testing::set_fault([&](std::string_view step) { return step == "rename" && ++renames == 2 ? EIO : 0; });
    auto provider = create(id);
    const auto& types = providers::find_factory(id)->hook_types();
    EXPECT_THROW(provider->install_hook(types.front()), Error) << id;
    common::testing::set_fault(nullptr);
    EXPECT_EQ(read_file(path), expected.at(id)) << id;
  }
}

}  // namespace
}  // namespace stelvane::test
