#pragma once
// A table-driven runner for an assistant's configuration file: start from given
// file content (or none), run install/uninstall steps through the provider, and
// compare the file, the error and the warnings.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "providers/fixture.hpp"

namespace stelvane::test {

struct Step {
  enum Kind { Install, Uninstall };
  Kind kind;
  std::string hook_type;
};

struct FileCase {
  std::string name;
  // Content of the file before the steps; nullopt: no file.
  std::optional<std::string> before = std::nullopt;
  // Whether the file's directory exists before the steps.
  bool directory = true;
  std::vector<Step> steps = {};
  // The document expected afterwards (JSON text, placeholders @EXE@ and @FILE@);
  // it must be written exactly as the program serialises: sorted keys, two-space
  // indent, no trailing newline (unless the runner is told otherwise).
  std::optional<std::string> after = std::nullopt;
  // The error the last step ends with; the file must then be as before.
  std::optional<ExpectedError> error = std::nullopt;
  // Warning lines logged, in order.
  std::vector<std::string> warnings = {};
};

inline std::ostream& operator<<(std::ostream& out, const FileCase& c) { return out << c.name; }

struct FileUnderTest {
  std::string provider_id;
  fs::path file;
  bool trailing_newline = false;
};

// Runs one case in `env`'s private home; `file` is where the provider keeps it.
inline void run_file_case(ProviderEnv& env, const FileUnderTest& target, const FileCase& c,
                          const std::map<std::string, std::string>& extra = {}) {
  std::map<std::string, std::string> values = {{"EXE", (env.exe()).string()}, {"FILE", target.file.string()}};
  values.insert(extra.begin(), extra.end());
  if (c.directory) fs::create_directories(target.file.parent_path());
  if (c.before) write_file(target.file, expand(*c.before, values));

  auto provider = ProviderEnv::create(target.provider_id);
  std::optional<Error> failure;
  try {
    for (const auto& step : c.steps) {
      if (step.kind == Step::Install) {
        provider->install_hook(step.hook_type);
      } else {
        provider->uninstall_hook(step.hook_type);
      }
    }
  } catch (const Error& e) {
    failure = e;
  }

  if (c.error) {
    ASSERT_TRUE(failure.has_value()) << "expected: " << c.error->message;
    EXPECT_EQ(failure->message(), expand(c.error->message, values));
    if (!c.error->cause.empty()) {
      ASSERT_FALSE(failure->causes().empty()) << failure->chain();
      EXPECT_EQ(failure->causes()[0], expand(c.error->cause, values));
    }
    if (c.before) {
      EXPECT_EQ(read_file(target.file), expand(*c.before, values)) << "file changed despite the error";
    }
  } else {
    ASSERT_FALSE(failure.has_value()) << failure->chain();
  }
  if (c.after) {
    const auto expected = nlohmann::json::parse(expand(*c.after, values));
    const std::string text = read_file(target.file);
    EXPECT_EQ(text, expected.dump(2) + (target.trailing_newline ? "\n" : ""));
  }
  std::vector<std::string> warnings = {};
  for (const auto& w : c.warnings) warnings.push_back(expand(w, values));
  EXPECT_EQ(env.logged("warning"), warnings);
}

}  // namespace stelvane::test
