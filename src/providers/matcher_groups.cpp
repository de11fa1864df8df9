#include "providers/matcher_groups.hpp"

#include <fmt/format.h>

#include "logging/log.hpp"

namespace stelvane::providers::matcher_groups {

namespace {

using settings_file::Json;
namespace fs = std::filesystem;

std::string parse_message(const fs::path& path) {
  return fmt::format("Unable to parse JSON data in {}", path.string());
}

std::string serialize_message(const Style& style) {
  return fmt::format("Failed to serialize {} settings", style.assistant);
}

// The first element of a hook-type array that is an object with "matcher": "*".
Json* wildcard_group(Json& groups) {
  for (auto& group : groups) {
    const std::string* matcher = settings_file::text_member(group, "matcher");
    if (matcher != nullptr && *matcher == "*") return &group;
  }
  return nullptr;
}

}  // namespace

void install(const Style& style, const fs::path& settings, std::string_view hook_type, const Json& hook) {
  auto& log = logging::get(style.log_target);
  const std::string path = settings.string();
  log.info("Installing {} in {}", hook_type, path);

  const fs::path dir = settings.parent_path();
  settings_file::ensure_directory(
      dir, fmt::format("Unable to create {} config directory at {}", style.assistant, dir.string()));
  settings_file::ensure_file(settings, "{}\n",
                             fmt::format("Unable to create {} settings file at {}", style.assistant, path));

  Json document = settings_file::read_json(settings, parse_message(settings));
  if (!document.is_object()) {
    settings_file::structure_error(settings, fmt::format("Expected root of {} to be a JSON object", path));
  }
  Json& hooks = settings_file::object_member(document, "hooks", settings,
                                             fmt::format("Expected 'hooks' field in {} to be an object", path));
  const std::string type_key(hook_type);
  Json& groups =
      settings_file::array_member(hooks, type_key.c_str(), settings,
                                  fmt::format("Expected 'hooks.{}' field in {} to be an array", hook_type, path));

  const std::string& command = hook.at("command").get_ref<const std::string&>();
  if (Json* group = wildcard_group(groups)) {
    Json& group_hooks = settings_file::array_member(
        *group, "hooks", settings,
        fmt::format("Expected 'hooks' array in wildcard matcher for {} in {}", hook_type, path));
    bool present = false;
    for (const auto& existing : group_hooks) {
      const std::string* existing_command = settings_file::text_member(existing, "command");
      if (existing_command != nullptr && *existing_command == command) present = true;
    }
    if (present) {
      log.warn(fmt::runtime(style.already_present), hook_type, path);
    } else {
      group_hooks.insert(group_hooks.begin(), hook);
    }
  } else {
    groups.insert(groups.begin(), Json{{"matcher", "*"}, {"hooks", Json::array({hook})}});
  }

  settings_file::write_json(settings, document, serialize_message(style));
}

void uninstall(const Style& style, const fs::path& settings, std::string_view hook_type) {
  auto& log = logging::get(style.log_target);
  const std::string path = settings.string();
  log.info(fmt::runtime(style.uninstalling), hook_type, path);

  Json document = settings_file::read_json(settings, parse_message(settings));
  const std::string type_key(hook_type);
  Json* hooks = document.is_object() && document.contains("hooks") ? &document["hooks"] : nullptr;
  if (hooks == nullptr || !hooks->is_object()) {
    log.warn("No hooks found in {}", path);
  } else if (!hooks->contains(type_key) || !(*hooks)[type_key].is_array()) {
    log.warn("No {} hooks found in {}", hook_type, path);
  } else if (Json* group = wildcard_group((*hooks)[type_key]); group == nullptr) {
    log.warn("No wildcard matcher found for {} in {}", hook_type, path);
  } else if (!group->contains("hooks") || !(*group)["hooks"].is_array()) {
    log.warn("No hooks array found in wildcard matcher for {} in {}", hook_type, path);
  } else {
    Json& group_hooks = (*group)["hooks"];
    Json kept = Json::array();
    for (auto& existing : group_hooks) {
      const std::string* command = settings_file::text_member(existing, "command");
      if (command == nullptr || !settings_file::runs_program(*command)) kept.push_back(std::move(existing));
    }
    if (kept.size() == group_hooks.size()) log.warn("{} hook not found in {}", hook_type, path);
    group_hooks = std::move(kept);
  }

  settings_file::write_json(settings, document, serialize_message(style));
}

std::vector<HookEntry> list(const fs::path& settings) {
  const Json document = settings_file::read_json(settings, parse_message(settings));
  std::vector<HookEntry> entries;
  if (!document.is_object()) return entries;
  auto hooks = document.find("hooks");
  if (hooks == document.end() || !hooks->is_object()) return entries;
  for (const auto& [hook_type, groups] : hooks->items()) {
    if (!groups.is_array()) continue;
    for (const auto& group : groups) {
      const std::string* matcher = settings_file::text_member(group, "matcher");
      if (!group.is_object()) continue;
      auto group_hooks = group.find("hooks");
      if (group_hooks == group.end() || !group_hooks->is_array()) continue;
      for (const auto& hook : *group_hooks) {
        if (const std::string* command = settings_file::text_member(hook, "command")) {
          entries.push_back({hook_type, matcher != nullptr ? *matcher : std::string(), *command});
        }
      }
    }
  }
  return entries;
}

}  // namespace stelvane::providers::matcher_groups
