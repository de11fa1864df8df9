// Whole-file replacement: modes, links, and failures that must leave no trace.
#include "common/atomic_file.hpp"

#include <cerrno>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/error.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

using common::replace_file;

class AtomicFileTest : public ::testing::Test {
 protected:
  void TearDown() override { common::testing::set_fault(nullptr); }
  size_t entries() const { return std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()); }
  TempDir tmp;
};

TEST_F(AtomicFileTest, NewFileGetsDefaultModeExistingKeepsItsMode) {
  const mode_t old = ::umask(022);
  replace_file(tmp.path() / "new.json", "{}");
  EXPECT_EQ(file_mode(tmp.path() / "new.json"), 0644u);
  ::umask(old);

  write_file(tmp.path() / "private.json", "old");
  fs::permissions(tmp.path() / "private.json", fs::perms(0600));
  replace_file(tmp.path() / "private.json", "new");
  EXPECT_EQ(read_file(tmp.path() / "private.json"), "new");
  EXPECT_EQ(file_mode(tmp.path() / "private.json"), 0600u);

  replace_file(tmp.path() / "forced", "x", {.mode = 0640});
  EXPECT_EQ(file_mode(tmp.path() / "forced"), 0640u);
}

TEST_F(AtomicFileTest, SymlinkChainIsKeptAndItsTargetReplaced) {
  fs::create_directories(tmp.path() / "dots");
  write_file(tmp.path() / "dots" / "settings.json", "old");
  fs::create_symlink("dots/settings.json", tmp.path() / "middle");
  fs::create_symlink(tmp.path() / "middle", tmp.path() / "settings.json");
  replace_file(tmp.path() / "settings.json", "new");
  EXPECT_TRUE(fs::is_symlink(tmp.path() / "settings.json"));
  EXPECT_TRUE(fs::is_symlink(tmp.path() / "middle"));
  EXPECT_EQ(read_file(tmp.path() / "dots" / "settings.json"), "new");
}

TEST_F(AtomicFileTest, FailuresLeaveTheOriginalAndNoTemporaryFile) {
  const fs::path target = tmp.path() / "hooks.json";
  write_file(target, "original");
  for (const char* step : {"write", "fsync", "rename"}) {
    common::testing::set_fault([step](std::string_view s) { return s == step ? EIO : 0; });
    EXPECT_THROW(replace_file(target, "replacement"), Error) << step;
    EXPECT_EQ(read_file(target), "original") << step;
    EXPECT_EQ(entries(), 1u) << step;
  }
}

TEST_F(AtomicFileTest, MissingDirectoryIsAnErrorNamingThePath) {
  try {
    replace_file(tmp.path() / "absent" / "f.json", "x");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Unable to write " + (tmp.path() / "absent" / "f.json").string());
    EXPECT_FALSE(e.causes().empty());
  }
}

}  // namespace
}  // namespace stelvane::test
