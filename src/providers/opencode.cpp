// OpenCode: the program is the named entry "stelvane" of the "plugins" object in
// opencode.json (in OPENCODE_CONFIG's directory or the user's configuration
// directory). The entry holds the command itself; no plugin source is written.

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/paths.hpp"
#include "logging/log.hpp"
#include "providers/assistants.hpp"
#include "providers/settings_file.hpp"

namespace stelvane::providers::opencode {

namespace {

using settings_file::Json;

constexpr const char* kLogTarget = "stelvane::providers::opencode";
// The name of the program's entry in "plugins".
constexpr const char* kEntry = "stelvane";

std::string parse_message(const fs::path& path) { return fmt::format("Unable to parse JSON in {}", path.string()); }

constexpr const char* kSerializeError = "Failed to serialize OpenCode config";

class OpenCode final : public Provider {
 public:
  OpenCode(std::string command, fs::path config_path)
      : command_(std::move(command)), config_path_(std::move(config_path)) {}

  std::string_view type_name() const override { return "OpenCode"; }

  void install_hook(std::string_view hook_type) override {
    auto& log = logging::get(kLogTarget);
    const std::string path = config_path_.string();
    log.info("Installing {} in {}", hook_type, path);

    const fs::path dir = config_path_.parent_path();
    settings_file::ensure_directory(dir, fmt::format("Unable to create OpenCode config directory at {}", dir.string()));
    settings_file::ensure_file(config_path_, "{}\n", fmt::format("Unable to create OpenCode config file at {}", path));

    Json document = settings_file::read_json(config_path_, parse_message(config_path_));
    if (!document.is_object()) {
      settings_file::structure_error(config_path_, fmt::format("Expected root of {} to be a JSON object", path));
    }
    Json& plugins = settings_file::object_member(document, "plugins", config_path_,
                                                 fmt::format("Expected 'plugins' field in {} to be an object", path));
    auto existing = plugins.find(kEntry);
    const std::string* existing_command =
        existing != plugins.end() ? settings_file::text_member(*existing, "command") : nullptr;
    if (existing_command != nullptr && *existing_command == command_) {
      log.warn("{} plugin already exists in {}", kProgram, path);
    } else {
      plugins[kEntry] = {
          {"enabled", true}, {"command", command_}, {"description", fmt::format("{} security hooks", kProgram)}};
    }
    settings_file::write_json(config_path_, document, kSerializeError);
  }

  void uninstall_hook(std::string_view hook_type) override {
    auto& log = logging::get(kLogTarget);
    const std::string path = config_path_.string();
    log.info("Uninstalling {} from {}", hook_type, path);

    Json document = settings_file::read_json(config_path_, parse_message(config_path_));
    auto plugins = document.is_object() ? document.find("plugins") : document.end();
    if (plugins != document.end() && plugins->is_object()) {
      if (plugins->erase(kEntry) == 0) log.warn("{} plugin not found in {}", kProgram, path);
    } else {
      log.warn("No plugins found in {}", path);
    }
    settings_file::write_json(config_path_, document, kSerializeError);
  }

  std::vector<HookEntry> list_hooks() override {
    const Json document = settings_file::read_json(config_path_, parse_message(config_path_));
    std::vector<HookEntry> entries;
    if (!document.is_object()) return entries;
    auto plugins = document.find("plugins");
    if (plugins == document.end() || !plugins->is_object()) return entries;
    for (const auto& [name, entry] : plugins->items()) {
      const std::string* command = settings_file::text_member(entry, "command");
      if (command == nullptr) continue;
      const auto enabled = entry.find("enabled");
      const bool disabled = enabled != entry.end() && enabled->is_boolean() && !enabled->get<bool>();
      entries.push_back({"plugin", disabled ? fmt::format("{} (disabled)", name) : name, *command});
    }
    return entries;
  }

 private:
  std::string command_;
  fs::path config_path_;
};

}  // namespace

std::optional<fs::path> opencode_dir() {
  if (auto value = common::env_var("OPENCODE_CONFIG")) {
    fs::path parent = fs::path(*value).parent_path();
    if (!parent.empty()) return parent;
  }
  if (auto config = common::platform_config_dir()) return *config / "opencode";
  return std::nullopt;
}

std::unique_ptr<Provider> create() {
  std::string command = hook_command("opencode-callback");
  auto dir = opencode_dir();
  if (!dir) throw Error("Unable to determine OpenCode config directory");
  return std::make_unique<OpenCode>(std::move(command), *dir / "opencode.json");
}

}  // namespace stelvane::providers::opencode
