#include "support/testutil.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace stelvane::test {

fs::path exe_path() { return fs::path(STELVANE_EXE); }
fs::path source_dir() { return fs::path(STELVANE_SOURCE_DIR); }

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "stelvane-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = fs::canonical(tmpl);
}

TempDir::~TempDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info != nullptr && info->result() != nullptr && info->result()->Failed()) {
    std::cerr << "test files kept in " << path_ << "\n";
    return;
  }
  std::error_code ec;
  // Tests may leave read-only directories behind; make them writable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

Sandbox::Sandbox() {
  fs::create_directories(home());
  env_["HOME"] = home().string();
  env_["XDG_CONFIG_HOME"] = config_home().string();
  env_["XDG_DATA_HOME"] = data_home().string();
  env_["STELVANE_BIN_DIR"] = bin_dir().string();
  const char* path = std::getenv("PATH");
  env_["PATH"] = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  env_["TMPDIR"] = root().string();
  env_["LANG"] = "C.UTF-8";
}

RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& options) const {
  std::vector<std::string> argv{exe_path().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, env_, options);
}

RunResult Sandbox::run_program(const std::vector<std::string>& argv, const RunOptions& options) const {
  return run_process(argv, env_, options);
}

RunResult Sandbox::run_shell(const std::string& command, const RunOptions& options) const {
  return run_process({"/bin/sh", "-c", command}, env_, options);
}

void Sandbox::write_config(const std::string& hook_url, bool fail_open, bool audit_tool_use, bool audit_prompts,
                           bool debug) const {
  auto b = [](bool v) { return v ? "true" : "false"; };
  std::ostringstream s;
  s << "{\n  \"user\": {\n    \"fail_open\": " << b(fail_open) << ",\n    \"audit_tool_use\": " << b(audit_tool_use)
    << ",\n    \"audit_prompts\": " << b(audit_prompts) << ",\n    \"debug\": " << b(debug)
    << ",\n    \"auto_upgrade\": false\n  },\n  \"install_id\": \"0e6f1c7a-3d2b-4c8e-9f10-2a3b4c5d6e7f\",\n"
    << "  \"org\": {\n    \"oid\": \"o1\",\n    \"name\": \"Test Org\",\n    \"url\": \"" << hook_url << "\"\n  }\n}";
  fs::create_directories(config_file().parent_path());
  write_file(config_file(), s.str());
  fs::permissions(config_file(), fs::perms(0600));
}

RunResult run_process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                      const RunOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");

  std::vector<std::string> env_strings;
  for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (auto& s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (options.cwd && chdir(options.cwd->c_str()) != 0) _exit(126);
    // Search PATH from the child's environment for bare program names.
    if (argv_copy[0].find('/') == std::string::npos) {
      std::string path = env.count("PATH") ? env.at("PATH") : "/usr/bin:/bin";
      std::stringstream ss(path);
      std::string dir;
      while (std::getline(ss, dir, ':')) {
        std::string candidate = dir + "/" + argv_copy[0];
        execve(candidate.c_str(), args.data(), envp.data());
      }
      _exit(127);
    }
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);

  RunResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.stdin_data.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  int out_fd = out_pipe[0], err_fd = err_pipe[0];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.timeout_seconds);
  bool killed = false;
  signal(SIGPIPE, SIG_IGN);
  while (out_fd >= 0 || err_fd >= 0) {
    std::vector<pollfd> fds;
    if (out_fd >= 0) fds.push_back({out_fd, POLLIN, 0});
    if (err_fd >= 0) fds.push_back({err_fd, POLLIN, 0});
    if (in_fd >= 0) fds.push_back({in_fd, POLLOUT, 0});
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    int n = poll(fds.data(), fds.size(), static_cast<int>(std::min<long>(left.count(), 1000)));
    if (n < 0 && errno != EINTR) break;
    for (const auto& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == in_fd) {
        ssize_t w = write(in_fd, options.stdin_data.data() + written, options.stdin_data.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == options.stdin_data.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      char buf[65536];
      ssize_t r = read(p.fd, buf, sizeof buf);
      std::string& sink = (p.fd == out_fd) ? result.out : result.err;
      if (r > 0) {
        sink.append(buf, static_cast<size_t>(r));
      } else {
        close(p.fd);
        (p.fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  if (err_fd >= 0) close(err_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.status = 128 + WTERMSIG(status);
  if (killed) result.err += "\n[test harness: process killed after timeout]";
  return result;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out << content;
}

mode_t file_mode(const fs::path& path, bool follow) {
  struct stat st {};
  int rc = follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
  if (rc != 0) throw std::runtime_error("cannot stat " + path.string());
  return st.st_mode & 07777;
}

}  // namespace stelvane::test
