#pragma once
// Runs the reference cloud (stelvane-devcloud) as a real server process for a test:
// started on free loopback ports in a state folder, stopped with SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "support/testutil.hpp"

extern char** environ;

namespace stelvane::test {

inline std::filesystem::path devcloud_exe() { return STELVANE_DEVCLOUD_EXE; }

// A team URL as printed by `org create`, with its parts.
struct TeamUrl {
  std::string url;
  std::string oid;
  std::string adapter;
  std::string secret;
};

// `stelvane-devcloud --state DIR org create NAME --tls-port PORT`.
inline TeamUrl devcloud_create_org(const std::filesystem::path& state, const std::string& name, int tls_port) {
  const RunResult r = run_process({devcloud_exe().string(), "--state", state.string(), "org", "create", name,
                                   "--tls-port", std::to_string(tls_port)},
                                  {{"PATH", "/usr/bin:/bin"}});
  if (r.status != 0) throw std::runtime_error("org create failed: " + r.err);
  static const std::regex shape(R"(^(https://[^/]+/([^/]+)/([^/]+)/([^/\n]+))\n$)");
  std::smatch m;
  if (!std::regex_match(r.out, m, shape)) throw std::runtime_error("unexpected org create output: " + r.out);
  return {m[1], m[2], m[3], m[4]};
}

class DevCloudServer {
 public:
  // Starts the server with plain HTTP and HTTPS on free ports (plus `extra`
  // arguments) and waits until both listen.
  explicit DevCloudServer(std::filesystem::path state, std::vector<std::string> extra = {}) : state_(std::move(state)) {
    std::vector<std::string> argv{
        devcloud_exe().string(), "--state", state_.string(), "--port", "0", "--tls-port", "0"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
      ::close(out[0]);
      throw std::runtime_error("unable to start " + argv[0]);
    }
    out_fd_ = out[0];
    wait_for_ports();
  }

  ~DevCloudServer() {
    try {
      stop();
    } catch (...) {
    }
    if (out_fd_ >= 0) ::close(out_fd_);
  }
  DevCloudServer(const DevCloudServer&) = delete;
  DevCloudServer& operator=(const DevCloudServer&) = delete;

  int http_port() const { return http_port_; }
  int tls_port() const { return tls_port_; }
  const std::filesystem::path& state() const { return state_; }
  std::filesystem::path ca_file() const { return state_ / "ca.pem"; }
  std::filesystem::path events_file() const { return state_ / "events.jsonl"; }
  const std::string& output() const { return output_; }

  // Sends SIGTERM and waits; returns the exit status (128 + signal when killed).
  int stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    int st = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (::waitpid(pid_, &st, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    drain();
    return status_;
  }

 private:
  void drain() {
    char buf[4096];
    for (ssize_t n; (n = ::read(out_fd_, buf, sizeof buf)) > 0;) output_.append(buf, static_cast<std::size_t>(n));
  }

  void wait_for_ports() {
    static const std::regex http(R"(Listening on http://127\.0\.0\.1:(\d+))");
    static const std::regex https(R"(Listening on https://127\.0\.0\.1:(\d+))");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::smatch m;
    while (true) {
      if (std::regex_search(output_, m, https)) {
        tls_port_ = std::stoi(m[1]);
        if (std::regex_search(output_, m, http)) http_port_ = std::stoi(m[1]);
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("devcloud did not start: " + output_);
      pollfd p{out_fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0) {
        char buf[1024];
        const ssize_t n = ::read(out_fd_, buf, sizeof buf);
        if (n <= 0) throw std::runtime_error("devcloud exited: " + output_);
        output_.append(buf, static_cast<std::size_t>(n));
      }
    }
  }

  std::filesystem::path state_;
  pid_t pid_ = -1;
  int out_fd_ = -1;
  int status_ = -1;
  int http_port_ = -1;
  int tls_port_ = -1;
  std::string output_;
};

}  // namespace stelvane::test
