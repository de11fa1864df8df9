#include "cli/commands.hpp"

#include <cstdio>

#include <fmt/format.h>

#include "cli/output.hpp"
#include "common/paths.hpp"
#include "config/loader.hpp"

namespace stelvane::cli {

void configure(const ConfigureArgs& args) {
  config::Config c = config::load_config();
  if (args.fail_open) c.user.fail_open = *args.fail_open;
  if (args.audit_tool_use) c.user.audit_tool_use = *args.audit_tool_use;
  if (args.audit_prompts) c.user.audit_prompts = *args.audit_prompts;
  config::save_config(c);
  print_settings_section(c);
}

void show_configuration() {
  const config::Config c = config::load_config();
  print_settings_section(c);
  print_section("---- Other Settings",
                {{"Debug Mode", enabled_text(c.user.debug)}, {"Auto Upgrade", enabled_text(c.user.auto_upgrade)}});
}

void debug(bool disable) {
  config::Config c = config::load_config();
  c.user.debug = !disable;
  config::save_config(c);
  if (disable) {
    fmt::print("Debug mode disabled.\n");
    return;
  }
  fmt::print("Debug mode enabled. Payloads will be logged to:\n");
  fmt::print("  {}\n", common::debug_log_dir().string());
  fmt::print("\nWarning: Debug logs may contain sensitive information.\n");
  fmt::print("Disable debug mode when done: stelvane debug --disable\n");
  fmt::print("\nDebug log location: {}\n", common::debug_log_dir().string());
  fmt::print("\nNote: Debug logs accumulate over time. Run 'stelvane debug-clean' to remove old logs.\n");
}

}  // namespace stelvane::cli
