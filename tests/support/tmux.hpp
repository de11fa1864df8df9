#pragma once
// Running the built executable inside a real terminal: a private tmux server (its
// own socket) with one pane, keys sent to it and the screen read back.

#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/testutil.hpp"

namespace stelvane::test {

class Tmux {
 public:
  // Starts a detached session of `width` × `height` running `args` (the built
  // executable's arguments) with the sandbox's environment. When the program ends
  // the pane prints "EXIT:<status>", then waits at a line prompt ("TYPE: ") whose
  // input it echoes back as "GOT:<line>" followed by the terminal's `stty -a`
  // settings, so tests can check that the terminal works normally again.
  Tmux(const Sandbox& sandbox, const std::vector<std::string>& args, int width = 100, int height = 30);
  // The same with another program than the built executable.
  Tmux(const Sandbox& sandbox, const fs::path& program, const std::vector<std::string>& args, int width = 100,
       int height = 30);
  // Kills the server.
  ~Tmux();
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  // tmux key names ("Down", "Space", "Enter", "Escape", "C-a", "C-c") or text.
  void keys(const std::vector<std::string>& names);
  // Text typed literally.
  void type(const std::string& text);
  // Raw bytes sent to the program as if typed (e.g. "\x1bOB").
  void raw(const std::string& bytes);

  // The visible screen, one string per row joined by newlines.
  std::string screen();
  // Waits until the screen contains `needle`; returns the screen (or, after the
  // timeout, the last screen with a diagnostic prefix, failing the test). The
  // generous default only matters on a loaded machine: a passing wait returns as
  // soon as the text is there.
  std::string wait_for(const std::string& needle, double timeout_seconds = 30);
  // A tmux format value of the pane (e.g. "#{alternate_on}").
  std::string pane_value(const std::string& format);
  // Resizes the window (the program gets SIGWINCH).
  void resize(int width, int height);
  // The pane's program (the child of the pane's shell), or -1.
  pid_t program_pid();

  const std::string& socket() const { return socket_; }
  // Every byte the program has written to the terminal so far.
  std::string output() const;

 private:
  std::vector<std::string> tmux_argv(std::vector<std::string> args) const;
  RunResult tmux(std::vector<std::string> args) const;

  std::string socket_;
  std::string socket_path_;
  std::string target_;
  fs::path output_file_;
};

// Single-quotes `s` for sh.
std::string shell_quote(const std::string& s);

}  // namespace stelvane::test
