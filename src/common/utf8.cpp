#include "common/utf8.hpp"

namespace stelvane::common {

namespace {

// Length of the UTF-8 sequence starting at `i`, or 0 when it is malformed.
std::size_t sequence_length(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    const unsigned char min = k == 1 ? lo : 0x80, max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) return 0;
  }
  return len;
}

}  // namespace

std::size_t valid_utf8_prefix(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = sequence_length(text, i);
    if (n == 0) break;
    i += n;
  }
  return i;
}

bool is_valid_utf8(std::string_view text) { return valid_utf8_prefix(text) == text.size(); }

}  // namespace stelvane::common
