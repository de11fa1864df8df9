#include "tui/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "common/error.hpp"

namespace stelvane::tui {

// ---------------------------------------------------------------------------
// Input decoding

namespace {

Event key_event(Key k) { return Event{Event::Kind::Key, k}; }

std::size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;  // stray continuation or invalid byte: decoded on its own
}

std::optional<Event> take(std::string& buffer, std::size_t n, Event ev) {
  buffer.erase(0, n);
  return ev;
}

std::optional<Event> arrow(char final_byte) {
  switch (final_byte) {
    case 'A': return key_event(Key::of(KeyCode::Up));
    case 'B': return key_event(Key::of(KeyCode::Down));
    case 'C': return key_event(Key::of(KeyCode::Right));
    case 'D': return key_event(Key::of(KeyCode::Left));
    default: return std::nullopt;
  }
}

std::optional<Event> decode_csi(std::string& buffer, bool final) {
  // buffer starts with ESC [
  if (buffer.size() >= 3 && buffer[2] == 'M') {
    // X10 mouse report: ESC [ M followed by three bytes.
    if (buffer.size() < 6) {
      if (!final) return std::nullopt;
      return take(buffer, buffer.size(), Event{Event::Kind::Mouse, {}});
    }
    return take(buffer, 6, Event{Event::Kind::Mouse, {}});
  }
  std::size_t i = 2;
  while (i < buffer.size()) {
    auto c = static_cast<unsigned char>(buffer[i]);
    if (c >= 0x40 && c <= 0x7E) break;             // final byte
    if (c < 0x20 || c > 0x3F) {                    // not a parameter/intermediate byte
      return take(buffer, i, Event{Event::Kind::Other, {}});
    }
    ++i;
  }
  if (i >= buffer.size()) {
    if (!final) return std::nullopt;
    // An ESC followed by text that never became a sequence: the Esc key, the rest
    // is decoded as typed characters.
    return take(buffer, 1, key_event(Key::of(KeyCode::Esc)));
  }
  char fin = buffer[i];
  std::string_view params(buffer.data() + 2, i - 2);
  std::size_t len = i + 1;
  if (fin == 'M' || fin == 'm') {
    if (!params.empty() && (params[0] == '<' || fin == 'M')) return take(buffer, len, Event{Event::Kind::Mouse, {}});
  }
  if (fin == 'I' || fin == 'O') {
    if (params.empty()) return take(buffer, len, Event{Event::Kind::Other, {}});  // focus in/out
  }
  if (auto a = arrow(fin)) return take(buffer, len, *a);
  return take(buffer, len, key_event(Key::of(KeyCode::Other)));
}

}  // namespace

std::optional<Event> decode_event(std::string& buffer, bool final) {
  if (buffer.empty()) return std::nullopt;
  auto b = static_cast<unsigned char>(buffer[0]);
  if (b == 0x1b) {
    if (buffer.size() == 1) {
      if (!final) return std::nullopt;
      return take(buffer, 1, key_event(Key::of(KeyCode::Esc)));
    }
    char c = buffer[1];
    if (c == '[') return decode_csi(buffer, final);
    if (c == 'O') {
      if (buffer.size() < 3) {
        if (!final) return std::nullopt;
        return take(buffer, 1, key_event(Key::of(KeyCode::Esc)));
      }
      if (auto a = arrow(buffer[2])) return take(buffer, 3, *a);
      return take(buffer, 3, key_event(Key::of(KeyCode::Other)));
    }
    if (c == 0x1b) return take(buffer, 1, key_event(Key::of(KeyCode::Esc)));
    // ESC followed by a character: the character typed with Alt.
    std::size_t n = utf8_length(static_cast<unsigned char>(c));
    if (buffer.size() < 1 + n && !final) return std::nullopt;
    return take(buffer, std::min(buffer.size(), 1 + n), key_event(Key::of(KeyCode::Other)));
  }
  if (b == '\r' || b == '\n') return take(buffer, 1, key_event(Key::of(KeyCode::Enter)));
  if (b == '\t') return take(buffer, 1, key_event(Key::of(KeyCode::Tab)));
  if (b == 0x7F || b == 0x08) return take(buffer, 1, key_event(Key::of(KeyCode::Backspace)));
  if (b >= 0x01 && b <= 0x1A) return take(buffer, 1, key_event(Key::control(static_cast<char>('a' + b - 1))));
  if (b < 0x20) return take(buffer, 1, key_event(Key::of(KeyCode::Other)));
  std::size_t n = utf8_length(b);
  if (buffer.size() < n) {
    if (!final) return std::nullopt;
    n = buffer.size();
  }
  auto cps = decode_utf8(std::string_view(buffer.data(), n));
  char32_t cp = cps.empty() ? 0xFFFD : cps.front();
  if (cps.size() != 1) n = 1;  // invalid sequence: drop one byte
  return take(buffer, n, key_event(Key::character(cp)));
}

