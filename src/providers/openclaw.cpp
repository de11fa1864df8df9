// OpenClaw: extended through plugins, so the program generates one (a manifest and
// a TypeScript module in ~/.openclaw/extensions/stelvane) and enables it in
// ~/.openclaw/openclaw.json. The module runs the installed executable with
// "openclaw-callback" for every tool call and message event.

#include <system_error>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/paths.hpp"
#include "logging/log.hpp"
#include "providers/assistants.hpp"
#include "providers/openclaw_module.hpp"
#include "providers/settings_file.hpp"
#include "resources/resources.hpp"

namespace stelvane::providers::openclaw {

namespace {

using settings_file::Json;

constexpr const char* kLogTarget = "stelvane::providers::openclaw";
// The plugin's id: its directory name and its entry in plugins.entries.
constexpr const char* kPluginId = "stelvane";

struct Layout {
  fs::path openclaw_dir;
  fs::path config;
  fs::path plugin_dir;
  fs::path manifest;
  fs::path module;
};

std::optional<Layout> layout() {
  auto home = common::home_dir();
  if (!home) return std::nullopt;
  Layout paths;
  paths.openclaw_dir = *home / ".openclaw";
  paths.config = paths.openclaw_dir / "openclaw.json";
  paths.plugin_dir = paths.openclaw_dir / "extensions" / kPluginId;
  paths.manifest = paths.plugin_dir / "openclaw.plugin.json";
  paths.module = paths.plugin_dir / "index.ts";
  return paths;
}

std::string manifest_text() {
  const Json manifest = {
      {"id", kPluginId},
      {"name", fmt::format("{} Security Plugin", kProgram)},
      {"version", "1.0.0"},
      {"description", fmt::format("{} security and compliance monitoring for tool calls", kProgram)},
      {"main", "index.ts"},
      {"configSchema", {{"type", "object"}, {"additionalProperties", false}, {"properties", Json::object()}}},
  };
  return manifest.dump(2);
}

void write_plugin_file(const fs::path& path, std::string_view content, std::string_view name) {
  try {
    common::replace_file(path, content);
  } catch (const std::exception& e) {
    throw Error::wrap(fmt::format("Unable to write {} at {}", name, path.string()), e);
  }
}

Json read_config(const fs::path& config) {
  return settings_file::read_json(config, fmt::format("Unable to parse JSON in {}", config.string()));
}

// Pretty-printed with sorted keys, as OpenClaw's own writer leaves it: one
// trailing newline.
void write_config(const fs::path& config, const Json& document) {
  settings_file::write_text(config, settings_file::serialize(document, "Failed to serialize config") + "\n");
}

Json& config_object(Json& parent, const char* key, const std::string& message) {
  auto it = parent.find(key);
  if (it == parent.end()) return parent[key] = Json::object();
  if (!it->is_object()) throw Error(message);
  return *it;
}

void enable_plugin(const fs::path& config) {
  auto& log = logging::get(kLogTarget);
  const std::string path = config.string();
  const fs::path dir = config.parent_path();
  settings_file::ensure_directory(dir, fmt::format("Unable to create config directory at {}", dir.string()));
  settings_file::ensure_file(config, "{}\n", fmt::format("Unable to create config file at {}", path));

  Json document = read_config(config);
  if (!document.is_object()) throw Error(fmt::format("Expected root of {} to be a JSON object", path));
  Json& plugins =
      config_object(document, "plugins", fmt::format("Expected 'plugins' field in {} to be an object", path));
  Json& entries =
      config_object(plugins, "entries", fmt::format("Expected 'plugins.entries' field in {} to be an object", path));
  if (entries.contains(kPluginId)) {
    // An entry the user disabled stays disabled.
    log.warn("{} plugin already enabled in {}", kProgram, path);
  } else {
    entries[kPluginId] = {{"enabled", true}};
  }
  write_config(config, document);
  log.info("Enabled {} plugin in {}", kProgram, path);
}

class OpenClaw final : public Provider {
 public:
  explicit OpenClaw(std::string executable) : executable_(std::move(executable)) {}

