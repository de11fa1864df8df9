#include "oauth/primer_rules.hpp"

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace pr = stelvane::oauth::primer_rules;
using nlohmann::json;

namespace {

// Every "value" and "re" of the "or" node under a branch's "and", in order.
std::vector<std::string> list_values(const json& branch) {
  std::vector<std::string> out;
  const json& test = branch.at("rules").at(1);
  EXPECT_EQ(test.at("op"), "or");
  for (const auto& node : test.at("rules")) out.push_back(node.contains("re") ? node["re"] : node["value"]);
  return out;
}

const pr::BaselineRule& rule(std::string_view name) {
  const pr::BaselineRule* r = pr::find_rule(name);
  if (r == nullptr) throw std::runtime_error("no rule " + std::string(name));
  return *r;
}

}  // namespace

TEST(PrimerRules, FirstRuleDocumentIsExact) {
  const std::string expected =
      R"({"detect":{"op":"or","rules":[{"op":"and","rules":[{"op":"is","path":"event/auth/tool_name","value":"Read"},)"
      R"({"op":"contains","path":"event/auth/tool_input/file_path","value":".ssh"}]},{"op":"and","rules":[{"op":"is",)"
      R"("path":"event/auth/tool_name","value":"Bash"},{"op":"contains","path":"event/auth/tool_input/command",)"
      R"("value":".ssh"}]},{"op":"contains","path":"event/auth/cwd","value":".ssh"},{"op":"and","rules":[{"op":"is",)"
      R"("path":"event/auth/toolName","value":"read"},{"op":"contains","path":"event/auth/params/path","value":".ssh"}]},)"
      R"({"op":"and","rules":[{"op":"is","path":"event/auth/toolName","value":"exec"},{"op":"contains",)"
      R"("path":"event/auth/params/command","value":".ssh"}]}],"target":"webhook"},"respond":[{"action":"report",)"
      R"("name":"reading ssh keys"}]})";
  EXPECT_EQ(pr::data_document(pr::baseline_rules()[0]), expected);
}

TEST(PrimerRules, TableInCreationOrder) {
  struct Row {
    const char* name;
    const char* detection;
    const char* start;
    const char* failure;
  };
  const Row rows[] = {
      {"sv-ssh-key-access", "reading ssh keys", "Creating SSH key access detection rule",
       "Failed to create SSH key access D&R rule"},
      {"sv-hook-config-tamper", "hook config modification", "Creating hook config tampering detection rule",
       "Failed to create hook config tampering D&R rule"},
      {"sv-binary-tamper", "stelvane binary modification", "Creating stelvane binary tampering detection rule",
       "Failed to create binary tampering D&R rule"},
      {"sv-persistence-modification", "persistence mechanism modification",
       "Creating persistence modification detection rule", "Failed to create persistence modification D&R rule"},
      {"sv-cloud-creds-access", "cloud credentials access", "Creating cloud credentials access detection rule",
       "Failed to create cloud credentials access D&R rule"},
      {"sv-email-sending", "email sending detected", "Creating email sending detection rule",
       "Failed to create email sending D&R rule"},
      {"sv-macos-sensitive-data", "macOS sensitive data access", "Creating macOS sensitive data access detection rule",
       "Failed to create macOS sensitive data D&R rule"},
      {"sv-destructive-delete", "destructive delete operation", "Creating destructive delete detection rule",
       "Failed to create destructive delete D&R rule"},
      {"sv-suspicious-tlds", "suspicious TLD access", "Creating suspicious TLDs detection rule",
       "Failed to create suspicious TLDs D&R rule"},
      {"sv-file-encryption", "file encryption activity", "Creating file encryption detection rule",
       "Failed to create file encryption D&R rule"},
  };
  const auto rules = pr::baseline_rules();
  ASSERT_EQ(rules.size(), std::size(rows));
  for (std::size_t i = 0; i < rules.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(rules[i].name, rows[i].name);
    EXPECT_EQ(rules[i].detection_name, rows[i].detection);
    EXPECT_EQ(rules[i].start_log, rows[i].start);
    EXPECT_EQ(rules[i].failure_context, rows[i].failure);
    EXPECT_EQ(pr::respond_list(rules[i]).dump(),
              R"([{"action":"report","name":")" + std::string(rows[i].detection) + R"("}])");
    const json tree = pr::detect_tree(rules[i]);
    EXPECT_EQ(tree.at("op"), "or");
    EXPECT_EQ(tree.at("target"), "webhook");
  }
}

