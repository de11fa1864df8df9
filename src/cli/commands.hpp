#pragma once
// The settings commands: configure, show-configuration and debug.

#include <optional>

namespace stelvane::cli {

struct ConfigureArgs {
  std::optional<bool> fail_open;
  std::optional<bool> audit_tool_use;
  std::optional<bool> audit_prompts;
};

void configure(const ConfigureArgs& args);
void show_configuration();
void debug(bool disable);

}  // namespace stelvane::cli
