#include "oauth/primer_rules.hpp"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "resources/resources.hpp"

namespace stelvane::oauth::primer_rules {

namespace {

using json = nlohmann::json;
using Values = std::span<const std::string_view>;

// Fields of a Claude Code style tool event inside the authorization request.
constexpr std::string_view kToolName = "event/auth/tool_name";
constexpr std::string_view kFilePath = "event/auth/tool_input/file_path";
constexpr std::string_view kCommand = "event/auth/tool_input/command";
constexpr std::string_view kUrl = "event/auth/tool_input/url";
constexpr std::string_view kCwd = "event/auth/cwd";
// Fields of an OpenClaw tool event.
constexpr std::string_view kOcToolName = "event/auth/toolName";
constexpr std::string_view kOcPath = "event/auth/params/path";
constexpr std::string_view kOcCommand = "event/auth/params/command";
constexpr std::string_view kOcQuery = "event/auth/params/query";

constexpr std::array<std::string_view, 7> kHookConfigFiles = {
    ".claude/settings.json",    ".cursor/hooks.json", ".gemini/settings.json",
    ".github/hooks/hooks.json", ".codex/config.toml", ".config/opencode/opencode.json",
    ".openclaw/openclaw.json",
};

constexpr std::string_view kInstalledExecutable = ".local/bin/stelvane";

constexpr std::array<std::string_view, 10> kPersistenceFiles = {
    "/etc/cron", "/etc/systemd", "/etc/init.d",  "/etc/rc.local", "/etc/profile",
    ".bashrc",   ".profile",     "LaunchAgents", "LaunchDaemons", "/Library/StartupItems",
};

constexpr std::array<std::string_view, 13> kPersistenceCommands = {
    "crontab",
    "/etc/cron",
    "/etc/systemd",
    "/etc/init.d",
    "/etc/rc.local",
    "LaunchAgents",
    "LaunchDaemons",
    "schtasks",
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "sc create",
    "New-ScheduledTask",
    "Register-ScheduledTask",
};

// The credential commands are the credential files followed by two variables.
constexpr std::array<std::string_view, 10> kCloudCredentialCommands = {
    ".aws/credentials",
    ".aws/config",
    ".config/gcloud",
    "application_default_credentials.json",
    ".azure",
    ".kube/config",
    ".docker/config.json",
    "terraform.tfstate",
    "AWS_ACCESS_KEY_ID",
    "AWS_SECRET_ACCESS_KEY",
};
constexpr std::size_t kCloudCredentialFileCount = 8;

// The fixed part of the e-mail commands; the two service API hosts follow.
constexpr std::array<std::string_view, 10> kEmailCommands = {
    "sendmail", "mailx",     " mail ",           "mutt",    "postfix",
    "exim",     "postqueue", "Send-MailMessage", "smtplib", "smtp.sendmail",
};

// The sensitive commands are the sensitive files followed by two keychain tools.
constexpr std::array<std::string_view, 14> kMacosSensitiveCommands = {
    "Library/Keychains",
    "login.keychain",
    "Application Support/Google/Chrome/Default/Cookies",
    "Application Support/Google/Chrome/Default/Login Data",
    "Library/Safari/Cookies",
    "Cookies.binarycookies",
    "cookies.sqlite",
    "logins.json",
    "key4.db",
    "apple.Notes",
    "NoteStore.sqlite",
    "Library/Messages/chat.db",
    "security find-",
    "security dump-keychain",
};
constexpr std::size_t kMacosSensitiveFileCount = 12;

constexpr std::array<std::string_view, 13> kDestructiveCommands = {
    "rm -rf /",
    "rm -rf /*",
    "rm --no-preserve-root",
    "del /s /q C:\\",
    "rd /s /q C:\\",
    "format C:",
    "dd if=/dev/zero of=/dev/sd",
    "dd if=/dev/zero of=/dev/nvme",
    "dd if=/dev/urandom of=/dev/sd",
    "dd if=/dev/urandom of=/dev/nvme",
    "mkfs.",
    "shred ",
    "wipefs",
};

constexpr std::array<std::string_view, 18> kSuspiciousTlds = {
    ".ru", ".cn", ".tk", ".ml",   ".ga",    ".cf",   ".top",     ".xyz", ".pw",
    ".cc", ".ws", ".gq", ".work", ".click", ".link", ".monster", ".icu", ".buzz",
};

constexpr std::array<std::string_view, 14> kEncryptionCommands = {
    "openssl enc",     "openssl aes", "gpg -e",  "gpg --encrypt",          "gpg -c",
    "gpg --symmetric", "7z a -p",     "zip -e",  "zip --encrypt",          "cryptography.fernet",
    "Fernet(",         "from Crypto", "AES.new", "ConvertTo-SecureString",
};

constexpr std::array<std::string_view, 4> kEncryptedFileExtensions = {".encrypted", ".locked", ".crypted", ".enc"};

// Node builders. nlohmann::json keeps object keys sorted, which gives the fixed
// key order of the documents ("op" first, then "path", "re", "rules", "target",
// "value" as present).
json test_node(std::string_view op, std::string_view path, std::string_view value) {
  return json{{"op", std::string(op)}, {"path", std::string(path)}, {"value", std::string(value)}};
}
json is_node(std::string_view path, std::string_view value) { return test_node("is", path, value); }
json contains_node(std::string_view path, std::string_view value) { return test_node("contains", path, value); }
json matches_node(std::string_view path, const std::string& re) {
  return json{{"op", "matches"}, {"path", std::string(path)}, {"re", re}};
}

json combination(std::string_view op, json rules) { return json{{"op", std::string(op)}, {"rules", std::move(rules)}}; }

// A tool check followed by a test, both required.
json tool_and(std::string_view tool_path, std::string_view tool, json test) {
  return combination("and", json::array({is_node(tool_path, tool), std::move(test)}));
}

template <class Range>
json contains_any(std::string_view path, const Range& values) {
  json rules = json::array();
  for (const auto& value : values) rules.push_back(contains_node(path, value));
  return combination("or", std::move(rules));
}

// Escapes every dot so that it matches only a literal dot.
std::string escape_dots(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '.') out += '\\';
    out += c;
  }
  return out;
}

