#include "state.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include <sys/file.h>
#include <sys/stat.h>
#include <uuid/uuid.h>

namespace devcloud {

using nlohmann::json;

namespace {

[[noreturn]] void fail_errno(const std::string& what, int err) {
  throw std::runtime_error(what + ": " + std::strerror(err));
}

// Holds an exclusive advisory lock on the state directory's lock file.
class DirLock {
 public:
  explicit DirLock(const fs::path& dir) {
    const fs::path file = dir / ".lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) fail_errno("Unable to open " + file.string(), errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) fail_errno("Unable to lock " + file.string(), errno);
    }
  }
  ~DirLock() { ::close(fd_); }
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;

 private:
  int fd_ = -1;
};

json read_json(const fs::path& file, json fallback) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (!fs::exists(file)) return fallback;
    throw std::runtime_error("Unable to read " + file.string());
  }
  std::stringstream text;
  text << in.rdbuf();
  try {
    return json::parse(text.str());
  } catch (const json::exception& e) {
    throw std::runtime_error("Unable to parse " + file.string() + ": " + e.what());
  }
}

void write_all(int fd, std::string_view data, const fs::path& file) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail_errno("Unable to write " + file.string(), errno);
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Replaces `file` by writing a temporary file beside it and renaming it over.
void write_json(const fs::path& file, const json& value) {
  std::string tmpl = file.string() + ".tmp.XXXXXX";
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) fail_errno("Unable to create a temporary file for " + file.string(), errno);
  try {
    write_all(fd, value.dump(2) + "\n", file);
    if (::fsync(fd) != 0) fail_errno("Unable to flush " + file.string(), errno);
  } catch (...) {
    ::close(fd);
    ::unlink(tmpl.c_str());
    throw;
  }
  ::close(fd);
  if (::rename(tmpl.c_str(), file.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmpl.c_str());
    fail_errno("Unable to replace " + file.string(), err);
  }
}

json org_to_json(const Org& org) {
  json adapters = json::array();
  for (const auto& a : org.adapters) adapters.push_back({{"name", a.name}, {"secret", a.secret}});
  return {{"oid", org.oid}, {"name", org.name}, {"adapters", adapters}};
}

Org org_from_json(const json& j) {
  Org org{j.at("oid").get<std::string>(), j.value("name", ""), {}};
  for (const auto& a : j.value("adapters", json::array()))
    org.adapters.push_back({a.at("name").get<std::string>(), a.at("secret").get<std::string>()});
  return org;
}

json rule_to_json(const StoredRule& r) {
  return {{"name", r.name}, {"detect", r.detect}, {"respond", r.respond}, {"enabled", r.enabled}, {"tags", r.tags}};
}

StoredRule rule_from_json(const json& j) {
  return {j.at("name").get<std::string>(), j.at("detect"), j.value("respond", json::array()), j.value("enabled", true),
          j.value("tags", std::vector<std::string>{})};
}

std::vector<Org> orgs_from_file(const fs::path& dir) {
  std::vector<Org> out;
  for (const auto& j : read_json(dir / "orgs.json", json::object()).value("orgs", json::array()))
    out.push_back(org_from_json(j));
  return out;
}

}  // namespace

const Adapter* Org::find_adapter(const std::string& adapter) const {
  const auto it = std::find_if(adapters.begin(), adapters.end(), [&](const Adapter& a) { return a.name == adapter; });
  return it == adapters.end() ? nullptr : &*it;
}

const Snapshot::Entry* Snapshot::find(const std::string& oid) const {
  const auto it = std::find_if(orgs.begin(), orgs.end(), [&](const Entry& e) { return e.org.oid == oid; });
  return it == orgs.end() ? nullptr : &*it;
}

std::string new_uuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}

Store::Store(fs::path dir) : dir_(std::move(dir)) {
  std::error_code ec;
  fs::create_directories(dir_, ec);
  if (ec) throw std::runtime_error("Unable to create " + dir_.string() + ": " + ec.message());
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::replace, ec);
  dir_ = fs::canonical(dir_);
}