// Only rule 1 has a branch without a tool check; every other branch is an "and"
// whose first node checks the tool name.
TEST(PrimerRules, BranchesStartWithToolCheck) {
  for (const auto& r : pr::baseline_rules()) {
    SCOPED_TRACE(std::string(r.name));
    const json tree = pr::detect_tree(r);
    for (const auto& branch : tree.at("rules")) {
      if (r.name == "sv-ssh-key-access" && branch.at("op") == "contains") {
        EXPECT_EQ(branch.at("path"), "event/auth/cwd");
        continue;
      }
      ASSERT_EQ(branch.at("op"), "and");
      const json& check = branch.at("rules").at(0);
      EXPECT_EQ(check.at("op"), "is");
      const std::string path = check.at("path");
      EXPECT_TRUE(path == "event/auth/tool_name" || path == "event/auth/toolName") << path;
    }
  }
}

TEST(PrimerRules, ValueListsAreExact) {
  const json hook = pr::detect_tree(rule("sv-hook-config-tamper"));
  EXPECT_EQ(list_values(hook["rules"][0]),
            (std::vector<std::string>{".claude/settings.json", ".cursor/hooks.json", ".gemini/settings.json",
                                      ".github/hooks/hooks.json", ".codex/config.toml",
                                      ".config/opencode/opencode.json", ".openclaw/openclaw.json"}));

  const json persistence = pr::detect_tree(rule("sv-persistence-modification"));
  EXPECT_EQ(
      list_values(persistence["rules"][2]),
      (std::vector<std::string>{"crontab", "/etc/cron", "/etc/systemd", "/etc/init.d", "/etc/rc.local", "LaunchAgents",
                                "LaunchDaemons", "schtasks", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "sc create",
                                "New-ScheduledTask", "Register-ScheduledTask"}));
  EXPECT_EQ(list_values(persistence["rules"][0]).size(), 10u);
  EXPECT_EQ(list_values(persistence["rules"][0]).back(), "/Library/StartupItems");

  const json creds = pr::detect_tree(rule("sv-cloud-creds-access"));
  const auto files = list_values(creds["rules"][0]);
  auto commands = list_values(creds["rules"][1]);
  ASSERT_EQ(files.size(), 8u);
  ASSERT_EQ(commands.size(), 10u);
  EXPECT_TRUE(std::equal(files.begin(), files.end(), commands.begin()));
  EXPECT_EQ(commands[8], "AWS_ACCESS_KEY_ID");
  EXPECT_EQ(commands[9], "AWS_SECRET_ACCESS_KEY");

  const json mail = pr::detect_tree(rule("sv-email-sending"));
  const auto mails = list_values(mail["rules"][0]);
  ASSERT_EQ(mails.size(), 12u);
  EXPECT_EQ(mails[2], " mail ");
  EXPECT_EQ(mails[9], "smtp.sendmail");
  EXPECT_EQ(list_values(mail["rules"][1]), mails);

  const json mac = pr::detect_tree(rule("sv-macos-sensitive-data"));
  EXPECT_EQ(list_values(mac["rules"][0]).size(), 12u);
  const auto mac_commands = list_values(mac["rules"][1]);
  ASSERT_EQ(mac_commands.size(), 14u);
  EXPECT_EQ(mac_commands[12], "security find-");
  EXPECT_EQ(mac_commands[13], "security dump-keychain");

  const auto destructive = list_values(pr::detect_tree(rule("sv-destructive-delete"))["rules"][0]);
  ASSERT_EQ(destructive.size(), 13u);
  EXPECT_EQ(destructive[3], "del /s /q C:\\");
  EXPECT_EQ(destructive[11], "shred ");
}

TEST(PrimerRules, SuspiciousDomainExpressions) {
  const json tree = pr::detect_tree(rule("sv-suspicious-tlds"));
  ASSERT_EQ(tree["rules"].size(), 4u);
  for (const auto& branch : tree["rules"]) EXPECT_EQ(list_values(branch).size(), 18u);
  EXPECT_EQ(list_values(tree["rules"][0])[0], R"(https?://[^/]*\.ru(/|$))");
  EXPECT_EQ(list_values(tree["rules"][1])[0], R"((curl|wget).*https?://[^\s]*\.ru)");
  EXPECT_EQ(list_values(tree["rules"][2])[0], R"(https?://[^\s]*\.ru)");
  EXPECT_EQ(list_values(tree["rules"][3])[17], R"((curl|wget).*https?://[^\s]*\.buzz)");
  EXPECT_EQ(tree["rules"][2]["rules"][0]["value"], "web_search");
  EXPECT_EQ(tree["rules"][0]["rules"][1]["rules"][0]["op"], "matches");
}

TEST(PrimerRules, EncryptedExtensionsAnchored) {
  const json tree = pr::detect_tree(rule("sv-file-encryption"));
  EXPECT_EQ(list_values(tree["rules"][1]),
            (std::vector<std::string>{R"(\.encrypted$)", R"(\.locked$)", R"(\.crypted$)", R"(\.enc$)"}));
  EXPECT_EQ(tree["rules"][3]["rules"][1]["rules"][0]["path"], "event/auth/params/path");
  EXPECT_EQ(list_values(tree["rules"][0]).size(), 14u);
}