// ---------------------------------------------------------------------------
// Terminal takeover

namespace {

constexpr int kTermSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr std::size_t kSignalCount = sizeof(kTermSignals) / sizeof(kTermSignals[0]);

// State shared with the signal handlers; only touched while the signals are blocked
// or from the handlers themselves.
struct termios g_saved_termios;
volatile sig_atomic_t g_active = 0;
int g_in_fd = -1;
int g_out_fd = -1;
int g_wake_pipe[2] = {-1, -1};
struct sigaction g_old_actions[kSignalCount];
bool g_installed[kSignalCount] = {};
struct sigaction g_old_winch;

void restore_terminal_now() {
  if (!g_active) return;
  g_active = 0;
  tcsetattr(g_in_fd, TCSANOW, &g_saved_termios);
  std::size_t off = 0;
  while (off < kLeaveSequence.size()) {
    ssize_t n = ::write(g_out_fd, kLeaveSequence.data() + off, kLeaveSequence.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    off += static_cast<std::size_t>(n);
  }
}

extern "C" void on_terminate_signal(int sig) {
  int saved_errno = errno;
  restore_terminal_now();
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (kTermSignals[i] == sig && g_installed[i]) sigaction(sig, &g_old_actions[i], nullptr);
  }
  errno = saved_errno;
  // Delivered again once this handler returns, now with the earlier disposition.
  raise(sig);
}

extern "C" void on_winch_signal(int) {
  int saved_errno = errno;
  if (g_wake_pipe[1] >= 0) {
    char c = 'w';
    [[maybe_unused]] ssize_t n = ::write(g_wake_pipe[1], &c, 1);
  }
  errno = saved_errno;
}

sigset_t term_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kTermSignals) sigaddset(&set, s);
  sigaddset(&set, SIGWINCH);
  return set;
}

void install_handlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    g_installed[i] = false;
    struct sigaction old{};
    if (sigaction(kTermSignals[i], nullptr, &old) != 0) continue;
    // A signal the process ignores stays ignored (nohup and the like).
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction sa{};
    sa.sa_handler = on_terminate_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    if (sigaction(kTermSignals[i], &sa, &g_old_actions[i]) == 0) g_installed[i] = true;
  }
  struct sigaction sa{};
  sa.sa_handler = on_winch_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &sa, &g_old_winch);
}

void remove_handlers() {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) sigaction(kTermSignals[i], &g_old_actions[i], nullptr);
    g_installed[i] = false;
  }
  sigaction(SIGWINCH, &g_old_winch, nullptr);
}

