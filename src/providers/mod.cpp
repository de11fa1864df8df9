#include "providers/mod.hpp"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "common/error.hpp"
#include "common/paths.hpp"
#include "logging/log.hpp"
#include "providers/assistants.hpp"
#include "resources/resources.hpp"

namespace stelvane::providers {

namespace {

constexpr const char* kLogTarget = "stelvane::providers";

// How one assistant is found on the machine and how its provider object is built.
struct AssistantEntry {
  std::string_view id;
  std::string_view display_name;
  std::vector<std::string_view> hook_types;
  // The hint's text with "{}" where the deployment's web address goes.
  std::string_view hint_format;
  const char* hint_url_key;
  // The path whose presence tells that the assistant is installed.
  std::optional<fs::path> (*tested_path)();
  // Whether a file at the tested path counts (otherwise only a directory does).
  bool file_counts;
  std::unique_ptr<Provider> (*create)();
};

std::optional<fs::path> under_home(const char* name) {
  auto home = common::home_dir();
  if (!home) return std::nullopt;
  return *home / name;
}

class AssistantFactory final : public ProviderFactory {
 public:
  explicit AssistantFactory(AssistantEntry entry) : entry_(std::move(entry)) {}

  std::string_view id() const override { return entry_.id; }
  std::string_view display_name() const override { return entry_.display_name; }
  std::vector<std::string_view> hook_types() const override { return entry_.hook_types; }
  std::unique_ptr<Provider> create() const override { return entry_.create(); }

  ProviderInfo discover() const override {
    ProviderInfo info;
    info.id = entry_.id;
    info.display_name = entry_.display_name;
    info.install_hint = fmt::format(fmt::runtime(entry_.hint_format), resources::deployment_value(entry_.hint_url_key));
    if (auto path = entry_.tested_path()) {
      std::error_code ec;
      const auto status = fs::status(*path, ec);
      if (fs::exists(status)) {
        info.config_dir = *path;
        info.detected = entry_.file_counts || fs::is_directory(status);
      }
    }
    return info;
  }

 private:
  AssistantEntry entry_;
};

std::vector<std::unique_ptr<ProviderFactory>> build_registry() {
  std::vector<AssistantEntry> entries = {
      {"claude-code",
       "Claude Code",
       {"PreToolUse", "UserPromptSubmit", "Stop"},
       "Install Claude Code from {} or run: npm install -g @anthropic-ai/claude-code",
       "claude_code_download_url",
       [] { return under_home(".claude"); },
       false,
       claudecode::create},
      {"cursor",
       "Cursor",
       {"preToolUse", "beforeSubmitPrompt", "afterAgentResponse"},
       "Install Cursor from {}",
       "cursor_download_url",
       [] { return under_home(".cursor"); },
       false,
       cursor::create},
      {"gemini-cli",
       "Gemini CLI",
       {"BeforeTool", "SessionStart", "AfterAgent"},
       "Install Gemini CLI from {}",
       "gemini_cli_url",
       [] { return under_home(".gemini"); },
       false,
       gemini::create},
      {"codex",
       "OpenAI Codex CLI",
       {"notify"},
       "Install Codex CLI from {}",
       "codex_cli_url",
       codex::codex_dir,
       false,
       codex::create},
      {"opencode",
       "OpenCode",
       {"plugins"},
       "Install OpenCode from {}",
       "opencode_docs_url",
       opencode::opencode_dir,
       false,
       opencode::create},
      {"openclaw",
       "OpenClaw",
       {"plugin"},
       "Install OpenClaw: npm install -g openclaw or visit {}",
       "openclaw_home_url",
       [] { return under_home(".openclaw"); },
       true,
       openclaw::create},
      {"copilot",
       "GitHub Copilot CLI",
       {"preToolUse", "userPromptSubmitted", "postToolUse"},
       "Install GitHub Copilot CLI from {}",
       "copilot_cli_docs_url",
       [] { return under_home(".copilot"); },
       false,
       copilot::create},
  };
  std::vector<std::unique_ptr<ProviderFactory>> factories;
  for (auto& entry : entries) factories.push_back(std::make_unique<AssistantFactory>(std::move(entry)));
  return factories;
}

}  // namespace

fs::path require_home() {
  auto home = common::home_dir();
  if (!home) throw Error("Unable to determine home directory. Ensure HOME environment variable is set");
  return *home;
}

std::string hook_command(std::string_view subcommand) {
  return fmt::format("{} {}", common::installed_executable_path().string(), subcommand);
}

std::string_view diagnostic_name(ProviderKind kind) {
  switch (kind) {
    case ProviderKind::ClaudeCode: return "ClaudeCode";
    case ProviderKind::Cursor: return "Cursor";
    case ProviderKind::GeminiCli: return "GeminiCli";
    case ProviderKind::Codex: return "Codex";
    case ProviderKind::OpenCode: return "OpenCode";
    case ProviderKind::OpenClaw: return "OpenClaw";
    case ProviderKind::Copilot: return "Copilot";
  }
  return "Unknown";
}

std::string_view source_name(ProviderKind kind) {
  switch (kind) {
    case ProviderKind::ClaudeCode: return "claudecode";
    case ProviderKind::Cursor: return "cursor";
    case ProviderKind::GeminiCli: return "geminicli";
    case ProviderKind::Codex: return "codex";
    case ProviderKind::OpenCode: return "opencode";
    case ProviderKind::OpenClaw: return "openclaw";
    case ProviderKind::Copilot: return "copilot";
  }
  return "unknown";
}

std::string_view decision_name(const HookDecision& decision) { return decision.blocked() ? "block" : "approve"; }

void Provider::write_response(const HookDecision& decision) {
  auto& log = logging::get(kLogTarget);
  if (!decision.blocked()) {
    log.info("decision: approve (no output, exit 0)");
    return;
  }
  nlohmann::ordered_json answer;
  answer["decision"] = "block";
  if (decision.reason) answer["reason"] = *decision.reason;
  std::string text;
  try {
    text = answer.dump();
  } catch (const nlohmann::json::exception& e) {
    throw Error::wrap("Failed to serialize hook response", e);
  }
  log.info("decision json: {}", text);
  write_answer(text);
}

void write_answer(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    throw Error::from_errno("Failed to write hook response to stdout", errno);
  }
  if (std::fflush(stdout) != 0) throw Error::from_errno("Failed to flush hook response", errno);
}

