#pragma once
// Shared test fixtures: a private home for each test and a way to run the built
// executable the way a user or an assistant would.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace stelvane::test {

namespace fs = std::filesystem;

// Path of the built stelvane executable.
fs::path exe_path();
// The source tree root (for fixtures kept in the repository).
fs::path source_dir();

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string stdin_data;
  std::optional<fs::path> cwd;
  double timeout_seconds = 60;
};

// A fresh directory under the system temp dir, removed at destruction unless the
// test failed (then kept, its path printed, for inspection).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A private user environment: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME under a temp
// directory, PATH kept, nothing else inherited (except SSL_CERT_FILE/DIR when set
// explicitly). Extra variables can be set or removed per test.
class Sandbox {
 public:
  Sandbox();
  const fs::path& root() const { return dir_.path(); }
  fs::path home() const { return root() / "home"; }
  fs::path config_home() const { return root() / "xdg-config"; }
  fs::path data_home() const { return root() / "xdg-data"; }
  // <config home>/stelvane/config.json and <data home>/stelvane.
  fs::path config_file() const { return config_home() / "stelvane" / "config.json"; }
  fs::path data_dir() const { return data_home() / "stelvane"; }
  fs::path bin_dir() const { return root() / "bin"; }

  void set_env(const std::string& name, const std::string& value) { env_[name] = value; }
  void unset_env(const std::string& name) { env_.erase(name); }
  const std::map<std::string, std::string>& env() const { return env_; }

  // Runs the built executable with `args` in this environment.
  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
  // Runs any program (argv[0] looked up in PATH) in this environment.
  RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options = {}) const;
  // Runs `sh -c command` in this environment (how assistants run hook commands).
  RunResult run_shell(const std::string& command, const RunOptions& options = {}) const;

  // Writes a config.json for a configured organization with the given hook URL.
  void write_config(const std::string& hook_url, bool fail_open = true, bool audit_tool_use = true,
                    bool audit_prompts = true, bool debug = false) const;

 private:
  TempDir dir_;
  std::map<std::string, std::string> env_;
};

// Runs argv with exactly `env`; kills the child after the timeout.
RunResult run_process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                      const RunOptions& options = {});

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& content);
// Permission bits (mode & 07777) of the path itself (links not followed when
// `follow` is false).
mode_t file_mode(const fs::path& path, bool follow = true);

}  // namespace stelvane::test
