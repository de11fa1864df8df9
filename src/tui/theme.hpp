#pragma once
// Text styles of the terminal components: a truecolor foreground, optionally bold.

#include <cstdint>

namespace stelvane::tui {

struct Color {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

struct Style {
  Color fg;
  bool bold = false;
  friend bool operator==(const Style&, const Style&) = default;
};

// The ten styles every component starts from. A default-constructed Theme is the
// program's own look.
struct Theme {
  Style title{{0x22, 0xD3, 0xEE}, true};
  Style cursor_row{{0xDB, 0x27, 0x77}, true};
  Style normal_row{{0xD1, 0xD5, 0xDB}, false};
  Style unavailable_row{{0x9C, 0xA3, 0xAF}, false};
  Style hint{{0x9C, 0xA3, 0xAF}, false};  // hint paragraphs and footers
  Style border{{0x3B, 0x82, 0xF6}, false};
  Style success{{0x22, 0xD3, 0xEE}, false};  // message box, success kind
  Style warning{{0xDB, 0x27, 0x77}, false};  // message box, every other kind
  Style emphasis{{0xDB, 0x27, 0x77}, true};
  Style info{{0x60, 0xA5, 0xFA}, true};
};

}  // namespace stelvane::tui
