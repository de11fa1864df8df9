#pragma once
// The ten baseline detection-and-response rules that team setup installs in a new
// organization: reading SSH keys, tampering with assistant hook files or with the
// program itself, persistence, cloud credentials, e-mail sending, macOS secrets,
// destructive deletion, suspicious top-level domains and file encryption.
//
// The rules only report. Each one is a detect tree plus a respond list holding a
// single "report" action; both are built here as JSON values whose objects keep
// their keys in ascending order, so the text sent to the cloud is fixed.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace stelvane::oauth::primer_rules {

inline constexpr const char* kLogTarget = "stelvane::oauth::primer_rules";

// One baseline rule: its hive record name, the name its report carries, the
// information line logged when its creation starts and the context added to a
// failed creation.
struct BaselineRule {
  std::string_view name;
  std::string_view detection_name;
  std::string_view start_log;
  std::string_view failure_context;
  // Builds the rule's detect tree.
  nlohmann::json (*build_detect)();
};

// The ten rules in creation order.
std::span<const BaselineRule> baseline_rules();

// The rule with this hive name, or nullptr.
const BaselineRule* find_rule(std::string_view name);

// The detect tree: an "or" root with "target": "webhook".
nlohmann::json detect_tree(const BaselineRule& rule);
// [{"action": "report", "name": <detection name>}].
nlohmann::json respond_list(const BaselineRule& rule);
// {"detect": …, "respond": …} as a value.
nlohmann::json data_value(const BaselineRule& rule);
// The same as compact JSON text with sorted keys: the "data" document sent to
// the cloud when the rule is created.
std::string data_document(const BaselineRule& rule);

// The value lists the trees are built from, exposed for inspection.
namespace lists {
std::span<const std::string_view> hook_config_files();
std::span<const std::string_view> persistence_files();
std::span<const std::string_view> persistence_commands();
std::span<const std::string_view> cloud_credential_files();
std::span<const std::string_view> suspicious_tlds();
std::span<const std::string_view> encryption_commands();
std::span<const std::string_view> encrypted_file_extensions();
std::span<const std::string_view> macos_sensitive_files();
std::span<const std::string_view> destructive_commands();
// The e-mail commands, ending with the SendGrid and Mailgun API hosts of the
// deployment.
std::vector<std::string> email_commands();
}  // namespace lists

}  // namespace stelvane::oauth::primer_rules