// One "matches" node per value, `pattern` holding "{}" where the escaped value goes.
template <class Range>
json matches_any(std::string_view path, std::string_view pattern, const Range& values) {
  const auto hole = pattern.find("{}");
  json rules = json::array();
  for (const auto& value : values) {
    std::string re(pattern.substr(0, hole));
    re += escape_dots(value);
    re += pattern.substr(hole + 2);
    rules.push_back(matches_node(path, re));
  }
  return combination("or", std::move(rules));
}

json webhook_root(json branches) {
  json root = combination("or", std::move(branches));
  root["target"] = "webhook";
  return root;
}

Values cloud_credential_files_span() { return Values(kCloudCredentialCommands).first(kCloudCredentialFileCount); }
Values macos_sensitive_files_span() { return Values(kMacosSensitiveCommands).first(kMacosSensitiveFileCount); }

json ssh_key_access() {
  constexpr std::string_view ssh = ".ssh";
  return webhook_root(json::array({
      tool_and(kToolName, "Read", contains_node(kFilePath, ssh)),
      tool_and(kToolName, "Bash", contains_node(kCommand, ssh)),
      contains_node(kCwd, ssh),
      tool_and(kOcToolName, "read", contains_node(kOcPath, ssh)),
      tool_and(kOcToolName, "exec", contains_node(kOcCommand, ssh)),
  }));
}

json hook_config_tamper() {
  return webhook_root(json::array({
      tool_and(kToolName, "Write", contains_any(kFilePath, kHookConfigFiles)),
      tool_and(kToolName, "Edit", contains_any(kFilePath, kHookConfigFiles)),
      tool_and(kToolName, "Bash", contains_any(kCommand, kHookConfigFiles)),
      tool_and(kOcToolName, "write", contains_any(kOcPath, kHookConfigFiles)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, kHookConfigFiles)),
  }));
}

json binary_tamper() {
  return webhook_root(json::array({
      tool_and(kToolName, "Write", contains_node(kFilePath, kInstalledExecutable)),
      tool_and(kToolName, "Bash", contains_node(kCommand, kInstalledExecutable)),
      tool_and(kOcToolName, "write", contains_node(kOcPath, kInstalledExecutable)),
      tool_and(kOcToolName, "exec", contains_node(kOcCommand, kInstalledExecutable)),
  }));
}

json persistence_modification() {
  return webhook_root(json::array({
      tool_and(kToolName, "Write", contains_any(kFilePath, kPersistenceFiles)),
      tool_and(kToolName, "Edit", contains_any(kFilePath, kPersistenceFiles)),
      tool_and(kToolName, "Bash", contains_any(kCommand, kPersistenceCommands)),
      tool_and(kOcToolName, "write", contains_any(kOcPath, kPersistenceFiles)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, kPersistenceCommands)),
  }));
}

json cloud_creds_access() {
  const Values files = cloud_credential_files_span();
  return webhook_root(json::array({
      tool_and(kToolName, "Read", contains_any(kFilePath, files)),
      tool_and(kToolName, "Bash", contains_any(kCommand, kCloudCredentialCommands)),
      tool_and(kOcToolName, "read", contains_any(kOcPath, files)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, kCloudCredentialCommands)),
  }));
}

json email_sending() {
  const std::vector<std::string> commands = lists::email_commands();
  return webhook_root(json::array({
      tool_and(kToolName, "Bash", contains_any(kCommand, commands)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, commands)),
  }));
}

json macos_sensitive_data() {
  const Values files = macos_sensitive_files_span();
  return webhook_root(json::array({
      tool_and(kToolName, "Read", contains_any(kFilePath, files)),
      tool_and(kToolName, "Bash", contains_any(kCommand, kMacosSensitiveCommands)),
      tool_and(kOcToolName, "read", contains_any(kOcPath, files)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, kMacosSensitiveCommands)),
  }));
}

