#include "common/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fmt/format.h>
#include <sys/stat.h>

#include "common/error.hpp"
#include "common/utf8.hpp"
#include "logging/log.hpp"

namespace stelvane::common {

namespace {

spdlog::logger& log() { return logging::get("stelvane::common"); }

// The account entry of the real user id, or an error naming what went wrong.
struct Account {
  std::string home;
  std::string name;
};

Account account_entry() {
  const uid_t uid = ::getuid();
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
  struct passwd pw {};
  struct passwd* result = nullptr;
  int rc = 0;
  while ((rc = ::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &result)) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (rc != 0) throw Error(fmt::format("getpwuid_r failed for uid {}: {}", uid, std::strerror(rc)));
  if (result == nullptr) throw Error(fmt::format("No passwd entry found for uid {}", uid));
  if (pw.pw_dir == nullptr) throw Error("passwd entry has null home directory");
  return {pw.pw_dir, pw.pw_name != nullptr ? pw.pw_name : ""};
}

bool has_parent_component(const fs::path& p) {
  for (const auto& part : p) {
    if (part == "..") return true;
  }
  return false;
}

std::string octal(mode_t mode) { return fmt::format("{:04o}", mode & 0777); }

std::optional<fs::path> env_dir(const char* name) {
  auto v = env_var(name);
  if (!v || v->empty()) return std::nullopt;
  return fs::path(*v);
}

fs::path override_or_default(const char* name, const char* log_text, std::optional<fs::path> (*platform)(),
                             const char* missing_message) {
  if (auto v = env_var(name)) {
    validate_override(name, *v);
    log().info("{} {}: {}", log_text, name, *v);
    return fs::path(*v);
  }
  auto base = platform();
  if (!base) throw Error(missing_message);
  return *base / "stelvane";
}

// Creates `path` with parents, mode 0700 for new directories.
void create_private_dirs(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return;
  if (path.has_parent_path() && path.parent_path() != path) create_private_dirs(path.parent_path());
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    throw Error::from_errno("Unable to create directory: " + path.string(), errno);
  }
  if (!fs::is_directory(path, ec)) {
    throw Error::from_errno("Unable to create directory: " + path.string(), ENOTDIR);
  }
}

void set_private_mode(const fs::path& path) {
  if (::chmod(path.c_str(), 0700) != 0) {
    throw Error::from_errno("Unable to set permissions on directory: " + path.string(), errno);
  }
}

void create_default_dirs(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    throw Error("Unable to create " + dir.string(), {ec ? ec.message() : std::strerror(ENOTDIR)});
  }
}

}  // namespace

std::optional<std::string> env_var(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || !is_valid_utf8(v)) return std::nullopt;
  return std::string(v);
}

std::optional<fs::path> home_dir() {
  if (auto h = env_dir("HOME")) return h;
  try {
    auto entry = account_entry();
    if (!entry.home.empty()) return fs::path(entry.home);
  } catch (const Error&) {
  }
  return std::nullopt;
}

std::optional<fs::path> platform_config_dir() {
  auto home = home_dir();
#ifdef __APPLE__
  if (!home) return std::nullopt;
  return *home / "Library" / "Application Support";
#else
  if (auto x = env_dir("XDG_CONFIG_HOME"); x && x->is_absolute()) return x;
  if (!home) return std::nullopt;
  return *home / ".config";
#endif
}

std::optional<fs::path> platform_data_dir() {
  auto home = home_dir();
#ifdef __APPLE__
  if (!home) return std::nullopt;
  return *home / "Library" / "Application Support";
#else
  if (auto x = env_dir("XDG_DATA_HOME"); x && x->is_absolute()) return x;
  if (!home) return std::nullopt;
  return *home / ".local" / "share";
#endif
}

void validate_override(const char* name, const std::string& value) {
  if (value.empty() || value.front() != '/') {
    throw Error(fmt::format("{} must be an absolute path: {}", name, value));
  }
  if (has_parent_component(fs::path(value))) {
    throw Error(fmt::format("{} contains parent directory references: {}", name, value));
  }
}

fs::path config_dir() {
  return override_or_default("STELVANE_CONFIG_DIR", "Using config directory override from", platform_config_dir,
                             "Unable to determine config directory. Ensure XDG_CONFIG_HOME or HOME environment "
                             "variable is set");
}

fs::path data_dir() {
  return override_or_default("STELVANE_DATA_DIR", "Using data directory override from", platform_data_dir,
                             "Unable to determine data directory. Ensure XDG_DATA_HOME or HOME environment "
                             "variable is set");
}

void ensure_secure_dir(const fs::path& path) {
  std::error_code ec;
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;
  log().debug("Creating secure directory: {} (exists={})", path.string(), existed);
  create_private_dirs(path);
  if (existed && (before.st_mode & 0777) != 0700) {
    log().debug("Fixing directory permissions: {} (current={}, target=0700)", path.string(), octal(before.st_mode));
  }
  set_private_mode(path);
  log().debug("Directory secured with 0700 permissions: {}", path.string());
}

fs::path secure_config_dir() {
  fs::path dir = config_dir();
  ensure_secure_dir(dir);
  return dir;
}

fs::path secure_data_dir() {
  fs::path dir = data_dir();
  ensure_secure_dir(dir);
  return dir;
}

fs::path debug_log_dir() {
  fs::path dir = secure_data_dir() / "debug";
  create_private_dirs(dir);
  set_private_mode(dir);
  return dir;
}

fs::path installed_executable_path() {
  if (auto v = env_var("STELVANE_BIN_DIR")) {
    validate_override("STELVANE_BIN_DIR", *v);
    fs::path dir(*v);
    create_default_dirs(dir);
    log().info("Using binary directory override from STELVANE_BIN_DIR: {}", *v);
    return dir / "stelvane";
  }

  // The hooks written into assistants' files must point at the account's own
  // home, whatever HOME says in the shell that ran the command.
  const Account entry = account_entry();
  if (entry.home.empty() || entry.home.front() != '/') {
    throw Error("Home directory path must be absolute: " + entry.home);
  }
  if (!home_dir()) throw Error("Unable to determine home directory");
  if (auto env_home = env_var("HOME"); env_home && !env_home->empty()) {
    auto canonical_or_same = [](const fs::path& p) {
      std::error_code ec;
      fs::path c = fs::canonical(p, ec);
      return ec ? p : c;
    };
    if (canonical_or_same(*env_home) != canonical_or_same(entry.home)) {
      log().warn("HOME environment variable ({}) differs from passwd entry ({}), using passwd entry", *env_home,
                 entry.home);
    }
  }
  const fs::path home(entry.home);
  if (has_parent_component(home))
    throw Error("Home directory path contains parent directory references: " + entry.home);
  const fs::path bin = home / ".local" / "bin";
  create_default_dirs(bin);
  return bin / "stelvane";
}

}  // namespace stelvane::common
