// OpenAI Codex CLI: the program is Codex's "notify" program, a top-level array in
// config.toml under CODEX_HOME or ~/.codex. Codex allows one notify program, so
// another tool's entry is replaced.

#include <sstream>

#include <fmt/format.h>
#include <toml++/toml.h>

#include "common/error.hpp"
#include "common/paths.hpp"
#include "logging/log.hpp"
#include "providers/assistants.hpp"
#include "providers/settings_file.hpp"

namespace stelvane::providers::codex {

namespace {

constexpr const char* kLogTarget = "stelvane::providers::codex";
constexpr std::string_view kHeader = "# Codex CLI configuration\n";
constexpr std::string_view kCallback = "codex-callback";

toml::table read_config(const fs::path& config) {
  const std::string text = settings_file::read_text(config);
  try {
    return toml::parse(text, config.string());
  } catch (const toml::parse_error& e) {
    const auto& where = e.source().begin;
    throw Error(fmt::format("Unable to parse TOML in {}", config.string()),
                {fmt::format("{} (line {}, column {})", e.description(), where.line, where.column)});
  }
}

// Re-serialises the whole document: tables keep their keys sorted and the writer
// puts plain keys before tables; comments of the old file are not kept.
void write_config(const fs::path& config, const toml::table& document) {
  std::string text;
  try {
    std::ostringstream out;
    out << document;
    text = std::move(out).str();
  } catch (const std::exception& e) {
    throw Error::wrap("Failed to serialize Codex config", e);
  }
  settings_file::write_text(config, text);
}

const toml::array* notify_array(const toml::table& document) {
  const toml::node* notify = document.get("notify");
  return notify != nullptr ? notify->as_array() : nullptr;
}

class Codex final : public Provider {
 public:
  Codex(std::string executable, fs::path config_path)
      : executable_(std::move(executable)), config_path_(std::move(config_path)) {}

  std::string_view type_name() const override { return "Codex"; }

  void install_hook(std::string_view hook_type) override {
    auto& log = logging::get(kLogTarget);
    const std::string path = config_path_.string();
    log.info("Installing {} in {}", hook_type, path);

    const fs::path dir = config_path_.parent_path();
    settings_file::ensure_directory(dir, fmt::format("Unable to create Codex config directory at {}", dir.string()));
    settings_file::ensure_file(config_path_, kHeader, fmt::format("Unable to create Codex config file at {}", path));

    toml::table document = read_config(config_path_);
    const toml::array* notify = notify_array(document);
    const bool installed = notify != nullptr && !notify->empty() && (*notify)[0].is_string() &&
                           (*notify)[0].ref<std::string>() == executable_;
    if (installed) {
      log.warn("notify hook already exists in {}", path);
    } else {
      if (document.contains("notify")) log.warn("Existing notify config found in {}. It will be replaced.", path);
      document.insert_or_assign("notify", toml::array{executable_, std::string(kCallback)});
    }
    write_config(config_path_, document);
  }

  void uninstall_hook(std::string_view hook_type) override {
    auto& log = logging::get(kLogTarget);
    const std::string path = config_path_.string();
    log.info("Uninstalling {} from {}", hook_type, path);

    toml::table document = read_config(config_path_);
    const toml::array* notify = notify_array(document);
    const bool installed = notify != nullptr && !notify->empty() && (*notify)[0].is_string() &&
                           settings_file::runs_program((*notify)[0].ref<std::string>());
    if (installed) {
      document.erase("notify");
    } else {
      log.warn("notify hook not found in {}", path);
    }
    write_config(config_path_, document);
  }

  std::vector<HookEntry> list_hooks() override {
    const toml::table document = read_config(config_path_);
    const toml::array* notify = notify_array(document);
    if (notify == nullptr || notify->empty()) return {};
    std::string command;
    bool first = true;
    for (const auto& element : *notify) {
      if (!element.is_string()) continue;
      if (!first) command += ' ';
      command += element.ref<std::string>();
      first = false;
    }
    return {{"notify", "*", command}};
  }

 private:
  std::string executable_;
  fs::path config_path_;
};

}  // namespace

std::optional<fs::path> codex_dir() {
  // An empty CODEX_HOME would name the working directory; it counts as unset.
  if (auto value = common::env_var("CODEX_HOME"); value && !value->empty()) return fs::path(*value);
  if (auto home = common::home_dir()) return *home / ".codex";
  return std::nullopt;
}

std::unique_ptr<Provider> create() {
  std::string executable = common::installed_executable_path().string();
  auto dir = codex_dir();
  if (!dir) throw Error("Unable to determine Codex config directory");
  return std::make_unique<Codex>(std::move(executable), *dir / "config.toml");
}

}  // namespace stelvane::providers::codex