ProviderInfo ProviderFactory::detect() const {
  ProviderInfo info = discover();
  if (!info.detected) return info;
  try {
    const auto provider = create();
    for (const auto& entry : provider->list_hooks()) {
      if (is_own_hook(entry)) {
        info.hooks_installed = true;
        break;
      }
    }
  } catch (const std::exception&) {
    // A provider that cannot be built or read counts as not hooked.
  }
  return info;
}

const std::vector<std::unique_ptr<ProviderFactory>>& registry() {
  static const auto factories = build_registry();
  return factories;
}

const ProviderFactory* find_factory(std::string_view id) {
  for (const auto& factory : registry()) {
    if (factory->id() == id) return factory.get();
  }
  return nullptr;
}

std::unique_ptr<Provider> create_for_kind(ProviderKind kind) {
  switch (kind) {
    case ProviderKind::ClaudeCode: return claudecode::create();
    case ProviderKind::Cursor: return cursor::create();
    case ProviderKind::GeminiCli: return gemini::create();
    case ProviderKind::Codex: throw Error("Codex requires payload argument, use codex_hook() instead");
    case ProviderKind::OpenCode: return opencode::create();
    case ProviderKind::OpenClaw: return openclaw::create();
    case ProviderKind::Copilot: return copilot::create();
  }
  throw Error("Unknown provider kind");
}

bool is_own_hook(const HookEntry& entry) {
  const std::string_view command = entry.command;
  const bool names_program = command.find(kProgram) != std::string_view::npos;
  return (names_program && command.find("-callback") != std::string_view::npos) || command.ends_with("/stelvane") ||
         command.find("/stelvane ") != std::string_view::npos || entry.matcher == kProgram;
}

std::string status_label(const ProviderInfo& info, bool show_install_state) {
  std::string_view state;
  if (show_install_state && info.hooks_installed) {
    state = "installed";
  } else if (!info.detected) {
    state = "not found";
  } else {
    state = show_install_state ? "available but not installed" : "detected";
  }
  return fmt::format("{} [{}]", info.display_name, state);
}

}  // namespace stelvane::providers
