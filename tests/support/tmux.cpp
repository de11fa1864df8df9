#include "support/tmux.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace stelvane::test {

namespace {

std::map<std::string, std::string> current_env() {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string kv = *e;
    auto eq = kv.find('=');
    if (eq == std::string::npos) continue;
    env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  env.erase("TMUX");
  env.erase("TMUX_PANE");
  return env;
}

std::string unique_socket() {
  static std::atomic<int> counter{0};
  return "stelvane-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

Tmux::Tmux(const Sandbox& sandbox, const std::vector<std::string>& args, int width, int height)
    : Tmux(sandbox, exe_path(), args, width, height) {}

Tmux::Tmux(const Sandbox& sandbox, const fs::path& program, const std::vector<std::string>& args, int width, int height)
    : socket_(unique_socket()), target_("t") {
  std::string cmd = "env -i";
  for (const auto& [k, v] : sandbox.env()) cmd += " " + shell_quote(k + "=" + v);
  cmd += " TERM=screen " + shell_quote(program.string());
  for (const auto& a : args) cmd += " " + shell_quote(a);
  std::string script = "echo READY; read go; " + cmd +
                       "; echo \"EXIT:$?\"; printf 'TYPE: '; read line; echo \"GOT:$line\"; "
                       "for f in echo icanon isig; do stty -a | grep -qE \"(^|[ ;])$f([ ;]|$)\" && printf '%s ' $f "
                       "|| printf '%s ' -$f; done; echo FLAGS; exec sleep 600";
  // The server also goes away when the test process dies without running the
  // destructor (a crash, a time-out kill), whatever the pane is doing then. The
  // watcher is detached from the pane's shell, whose only child stays the program.
  script = "((while kill -0 " + std::to_string(getpid()) + " 2>/dev/null; do sleep 1; done; tmux -L " + socket_ +
           " kill-server) >/dev/null 2>&1 </dev/null &); " + script;
  RunResult r = tmux({"new-session", "-d", "-s", target_, "-x", std::to_string(width), "-y", std::to_string(height),
                      "/bin/sh -c " + shell_quote(script)});
  if (r.status != 0) ADD_FAILURE() << "tmux new-session failed: " << r.err;
  tmux({"set-option", "-t", target_, "remain-on-exit", "on"});
  socket_path_ = pane_value("#{socket_path}");
  // Record everything the pane's programs write, then let the program start.
  wait_for("READY");
  output_file_ = sandbox.root() / ("tmux-output-" + socket_);
  tmux({"pipe-pane", "-O", "-t", target_, "cat >> " + shell_quote(output_file_.string())});
  keys({"Enter"});
}

std::string Tmux::output() const { return fs::exists(output_file_) ? read_file(output_file_) : std::string(); }

Tmux::~Tmux() {
  tmux({"kill-server"});
  // The server leaves its socket file behind.
  if (!socket_path_.empty()) {
    std::error_code ec;
    fs::remove(socket_path_, ec);
  }
}

std::vector<std::string> Tmux::tmux_argv(std::vector<std::string> args) const {
  std::vector<std::string> argv{"tmux", "-L", socket_, "-f", "/dev/null"};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

RunResult Tmux::tmux(std::vector<std::string> args) const {
  RunOptions opts;
  opts.timeout_seconds = 20;
  return run_process(tmux_argv(std::move(args)), current_env(), opts);
}

void Tmux::keys(const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    tmux({"send-keys", "-t", target_, names[i]});
    // A lone ESC followed at once by more bytes reads as one sequence; give the
    // program time to take it as the Esc key before the next key arrives. Other
    // keys may arrive together: they are decoded one by one.
    if ((names[i] == "Escape" || names[i] == "C-[") && i + 1 < names.size())
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

void Tmux::type(const std::string& text) { tmux({"send-keys", "-t", target_, "-l", text}); }

void Tmux::raw(const std::string& bytes) {
  std::vector<std::string> args{"send-keys", "-t", target_, "-H"};
  char hex[4];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", c);
    args.emplace_back(hex);
  }
  tmux(args);
}

std::string Tmux::screen() { return tmux({"capture-pane", "-p", "-t", target_}).out; }

std::string Tmux::wait_for(const std::string& needle, double timeout_seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
  std::string s;
  for (;;) {
    s = screen();
    if (s.find(needle) != std::string::npos) return s;
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ADD_FAILURE() << "timed out waiting for \"" << needle << "\"; screen:\n" << s;
  return "TIMEOUT\n" + s;
}

std::string Tmux::pane_value(const std::string& format) {
  std::string v = tmux({"display-message", "-p", "-t", target_, format}).out;
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
  return v;
}

void Tmux::resize(int width, int height) {
  tmux({"resize-window", "-t", target_, "-x", std::to_string(width), "-y", std::to_string(height)});
}

pid_t Tmux::program_pid() {
  std::string shell = pane_value("#{pane_pid}");
  if (shell.empty()) return -1;
  std::ifstream children("/proc/" + shell + "/task/" + shell + "/children");
  pid_t pid = -1;
  if (children >> pid) return pid;
  // Kernels without the children list: look for the process whose parent it is.
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    long ppid = 0;
    rest >> state >> ppid;
    if (std::to_string(ppid) == shell) return static_cast<pid_t>(std::stol(entry.path().filename().string()));
  }
  return -1;
}

}  // namespace stelvane::test
