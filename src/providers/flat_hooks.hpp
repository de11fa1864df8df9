#pragma once
// Hooks files laid out as hook type -> flat array of hook objects, with a
// "version" member ({"version": 1, "hooks": {"preToolUse": [{"type": "command", ...}]}}),
// as Cursor and Copilot CLI keep them.

#include <filesystem>
#include <string_view>
#include <vector>

#include "providers/mod.hpp"
#include "providers/settings_file.hpp"

namespace stelvane::providers::flat_hooks {

// What differs between the assistants sharing this layout.
struct Style {
  const char* log_target;
  // The member of a hook object holding its command line ("command", "bash").
  const char* command_key;
  // Error texts; "{}" is the directory or file path.
  std::string_view create_directory_error;
  std::string_view create_file_error;
  std::string_view serialize_default_error;
  std::string_view serialize_error;
  // Whether list shows a hook's own "matcher" (else always "*").
  bool list_own_matcher;
};

// Inserts `hook` (identified by its command member) at the front of `hook_type`'s
// array, creating the directory and a default file as needed.
void install(const Style& style, const std::filesystem::path& file, std::string_view hook_type,
             const settings_file::Json& hook);

// Removes the program's hooks from `hook_type`'s array.
void uninstall(const Style& style, const std::filesystem::path& file, std::string_view hook_type);

// Every hook object with a text command, under its hook type.
std::vector<HookEntry> list(const Style& style, const std::filesystem::path& file);

}  // namespace stelvane::providers::flat_hooks
