#include "logging/logging.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <vector>

#include <fmt/format.h>
#include <spdlog/details/os.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <sys/stat.h>

#include "common/error.hpp"
#include "common/fileio.hpp"
#include "common/paths.hpp"
#include "config/loader.hpp"
#include "logging/log.hpp"

namespace stelvane::logging {

namespace fs = std::filesystem;

namespace {

// Writes each formatted record straight to a file descriptor (no buffering, so
// nothing is lost when a hook process ends abruptly).
class FdSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  ~FdSink() override { ::close(fd_); }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    spdlog::memory_buf_t buf;
    formatter_->format(msg, buf);
    const char* p = buf.data();
    size_t left = buf.size();
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // write failures of a record are ignored
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  void flush_() override {}

 private:
  int fd_;
};

// "%*" in the pattern: the level in upper case, padded to five characters.
class UpperLevel final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg& msg, const std::tm&, spdlog::memory_buf_t& dest) override {
    static constexpr std::string_view names[] = {"TRACE", "DEBUG", "INFO ", "WARN ", "ERROR", "ERROR", "OFF  "};
    auto text = names[static_cast<int>(msg.level)];
    dest.append(text.data(), text.data() + text.size());
  }
  std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<UpperLevel>(); }
};

struct State {
  std::mutex mutex;
  std::vector<spdlog::sink_ptr> sinks;
  std::map<std::string, spdlog::level::level_enum, std::less<>> target_levels;
  spdlog::level::level_enum default_level = spdlog::level::info;
};

State& state() {
  static State s;
  return s;
}

std::unique_ptr<spdlog::formatter> make_formatter() {
  auto f = std::make_unique<spdlog::pattern_formatter>(spdlog::pattern_time_type::utc);
  f->add_flag<UpperLevel>('*');
  f->set_pattern("[%Y-%m-%dT%H:%M:%SZ %* %n] %v");
  return f;
}

spdlog::level::level_enum level_for(const State& s, std::string_view target) {
  auto it = s.target_levels.find(target);
  return it != s.target_levels.end() ? it->second : s.default_level;
}

std::optional<spdlog::level::level_enum> parse_level(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "warning") text = "warn";
  if (text == "error") text = "err";
  auto lvl = spdlog::level::from_str(text);
  if (lvl == spdlog::level::off && text != "off") return std::nullopt;
  return lvl;
}

// SPDLOG_LEVEL directives: "level" or "target=level", comma separated. Only the
// per-target ones are kept: the program's own default replaces the bare level.
void read_env_directives(State& s) {
  auto value = common::env_var("SPDLOG_LEVEL");
  if (!value) return;
  std::stringstream in(*value);
  std::string item;
  while (std::getline(in, item, ',')) {
    auto eq = item.find('=');
    if (eq == std::string::npos) continue;
    if (auto lvl = parse_level(item.substr(eq + 1))) s.target_levels[item.substr(0, eq)] = *lvl;
  }
}

int open_log_file(const fs::path& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw Error::from_errno("Unable to open " + path.string() + " for writing", errno);
  return fd;
}

int open_debug_file(const fs::path& data_dir) {
  const fs::path dir = data_dir / "debug";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw Error("Unable to create debug directory: " + dir.string(), {ec.message()});
  if (::chmod(dir.c_str(), 0700) != 0) {
    throw Error::from_errno("Unable to set permissions on debug directory: " + dir.string(), errno);
  }
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const long long secs = std::max<long long>(0, std::chrono::duration_cast<std::chrono::seconds>(now).count());
  std::random_device rd;
  const unsigned long long nonce = (static_cast<unsigned long long>(rd()) << 32) ^ rd();
  const fs::path path = dir / fmt::format("debug-{}-{:08x}.log", secs, nonce);

  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  if (errno != EEXIST) throw Error::from_errno("Unable to create " + path.string() + " for writing", errno);
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) throw Error::from_errno("Unable to open " + path.string() + " for writing", errno);
  return fd;
}

}  // namespace

spdlog::logger& get(const char* target) {
  if (auto existing = spdlog::get(target)) return *existing;
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (auto existing = spdlog::get(target)) return *existing;
  auto logger = std::make_shared<spdlog::logger>(target, s.sinks.begin(), s.sinks.end());
  logger->set_level(level_for(s, target));
  logger->flush_on(spdlog::level::trace);
  spdlog::register_logger(logger);
  return *logger;
}

void init_logging(const std::optional<std::string>& file_name, bool debug) {
  State& s = state();
  {
    std::lock_guard lock(s.mutex);
    read_env_directives(s);
    s.default_level = debug ? spdlog::level::debug : spdlog::level::info;
  }

  spdlog::sink_ptr sink;
  if (!file_name) {
    sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
  } else {
    const fs::path data = common::secure_data_dir();
    int fd = debug ? open_debug_file(data) : open_log_file(data / *file_name);
    sink = std::make_shared<FdSink>(fd);
  }
  sink->set_formatter(make_formatter());

  std::lock_guard lock(s.mutex);
  s.sinks = {sink};
  spdlog::apply_all([&](const std::shared_ptr<spdlog::logger>& l) {
    l->sinks() = s.sinks;
    l->set_level(level_for(s, l->name()));
  });
}

bool debug_enabled() {
  try {
    fs::path dir;
    if (auto v = common::env_var("STELVANE_CONFIG_DIR")) {
      common::validate_override("STELVANE_CONFIG_DIR", *v);
      dir = *v;
    } else {
      auto base = common::platform_config_dir();
      if (!base) return false;
      dir = *base / "stelvane";
    }
    return config::parse_config(common::read_file(dir / "config.json")).user.debug;
  } catch (const std::exception&) {
    return false;
  }
}

std::string size_text(unsigned long long bytes) {
  if (bytes < 1024) return fmt::format("{} bytes", bytes);
  if (bytes < 1048576) return fmt::format("{:.1f} KB", static_cast<double>(bytes) / 1024.0);
  return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1048576.0);
}

void clean_debug_logs() {
  const fs::path dir = common::debug_log_dir();
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) throw Error("Unable to read directory: " + dir.string(), {ec.message()});

  unsigned long long total = 0, count = 0;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) throw Error("Unable to read directory entry", {ec.message()});
    const fs::path path = it->path();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const std::string name = path.filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot - 1 != 3) continue;
    std::string ext = name.substr(dot + 1);
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != "log") continue;

    const auto size = static_cast<unsigned long long>(st.st_size);
    total = total > ~0ULL - size ? ~0ULL : total + size;
    if (::unlink(path.c_str()) != 0) throw Error::from_errno("Unable to remove log file: " + path.string(), errno);
    if (count != ~0ULL) ++count;
  }
  if (ec) throw Error("Unable to read directory entry", {ec.message()});

  if (count > 0) {
    fmt::print("Removed {} debug log file(s) ({})\n", count, size_text(total));
  } else {
    fmt::print("No debug log files to clean.\n");
  }
}

}  // namespace stelvane::logging
