// Claude Code: hooks in ~/.claude/settings.json, in wildcard matcher groups.

#include "providers/assistants.hpp"
#include "providers/matcher_groups.hpp"

namespace stelvane::providers::claudecode {

namespace {

const matcher_groups::Style kStyle{
    .log_target = "stelvane::providers::claudecode",
    .assistant = "Claude",
    .already_present = "{} already exist in {}",
    .uninstalling = "Uninstalling {} in {}",
};

class ClaudeCode final : public Provider {
 public:
  ClaudeCode(std::string command, fs::path settings_path)
      : command_(std::move(command)), settings_path_(std::move(settings_path)) {}

  std::string_view type_name() const override { return "ClaudeCode"; }

  void install_hook(std::string_view hook_type) override {
    matcher_groups::install(kStyle, settings_path_, hook_type, {{"type", "command"}, {"command", command_}});
  }

  void uninstall_hook(std::string_view hook_type) override {
    matcher_groups::uninstall(kStyle, settings_path_, hook_type);
  }

  std::vector<HookEntry> list_hooks() override { return matcher_groups::list(settings_path_); }

 private:
  std::string command_;
  fs::path settings_path_;
};

}  // namespace

std::unique_ptr<Provider> create() {
  std::string command = hook_command("claude-callback");
  return std::make_unique<ClaudeCode>(std::move(command), require_home() / ".claude" / "settings.json");
}

}  // namespace stelvane::providers::claudecode
