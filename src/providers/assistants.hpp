#pragma once
// Internal to the providers module: what the registry needs from each assistant's
// module, and the small pieces every provider's `create` shares.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "providers/mod.hpp"

namespace stelvane::providers {

namespace fs = std::filesystem;

// The program's name as written into assistants' files and messages.
inline constexpr std::string_view kProgram = "stelvane";

// The home directory, or throws "Unable to determine home directory. Ensure HOME
// environment variable is set".
fs::path require_home();

// "{installed executable} {subcommand}": the command an assistant runs to call the
// program back. Throws the errors of installed_executable_path.
std::string hook_command(std::string_view subcommand);

// Writes an assistant's answer to standard output and flushes it. Throws "Failed
// to write hook response to stdout" or "Failed to flush hook response".
void write_answer(std::string_view text);

namespace claudecode {
std::unique_ptr<Provider> create();
}
namespace cursor {
std::unique_ptr<Provider> create();
}
namespace gemini {
std::unique_ptr<Provider> create();
}
namespace codex {
// CODEX_HOME when set (and not empty), else ~/.codex; nothing without either.
std::optional<fs::path> codex_dir();
std::unique_ptr<Provider> create();
}  // namespace codex
namespace opencode {
// The directory of OPENCODE_CONFIG when that has one, else "opencode" in the
// user's configuration directory; nothing without either.
std::optional<fs::path> opencode_dir();
std::unique_ptr<Provider> create();
}  // namespace opencode
namespace openclaw {
std::unique_ptr<Provider> create();
}
namespace copilot {
std::unique_ptr<Provider> create();
}

}  // namespace stelvane::providers
