// The callbacks of the assistants other than Claude Code, run end to end against
// a hook endpoint on 127.0.0.1: each answers in its assistant's own format and
// reports itself under its own source name.

#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "providers/mod.hpp"
#include "support/hook_server.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

std::string decision_block(const std::string& reason) {
  ordered_json answer;
  answer["decision"] = "block";
  answer["reason"] = reason;
  return answer.dump();
}

std::string copilot_deny(const std::string& reason) {
  ordered_json answer;
  answer["permissionDecision"] = "deny";
  answer["permissionDecisionReason"] = reason;
  return answer.dump();
}

// The first string in `value` that ends with `suffix` (hook commands are nested
// differently in every assistant's file).
std::optional<std::string> find_command(const json& value, const std::string& suffix) {
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    if (text.ends_with(suffix)) return text;
    return std::nullopt;
  }
  if (value.is_structured()) {
    for (const auto& item : value) {
      if (auto found = find_command(item, suffix)) return found;
    }
  }
  return std::nullopt;
}

struct ProviderCase {
  const char* id;
  const char* subcommand;
  const char* source;      // in the request's meta_data
  const char* diagnostic;  // in the start log line
  const char* hook_file;   // under HOME, read back after installing; nullptr: run the subcommand
  const char* hook_type;
  std::string tool_event;
  std::string prompt_event;
  std::function<std::string(const std::string&)> deny_answer;
};

std::vector<ProviderCase> provider_cases() {
  return {
      {"cursor", "cursor-callback", "cursor", "Cursor", ".cursor/hooks.json", "preToolUse",
       R"({"hook_event_name":"preToolUse","conversation_id":"c1","tool_name":"Shell","tool_input":{"command":"rm -rf /"}})",
       R"({"hook_event_name":"beforeSubmitPrompt","conversation_id":"c1","prompt":"hi"})", decision_block},
      {"gemini-cli", "gemini-callback", "geminicli", "GeminiCli", ".gemini/settings.json", "BeforeTool",
       R"({"hook_event_name":"BeforeTool","session_id":"g1","tool_name":"run_shell_command","tool_input":{"command":"rm -rf /"}})",
       R"({"hook_event_name":"SessionStart","session_id":"g1","source":"startup"})", decision_block},
      {"opencode", "opencode-callback", "opencode", "OpenCode", nullptr, nullptr,
       R"({"session_id":"o1","tool_name":"bash","tool_input":{"command":"rm -rf /"}})",
       R"({"hook_event_name":"session.idle","session_id":"o1"})", decision_block},
      {"openclaw", "openclaw-callback", "openclaw", "OpenClaw", nullptr, nullptr,
       R"({"eventType":"before_tool_call","toolName":"exec","params":{"command":"rm -rf /"},"sessionKey":"k"})",
       R"({"eventType":"message_received","content":"hi","sessionKey":"k"})", decision_block},
      {"copilot", "copilot-callback", "copilot", "Copilot", nullptr, nullptr,
       R"({"timestamp":1704614600000,"cwd":"/p","toolName":"bash","toolArgs":"{\"command\":\"rm -rf /\"}"})",
       R"({"timestamp":1704614600000,"cwd":"/p","prompt":"hi"})", copilot_deny},
  };
}

class OtherAssistants : public ::testing::TestWithParam<ProviderCase> {};

TEST_P(OtherAssistants, AnswerInTheAssistantsFormat) {
  const ProviderCase& c = GetParam();
  Sandbox sb;
  fs::create_directories(sb.bin_dir());
  fs::create_symlink(exe_path(), sb.bin_dir() / "stelvane");
  std::string command = (sb.bin_dir() / "stelvane").string() + " " + c.subcommand;
  if (c.hook_file != nullptr) {
    {
      ScopedEnv home("HOME", sb.home().string());
      ScopedEnv bin("STELVANE_BIN_DIR", sb.bin_dir().string());
      providers::find_factory(c.id)->create()->install_hook(c.hook_type);
    }
    auto found = find_command(json::parse(read_file(sb.home() / c.hook_file)), c.subcommand);
    ASSERT_TRUE(found) << read_file(sb.home() / c.hook_file);
    command = *found;
  }

  HookServer server;
  sb.write_config(server.base_url() + "/o1/stelvane/sekret", /*fail_open=*/false);
  auto hook = [&](const std::string& event) { return sb.run_shell(command, RunOptions{event, std::nullopt, 60}); };

  server.set_reply(HookServer::deny("no rm", "dangerous-rm"));
  RunResult denied = hook(c.tool_event);
  EXPECT_EQ(denied.status, 0) << denied.err;
  EXPECT_EQ(denied.out, c.deny_answer("Command blocked by policy. Reason: no rm Rule: dangerous-rm"));

  server.set_reply(HookServer::allow());
  RunResult allowed = hook(c.tool_event);
  EXPECT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_EQ(allowed.out, "");

  // The cloud failing with fail_open off blocks in the same format.
  server.set_reply(HookServer::status(503, "unavailable"));
  RunResult failed = hook(c.tool_event);
  EXPECT_EQ(failed.out,
            c.deny_answer("stelvane cloud failure (Authorization request failed with status 503: unavailable)"));

  RunResult prompt = hook(c.prompt_event);
  EXPECT_EQ(prompt.status, 0) << prompt.err;
  EXPECT_EQ(prompt.out, "") << "prompts are approved";

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    json doc = json::parse(requests[i].body);
    EXPECT_EQ(doc["meta_data"]["source"], c.source);
    EXPECT_EQ(doc["meta_data"]["type"], "auth");
    EXPECT_EQ(doc["auth"], json::parse(c.tool_event));
  }
  json notify = json::parse(requests[3].body);
  EXPECT_EQ(notify["meta_data"]["source"], c.source);
  EXPECT_EQ(notify["meta_data"]["type"], "notify");
  EXPECT_EQ(notify["notify"], json::parse(c.prompt_event));

  std::string log = read_file(sb.data_dir() / "stelvane.log");
  EXPECT_NE(log.find(std::string("stelvane hook starting for provider: ") + c.diagnostic + "\n"), std::string::npos)
      << log;
}

INSTANTIATE_TEST_SUITE_P(Hook, OtherAssistants, ::testing::ValuesIn(provider_cases()), [](const auto& param_info) {
  std::string name = param_info.param.id;
  std::erase(name, '-');
  return name;
});

}  // namespace
}  // namespace stelvane::test
