#pragma once
// In-process fixture for the provider tests: a private HOME, bin directory and
// configuration directory set in this process's environment, a private working
// directory, and the warning lines the providers log.

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>

#include "common/error.hpp"
#include "logging/log.hpp"
#include "providers/mod.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {

// Replaces every "@NAME@" of `text` with its value.
inline std::string expand(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values) {
    const std::string key = "@" + name + "@";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

// The error an operation is expected to end with: top message and first cause
// (empty when the error has no cause worth checking).
struct ExpectedError {
  std::string message;
  std::string cause;
};

class ProviderEnv : public ::testing::Test {
 public:
  static constexpr const char* kVariables[] = {"HOME",          "STELVANE_BIN_DIR", "XDG_CONFIG_HOME",
                                               "XDG_DATA_HOME", "CODEX_HOME",       "OPENCODE_CONFIG"};
  static constexpr const char* kLogTargets[] = {"stelvane::providers",           "stelvane::providers::claudecode",
                                                "stelvane::providers::cursor",   "stelvane::providers::gemini",
                                                "stelvane::providers::codex",    "stelvane::providers::opencode",
                                                "stelvane::providers::openclaw", "stelvane::providers::copilot"};

  void SetUp() override {
    for (const char* name : kVariables) {
      const char* value = std::getenv(name);
      saved_env_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    saved_cwd_ = fs::current_path();
    fs::create_directories(home());
    fs::create_directories(work());
    set_env("HOME", home().string());
    set_env("STELVANE_BIN_DIR", bin_dir().string());
    set_env("XDG_CONFIG_HOME", (root() / "xdg-config").string());
    set_env("XDG_DATA_HOME", (root() / "xdg-data").string());
    unset_env("CODEX_HOME");
    unset_env("OPENCODE_CONFIG");
    fs::current_path(work());

    sink_ = std::make_shared<spdlog::sinks::ostream_sink_mt>(log_);
    sink_->set_pattern("%l %v");
    for (const char* target : kLogTargets) {
      auto& logger = logging::get(target);
      saved_levels_.push_back(logger.level());
      logger.set_level(spdlog::level::info);
      logger.sinks().push_back(sink_);
    }
  }

  void TearDown() override {
    size_t i = 0;
    for (const char* target : kLogTargets) {
      auto& logger = logging::get(target);
      auto& sinks = logger.sinks();
      std::erase(sinks, sink_);
      logger.set_level(saved_levels_[i++]);
    }
    fs::current_path(saved_cwd_);
    for (const auto& [name, value] : saved_env_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

  static void set_env(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
  static void unset_env(const char* name) { ::unsetenv(name); }

  const fs::path& root() const { return dir_.path(); }
  fs::path home() const { return root() / "home"; }
  fs::path bin_dir() const { return root() / "bin"; }
  fs::path exe() const { return bin_dir() / "stelvane"; }
  // The working directory of the test (a plain directory, no repository above).
  fs::path work() const { return root() / "work"; }

  // Lines logged at `level` ("warning", "info") since the start of the test.
  std::vector<std::string> logged(const std::string& level = "warning") const {
    std::vector<std::string> lines;
    std::istringstream in(log_.str());
    const std::string prefix = level + " ";
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with(prefix)) lines.push_back(line.substr(prefix.size()));
    }
    return lines;
  }
  void clear_log() { log_.str(""); }

  static std::unique_ptr<providers::Provider> create(std::string_view id) {
    const auto* factory = providers::find_factory(id);
    EXPECT_NE(factory, nullptr) << id;
    return factory->create();
  }

 private:
  TempDir dir_;
  std::map<std::string, std::optional<std::string>> saved_env_;
  fs::path saved_cwd_;
  std::ostringstream log_;
  std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink_;
  std::vector<spdlog::level::level_enum> saved_levels_;
};

// Runs `f`, which must throw a stelvane::Error matching `expected`.
template <class F>
void expect_error(F&& f, const ExpectedError& expected) {
  try {
    f();
    ADD_FAILURE() << "expected the error: " << expected.message;
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), expected.message);
    if (!expected.cause.empty()) {
      ASSERT_FALSE(e.causes().empty()) << e.chain();
      EXPECT_EQ(e.causes()[0], expected.cause) << e.chain();
    }
  }
}

}  // namespace stelvane::test
