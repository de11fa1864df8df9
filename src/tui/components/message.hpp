#pragma once
// The message box: a centred notice that waits for any key.

#include <string>

#include "tui/frame.hpp"
#include "tui/theme.hpp"

namespace stelvane::tui {

// Message kinds: kMessageSuccess draws in the success style, any other value in
// the warning style.
inline constexpr int kMessageSuccess = 2;
inline constexpr int kMessageWarning = 1;
inline constexpr const char* kPressAnyKey = "Press any key to continue";

Frame draw_message_box(const Theme& theme, const std::string& title, const std::string& message, int kind, int width,
                       int height);

// Shows the box until a key is pressed. Throws Error on a terminal failure.
void message_box(const std::string& title, const std::string& message, int kind);

}  // namespace stelvane::tui
