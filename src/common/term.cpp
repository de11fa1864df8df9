#include "common/term.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace stelvane::common {

namespace {

bool decide(int fd) {
  if (::isatty(fd) == 0) return false;
  if (const char* no = std::getenv("NO_COLOR"); no != nullptr && *no != '\0') return false;
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

const char* sequence(Style style) {
  switch (style) {
    case Style::Cyan: return "\x1b[36m";
    case Style::BoldCyan: return "\x1b[1;36m";
    case Style::Blue: return "\x1b[34m";
    case Style::BrightBlack: return "\x1b[90m";
    case Style::White: return "\x1b[37m";
    case Style::Red: return "\x1b[31m";
    case Style::Green: return "\x1b[32m";
    case Style::Yellow: return "\x1b[33m";
    case Style::Bold: return "\x1b[1m";
  }
  return "";
}

}  // namespace

bool color_enabled(std::FILE* stream) {
  static const bool out = decide(STDOUT_FILENO);
  static const bool err = decide(STDERR_FILENO);
  if (stream == stdout) return out;
  if (stream == stderr) return err;
  return decide(::fileno(stream));
}

std::string paint(std::string_view text, Style style, std::FILE* stream) {
  return styled(text, style, color_enabled(stream));
}

std::string styled(std::string_view text, Style style, bool color) {
  if (!color) return std::string(text);
  std::string s = sequence(style);
  s += text;
  s += "\x1b[0m";
  return s;
}

}  // namespace stelvane::common
