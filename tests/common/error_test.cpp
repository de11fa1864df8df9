#include "common/error.hpp"

#include <stdexcept>

#include <gtest/gtest.h>

namespace stelvane {
namespace {

TEST(ErrorTest, WrapKeepsTheWholeChainNearestFirst) {
  Error inner = Error::wrap("Expected 'hooks' field to be an object", std::runtime_error("type mismatch"));
  Error outer = Error::wrap("Unable to update /x/settings.json", inner);
  EXPECT_EQ(outer.message(), "Unable to update /x/settings.json");
  EXPECT_EQ(outer.causes(), (std::vector<std::string>{"Expected 'hooks' field to be an object", "type mismatch"}));
  EXPECT_EQ(outer.chain(), "Unable to update /x/settings.json: Expected 'hooks' field to be an object: type mismatch");
}

TEST(ErrorTest, WithContextRethrowsUnderTheNewMessage) {
  try {
    with_context("Unable to read /x", [] { throw Error::from_errno("open failed", ENOENT); });
    FAIL() << "no exception";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Unable to read /x");
    ASSERT_EQ(e.causes().size(), 2u);
    EXPECT_EQ(e.causes()[0], "open failed");
    EXPECT_NE(e.causes()[1].find("No such file or directory"), std::string::npos);
  }
  EXPECT_EQ(with_context("unused", [] { return 7; }), 7);
}

}  // namespace
}  // namespace stelvane
