#pragma once
// Coloured console output. Whether a stream gets colour is decided once per
// stream: only a terminal, never with NO_COLOR set or TERM=dumb.

#include <cstdio>
#include <string>
#include <string_view>

namespace stelvane::common {

enum class Style { Cyan, BoldCyan, Blue, BrightBlack, White, Red, Green, Yellow, Bold };

bool color_enabled(std::FILE* stream);
// `text` wrapped in the style's escape sequences when `color` is true.
std::string styled(std::string_view text, Style style, bool color);
// `text` wrapped in the style's escape sequences when `stream` gets colour.
std::string paint(std::string_view text, Style style, std::FILE* stream = stdout);

}  // namespace stelvane::common
