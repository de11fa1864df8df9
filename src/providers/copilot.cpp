// GitHub Copilot CLI: hooks in the project's .github/hooks/hooks.json (the project
// being the repository around the working directory), and its own answer format.

#include <system_error>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "common/error.hpp"
#include "logging/log.hpp"
#include "providers/assistants.hpp"
#include "providers/flat_hooks.hpp"

namespace stelvane::providers::copilot {

namespace {

constexpr const char* kLogTarget = "stelvane::providers::copilot";

const flat_hooks::Style kStyle{
    .log_target = kLogTarget,
    .command_key = "bash",
    .create_directory_error = "Unable to create hooks directory at {}",
    .create_file_error = "Unable to create Copilot hooks file at {}",
    .serialize_default_error = "Failed to serialize default Copilot hooks",
    .serialize_error = "Failed to serialize Copilot hooks",
    .list_own_matcher = false,
};

// The nearest directory from the working directory upwards that holds a ".git"
// entry (a repository or a worktree), else the working directory itself.
fs::path project_root() {
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  if (ec || cwd.empty()) throw Error("Unable to determine project root. Run from within a git repository");
  for (fs::path dir = cwd;; dir = dir.parent_path()) {
    if (fs::exists(fs::symlink_status(dir / ".git", ec))) return dir;
    if (dir == dir.parent_path()) break;
  }
  return cwd;
}

class Copilot final : public Provider {
 public:
  Copilot(std::string command, fs::path hooks_path)
      : command_(std::move(command)), hooks_path_(std::move(hooks_path)) {}

  std::string_view type_name() const override { return "Copilot"; }

  void install_hook(std::string_view hook_type) override {
    flat_hooks::install(kStyle, hooks_path_, hook_type,
                        {{"type", "command"}, {"bash", command_}, {"comment", "stelvane security hook"}});
  }

  void uninstall_hook(std::string_view hook_type) override { flat_hooks::uninstall(kStyle, hooks_path_, hook_type); }

  std::vector<HookEntry> list_hooks() override { return flat_hooks::list(kStyle, hooks_path_); }

  // Copilot CLI reads a permission decision; approval is silence.
  void write_response(const HookDecision& decision) override {
    auto& log = logging::get(kLogTarget);
    if (!decision.blocked()) {
      log.info("decision: approve (no output, exit 0)");
      return;
    }
    nlohmann::ordered_json answer;
    answer["permissionDecision"] = "deny";
    answer["permissionDecisionReason"] =
        decision.reason ? *decision.reason : fmt::format("Blocked by {} policy", kProgram);
    std::string text;
    try {
      text = answer.dump();
    } catch (const nlohmann::json::exception& e) {
      throw Error::wrap("Failed to serialize Copilot hook response", e);
    }
    log.info("decision json: {}", text);
    write_answer(text);
  }

 private:
  std::string command_;
  fs::path hooks_path_;
};

}  // namespace

std::unique_ptr<Provider> create() {
  std::string command = hook_command("copilot-callback");
  fs::path hooks_path = project_root() / ".github" / "hooks" / "hooks.json";
  logging::get(kLogTarget).debug("Copilot hooks file: {}", hooks_path.string());
  return std::make_unique<Copilot>(std::move(command), std::move(hooks_path));
}

}  // namespace stelvane::providers::copilot
