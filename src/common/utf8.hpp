#pragma once
// UTF-8 helpers shared by the readers of outside text (environment, stdin, files).

#include <cstddef>
#include <string_view>

namespace stelvane::common {

// Whether `text` is well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool is_valid_utf8(std::string_view text);
// Length in bytes of the longest valid UTF-8 prefix of `text`.
std::size_t valid_utf8_prefix(std::string_view text);

}  // namespace stelvane::common
