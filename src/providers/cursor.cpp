// Cursor: hooks in ~/.cursor/hooks.json, one flat array of hook objects per hook type.

#include "providers/assistants.hpp"
#include "providers/flat_hooks.hpp"

namespace stelvane::providers::cursor {

namespace {

const flat_hooks::Style kStyle{
    .log_target = "stelvane::providers::cursor",
    .command_key = "command",
    .create_directory_error = "Unable to create Cursor config directory at {}",
    .create_file_error = "Unable to create Cursor hooks file at {}",
    .serialize_default_error = "Failed to serialize default Cursor hooks",
    .serialize_error = "Failed to serialize Cursor hooks",
    .list_own_matcher = true,
};

class Cursor final : public Provider {
 public:
  Cursor(std::string command, fs::path hooks_path) : command_(std::move(command)), hooks_path_(std::move(hooks_path)) {}

  std::string_view type_name() const override { return "Cursor"; }

  void install_hook(std::string_view hook_type) override {
    flat_hooks::install(kStyle, hooks_path_, hook_type, {{"type", "command"}, {"command", command_}, {"matcher", "*"}});
  }

  void uninstall_hook(std::string_view hook_type) override { flat_hooks::uninstall(kStyle, hooks_path_, hook_type); }

  std::vector<HookEntry> list_hooks() override { return flat_hooks::list(kStyle, hooks_path_); }

 private:
  std::string command_;
  fs::path hooks_path_;
};

}  // namespace

std::unique_ptr<Provider> create() {
  std::string command = hook_command("cursor-callback");
  return std::make_unique<Cursor>(std::move(command), require_home() / ".cursor" / "hooks.json");
}

}  // namespace stelvane::providers::cursor
