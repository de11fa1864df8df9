#pragma once
// Settings files laid out as hook type -> matcher groups -> hook objects
// ({"hooks": {"PreToolUse": [{"matcher": "*", "hooks": [{"type": "command", ...}]}]}}),
// as Claude Code and Gemini CLI keep them. The program's hooks live in the first
// wildcard group ("matcher": "*") of each hook type.

#include <filesystem>
#include <string_view>
#include <vector>

#include "providers/mod.hpp"
#include "providers/settings_file.hpp"

namespace stelvane::providers::matcher_groups {

// What differs between the assistants sharing this layout.
struct Style {
  const char* log_target;
  // Noun used in the messages for the settings directory and file ("Claude").
  std::string_view assistant;
  // Warning when the hook is already present; "{} ... {}" with hook type and path.
  std::string_view already_present;
  // Log line at the start of uninstall; "{} ... {}" with hook type and path.
  std::string_view uninstalling;
};

// Adds `hook` (an object whose "command" identifies it) to the first wildcard
// group of `hook_type`, creating the directory, the file and the group as needed.
void install(const Style& style, const std::filesystem::path& settings, std::string_view hook_type,
             const settings_file::Json& hook);

// Removes the program's hooks from the first wildcard group of `hook_type`.
void uninstall(const Style& style, const std::filesystem::path& settings, std::string_view hook_type);

// Every hook object with a text "command", under its hook type and group matcher.
std::vector<HookEntry> list(const std::filesystem::path& settings);

}  // namespace stelvane::providers::matcher_groups
