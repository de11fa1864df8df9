#pragma once
// config.json: the installation's identity, the team organization and the user's
// switches. load_config reads it (a fresh default when the file is missing);
// save_config replaces it atomically with mode 0600.

#include <filesystem>
#include <string>
#include <string_view>

namespace stelvane::config {

struct NxOrg {
  std::string oid;
  std::string name;
  std::string url;  // the organization's hook URL, secret included
};

struct UserConfig {
  bool fail_open = true;
  bool audit_tool_use = true;
  bool audit_prompts = true;
  bool debug = false;
  bool auto_upgrade = true;
};

struct Config {
  std::string install_id;
  NxOrg org;
  UserConfig user;
};

// A fresh configuration with a new random install id and an empty organization.
Config default_config();

// Parses config.json text. Throws Error with the reader's message for invalid
// JSON, a key given twice, a missing required field or a wrong type.
Config parse_config(std::string_view text);
// The on-disk form: keys user, install_id, org in that order, two-space indent,
// no trailing newline.
std::string serialize_config(const Config& config);

// <secure config dir>/config.json (creates the directory).
std::filesystem::path config_path();

Config load_config();
void save_config(const Config& config);

}  // namespace stelvane::config
