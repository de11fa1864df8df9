#include "hooks/install.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <sys/stat.h>

#include "cli/output.hpp"
#include "common/build_info.hpp"
#include "common/file_copy.hpp"
#include "common/paths.hpp"
#include "common/term.hpp"
#include "config/loader.hpp"
#include "logging/log.hpp"
#include "tui/components/message.hpp"
#include "tui/components/multiselect.hpp"

namespace stelvane::hooks::install {

namespace fs = std::filesystem;
using common::paint;
using common::Style;
using providers::ProviderFactory;
using providers::ProviderInfo;

namespace {

constexpr const char* kProgram = build::kProgramName;
constexpr const char* kPickerHint = "↑↓ navigate, Space toggle, Enter confirm, Esc cancel";
constexpr const char* kLockFileName = ".stelvane.upgrade.lock";
constexpr const char* kUpgradeCopyPrefix = "stelvane_upgrade_";
constexpr const char* kNewFilePrefix = ".stelvane_new_";

spdlog::logger& log() { return logging::get("stelvane::hooks::install"); }

void out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string_view trim(std::string_view s) {
  const char* ws = " \t\n\r\f\v";
  auto b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

std::string ascii_lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

Error as_error(const std::exception& e) {
  if (const auto* err = dynamic_cast<const Error*>(&e)) return *err;
  return Error(e.what());
}

std::string chain_of(const std::exception& e) { return as_error(e).chain(); }

void print_summary(const std::vector<InstallResult>& results) {
  cli::print_banner();
  bool color = common::color_enabled(stdout);
  for (const auto& r : results) out(format_result(r, color) + "\n");
}

// create, then uninstall_hook for every hook type; a provider that cannot be
// built adds no result.
void remove_provider_hooks(const ProviderFactory& factory, std::vector<InstallResult>& results) {
  std::unique_ptr<providers::Provider> provider;
  try {
    provider = factory.create();
  } catch (const std::exception& e) {
    log().warn("Failed to create provider {}: {}", factory.id(), chain_of(e));
    return;
  }
  for (std::string_view type : factory.hook_types()) {
    InstallResult r{std::string(factory.display_name()), std::string(type), std::nullopt};
    try {
      provider->uninstall_hook(type);
    } catch (const std::exception& e) {
      r.error = as_error(e);
    }
    results.push_back(std::move(r));
  }
}

void install_provider_hooks(const ProviderFactory& factory, std::vector<InstallResult>& results) {
  std::unique_ptr<providers::Provider> provider;
  try {
    provider = factory.create();
  } catch (const std::exception& e) {
    results.push_back({std::string(factory.display_name()), "*", as_error(e)});
    return;
  }
  for (std::string_view type : factory.hook_types()) {
    InstallResult r{std::string(factory.display_name()), std::string(type), std::nullopt};
    try {
      provider->install_hook(type);
    } catch (const std::exception& e) {
      r.error = as_error(e);
    }
    results.push_back(std::move(r));
  }
}

std::optional<std::vector<ProviderInfo>> pick_providers(const std::vector<ProviderInfo>& infos, const char* title,
                                                        bool install_state) {
  tui::MultiSelect<ProviderInfo> ms;
  ms.title = title;
  ms.hint = kPickerHint;
  ms.at_least_one = true;
  for (const auto& info : infos) {
    bool on = install_state ? info.hooks_installed : info.detected;
    ms.items.push_back({providers::status_label(info, install_state), info, on, on});
  }
  return tui::multi_select(ms);
}

}  // namespace

std::string format_result(const InstallResult& result, bool color) {
  std::string line = fmt::format("{:<20} {:<20} ", result.name, result.hook_type);
  if (!result.error) return line + common::styled("[SUCCESS]", Style::Green, color);
  return line + common::styled("[FAILURE]", Style::Red, color) + " " + result.error->message();
}

std::vector<std::string> parse_provider_ids(std::string_view providers, const std::vector<ProviderInfo>& discovered) {
  std::string_view text = trim(providers);
  std::vector<std::string> ids;
  if (ascii_lower(text) == "all") {
    for (const auto& info : discovered)
      if (info.detected) ids.emplace_back(info.id);
    if (ids.empty()) throw Error("No supported AI coding tools detected");
    return ids;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string_view piece =
        trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (!piece.empty()) ids.emplace_back(piece);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (ids.empty()) throw Error("No provider IDs specified");
  for (const auto& id : ids)
    if (providers::find_factory(id) == nullptr) throw Error("Unknown provider ID: " + id);
  return ids;
}

void place_executable(const fs::path& destination) {
  log().info("Install location {}", destination.string());
  const fs::path current = common::current_executable();
  if (current == destination) {
    log().info("already installed at {}", destination.string());
    return;
  }
  std::error_code ec;
  bool existed = fs::exists(fs::symlink_status(destination, ec));
  // The new copy is renamed over the old file: every hook command keeps pointing
  // at a complete executable while it is replaced.
  common::copy_file_into_place(current, destination);
  if (existed) log().info("removed existing binary at {}", destination.string());
  log().info("copied to {}", destination.string());
}

void install(const std::optional<std::string>& providers_text) {
  config::Config cfg = config::load_config();
  if (cfg.org.oid.empty() || cfg.org.url.empty()) {
    out(cli::not_logged_in_notice(cli::program_file_name()));
    throw Error("Not Authorized");
  }

  const auto& registry = providers::registry();
  std::vector<ProviderInfo> infos;
  for (const auto& f : registry) infos.push_back(f->discover());

  std::vector<std::string> chosen;
  if (providers_text) {
    chosen = parse_provider_ids(*providers_text, infos);
  } else {
    bool any = false;
    for (const auto& info : infos) any |= info.detected;
    if (!any) {
      out("\n" + paint("No supported AI coding tools detected on this system.", Style::Yellow) + "\n");
      out("\nSupported tools and installation hints:\n");
      for (const auto& info : infos)
        out(fmt::format("  {} - {}\n", info.display_name,
                        info.install_hint.value_or("No installation hint available")));
      throw Error("No tools detected. Please install a supported AI coding tool first.");
    }
    auto picked = pick_providers(infos, "Select AI coding tools to install hooks for:", false);
    if (!picked) {
      out("Installation cancelled.\n");
      return;
    }
    for (const auto& info : *picked) chosen.emplace_back(info.id);
  }

  place_executable(common::installed_executable_path());

  std::vector<InstallResult> results;
  for (const auto& id : chosen) install_provider_hooks(*providers::find_factory(id), results);
  print_summary(results);

  const char* done = "Hooks installed successfully! Your AI coding tools will now use stelvane.";
  if (providers_text) {
    out(fmt::format("\n{}\n", done));
  } else {
    std::fflush(stdout);
    tui::message_box(" Installation Complete ", done, tui::kMessageSuccess);
  }
}

void uninstall_hooks() {
  const auto& registry = providers::registry();
  std::vector<ProviderInfo> infos;
  for (const auto& f : registry) infos.push_back(f->detect());

  bool any_installed = false, any_detected = false;
  for (const auto& info : infos) {
    any_installed |= info.hooks_installed;
    any_detected |= info.detected;
  }
  if (!any_installed) {
    if (any_detected) {
      out("\n" + paint(fmt::format("No {} hooks are installed in any detected tools.", kProgram), Style::Yellow) +
          "\n");
      out("\nDetected tools (hooks not installed):\n");
      for (const auto& info : infos)
        if (info.detected) out(fmt::format("  {} - available but hooks not installed\n", info.display_name));
    } else {
      out("\n" + paint("No supported AI coding tools detected on this system.", Style::Yellow) + "\n");
    }
    out(paint("Nothing to uninstall.", Style::Yellow) + "\n");
    return;
  }

  auto picked = pick_providers(infos, "Select AI coding tools to uninstall hooks from:", true);
  if (!picked) {
    out("Uninstallation cancelled.\n");
    return;
  }
  std::vector<InstallResult> results;
  for (const auto& info : *picked) remove_provider_hooks(*providers::find_factory(info.id), results);
  print_summary(results);
  out("\nHooks removed. Binary retained for future use.\n");
}

void list() {
  cli::print_banner();
  for (const auto& f : providers::registry()) {
    ProviderInfo info = f->discover();
    cli::SectionRows rows;
    if (!info.detected) {
      rows.emplace_back("Status", "not detected");
      if (info.install_hint) rows.emplace_back("Hint", *info.install_hint);
    } else {
      std::unique_ptr<providers::Provider> provider;
      std::vector<providers::HookEntry> hooks;
      bool failed = false;
      try {
        provider = f->create();
      } catch (const std::exception& e) {
        rows.emplace_back("Error", fmt::format("creating provider: {}", e.what()));
        failed = true;
      }
      if (!failed) {
        try {
          hooks = provider->list_hooks();
        } catch (const std::exception& e) {
          rows.emplace_back("Error", fmt::format("listing hooks: {}", e.what()));
          failed = true;
        }
      }
      if (!failed && hooks.empty()) rows.emplace_back("Status", "no hooks installed");
      for (const auto& h : hooks) rows.emplace_back(h.hook_type, h.matcher + " " + h.command);
    }
    cli::print_section(fmt::format(" {} ({}) ", info.display_name, info.id), rows);
  }
}

RemovalStatus safe_remove_directory(const fs::path& path) {
  const std::string p = path.string();
  log().info("Safe remove directory: {}", p);
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  if (st.type() == fs::file_type::not_found) {
    log().warn("Directory {} doesn't exist", p);
    return RemovalStatus::Missing;
  }
  if (ec) throw Error::wrap("Unable to stat " + p, Error(ec.message()));
  if (st.type() == fs::file_type::symlink) {
    log().warn("Refusing to remove symlink at {} - this could be an attack", p);
    return RemovalStatus::Symlink;
  }
  if (st.type() == fs::file_type::directory) {
    fs::remove_all(path, ec);
    if (ec) throw Error::wrap("Unable to delete directory " + p, Error(ec.message()));
    log().info("Directory {} was deleted", p);
    return RemovalStatus::Deleted;
  }
  log().warn("{} exists but is not a directory", p);
  return RemovalStatus::NotADirectory;
}

void uninstall_all_command(bool yes) {
  if (!yes) {
    out("This will permanently remove:\n  - All hooks from all providers\n  - Configuration and team settings\n"
        "  - Debug logs and data directory\n  - The stelvane binary\n\nAre you sure? [y/N]: ");
    if (std::fflush(stdout) != 0) throw Error::from_errno("Failed to flush stdout", errno);
    char* line = nullptr;
    std::size_t cap = 0;
    errno = 0;
    ssize_t n = ::getline(&line, &cap, stdin);
    std::string answer = n > 0 ? std::string(line, static_cast<std::size_t>(n)) : std::string();
    std::free(line);
    // End of input is an empty answer; only a read failure is an error.
    if (n < 0 && std::ferror(stdin) != 0) throw Error::from_errno("Failed to read confirmation input", errno);
    std::string a = ascii_lower(trim(answer));
    if (a != "y" && a != "yes") {
      out("Aborted.\n");
      return;
    }
  }
  uninstall_everything();
}

namespace {

// The lock file of the upgrade: removed when it is a plain file. Returns whether
// it was deleted; problems are only logged.
bool remove_lock_file(const fs::path& path) {
  const std::string p = path.string();
  log().info("Safe remove file: {}", p);
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  if (st.type() == fs::file_type::not_found) {
    log().warn("{} doesn't exist", p);
    return false;
  }
  if (ec) {
    log().warn("Unable to stat {}: {}", p, ec.message());
    return false;
  }
  if (st.type() == fs::file_type::symlink) {
    log().warn("Refusing to remove symlink at {} - this could be an attack", p);
    return false;
  }
  if (::unlink(path.c_str()) != 0) {
    log().warn("Unable to delete {}: {}", p, std::strerror(errno));
    return false;
  }
  log().info("{} was deleted", p);
  return true;
}

int remove_temp_files(const fs::path& bin_dir) {
  int count = 0;
  std::error_code ec;
  fs::directory_iterator it(bin_dir, ec);
  if (ec) return 0;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path& entry = it->path();
    std::string name = entry.filename().string();
    if (!name.starts_with(kUpgradeCopyPrefix) && !name.starts_with(kNewFilePrefix)) continue;
    std::error_code sec;
    fs::file_status st = fs::symlink_status(entry, sec);
    if (sec) continue;
    if (st.type() == fs::file_type::symlink) {
      log().warn("Refusing to remove symlink {}: potential attack", entry.string());
      continue;
    }
    if (::unlink(entry.c_str()) != 0) continue;
    log().info("Removed temp file: {}", entry.string());
    ++count;
  }
  return count;
}

void remove_executable(const fs::path& path) {
  const std::string p = path.string();
  log().info("Uninstall location {}", p);
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  bool deleted = false;
  if (st.type() == fs::file_type::not_found) {
    log().warn("{} doesn't exist", p);
  } else if (ec) {
    throw Error::wrap("Unable to stat " + p, Error(ec.message()));
  } else if (st.type() == fs::file_type::symlink) {
    log().warn("Refusing to remove symlink at {} - this could be an attack", p);
    throw Error("Path " + p + " is a symlink. Refusing to remove for safety.");
  } else {
    std::optional<fs::path> self, target;
    try {
      self = fs::canonical(common::current_executable());
      target = fs::canonical(path);
    } catch (const std::exception&) {
      self.reset();
    }
    if (self && target && *self == *target) {
      log().info("Deleting self (running executable) at {}", p);
      if (::unlink(target->c_str()) != 0) throw Error::from_errno("Unable to self-delete " + p, errno);
    } else {
      if (::unlink(path.c_str()) != 0) throw Error::from_errno("Unable to delete " + p, errno);
    }
    deleted = true;
  }
  if (deleted) log().info("{} was deleted", p);
  out(fmt::format("Binary removed: {}\n", p));
}

}  // namespace

void uninstall_everything() {
  bool success = true;

  std::optional<fs::path> exe, bin_dir;
  std::optional<Error> location_error;
  try {
    exe = common::installed_executable_path();
    if (!exe->has_parent_path()) throw Error("Binary path has no parent directory: " + exe->string());
    bin_dir = exe->parent_path();
  } catch (const std::exception& e) {
    location_error = as_error(e);
  }

  // Hooks of every assistant that has them.
  std::vector<const ProviderFactory*> hooked;
  for (const auto& f : providers::registry())
    if (f->detect().hooks_installed) hooked.push_back(f.get());
  if (hooked.empty()) {
    out("No hooks are currently installed.\n");
  } else {
    std::vector<InstallResult> results;
    for (const ProviderFactory* f : hooked) {
      std::size_t before = results.size();
      remove_provider_hooks(*f, results);
      if (results.size() == before) {
        log().warn("Provider {} returned no results — creation may have failed", f->id());
        success = false;
      }
    }
    for (const auto& r : results)
      if (r.error) success = false;
    print_summary(results);
  }

  // The bin directory: the upgrade's lock and temporary files, then the executable.
  if (location_error) {
    log().error("Unable to determine binary location: {}", location_error->chain());
    log().error("Skipping binary and upgrade file cleanup, continuing with config/data removal.");
    success = false;
  } else {
    int cleaned = remove_lock_file(*bin_dir / kLockFileName) ? 1 : 0;
    cleaned += remove_temp_files(*bin_dir);
    if (cleaned > 0) out(fmt::format("\nCleaned up {} temporary file(s).\n", cleaned));
    try {
      remove_executable(*exe);
    } catch (const std::exception& e) {
      log().error("Unable to delete binary: {}", chain_of(e));
      success = false;
    }
  }

  // Configuration directory.
  try {
    fs::path dir = common::config_dir();
    switch (safe_remove_directory(dir)) {
      case RemovalStatus::Deleted: log().info("Config directory {} was deleted", dir.string()); break;
      case RemovalStatus::Missing: break;
      case RemovalStatus::NotADirectory:
        log().warn("Config path {} is not a directory, skipping removal", dir.string());
        break;
      case RemovalStatus::Symlink:
        throw Error("Config directory " + dir.string() + " is a symlink. Refusing to remove for safety.");
    }
    out("Configuration removed.\n");
  } catch (const std::exception& e) {
    log().error("Unable to delete config: {}", chain_of(e));
    success = false;
  }

  // Data directory.
  try {
    fs::path dir = common::data_dir();
    switch (safe_remove_directory(dir)) {
      case RemovalStatus::Deleted: log().info("Data directory {} was deleted", dir.string()); break;
      case RemovalStatus::Missing: break;
      case RemovalStatus::NotADirectory:
        log().warn("Data path {} is not a directory, skipping removal", dir.string());
        break;
      case RemovalStatus::Symlink:
        throw Error("Data directory " + dir.string() + " is a symlink. Refusing to remove for safety.");
    }
    out("Data directory removed (debug logs, upgrade state).\n");
  } catch (const std::exception& e) {
    log().error("Unable to delete data directory: {}", chain_of(e));
    success = false;
  }

  if (!success) throw Error("Uninstall had some failures. See logs for details.");
  out("\n" + paint("Full cleanup complete.", Style::Green) + "\n");
}

}  // namespace stelvane::hooks::install
