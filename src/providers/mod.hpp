#pragma once
// The assistants the program hooks into, behind one registry.
//
// Each assistant has a stateless registry entry (ProviderFactory: identity,
// detection, construction) and a provider object (Provider: edits the assistant's
// configuration and writes its answer during a callback).

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stelvane::providers {

// The assistants as the hook runtime numbers them.
enum class ProviderKind { ClaudeCode, Cursor, GeminiCli, Codex, OpenCode, OpenClaw, Copilot };

// "ClaudeCode", "GeminiCli", ...
std::string_view diagnostic_name(ProviderKind kind);
// "claudecode", "geminicli", ... as sent in cloud requests.
std::string_view source_name(ProviderKind kind);

// What a callback answers the assistant.
struct HookDecision {
  enum class Kind { Approve, Block };
  Kind decision = Kind::Approve;
  std::optional<std::string> reason;  // only with Block

  static HookDecision approve() { return {}; }
  static HookDecision block(std::optional<std::string> why) { return {Kind::Block, std::move(why)}; }
  bool blocked() const { return decision == Kind::Block; }
};
// "approve" or "block".
std::string_view decision_name(const HookDecision& decision);

// One hook found in an assistant's configuration.
struct HookEntry {
  std::string hook_type;
  std::string matcher;  // empty when the hook group has none
  std::string command;
};

// The detection record of one assistant.
struct ProviderInfo {
  std::optional<std::filesystem::path> config_dir;  // set when the tested path exists
  std::optional<std::string> install_hint;
  std::string_view id;
  std::string_view display_name;
  bool detected = false;
  bool hooks_installed = false;
};

class Provider {
 public:
  virtual ~Provider() = default;
  // The provider type name ("ClaudeCode", "Gemini", ...).
  virtual std::string_view type_name() const = 0;
  // Adds the program's hook for one hook type; a second call leaves one hook.
  virtual void install_hook(std::string_view hook_type) = 0;
  // Removes the program's hook for one hook type, leaving everything else.
  virtual void uninstall_hook(std::string_view hook_type) = 0;
  virtual std::vector<HookEntry> list_hooks() = 0;
  // Writes the assistant's answer for `decision` to standard output.
  virtual void write_response(const HookDecision& decision);
};

class ProviderFactory {
 public:
  virtual ~ProviderFactory() = default;
  virtual std::string_view id() const = 0;
  virtual std::string_view display_name() const = 0;
  // Cheap detection: tests paths only, never fails; hooks_installed is false.
  virtual ProviderInfo discover() const = 0;
  virtual std::vector<std::string_view> hook_types() const = 0;
  // The provider object; resolves the installed executable and config paths.
  virtual std::unique_ptr<Provider> create() const = 0;
  // discover(), then hooks_installed from list_hooks; never fails.
  ProviderInfo detect() const;
};

// The seven entries in their fixed order: claude-code, cursor, gemini-cli, codex,
// opencode, openclaw, copilot.
const std::vector<std::unique_ptr<ProviderFactory>>& registry();
// The registry entry with this id, or nullptr.
const ProviderFactory* find_factory(std::string_view id);
// The provider object for a callback's kind.
std::unique_ptr<Provider> create_for_kind(ProviderKind kind);

// Whether a listed hook is one of this program's own.
bool is_own_hook(const HookEntry& entry);
// "{display_name} [detected]" and the other picker labels.
std::string status_label(const ProviderInfo& info, bool show_install_state);

}  // namespace stelvane::providers
