#pragma once
// Where the program keeps its state: the configuration directory, the data
// directory (logs, upgrade state) and the bin directory holding the installed
// executable. Every path of the program's own comes from here.

#include <filesystem>
#include <optional>
#include <string>

namespace stelvane::common {

namespace fs = std::filesystem;

// The value of an environment variable; unset, or set to text that is not valid
// UTF-8, both count as absent.
std::optional<std::string> env_var(const char* name);

// HOME when set and non-empty, else the home directory of the account entry.
std::optional<fs::path> home_dir();
// The per-user configuration and data directories of the platform
// (XDG_CONFIG_HOME / XDG_DATA_HOME or ~/.config, ~/.local/share on Linux;
// ~/Library/Application Support for both on macOS).
std::optional<fs::path> platform_config_dir();
std::optional<fs::path> platform_data_dir();

// Checks an override value of the environment variable `name`: absolute, no "..".
// Throws Error with the user-facing message otherwise.
void validate_override(const char* name, const std::string& value);

// Path of the configuration directory (STELVANE_CONFIG_DIR or <config>/stelvane).
fs::path config_dir();
// config_dir(), created when missing and made owner-only (0700).
fs::path secure_config_dir();
// Path of the data directory (STELVANE_DATA_DIR or <data>/stelvane).
fs::path data_dir();
// data_dir(), created when missing and made owner-only (0700).
fs::path secure_data_dir();
// <secure data dir>/debug, created and made owner-only.
fs::path debug_log_dir();
// <bin dir>/stelvane; the bin directory (STELVANE_BIN_DIR or ~/.local/bin from the
// account database) is created with the default mode when missing.
fs::path installed_executable_path();
// Creates `path` with its parents (mode 0700) and sets its mode to 0700.
void ensure_secure_dir(const fs::path& path);

}  // namespace stelvane::common