  std::string_view type_name() const override { return "OpenClaw"; }

  void install_hook(std::string_view hook_type) override {
    auto& log = logging::get(kLogTarget);
    const auto paths = layout();
    if (!paths) throw Error("No OpenClaw installation detected");
    std::error_code ec;
    if (!fs::exists(paths->openclaw_dir, ec)) {
      throw Error(fmt::format("OpenClaw directory not found at {}", paths->openclaw_dir.string()));
    }
    log.info("Installing {} plugin in {}", hook_type, paths->openclaw_dir.string());

    fs::create_directories(paths->plugin_dir, ec);
    if (ec)
      throw Error(fmt::format("Unable to create plugin directory at {}", paths->plugin_dir.string()), {ec.message()});
    write_plugin_file(paths->manifest, manifest_text(), "openclaw.plugin.json");
    const std::string docs_url(resources::deployment_value("openclaw_plugin_docs_url"));
    write_plugin_file(paths->module, module_source(executable_, docs_url), "index.ts");
    log.info("Installed {} plugin at {}", kProgram, paths->plugin_dir.string());

    enable_plugin(paths->config);
  }

  void uninstall_hook(std::string_view hook_type) override {
    auto& log = logging::get(kLogTarget);
    const auto paths = layout();
    std::error_code ec;
    if (!paths || !fs::exists(paths->openclaw_dir, ec)) return;
    log.info("Uninstalling {} from {}", hook_type, paths->openclaw_dir.string());

    if (fs::exists(fs::symlink_status(paths->plugin_dir, ec))) {
      fs::remove_all(paths->plugin_dir, ec);
      if (ec)
        throw Error(fmt::format("Unable to remove plugin directory at {}", paths->plugin_dir.string()), {ec.message()});
      log.info("Removed {} plugin from {}", kProgram, paths->plugin_dir.string());
    }

    if (!fs::exists(paths->config, ec)) return;
    const std::string path = paths->config.string();
    Json document = read_config(paths->config);
    Json* entries = nullptr;
    if (document.is_object()) {
      auto plugins = document.find("plugins");
      if (plugins != document.end() && plugins->is_object()) {
        auto found = plugins->find("entries");
        if (found != plugins->end() && found->is_object() && found->contains(kPluginId)) entries = &*found;
      }
    }
    if (entries == nullptr) {
      log.warn("{} not found in {}", kProgram, path);
      return;
    }
    entries->erase(std::string(kPluginId));
    write_config(paths->config, document);
    log.info("Disabled {} plugin in {}", kProgram, path);
  }

  std::vector<HookEntry> list_hooks() override {
    const auto paths = layout();
    std::error_code ec;
    if (!paths || !fs::exists(paths->config, ec)) return {};
    const Json document = read_config(paths->config);
    std::vector<HookEntry> hooks;
    if (!document.is_object()) return hooks;
    auto plugins = document.find("plugins");
    if (plugins == document.end() || !plugins->is_object()) return hooks;
    auto entries = plugins->find("entries");
    if (entries == plugins->end() || !entries->is_object()) return hooks;
    for (const auto& [name, entry] : entries->items()) {
      const auto enabled = entry.is_object() ? entry.find("enabled") : entry.end();
      const bool disabled =
          entry.is_object() && enabled != entry.end() && enabled->is_boolean() && !enabled->get<bool>();
      const fs::path module = paths->openclaw_dir / "extensions" / name / "index.ts";
      hooks.push_back({"plugin", disabled ? fmt::format("{} (disabled)", name) : name,
                       fs::exists(module, ec) ? fmt::format("[plugin: {}]", module.string())
                                              : std::string("[plugin - index.ts missing]")});
    }
    return hooks;
  }

 private:
  std::string executable_;
};

}  // namespace

std::unique_ptr<Provider> create() { return std::make_unique<OpenClaw>(common::installed_executable_path().string()); }

}  // namespace stelvane::providers::openclaw
