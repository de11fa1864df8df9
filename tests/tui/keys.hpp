#pragma once
// Key names for tables of key sequences: "up", "down", "enter", "esc", "space",
// "ctrl-a", "ctrl-c", "tab", or a single character ("k", "X").

#include <stdexcept>
#include <string>
#include <vector>

#include "tui/frame.hpp"
#include "tui/terminal.hpp"

namespace stelvane::tui::testkeys {

inline Key key(const std::string& name) {
  if (name == "up") return Key::of(KeyCode::Up);
  if (name == "down") return Key::of(KeyCode::Down);
  if (name == "left") return Key::of(KeyCode::Left);
  if (name == "right") return Key::of(KeyCode::Right);
  if (name == "enter") return Key::of(KeyCode::Enter);
  if (name == "esc") return Key::of(KeyCode::Esc);
  if (name == "tab") return Key::of(KeyCode::Tab);
  if (name == "space") return Key::character(' ');
  if (name.rfind("ctrl-", 0) == 0 && name.size() == 6) return Key::control(name[5]);
  auto cps = decode_utf8(name);
  if (cps.size() == 1) return Key::character(cps[0]);
  throw std::invalid_argument("unknown key name " + name);
}

inline std::vector<Key> keys(const std::vector<std::string>& names) {
  std::vector<Key> out;
  for (const auto& n : names) out.push_back(key(n));
  return out;
}

}  // namespace stelvane::tui::testkeys
