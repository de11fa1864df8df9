// The callbacks run the way the assistants run them: the hook command is read
// back from a real ~/.claude/settings.json written by the Claude Code provider and
// executed through `sh -c` with the event on standard input, against hook
// endpoints on 127.0.0.1 started here.

#include <chrono>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "providers/mod.hpp"
#include "support/hook_server.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kToolUse =
    R"({"session_id":"sess-1","transcript_path":"/nonexistent","cwd":"/work","hook_event_name":"PreToolUse",)"
    R"("tool_name":"Bash","tool_input":{"command":"rm -rf /tmp/x","description":"Remove"},"tool_use_id":"toolu_1"})";
const std::string kPrompt = R"({"session_id":"sess-1","hook_event_name":"UserPromptSubmit","prompt":"hi"})";

std::string block_answer(const std::string& reason) { return json{{"decision", "block"}, {"reason", reason}}.dump(); }

// A private home with Claude Code's hooks installed by the provider, and the
// built executable copied to the bin directory the hooks name.
class ClaudeHook : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(sb.bin_dir());
    fs::copy_file(exe_path(), sb.bin_dir() / "stelvane");
    {
      ScopedEnv home("HOME", sb.home().string());
      ScopedEnv bin("STELVANE_BIN_DIR", sb.bin_dir().string());
      auto provider = providers::find_factory("claude-code")->create();
      for (const char* type : {"PreToolUse", "UserPromptSubmit", "Stop"}) provider->install_hook(type);
    }
    json settings = json::parse(read_file(sb.home() / ".claude" / "settings.json"));
    for (const char* type : {"PreToolUse", "UserPromptSubmit", "Stop"}) {
      commands[type] = settings["hooks"][type][0]["hooks"][0]["command"].get<std::string>();
    }
    ASSERT_EQ(commands["PreToolUse"], (sb.bin_dir() / "stelvane").string() + " claude-callback");
    sb.set_env("SSL_CERT_FILE", ca.ca_file.string());
  }

  // Runs the hook of `type` as Claude Code does.
  RunResult hook(const std::string& type, const std::string& event) {
    return sb.run_shell(commands.at(type), RunOptions{event, std::nullopt, 60});
  }

  std::string hook_url(const HookServer& server) const {
    return server.base_url("o1.hook.localhost") + "/o1/stelvane/sekret";
  }

  Sandbox sb;
  TestCa ca{sb.root() / "ca"};
  std::map<std::string, std::string> commands;
};

// How the cloud answers a tool use, and what the assistant then gets with
// fail_open on and off (the cloud-failure reason is checked by its start).
struct CloudCase {
  const char* name;
  HookServer::Mode mode;
  Reply reply;
  std::string open_answer;    // fail_open true
  std::string closed_reason;  // fail_open false: block reason prefix; "" = same as open
  bool refused = false;
};

std::vector<CloudCase> cloud_cases() {
  const std::string failure = "stelvane cloud failure (";
  return {
      {"Allow", HookServer::Mode::Reply, HookServer::allow(), "", ""},
      {"Deny", HookServer::Mode::Reply, HookServer::deny("no rm", "dangerous-rm", "policy"),
       block_answer("Command blocked by policy. Reason: no rm Rule: dangerous-rm Error: policy"), ""},
      {"DenyBare", HookServer::Mode::Reply, HookServer::deny(), block_answer("Command blocked by policy."), ""},
      {"Forbidden", HookServer::Mode::Reply, HookServer::status(403, "forbidden"), "",
       failure + "Authorization request failed with status 403: forbidden)"},
      {"ServerError", HookServer::Mode::Reply, HookServer::status(500, "boom"), "",
       failure + "Authorization request failed with status 500: boom)"},
      {"InvalidJson", HookServer::Mode::Reply, HookServer::garbage(), "",
       failure + "Authorization server returned invalid JSON response)"},
      {"NoSuccess", HookServer::Mode::Reply, HookServer::no_success(), "",
       failure + "Authorization server returned invalid JSON response)"},
      {"Refused", HookServer::Mode::Reply, HookServer::allow(), "", failure + "Failed to connect to hook server at ",
       true},
      {"Closed", HookServer::Mode::Close, HookServer::allow(), "", failure + "Failed to connect to hook server at "},
      {"Silent", HookServer::Mode::Silent, HookServer::allow(), "", failure + "Failed to connect to hook server at "},
      {"Trickle", HookServer::Mode::Trickle, HookServer::allow(), "", failure + "Failed to connect to hook server at "},
  };
}

