#pragma once
// Installation management: installing the program's hooks into the assistants
// (and placing the executable in the bin directory), removing them, listing what
// is installed, and removing every trace of the program.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "providers/mod.hpp"

namespace stelvane::hooks::install {

// One summary line of install or uninstall-hooks.
struct InstallResult {
  std::string name;       // the provider's display name
  std::string hook_type;  // the hook type handled, or "*" for the whole provider
  std::optional<Error> error;
};

// "{name:<20} {hook_type:<20} [SUCCESS]" or "... [FAILURE] {outermost message}",
// the verdict coloured when `color` is set.
std::string format_result(const InstallResult& result, bool color);

// The provider ids named by an install --providers value, in the order given.
// "all" (any ASCII case, surrounding white space allowed) means every detected
// provider in registry order. Throws Error for an empty list, an unknown id or an
// "all" that finds nothing.
std::vector<std::string> parse_provider_ids(std::string_view providers,
                                            const std::vector<providers::ProviderInfo>& discovered);

// The install command: requires a team configuration, chooses the providers (from
// `providers`, or with the picker when absent), places the executable and installs
// every hook type of each chosen provider, then prints the summary.
void install(const std::optional<std::string>& providers);
// The uninstall-hooks command: the picker of providers with hooks, then removal.
void uninstall_hooks();
// The list command: one section per provider with its hooks; never fails.
void list();

// Copies the running executable to `destination` without ever leaving the
// destination missing or half-written (nothing happens when the running executable
// is the destination).
void place_executable(const std::filesystem::path& destination);

enum class RemovalStatus { Deleted, Missing, NotADirectory, Symlink };
// Deletes the directory at `path` with its content; a symbolic link there is left
// alone (and so is its target). Throws Error when the path cannot be inspected or
// the directory cannot be deleted.
RemovalStatus safe_remove_directory(const std::filesystem::path& path);

// The uninstall-all command: asks for confirmation unless `yes`, then runs
// uninstall_everything.
void uninstall_all_command(bool yes);
// Removes every hook, the executable and the upgrade's leftovers in the bin
// directory, the configuration directory and the data directory. Keeps going
// after failures; throws Error("Uninstall had some failures. See logs for
// details.") at the end when any step failed.
void uninstall_everything();

}  // namespace stelvane::hooks::install
