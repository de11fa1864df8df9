#include "config/loader.hpp"

#include <cerrno>
#include <set>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <uuid/uuid.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/fileio.hpp"
#include "common/paths.hpp"
#include "logging/log.hpp"

namespace stelvane::config {

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

namespace {

spdlog::logger& log() { return logging::get("stelvane::config::loader"); }

std::string new_uuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}

std::string octal(mode_t mode) { return fmt::format("{:04o}", mode & 0777); }

std::string_view type_name(const json& v) {
  if (v.is_boolean()) return "boolean";
  if (v.is_string()) return "string";
  if (v.is_number()) return "number";
  if (v.is_null()) return "null";
  if (v.is_array()) return "array";
  return "map";
}

const json& member(const json& obj, const char* key, std::string_view where) {
  auto it = obj.find(key);
  if (it == obj.end()) throw Error(fmt::format("missing field `{}` in {}", key, where));
  return *it;
}

void expect(const json& v, bool ok, const char* key, std::string_view expected) {
  if (!ok) throw Error(fmt::format("invalid type: {} for field `{}`, expected {}", type_name(v), key, expected));
}

std::string string_field(const json& obj, const char* key, std::string_view where) {
  const json& v = member(obj, key, where);
  expect(v, v.is_string(), key, "a string");
  return v.get<std::string>();
}

bool bool_field(const json& obj, const char* key, bool fallback) {
  auto it = obj.find(key);
  if (it == obj.end()) return fallback;
  expect(*it, it->is_boolean(), key, "a boolean");
  return it->get<bool>();
}

const json& object_field(const json& obj, const char* key, std::string_view where) {
  const json& v = member(obj, key, where);
  expect(v, v.is_object(), key, "a map");
  return v;
}

}  // namespace

Config default_config() {
  Config c;
  c.install_id = new_uuid();
  return c;
}

Config parse_config(std::string_view text) {
  // The reader keeps the last of repeated keys; a configuration that says the
  // same thing twice is ambiguous, so it is refused.
  std::vector<std::set<std::string>> open_objects;
  std::string duplicate;
  auto track = [&](int, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start: open_objects.emplace_back(); break;
      case json::parse_event_t::object_end: open_objects.pop_back(); break;
      case json::parse_event_t::key:
        if (!open_objects.back().insert(parsed.get<std::string>()).second && duplicate.empty()) {
          duplicate = parsed.get<std::string>();
        }
        break;
      default: break;
    }
    return true;
  };
  json doc;
  try {
    doc = json::parse(text.begin(), text.end(), track);
  } catch (const json::exception& e) {
    throw Error(e.what());
  }
  if (!duplicate.empty()) throw Error(fmt::format("duplicate field `{}`", duplicate));
  if (!doc.is_object()) throw Error(fmt::format("invalid type: {}, expected struct Config", type_name(doc)));

  Config c;
  c.install_id = string_field(doc, "install_id", "Config");
  const json& org = object_field(doc, "org", "Config");
  c.org.oid = string_field(org, "oid", "org");
  c.org.name = string_field(org, "name", "org");
  c.org.url = string_field(org, "url", "org");
  const json& user = object_field(doc, "user", "Config");
  const json& fail_open = member(user, "fail_open", "user");
  expect(fail_open, fail_open.is_boolean(), "fail_open", "a boolean");
  c.user.fail_open = fail_open.get<bool>();
  c.user.audit_tool_use = bool_field(user, "audit_tool_use", true);
  c.user.audit_prompts = bool_field(user, "audit_prompts", true);
  c.user.debug = bool_field(user, "debug", false);
  c.user.auto_upgrade = bool_field(user, "auto_upgrade", true);
  return c;
}

std::string serialize_config(const Config& c) {
  ordered_json user;
  user["fail_open"] = c.user.fail_open;
  user["audit_tool_use"] = c.user.audit_tool_use;
  user["audit_prompts"] = c.user.audit_prompts;
  user["debug"] = c.user.debug;
  user["auto_upgrade"] = c.user.auto_upgrade;
  ordered_json org;
  org["oid"] = c.org.oid;
  org["name"] = c.org.name;
  org["url"] = c.org.url;
  ordered_json doc;
  doc["user"] = std::move(user);
  doc["install_id"] = c.install_id;
  doc["org"] = std::move(org);
  try {
    return doc.dump(2);
  } catch (const std::exception& e) {
    throw Error::wrap("Unable to serialize configuration data", e);
  }
}

fs::path config_path() { return common::secure_config_dir() / "config.json"; }

Config load_config() {
  const fs::path path = config_path();
  log().debug("Loading config from {}", path.string());

  std::optional<Error> failure;
  Config config;
  try {
    const std::string text = common::read_file(path);
    try {
      config = parse_config(text);
    } catch (const Error& e) {
      failure = Error::wrap("Unable to deserialize configuration data", e);
    }
  } catch (const Error& e) {
    failure = e;
  }

  if (failure) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
      log().debug("Config file exists but failed to load: {}", failure->message());
      throw *failure;
    }
    log().debug("Config file not found, creating new config");
    Config fresh = default_config();
    log().info("install id: {}", fresh.install_id);
    return fresh;
  }

  log().debug("Config loaded successfully from {}", path.string());
  struct stat st {};
  const bool have_mode = ::stat(path.c_str(), &st) == 0;
  if (have_mode && (st.st_mode & 0777) == 0600) {
    log().debug("Config file permissions already secure: {} (mode=0600)", path.string());
    return config;
  }
  if (have_mode) {
    log().debug("Fixing config file permissions: {} (current={}, target=0600)", path.string(), octal(st.st_mode));
  }
  if (::chmod(path.c_str(), 0600) != 0) {
    throw Error::from_errno("Unable to set secure permissions on config file: " + path.string(), errno);
  }
  log().debug("Config file permissions fixed to 0600: {}", path.string());
  return config;
}

void save_config(const Config& config) {
  const fs::path path = config_path();
  const std::string text = serialize_config(config);

  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  log().debug("Saving config to {} (exists={})", path.string(), exists);
  log().debug("Creating config file with mode 0600");
  if (exists && (st.st_mode & 0777) != 0600) {
    log().debug("Fixing config file permissions (current={}, target=0600)", octal(st.st_mode));
  }
  // Written whole to a 0600 temporary file and renamed over config.json, so a
  // failed save keeps the previous file and readers never see half a file.
  common::replace_file(path, text, {.mode = 0600});
  log().debug("Config saved successfully to {}", path.string());
}

}  // namespace stelvane::config
