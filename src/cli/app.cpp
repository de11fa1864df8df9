#include "cli/app.hpp"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "cli/commands.hpp"
#include "common/build_info.hpp"
#include "common/error.hpp"
#include "config/loader.hpp"
#include "hooks/hook.hpp"
#include "hooks/install.hpp"
#include "logging/logging.hpp"
#include "oauth/join_team.hpp"

namespace stelvane::cli {

namespace {

// Everything the command line can carry; each command reads its own fields.
struct Args {
  bool verbose = false;
  bool no_browser = false;
  std::optional<std::string> existing_org;
  std::string url;
  std::optional<std::string> fail_open, audit_tool_use, audit_prompts;
  std::optional<std::string> providers;
  bool yes = false;
  bool force = false;
  bool disable = false;
  std::string payload;
};

// Callbacks answer an assistant; uninstall-all removes the program itself. Both
// skip the automatic upgrade check that follows every other command.
enum class Kind { Other, Callback, UninstallAll };

struct Command {
  const char* name;
  const char* alias;  // visible alias, or hidden for callbacks; nullptr for none
  const char* help;
  Kind kind;
  void (*options)(CLI::App&, Args&);
  void (*run)(const Args&);
};

[[noreturn]] void not_available(const char* command) {
  throw Error(fmt::format("The '{}' command is not available in this build", command));
}

std::optional<bool> boolean(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return *text == "true";
}

void no_options(CLI::App&, Args&) {}

void add_bool_option(CLI::App& app, const char* flag, const char* value_name, const char* help,
                     std::optional<std::string>& slot) {
  app.add_option(flag, slot, help)->type_name(value_name)->check(CLI::IsMember({"true", "false"}));
}

// The command table: the order here is the order of the help listing.
constexpr Command kCommands[] = {
    {"init-team", "init", "Initialize team configuration via OAuth", Kind::Other,
     [](CLI::App& app, Args& a) {
       app.add_flag("--no-browser", a.no_browser, "Print the URL instead of opening a browser");
       app.add_option("--existing-org", a.existing_org, "Use an existing organization instead of creating a new one")
           ->type_name("OID");
     },
     [](const Args&) { not_available("init-team"); }},
    {"join-team", "join", "Join an existing team using a team URL", Kind::Other,
     [](CLI::App& app, Args& a) {
       app.add_option("URL", a.url, "Team URL to join (obtained from init-team on another machine)")
           ->required()
           ->type_name("URL");
     },
     [](const Args& a) { oauth::join_team(a.url); }},
    {"configure", "config", "Configure audit and behavior settings", Kind::Other,
     [](CLI::App& app, Args& a) {
       add_bool_option(app, "--fail-open", "FAIL_OPEN", "Accept command on cloud failure", a.fail_open);
       add_bool_option(app, "--audit-tool-use", "AUDIT_TOOL_USE", "Send tool use events to cloud for authorization",
                       a.audit_tool_use);
       add_bool_option(app, "--audit-prompts", "AUDIT_PROMPTS", "Send prompt/chat events to cloud for audit logging",
                       a.audit_prompts);
     },
     [](const Args& a) {
       configure({boolean(a.fail_open), boolean(a.audit_tool_use), boolean(a.audit_prompts)});
     }},
    {"show-configuration", "show-config", "Show Config", Kind::Other, no_options,
     [](const Args&) { show_configuration(); }},
    {"install", nullptr, "Install hooks", Kind::Other,
     [](CLI::App& app, Args& a) {
       app.add_option("-p,--providers", a.providers,
                      "Provider IDs to install (comma-separated: "
                      "claude-code,cursor,gemini-cli,codex,opencode,openclaw,copilot) or \"all\" for all detected")
           ->type_name("PROVIDERS");
     },
     [](const Args& a) { hooks::install::install(a.providers); }},
    {"uninstall-hooks", "uninstall", "Uninstall hooks from selected providers (keeps binary and config)", Kind::Other,
     no_options, [](const Args&) { hooks::install::uninstall_hooks(); }},
    {"uninstall-all", nullptr, "Uninstall everything: remove all hooks, binary, config, and data", Kind::UninstallAll,
     [](CLI::App& app, Args& a) {
       app.add_flag("-y,--yes", a.yes, "Skip confirmation prompt and proceed with uninstall");
     },
     [](const Args& a) { hooks::install::uninstall_all_command(a.yes); }},
    {"list", "ls", "List Hooks", Kind::Other, no_options, [](const Args&) { hooks::install::list(); }},
    {"upgrade", nullptr, "Upgrade to the latest version", Kind::Other,
     [](CLI::App& app, Args& a) {
       app.add_flag("-f,--force", a.force, "Force upgrade even if already on latest version, skip version check");
     },
     [](const Args&) { not_available("upgrade"); }},
    {"debug", nullptr,
     "Enable or disable debug mode for troubleshooting hooks. Note: Debug logs accumulate over time (one file per "
     "hook invocation). Use 'stelvane debug-clean' to remove old logs",
     Kind::Other, [](CLI::App& app, Args& a) { app.add_flag("-d,--disable", a.disable, "Disable debug mode"); },
     [](const Args& a) { debug(a.disable); }},
    {"debug-clean", "clean-debug", "Clean up debug log files to free disk space", Kind::Other, no_options,
     [](const Args&) { logging::clean_debug_logs(); }},
    {"claude-callback", "cc", "Claude Code callback", Kind::Callback, no_options,
     [](const Args&) { hooks::run_hook(providers::ProviderKind::ClaudeCode); }},
    {"cursor-callback", nullptr, "Cursor callback", Kind::Callback, no_options,
     [](const Args&) { hooks::run_hook(providers::ProviderKind::Cursor); }},
    {"gemini-callback", nullptr, "Gemini CLI callback", Kind::Callback, no_options,
     [](const Args&) { hooks::run_hook(providers::ProviderKind::GeminiCli); }},
    {"codex-callback", nullptr, "`OpenAI` Codex callback", Kind::Callback,
     [](CLI::App& app, Args& a) {
       app.add_option("PAYLOAD", a.payload, "JSON payload from Codex (passed as command line argument)")
           ->required()
           ->type_name("PAYLOAD");
     },
     [](const Args& a) { hooks::run_codex_hook(a.payload); }},
    {"opencode-callback", nullptr, "`OpenCode` callback", Kind::Callback, no_options,
     [](const Args&) { hooks::run_hook(providers::ProviderKind::OpenCode); }},
    {"openclaw-callback", nullptr, "`OpenClaw` callback", Kind::Callback, no_options,
     [](const Args&) { hooks::run_hook(providers::ProviderKind::OpenClaw); }},
    {"copilot-callback", nullptr, "GitHub `Copilot` CLI callback", Kind::Callback, no_options,
     [](const Args&) { hooks::run_hook(providers::ProviderKind::Copilot); }},
};

// Help listing with visible aliases shown as "[aliases: …]".
class Formatter : public CLI::Formatter {
 public:
  std::string make_subcommand(const CLI::App* sub) const override {
    std::string desc = sub->get_description();
    const auto& aliases = sub->get_aliases();
    if (!aliases.empty()) desc += " [aliases: " + CLI::detail::join(aliases, ", ") + "]";
    std::stringstream out;
    CLI::detail::format_help(out, sub->get_name(), desc, column_width_);
    return out.str();
  }
};

void print_error(const Error& e) {
  std::fflush(stdout);
  std::fputs(format_error_report(e).c_str(), stderr);
}

}  // namespace

std::string format_error_report(const Error& e) {
  std::string text = "Error: " + e.message() + "\n";
  const auto& causes = e.causes();
  if (!causes.empty()) {
    text += "\nCaused by:\n";
    for (size_t i = 0; i < causes.size(); ++i) {
      text += causes.size() == 1 ? fmt::format("    {}\n", causes[i]) : fmt::format("    {}: {}\n", i, causes[i]);
    }
  }
  return text;
}

int run(int argc, char** argv) {
  Args args;
  CLI::App app{"", build::kProgramName};
  app.formatter(std::make_shared<Formatter>());
  app.set_help_flag("-h,--help", "Print help");
  app.set_version_flag("-V,--version", fmt::format("{} {}", build::kProgramName, build::kVersion), "Print version");
  app.add_flag("-v,--verbose", args.verbose, "Verbose");
  app.require_subcommand(0, 1);

  const Command* chosen = nullptr;
  for (const Command& cmd : kCommands) {
    CLI::App* sub = app.add_subcommand(cmd.name, cmd.help);
    sub->set_help_flag("-h,--help", "Print help");
    if (cmd.alias != nullptr) sub->alias(cmd.alias);
    if (cmd.kind == Kind::Callback) sub->group("");
    cmd.options(*sub, args);
    sub->callback([&chosen, &cmd] { chosen = &cmd; });
  }
  std::vector<std::string> help_topics;
  CLI::App* help = app.add_subcommand("help", "Print this message or the help of the given subcommand(s)");
  help->add_option("SUBCOMMAND", help_topics, "")->type_name("");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, std::cout, std::cerr);
    return code == 0 ? kSuccess : kUsage;
  }

  if (help->parsed()) {
    const CLI::App* target = &app;
    for (const auto& topic : help_topics) {
      CLI::App* next = nullptr;
      try {
        next = const_cast<CLI::App*>(target)->get_subcommand(topic);
      } catch (const CLI::OptionNotFound&) {
        std::cerr << "error: unrecognized subcommand '" << topic << "'\n";
        return kUsage;
      }
      target = next;
    }
    // App::help() would describe the selected "help" subcommand itself.
    std::cout << app.get_formatter()->make_help(target, target == &app ? build::kProgramName : target->get_name(),
                                                CLI::AppFormatMode::Normal);
    return kSuccess;
  }

  const Kind kind = chosen != nullptr ? chosen->kind : Kind::Other;
  try {
    if (kind == Kind::Callback || !args.verbose) {
      logging::init_logging(std::string(build::kProgramName) + ".log", logging::debug_enabled());
    } else {
      logging::init_logging(std::nullopt, true);
    }
  } catch (const Error& e) {
    print_error(e);
    return kFailure;
  }

  if (kind == Kind::Callback) {
    // Creates the configuration directory and repairs permissions as a side
    // effect; a broken configuration is reported by the hook itself.
    try {
      (void)config::load_config();
    } catch (const std::exception&) {
    }
  }

  std::optional<Error> failure;
  try {
    if (chosen != nullptr) {
      chosen->run(args);
    } else {
      throw Error("The interactive menu is not available in this build; run 'stelvane --help' for the commands");
    }
  } catch (const Error& e) {
    failure = e;
  } catch (const std::exception& e) {
    failure = Error(e.what());
  }

  // The automatic upgrade check belongs here: after every command except the
  // callbacks and uninstall-all, whatever the command's result.

  if (failure) {
    print_error(*failure);
    return kFailure;
  }
  return kSuccess;
}

}  // namespace stelvane::cli
