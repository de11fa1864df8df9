// Copying the executable into place: a failure at any step leaves the old file
// exactly as it was and no temporary file behind.

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/error.hpp"
#include "common/file_copy.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct FaultReset {
  ~FaultReset() { common::testing::set_copy_fault(nullptr); }
};

TEST(CopyIntoPlaceTest, FailureAtAnyStepKeepsTheOldFile) {
  FaultReset reset;
  for (std::string step : {"open", "create", "write", "fsync", "rename"}) {
    SCOPED_TRACE(step);
    TempDir dir;
    fs::path src = dir.path() / "new-build";
    fs::path dst = dir.path() / "bin" / "stelvane";
    write_file(src, std::string(200000, 'n'));
    chmod(src.c_str(), 0755);
    fs::create_directories(dst.parent_path());
    write_file(dst, "old");
    chmod(dst.c_str(), 0700);
    common::testing::set_copy_fault([&](std::string_view s) { return s == step ? EIO : 0; });
    try {
      common::copy_file_into_place(src, dst);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Unable to copy " + src.string() + " to " + dst.string());
      ASSERT_FALSE(e.causes().empty());
    }
    EXPECT_EQ(read_file(dst), "old");
    EXPECT_EQ(file_mode(dst), 0700u);
    EXPECT_EQ(names_in(dst.parent_path()), std::vector<std::string>{"stelvane"});
  }
  common::testing::set_copy_fault(nullptr);
  TempDir dir;
  fs::path src = dir.path() / "a";
  write_file(src, "content");
  chmod(src.c_str(), 0751);
  fs::path dst = dir.path() / "b";
  common::copy_file_into_place(src, dst);
  EXPECT_EQ(read_file(dst), "content");
  EXPECT_EQ(file_mode(dst), 0751u);
  // Onto itself: the content survives.
  common::copy_file_into_place(dst, dst);
  EXPECT_EQ(read_file(dst), "content");
  EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace stelvane::test
