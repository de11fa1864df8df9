#include "providers/flat_hooks.hpp"

#include <fmt/format.h>

#include "logging/log.hpp"

namespace stelvane::providers::flat_hooks {

namespace {

using settings_file::Json;
namespace fs = std::filesystem;

std::string parse_message(const fs::path& path) {
  return fmt::format("Unable to parse JSON data in {}", path.string());
}

}  // namespace

void install(const Style& style, const fs::path& file, std::string_view hook_type, const Json& hook) {
  auto& log = logging::get(style.log_target);
  const std::string path = file.string();
  log.info("Installing {} in {}", hook_type, path);

  const fs::path dir = file.parent_path();
  settings_file::ensure_directory(dir, fmt::format(fmt::runtime(style.create_directory_error), dir.string()));
  if (std::error_code ec; !fs::exists(file, ec)) {
    const Json defaults = {{"hooks", Json::object()}, {"version", 1}};
    settings_file::ensure_file(file, settings_file::serialize(defaults, std::string(style.serialize_default_error)),
                               fmt::format(fmt::runtime(style.create_file_error), path));
  }

  Json document = settings_file::read_json(file, parse_message(file));
  if (!document.is_object()) {
    settings_file::structure_error(file, fmt::format("Expected root of {} to be a JSON object", path));
  }
  if (!document.contains("version")) document["version"] = 1;
  Json& hooks = settings_file::object_member(document, "hooks", file,
                                             fmt::format("Expected 'hooks' field in {} to be an object", path));
  const std::string type_key(hook_type);
  Json& array = settings_file::array_member(
      hooks, type_key.c_str(), file, fmt::format("Expected 'hooks.{}' field in {} to be an array", hook_type, path));

  const std::string& command = hook.at(style.command_key).get_ref<const std::string&>();
  bool present = false;
  for (const auto& existing : array) {
    const std::string* existing_command = settings_file::text_member(existing, style.command_key);
    if (existing_command != nullptr && *existing_command == command) present = true;
  }
  if (present) {
    log.warn("{} already exists in {}", hook_type, path);
  } else {
    array.insert(array.begin(), hook);
  }

  settings_file::write_json(file, document, std::string(style.serialize_error));
}

void uninstall(const Style& style, const fs::path& file, std::string_view hook_type) {
  auto& log = logging::get(style.log_target);
  const std::string path = file.string();
  log.info("Uninstalling {} from {}", hook_type, path);

  Json document = settings_file::read_json(file, parse_message(file));
  const std::string type_key(hook_type);
  Json* hooks = document.is_object() && document.contains("hooks") ? &document["hooks"] : nullptr;
  if (hooks == nullptr || !hooks->is_object()) {
    log.warn("No hooks found in {}", path);
  } else if (!hooks->contains(type_key) || !(*hooks)[type_key].is_array()) {
    log.warn("No {} hooks found in {}", hook_type, path);
  } else {
    Json& array = (*hooks)[type_key];
    Json kept = Json::array();
    for (auto& existing : array) {
      const std::string* command = settings_file::text_member(existing, style.command_key);
      if (command == nullptr || !settings_file::runs_program(*command)) kept.push_back(std::move(existing));
    }
    if (kept.size() == array.size()) log.warn("{} hook not found in {}", hook_type, path);
    array = std::move(kept);
  }

  settings_file::write_json(file, document, std::string(style.serialize_error));
}

std::vector<HookEntry> list(const Style& style, const fs::path& file) {
  const Json document = settings_file::read_json(file, parse_message(file));
  std::vector<HookEntry> entries;
  if (!document.is_object()) return entries;
  auto hooks = document.find("hooks");
  if (hooks == document.end() || !hooks->is_object()) return entries;
  for (const auto& [hook_type, array] : hooks->items()) {
    if (!array.is_array()) continue;
    for (const auto& hook : array) {
      const std::string* command = settings_file::text_member(hook, style.command_key);
      if (command == nullptr) continue;
      const std::string* matcher = style.list_own_matcher ? settings_file::text_member(hook, "matcher") : nullptr;
      entries.push_back({hook_type, matcher != nullptr ? *matcher : std::string("*"), *command});
    }
  }
  return entries;
}

}  // namespace stelvane::providers::flat_hooks