void close_wake_pipe() {
  for (int& fd : g_wake_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

Error setup_error(const std::string& what, int err) {
  return Error::wrap("Unable to set up the terminal", Error::from_errno(what, err));
}

}  // namespace

Session::Session() {
  if (::isatty(STDIN_FILENO) == 0) {
    throw Error("Unable to set up the terminal", {"Standard input is not a terminal"});
  }
  if (g_active || g_wake_pipe[0] >= 0) throw Error("Unable to set up the terminal", {"The terminal is already in use"});

  // Output printed before the component must reach the screen before it is covered.
  std::cout.flush();
  std::fflush(stdout);

  in_fd_ = STDIN_FILENO;
  if (::isatty(STDOUT_FILENO) != 0) {
    out_fd_ = STDOUT_FILENO;
  } else {
    out_fd_ = ::open("/dev/tty", O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (out_fd_ < 0) throw setup_error("Unable to open /dev/tty", errno);
    own_out_fd_ = true;
  }

  struct termios saved{};
  if (tcgetattr(in_fd_, &saved) != 0) {
    int err = errno;
    if (own_out_fd_) ::close(out_fd_);
    throw setup_error("Unable to read the terminal mode", err);
  }
  if (pipe2(g_wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    int err = errno;
    g_wake_pipe[0] = g_wake_pipe[1] = -1;
    if (own_out_fd_) ::close(out_fd_);
    throw setup_error("Unable to create a pipe", err);
  }

  sigset_t block = term_signal_set(), old_mask;
  sigprocmask(SIG_BLOCK, &block, &old_mask);
  g_saved_termios = saved;
  g_in_fd = in_fd_;
  g_out_fd = out_fd_;
  install_handlers();

  struct termios raw = saved;
  cfmakeraw(&raw);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(in_fd_, TCSANOW, &raw) != 0) {
    int err = errno;
    remove_handlers();
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    close_wake_pipe();
    if (own_out_fd_) ::close(out_fd_);
    throw setup_error("Unable to enable raw mode", err);
  }
  g_active = 1;
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);

  try {
    write_all(kEnterSequence);
  } catch (...) {
    sigprocmask(SIG_BLOCK, &block, &old_mask);
    restore_terminal_now();
    remove_handlers();
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    close_wake_pipe();
    if (own_out_fd_) ::close(out_fd_);
    throw;
  }
  query_size();
}

Session::~Session() {
  sigset_t block = term_signal_set(), old_mask;
  sigprocmask(SIG_BLOCK, &block, &old_mask);
  restore_terminal_now();
  remove_handlers();
  close_wake_pipe();
  g_in_fd = g_out_fd = -1;
  // A termination signal that arrived meanwhile is delivered here, with the
  // process's own disposition, after the terminal is back.
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  if (own_out_fd_) ::close(out_fd_);
}

void Session::query_size() {
  struct winsize ws{};
  if (ioctl(out_fd_, TIOCGWINSZ, &ws) == 0 || ioctl(in_fd_, TIOCGWINSZ, &ws) == 0) {
    if (ws.ws_col > 0) width_ = ws.ws_col;
    if (ws.ws_row > 0) height_ = ws.ws_row;
  }
}

void Session::write_all(std::string_view data) {
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(out_fd_, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw Error::from_errno("Unable to write to the terminal", errno);
    }
    off += static_cast<std::size_t>(n);
  }
}

void Session::draw(const Frame& frame) {
  std::string out;
  if (!cleared_) {
    out += "\x1b[H\x1b[2J";
    cleared_ = true;
  }
  out += frame.render();
  write_all(out);
}

Event Session::next_event() {
  for (;;) {
    if (!pending_.empty()) {
      if (auto ev = decode_event(pending_, false)) return *ev;
    }
    struct pollfd fds[2] = {{in_fd_, POLLIN, 0}, {g_wake_pipe[0], POLLIN, 0}};
    // An incomplete sequence waits only briefly for the rest (a lone ESC is Esc).
    int timeout = pending_.empty() ? -1 : kEscTimeoutMs;
    int r = ::poll(fds, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw Error::from_errno("Unable to read terminal input", errno);
    }
    if (r == 0) {
      if (auto ev = decode_event(pending_, true)) return *ev;
      continue;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      char sink[64];
      while (::read(g_wake_pipe[0], sink, sizeof sink) > 0) {
      }
      query_size();
      cleared_ = false;
      return Event{Event::Kind::Resize, {}};
    }
    if ((fds[0].revents & POLLIN) != 0) {
      char buf[256];
      ssize_t n = ::read(in_fd_, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        throw Error::from_errno("Unable to read terminal input", errno);
      }
      if (n == 0) throw Error("Unable to read terminal input", {"The terminal was closed"});
      pending_.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      throw Error("Unable to read terminal input", {"The terminal was closed"});
    }
  }
}

}  // namespace stelvane::tui