json destructive_delete() {
  return webhook_root(json::array({
      tool_and(kToolName, "Bash", contains_any(kCommand, kDestructiveCommands)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, kDestructiveCommands)),
  }));
}

json suspicious_tlds() {
  constexpr std::string_view url = "https?://[^/]*{}(/|$)";
  constexpr std::string_view download = R"((curl|wget).*https?://[^\s]*{})";
  constexpr std::string_view query = R"(https?://[^\s]*{})";
  return webhook_root(json::array({
      tool_and(kToolName, "WebFetch", matches_any(kUrl, url, kSuspiciousTlds)),
      tool_and(kToolName, "Bash", matches_any(kCommand, download, kSuspiciousTlds)),
      tool_and(kOcToolName, "web_search", matches_any(kOcQuery, query, kSuspiciousTlds)),
      tool_and(kOcToolName, "exec", matches_any(kOcCommand, download, kSuspiciousTlds)),
  }));
}

json file_encryption() {
  constexpr std::string_view at_end = "{}$";
  return webhook_root(json::array({
      tool_and(kToolName, "Bash", contains_any(kCommand, kEncryptionCommands)),
      tool_and(kToolName, "Write", matches_any(kFilePath, at_end, kEncryptedFileExtensions)),
      tool_and(kOcToolName, "exec", contains_any(kOcCommand, kEncryptionCommands)),
      tool_and(kOcToolName, "write", matches_any(kOcPath, at_end, kEncryptedFileExtensions)),
  }));
}

constexpr std::array<BaselineRule, 10> kRules = {{
    {"sv-ssh-key-access", "reading ssh keys", "Creating SSH key access detection rule",
     "Failed to create SSH key access D&R rule", ssh_key_access},
    {"sv-hook-config-tamper", "hook config modification", "Creating hook config tampering detection rule",
     "Failed to create hook config tampering D&R rule", hook_config_tamper},
    {"sv-binary-tamper", "stelvane binary modification", "Creating stelvane binary tampering detection rule",
     "Failed to create binary tampering D&R rule", binary_tamper},
    {"sv-persistence-modification", "persistence mechanism modification",
     "Creating persistence modification detection rule", "Failed to create persistence modification D&R rule",
     persistence_modification},
    {"sv-cloud-creds-access", "cloud credentials access", "Creating cloud credentials access detection rule",
     "Failed to create cloud credentials access D&R rule", cloud_creds_access},
    {"sv-email-sending", "email sending detected", "Creating email sending detection rule",
     "Failed to create email sending D&R rule", email_sending},
    {"sv-macos-sensitive-data", "macOS sensitive data access", "Creating macOS sensitive data access detection rule",
     "Failed to create macOS sensitive data D&R rule", macos_sensitive_data},
    {"sv-destructive-delete", "destructive delete operation", "Creating destructive delete detection rule",
     "Failed to create destructive delete D&R rule", destructive_delete},
    {"sv-suspicious-tlds", "suspicious TLD access", "Creating suspicious TLDs detection rule",
     "Failed to create suspicious TLDs D&R rule", suspicious_tlds},
    {"sv-file-encryption", "file encryption activity", "Creating file encryption detection rule",
     "Failed to create file encryption D&R rule", file_encryption},
}};

}  // namespace

std::span<const BaselineRule> baseline_rules() { return kRules; }

const BaselineRule* find_rule(std::string_view name) {
  const auto it = std::find_if(kRules.begin(), kRules.end(), [&](const BaselineRule& r) { return r.name == name; });
  return it == kRules.end() ? nullptr : &*it;
}

json detect_tree(const BaselineRule& rule) { return rule.build_detect(); }

json respond_list(const BaselineRule& rule) {
  return json::array({json{{"action", "report"}, {"name", std::string(rule.detection_name)}}});
}

json data_value(const BaselineRule& rule) {
  return json{{"detect", detect_tree(rule)}, {"respond", respond_list(rule)}};
}

std::string data_document(const BaselineRule& rule) { return data_value(rule).dump(); }

namespace lists {
std::span<const std::string_view> hook_config_files() { return kHookConfigFiles; }
std::span<const std::string_view> persistence_files() { return kPersistenceFiles; }
std::span<const std::string_view> persistence_commands() { return kPersistenceCommands; }
std::span<const std::string_view> cloud_credential_files() { return cloud_credential_files_span(); }
std::span<const std::string_view> suspicious_tlds() { return kSuspiciousTlds; }
std::span<const std::string_view> encryption_commands() { return kEncryptionCommands; }
std::span<const std::string_view> encrypted_file_extensions() { return kEncryptedFileExtensions; }
std::span<const std::string_view> macos_sensitive_files() { return macos_sensitive_files_span(); }
std::span<const std::string_view> destructive_commands() { return kDestructiveCommands; }

std::vector<std::string> email_commands() {
  std::vector<std::string> out(kEmailCommands.begin(), kEmailCommands.end());
  out.emplace_back(resources::deployment_value("sendgrid_api_host"));
  out.emplace_back(resources::deployment_value("mailgun_api_host"));
  return out;
}
}  // namespace lists

}  // namespace stelvane::oauth::primer_rules