class CloudOutcome : public ClaudeHook, public ::testing::WithParamInterface<CloudCase> {};

TEST_P(CloudOutcome, ToolUseAnswerUnderBothFailOpenSettings) {
  const CloudCase& c = GetParam();
  HookServer::Options options{c.mode, &ca, 2000ms};
  auto server = std::make_unique<HookServer>(options);
  server->set_reply(c.reply);
  std::string url = hook_url(*server);
  if (c.refused) server.reset();
  const bool slow = c.mode == HookServer::Mode::Silent || c.mode == HookServer::Mode::Trickle;

  for (bool fail_open : {true, false}) {
    SCOPED_TRACE(fail_open ? "fail_open=true" : "fail_open=false");
    sb.write_config(url, fail_open);
    auto start = Clock::now();
    RunResult r = hook("PreToolUse", kToolUse);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    if (fail_open || c.closed_reason.empty()) {
      EXPECT_EQ(r.out, c.open_answer);
    } else {
      json answer = json::parse(r.out);
      EXPECT_EQ(answer.begin().key(), "decision");
      EXPECT_EQ(answer["decision"], "block");
      EXPECT_EQ(answer["reason"].get<std::string>().rfind(c.closed_reason, 0), 0u) << answer["reason"];
      EXPECT_EQ(r.out.back(), '}') << "no trailing newline";
    }
    if (slow) {
      EXPECT_GE(elapsed, 9500ms);
      EXPECT_LT(elapsed, 13s) << "the 10 s deadline covers the whole request";
    }
  }
  if (server) {
    auto requests = server->requests();
    if (c.mode != HookServer::Mode::Close) {
      ASSERT_EQ(requests.size(), 2u);
      EXPECT_EQ(requests[0].path, "/o1/stelvane");
      EXPECT_EQ(requests[0].header("nx-secret"), "sekret");
      json doc = json::parse(requests[0].body);
      EXPECT_EQ(doc["auth"], json::parse(kToolUse));
      EXPECT_EQ(doc["meta_data"]["type"], "auth");
      EXPECT_EQ(doc["meta_data"]["source"], "claudecode");
      EXPECT_EQ(doc["meta_data"]["session_id"], "sess-1");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Hook, CloudOutcome, ::testing::ValuesIn(cloud_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ClaudeHook, PlainHttpEndpointAndTheAlias) {
  HookServer server;
  server.set_reply(HookServer::deny("r"));
  sb.write_config(server.base_url() + "/o1/stelvane/sekret", false);
  RunResult r = hook("PreToolUse", kToolUse);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, block_answer("Command blocked by policy. Reason: r"));
  RunResult alias = sb.run({"cc"}, RunOptions{kToolUse, std::nullopt, 60});
  EXPECT_EQ(alias.out, r.out);
  EXPECT_EQ(server.request_count(), 2u);
}

// A server that hangs up after the TLS handshake while a large event is still
// being sent: whatever the write reports (reset, broken pipe), the hook treats it
// as a cloud failure and is not killed by SIGPIPE, which an assistant would read
// as a non-blocking error.
TEST_F(ClaudeHook, EndpointHangingUpMidRequestIsACloudFailure) {
  HookServer server(HookServer::Options{HookServer::Mode::Close, &ca});
  json event = json::parse(kToolUse);
  event["tool_input"]["content"] = std::string(16 * 1024 * 1024, 'x');
  for (bool fail_open : {true, false}) {
    SCOPED_TRACE(fail_open ? "fail_open=true" : "fail_open=false");
    sb.write_config(hook_url(server), fail_open);
    // Assistants start hooks with SIGPIPE at its default action (this test process
    // ignores it, and the ignoring would be inherited).
    RunResult r = sb.run_shell("env --default-signal=PIPE " + commands.at("PreToolUse"),
                               RunOptions{event.dump(), std::nullopt, 60});
    EXPECT_EQ(r.status, 0) << r.err;
    if (fail_open) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find(R"({"decision":"block","reason":"stelvane cloud failure ()"), std::string::npos) << r.out;
    }
  }
}

TEST_F(ClaudeHook, PromptsAreReportedAndApproved) {
  HookServer server(HookServer::Options{HookServer::Mode::Reply, &ca});
  server.set_reply(HookServer::status(500, "down"));  // a notification ignores the answer
  sb.write_config(hook_url(server), false);
  RunResult r = hook("UserPromptSubmit", kPrompt);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(server.request_count(), 1u);
  json doc = json::parse(server.requests()[0].body);
  EXPECT_EQ(doc["meta_data"]["type"], "notify");
  EXPECT_EQ(doc["notify"], json::parse(kPrompt));
}

TEST_F(ClaudeHook, StopEventCarriesTheLastAnswerFromTheTranscript) {
  HookServer server(HookServer::Options{HookServer::Mode::Reply, &ca});
  sb.write_config(hook_url(server));
  fs::path transcript = sb.root() / "transcript.jsonl";
  write_file(transcript, R"({"type":"user","message":{"content":"q"}})"
                         "\n"
                         R"({"type":"assistant","message":{"content":[{"type":"text","text":"old"}]}})"
                         "\n"
                         "not json\n"
                         R"({"type":"assistant","message":{"content":[{"type":"text","text":"first"},)"
                         R"({"type":"tool_use","name":"Bash"},{"type":"text","text":"second"}]}})"
                         "\r\n");
  json stop = {{"hook_event_name", "Stop"}, {"session_id", "s"}, {"transcript_path", transcript.string()}};
  json already = {
      {"hook_event_name", "Stop"}, {"assistant_response", "kept"}, {"transcript_path", transcript.string()}};
  json lower = {{"hook_event_name", "stop"}, {"transcript_path", transcript.string()}};
  for (const json& event : {stop, already, lower}) {
    RunResult r = hook("Stop", event.dump());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
  }
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  json expected = stop;
  expected["assistant_response"] = "first\nsecond";
  EXPECT_EQ(json::parse(requests[0].body)["notify"], expected);
  EXPECT_EQ(json::parse(requests[1].body)["notify"], already);
  EXPECT_EQ(json::parse(requests[2].body)["notify"], lower) << "event names are case-sensitive";
}

TEST_F(ClaudeHook, InputEdgeCases) {
  HookServer server(HookServer::Options{HookServer::Mode::Reply, &ca});
  server.set_reply(HookServer::deny("never"));
  sb.write_config(hook_url(server), false);
  struct Case {
    const char* name;
    std::string input;
    int status;
    std::string out;
    std::string err;
    bool notified;
  } cases[] = {
      {"empty", "", 0, "", "", false},
      {"array", R"([{"tool_name":"Bash"}])", 0, "", "", true},
      {"only tool_name", R"({"tool_name":"Read"})", 0, block_answer("Command blocked by policy. Reason: never"), "",
       false},
      {"invalid json", "{nope", 1, "", "Error: Unable to deserialize\n", false},
      {"invalid utf-8", "{\"prompt\":\"\xff\"}", 1, "", "Error: Unable to read from stdin\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t before = server.request_count();
    RunResult r = hook("PreToolUse", c.input);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    if (c.notified) {
      ASSERT_EQ(server.request_count(), before + 1);
      json doc = json::parse(server.requests().back().body);
      EXPECT_EQ(doc["meta_data"]["type"], "notify");
      EXPECT_FALSE(doc["meta_data"].contains("session_id"));
      EXPECT_EQ(doc["notify"], json::parse(c.input));
    } else if (std::string(c.name) != "only tool_name") {
      EXPECT_EQ(server.request_count(), before);
    }
  }
}

TEST_F(ClaudeHook, AuditSwitchesOffMakeNoRequest) {
  HookServer server(HookServer::Options{HookServer::Mode::Reply, &ca});
  server.set_reply(HookServer::deny("never"));
  for (bool fail_open : {true, false}) {
    sb.write_config(hook_url(server), fail_open, /*audit_tool_use=*/false, /*audit_prompts=*/false);
    for (const auto& [type, event] : {std::pair{"PreToolUse", kToolUse}, std::pair{"UserPromptSubmit", kPrompt}}) {
      RunResult r = hook(type, event);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_EQ(server.request_count(), 0u);
}

TEST_F(ClaudeHook, OrganizationAndHookUrlProblems) {
  // No configuration at all: not authorized.
  RunResult fresh = hook("PreToolUse", kToolUse);
  EXPECT_EQ(fresh.status, 1);
  EXPECT_EQ(fresh.out, "");
  EXPECT_EQ(fresh.err, "Error: not authorized\n");

  // A hook URL that cannot be split. Failing open lets everything through without
  // reading the event; failing closed must still block a tool use (a non-zero exit
  // would let the assistant run it), so the event is read and answered.
  const std::string cloud_init = block_answer("stelvane cloud failure (Unable to initialize Cloud API)");
  struct Case {
    bool fail_open;
    const char* type;
    std::string event;
    std::string out;
  } cases[] = {
      {true, "PreToolUse", kToolUse, ""},
      {true, "UserPromptSubmit", kPrompt, ""},
      {false, "PreToolUse", kToolUse, cloud_init},
      {false, "UserPromptSubmit", kPrompt, ""},
      {false, "PreToolUse", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + (c.fail_open ? " open" : " closed"));
    sb.write_config("https://o1.hook.localhost/o1/sekret", c.fail_open);
    RunResult r = hook(c.type, c.event);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  std::string log = read_file(sb.data_dir() / "stelvane.log");
  EXPECT_NE(log.find("Unable to init cloud Unable to initialize Cloud API"), std::string::npos) << log;
  EXPECT_NE(log.find("hook starting for provider: ClaudeCode"), std::string::npos) << log;
}

TEST_F(ClaudeHook, CodexPayloadIsReportedOnly) {
  HookServer server(HookServer::Options{HookServer::Mode::Reply, &ca});
  server.set_reply(HookServer::deny("ignored"));
  const std::string payload = R"({"type":"agent-turn-complete","turn-id":"t1","last-assistant-message":"done"})";
  sb.write_config(hook_url(server), false);
  RunResult r = sb.run({"codex-callback", payload});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(server.request_count(), 1u);
  json doc = json::parse(server.requests()[0].body);
  EXPECT_EQ(doc["meta_data"]["type"], "notify");
  EXPECT_EQ(doc["meta_data"]["source"], "codex");
  EXPECT_EQ(doc["notify"], json::parse(payload));

  RunResult bad = sb.run({"codex-callback", "not json"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("Error: Unable to deserialize JSON payload\n", 0), 0u) << bad.err;

  sb.write_config(hook_url(server), false, true, /*audit_prompts=*/false);
  EXPECT_EQ(sb.run({"codex-callback", payload}).status, 0);
  EXPECT_EQ(server.request_count(), 1u) << "audit_prompts off: no request";

  // The cloud being unreachable is only logged.
  sb.write_config("https://127.0.0.1:1/o1/stelvane/sekret", false);
  RunResult down = sb.run({"codex-callback", payload});
  EXPECT_EQ(down.status, 0) << down.err;
  EXPECT_EQ(down.out, "");
}

}  // namespace
}  // namespace stelvane::test
