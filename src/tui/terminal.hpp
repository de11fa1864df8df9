#pragma once
// The terminal under a full-screen component: raw input, the alternate screen,
// mouse capture, decoded key events and window-size changes.
//
// A Session takes the terminal over when constructed and gives it back when
// destroyed, on every path: normal return, exception, and the termination signals
// (SIGTERM, SIGHUP, SIGINT, SIGQUIT), whose handlers restore the terminal before the
// signal takes its default effect.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tui/frame.hpp"

namespace stelvane::tui {

enum class KeyCode { Char, Up, Down, Left, Right, Enter, Esc, Tab, Backspace, Other };

struct Key {
  KeyCode code = KeyCode::Other;
  char32_t ch = 0;    // for Char: the character (the letter itself for Ctrl+letter)
  bool ctrl = false;  // Ctrl held (Ctrl+A arrives as Char 'a' with ctrl)
  friend bool operator==(const Key&, const Key&) = default;

  static Key character(char32_t c) { return {KeyCode::Char, c, false}; }
  static Key control(char c) { return {KeyCode::Char, static_cast<char32_t>(c), true}; }
  static Key of(KeyCode c) { return {c, 0, false}; }
  bool is_char(char32_t c) const { return code == KeyCode::Char && !ctrl && ch == c; }
  bool is_ctrl(char c) const { return code == KeyCode::Char && ctrl && ch == static_cast<char32_t>(c); }
};

struct Event {
  enum class Kind { Key, Mouse, Resize, Other };
  Kind kind = Kind::Other;
  Key key;  // for Kind::Key
  friend bool operator==(const Event&, const Event&) = default;
};

// Decodes the bytes a terminal sends in raw mode: printable UTF-8 characters,
// control characters, cursor keys in both normal (ESC [ A) and application
// (ESC O A) mode, mouse reports (X10, SGR and urxvt encodings) and other CSI/SS3
// sequences.
//
// `decode_event` removes one event from the front of `buffer`. With `final` false
// an incomplete sequence (a lone ESC, a sequence cut short) is left in the buffer
// and nothing is returned, so the caller can wait briefly for the rest; with
// `final` true whatever is there is decoded as it stands (a lone ESC is the Esc key).
std::optional<Event> decode_event(std::string& buffer, bool final);

// The sequences written on takeover and on restore.
inline constexpr std::string_view kEnterSequence =
    "\x1b[?1049h\x1b[?1000h\x1b[?1002h\x1b[?1003h\x1b[?1015h\x1b[?1006h\x1b[?25l";
inline constexpr std::string_view kLeaveSequence =
    "\x1b[?1049l\x1b[?1006l\x1b[?1015l\x1b[?1003l\x1b[?1002l\x1b[?1000l\x1b[?25h";

// How long an ESC waits for the rest of a sequence before it counts as the Esc key.
inline constexpr int kEscTimeoutMs = 50;

class Session {
 public:
  // Takes the terminal over. Throws Error when standard input is not a terminal,
  // when another session is active, or when the terminal cannot be set up (then
  // whatever had been switched already is switched back).
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Current size in columns and rows.
  int width() const { return width_; }
  int height() const { return height_; }
  // Paints the whole frame (its size should be width() × height()).
  void draw(const Frame& frame);
  // Blocks until the next event. A window-size change updates width()/height()
  // and is returned as a Resize event. Throws Error when input cannot be read.
  Event next_event();

 private:
  void query_size();
  void write_all(std::string_view data);

  int in_fd_ = 0;
  int out_fd_ = 1;
  bool own_out_fd_ = false;
  int width_ = 80;
  int height_ = 24;
  bool cleared_ = false;
  std::string pending_;
};

}  // namespace stelvane::tui
