// The answers written to an assistant on standard output.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "providers/fixture.hpp"

namespace stelvane::test {
namespace {

using providers::HookDecision;

// Standard output redirected to a file for the duration of `f`.
template <class F>
std::string capture_stdout(F&& f, const fs::path& file) {
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 1);
  ::close(fd);
  try {
    f();
  } catch (...) {
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    throw;
  }
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  return read_file(file);
}

class Answers : public ProviderEnv {};

TEST_F(Answers, SharedAnswerIsCompactBlockJsonOrNothing) {
  const std::tuple<std::string, HookDecision, std::string> cases[] = {
      {"claude-code", HookDecision::approve(), ""},
      {"claude-code", HookDecision::block("Command blocked by policy. \"rm\"\nno"),
       R"({"decision":"block","reason":"Command blocked by policy. \"rm\"\nno"})"},
      {"cursor", HookDecision::block(std::nullopt), R"({"decision":"block"})"},
      {"gemini-cli", HookDecision::block("x"), R"({"decision":"block","reason":"x"})"},
      {"opencode", HookDecision::block("ü"), R"({"decision":"block","reason":"ü"})"},
      {"openclaw", HookDecision::block(""), R"({"decision":"block","reason":""})"},
      {"codex", HookDecision::block("y"), R"({"decision":"block","reason":"y"})"},
  };
  for (const auto& [id, decision, expected] : cases) {
    clear_log();
    auto provider = create(id);
    EXPECT_EQ(capture_stdout([&] { provider->write_response(decision); }, root() / "out"), expected) << id;
    const std::string line =
        decision.blocked() ? "decision json: " + expected : "decision: approve (no output, exit 0)";
    EXPECT_EQ(logged("info"), std::vector<std::string>{line}) << id;
  }
}

TEST_F(Answers, CopilotAnswersWithAPermissionDecision) {
  auto provider = create("copilot");
  const std::pair<HookDecision, std::string> cases[] = {
      {HookDecision::approve(), ""},
      {HookDecision::block("no rm"), R"({"permissionDecision":"deny","permissionDecisionReason":"no rm"})"},
      {HookDecision::block(std::nullopt),
       R"({"permissionDecision":"deny","permissionDecisionReason":"Blocked by stelvane policy"})"},
  };
  for (const auto& [decision, expected] : cases) {
    clear_log();
    EXPECT_EQ(capture_stdout([&] { provider->write_response(decision); }, root() / "out"), expected);
    const std::string line =
        decision.blocked() ? "decision json: " + expected : "decision: approve (no output, exit 0)";
    EXPECT_EQ(logged("info"), std::vector<std::string>{line});
  }
}

TEST_F(Answers, AnUnwritableStandardOutputIsAnError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const char* id : {"claude-code", "copilot"}) {
    auto provider = create(id);
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int fd = ::open("/dev/full", O_WRONLY);
    ::dup2(fd, 1);
    ::close(fd);
    std::optional<Error> failure;
    try {
      provider->write_response(HookDecision::block("r"));
    } catch (const Error& e) {
      failure = e;
    }
    std::clearerr(stdout);
    std::fflush(stdout);  // drops what is left in the buffer
    std::clearerr(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ASSERT_TRUE(failure.has_value()) << id;
    EXPECT_TRUE(failure->message() == "Failed to flush hook response" ||
                failure->message() == "Failed to write hook response to stdout")
        << failure->chain();
  }
}

}  // namespace
}  // namespace stelvane::test