Store::~Store() {
  if (events_fd_ >= 0) ::close(events_fd_);
}

Store::Signature Store::signature(const fs::path& file) const {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  return {static_cast<std::uintmax_t>(st.st_ino), static_cast<std::uintmax_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::shared_ptr<const Snapshot> Store::snapshot() {
  std::lock_guard guard(snapshot_mutex_);
  const Signature orgs_sig = signature(dir_ / "orgs.json");
  const Signature rules_sig = signature(dir_ / "rules.json");
  if (snapshot_ && orgs_sig == orgs_sig_ && rules_sig == rules_sig_) return snapshot_;

  auto next = std::make_shared<Snapshot>();
  const json all_rules = read_json(dir_ / "rules.json", json::object());
  for (auto& org : orgs_from_file(dir_)) {
    Snapshot::Entry entry{std::move(org), {}};
    if (const auto it = all_rules.find(entry.org.oid); it != all_rules.end()) {
      for (const auto& j : *it) {
        const StoredRule rule = rule_from_json(j);
        if (!rule.enabled) continue;
        try {
          entry.rules.emplace_back(rule.name, rule.detect, rule.respond);
        } catch (const std::exception& e) {
          std::cerr << "stelvane-devcloud: skipping rule " << rule.name << " of " << entry.org.oid << ": " << e.what()
                    << "\n";
        }
      }
    }
    next->orgs.push_back(std::move(entry));
  }
  snapshot_ = std::move(next);
  orgs_sig_ = orgs_sig;
  rules_sig_ = rules_sig;
  return snapshot_;
}

Org Store::create_org(const std::string& name, const std::string& adapter) {
  DirLock lock(dir_);
  json doc = read_json(dir_ / "orgs.json", json::object());
  Org org{new_uuid(), name, {{adapter, new_uuid()}}};
  doc["orgs"].push_back(org_to_json(org));
  write_json(dir_ / "orgs.json", doc);
  return org;
}

std::vector<Org> Store::list_orgs() const { return orgs_from_file(dir_); }

void Store::put_rule(const std::string& oid, const StoredRule& rule) {
  CompiledRule check(rule.name, rule.detect, rule.respond);  // throws when malformed
  DirLock lock(dir_);
  const auto orgs = orgs_from_file(dir_);
  if (std::none_of(orgs.begin(), orgs.end(), [&](const Org& o) { return o.oid == oid; }))
    throw std::invalid_argument("unknown organization " + oid);
  json doc = read_json(dir_ / "rules.json", json::object());
  json& list = doc[oid];
  if (!list.is_array()) list = json::array();
  const auto it =
      std::find_if(list.begin(), list.end(), [&](const json& j) { return j.value("name", "") == rule.name; });
  if (it != list.end()) {
    *it = rule_to_json(rule);
  } else {
    list.push_back(rule_to_json(rule));
  }
  write_json(dir_ / "rules.json", doc);
}

std::vector<StoredRule> Store::rules(const std::string& oid) const {
  std::vector<StoredRule> out;
  const json doc = read_json(dir_ / "rules.json", json::object());
  if (const auto it = doc.find(oid); it != doc.end())
    for (const auto& j : *it) out.push_back(rule_from_json(j));
  return out;
}

void Store::append_event(const json& record) {
  const std::string line = record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  std::lock_guard guard(events_mutex_);
  if (events_fd_ < 0) {
    events_fd_ = ::open(events_path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (events_fd_ < 0) fail_errno("Unable to open " + events_path().string(), errno);
  }
  write_all(events_fd_, line, events_path());
}

void Store::write_server_info(const json& info) {
  DirLock lock(dir_);
  write_json(dir_ / "server.json", info);
}

std::optional<json> Store::server_info() const {
  const json info = read_json(dir_ / "server.json", json());
  if (info.is_null()) return std::nullopt;
  return info;
}

}  // namespace devcloud
