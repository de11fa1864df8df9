// Gemini CLI: hooks in ~/.gemini/settings.json, laid out like Claude Code's; the
// program's hook objects carry "name": "stelvane".

#include "providers/assistants.hpp"
#include "providers/matcher_groups.hpp"

namespace stelvane::providers::gemini {

namespace {

const matcher_groups::Style kStyle{
    .log_target = "stelvane::providers::gemini",
    .assistant = "Gemini",
    .already_present = "{} already exists in {}",
    .uninstalling = "Uninstalling {} from {}",
};

class Gemini final : public Provider {
 public:
  Gemini(std::string command, fs::path settings_path)
      : command_(std::move(command)), settings_path_(std::move(settings_path)) {}

  std::string_view type_name() const override { return "Gemini"; }

  void install_hook(std::string_view hook_type) override {
    matcher_groups::install(kStyle, settings_path_, hook_type,
                            {{"type", "command"}, {"command", command_}, {"name", kProgram}});
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
  std::string command = hook_command("gemini-callback");
  return std::make_unique<Gemini>(std::move(command), require_home() / ".gemini" / "settings.json");
}

}  // namespace stelvane::providers::gemini
