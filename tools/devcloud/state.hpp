#pragma once
// The reference cloud's persistent state, kept as files in one directory:
//   orgs.json     organizations and their webhook adapters (with secrets)
//   rules.json    detection rules per organization, in creation order
//   events.jsonl  one line per hook request received, with its verdict
//   server.json   the ports of the last started server
// Writers take an advisory lock on ".lock" and replace files by rename, so a
// running server and a separate `org create` can share the directory; the server
// re-reads the files whenever they change.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "evaluator.hpp"

namespace devcloud {

namespace fs = std::filesystem;

struct Adapter {
  std::string name;
  std::string secret;
};

struct Org {
  std::string oid;
  std::string name;
  std::vector<Adapter> adapters;

  const Adapter* find_adapter(const std::string& adapter) const;
};

struct StoredRule {
  std::string name;
  nlohmann::json detect;
  nlohmann::json respond;
  bool enabled = true;
  std::vector<std::string> tags;
};

// What the hook endpoint needs, read from the files at one moment.
struct Snapshot {
  struct Entry {
    Org org;
    std::vector<CompiledRule> rules;  // enabled rules only, in creation order
  };
  std::vector<Entry> orgs;

  const Entry* find(const std::string& oid) const;
};

class Store {
 public:
  // Creates the directory (owner-only) when missing.
  explicit Store(fs::path dir);
  ~Store();

  const fs::path& dir() const { return dir_; }
  fs::path events_path() const { return dir_ / "events.jsonl"; }

  // The current state, re-read when a file changed since the last call.
  std::shared_ptr<const Snapshot> snapshot();

  // Creates an organization with a webhook adapter named `adapter` and a fresh
  // secret; returns it.
  Org create_org(const std::string& name, const std::string& adapter);
  std::vector<Org> list_orgs() const;
  // Adds a rule to an organization, replacing one of the same name in place.
  // Throws std::invalid_argument when the organization is unknown or the rule
  // does not compile.
  void put_rule(const std::string& oid, const StoredRule& rule);
  std::vector<StoredRule> rules(const std::string& oid) const;

  // Appends one record to the event log as a single line.
  void append_event(const nlohmann::json& record);

  void write_server_info(const nlohmann::json& info);
  std::optional<nlohmann::json> server_info() const;

 private:
  struct Signature {
    std::uintmax_t inode = 0, size = 0;
    std::int64_t mtime_ns = -1;
    bool operator==(const Signature&) const = default;
  };
  Signature signature(const fs::path& file) const;

  fs::path dir_;
  std::mutex snapshot_mutex_;
  std::shared_ptr<const Snapshot> snapshot_;
  Signature orgs_sig_, rules_sig_;
  std::mutex events_mutex_;
  int events_fd_ = -1;
};

// A random version-4 UUID, lower-case and hyphenated.
std::string new_uuid();

}  // namespace devcloud
