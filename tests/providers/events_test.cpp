// Event classification, transcript reading, stop-event enrichment and the payload
// diagnostics (character counts and cuts on UTF-8 text).

#include "providers/events.hpp"

#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <spdlog/sinks/ostream_sink.h>

#include "logging/log.hpp"
#include "support/testutil.hpp"

namespace stelvane::providers {
namespace {

using nlohmann::json;
using test::TempDir;
using test::write_file;

TEST(Events, ToolUseIsAnyToolKeyInAnObject) {
  struct Case {
    const char* payload;
    bool tool_use;
  } cases[] = {
      {R"({"tool_name":"Bash"})", true},
      {R"({"tool_input":null})", true},
      {R"({"tool_use_id":"t"})", true},
      {R"({"toolName":"bash","toolArgs":"{}"})", true},
      {R"({"prompt":"hi","params":{"x":1}})", false},
      {R"({"ToolName":"x","tool":"y"})", false},
      {R"([{"tool_name":"Bash"}])", false},
      {R"("tool_name")", false},
      {"null", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_tool_use(json::parse(c.payload)), c.tool_use) << c.payload;
}

TEST(Events, LastAssistantTextOfATranscript) {
  const std::string turn_ab =
      R"({"type":"assistant","message":{"content":[{"type":"text","text":"a"},{"type":"tool_use","id":"x"},)"
      R"({"type":"text","text":"b"}]}})";
  const std::string turn_old = R"({"type":"assistant","message":{"content":[{"type":"text","text":"old"}]}})";
  const std::string turn_tools = R"({"type":"assistant","message":{"content":[{"type":"tool_use","id":"y"}]}})";
  struct Case {
    const char* name;
    std::string content;
    std::optional<std::string> text;
  } cases[] = {
      {"two text items joined", turn_ab + "\n", "a\nb"},
      {"last turn wins", turn_old + "\n" + turn_ab + "\n", "a\nb"},
      {"no final newline, CRLF lines", turn_old + "\r\n" + turn_ab, "a\nb"},
      {"unparsable and other lines skipped",
       turn_old + "\n{broken\n" + R"({"type":"user","message":{"content":[{"type":"text","text":"u"}]}})" + "\n" +
           R"({"type":"assistant","message":{"content":"plain"}})" + "\n" + R"({"type":"assistant","message":"m"})" +
           "\n",
       "old"},
      {"last turn without text", turn_ab + "\n" + turn_tools + "\n", std::nullopt},
      {"invalid UTF-8 stops the reading", turn_old + "\n{\"x\":\"\xC3\x28\"}\n" + turn_ab + "\n", "old"},
      {"invalid UTF-8 before any turn", "\xFF\n" + turn_ab + "\n", std::nullopt},
      {"empty file", "", std::nullopt},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto path = dir.path() / "t.jsonl";
    write_file(path, c.content);
    EXPECT_EQ(last_assistant_text(path.string()), c.text);
  }
  EXPECT_EQ(last_assistant_text((dir.path() / "missing.jsonl").string()), std::nullopt);
}

TEST(Events, StopEventEnrichment) {
  TempDir dir;
  auto transcript = (dir.path() / "t.jsonl").string();
  write_file(transcript, R"({"type":"assistant","message":{"content":[{"type":"text","text":"done"}]}})"
                         "\n");
  struct Case {
    json payload;
    bool enriched;
  } cases[] = {
      {{{"hook_event_name", "Stop"}, {"transcript_path", transcript}}, true},
      {{{"hook_event_name", "afterAgentResponse"}, {"transcript_path", transcript}}, true},
      {{{"hook_event_name", "AfterAgent"}, {"transcript_path", transcript}}, true},
      {{{"hook_event_name", "session.idle"}, {"transcript_path", transcript}}, true},
      {{{"hook_event_name", "stop"}, {"transcript_path", transcript}}, false},
      {{{"hook_event_name", "UserPromptSubmit"}, {"transcript_path", transcript}}, false},
      {{{"hook_event_name", 7}, {"transcript_path", transcript}}, false},
      {{{"hook_event_name", "Stop"}, {"transcript_path", transcript}, {"assistant_response", nullptr}}, false},
      {{{"hook_event_name", "Stop"}, {"transcript_path", 3}}, false},
      {{{"hook_event_name", "Stop"}, {"transcript_path", transcript + ".missing"}}, false},
      {{{"hook_event_name", "Stop"}}, false},
  };
  for (const auto& c : cases) {
    json out = enrich_stop_event(c.payload);
    json expected = c.payload;
    if (c.enriched) expected["assistant_response"] = "done";
    EXPECT_EQ(out, expected) << c.payload.dump();
  }
  EXPECT_EQ(enrich_stop_event(json::array({1, 2})), json::array({1, 2}));
}

TEST(Events, CharacterCountsNeverCutASequence) {
  EXPECT_EQ(char_count(""), 0u);
  EXPECT_EQ(char_count("h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x98\x80"), 9u);
  EXPECT_EQ(first_chars("h\xC3\xA9llo", 2), "h\xC3\xA9");
  EXPECT_EQ(first_chars("\xF0\x9F\x98\x80\xF0\x9F\x98\x81", 1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(first_chars("abc", 5), "abc");
  EXPECT_EQ(first_chars("abc", 0), "");
}

// Captures the lines logged on the events target at debug level.
class PayloadCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& logger = logging::get("stelvane::providers");
    saved_level_ = logger.level();
    sink_ = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
    sink_->set_pattern("%l %v");
    logger.sinks().push_back(sink_);
    logger.set_level(spdlog::level::debug);
  }
  void TearDown() override {
    auto& logger = logging::get("stelvane::providers");
    std::erase(logger.sinks(), sink_);
    logger.set_level(saved_level_);
  }
  // The logged line that starts with `prefix` (level included), or "".
  std::string line(const std::string& prefix) const {
    std::istringstream in(out_.str());
    for (std::string l; std::getline(in, l);) {
      if (l.starts_with(prefix)) return l;
    }
    return "";
  }

  std::ostringstream out_;
  std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink_;
  spdlog::level::level_enum saved_level_ = spdlog::level::info;
};

TEST_F(PayloadCapture, ToolUseLines) {
  std::string umlauts;
  for (int i = 0; i < 600; ++i) umlauts += "\xC3\xBC";  // 600 characters, 1200 bytes
  json payload = {
      {"tool_name", "Bash"}, {"tool_use_id", "t1"}, {"tool_input", {{"command", umlauts}}}, {"session_id", "s"}};
  log_payload_capture(payload);
  EXPECT_EQ(line("info PAYLOAD_KEYS"),
            R"(info PAYLOAD_KEYS: ["session_id", "tool_input", "tool_name", "tool_use_id"])");
  EXPECT_EQ(line("info PAYLOAD_TYPE"),
            R"(info PAYLOAD_TYPE: tool_use (matched keys: ["tool_input", "tool_name", "tool_use_id"]))");
  EXPECT_EQ(line("debug TOOL_NAME"), R"(debug TOOL_NAME: "Bash")");
  // {"command":" is 12 characters; 488 more make the 500 kept.
  EXPECT_EQ(line("debug TOOL_INPUT"),
            "debug TOOL_INPUT: {\"command\":\"" + umlauts.substr(0, 488 * 2) + "... [truncated]");
  EXPECT_EQ(line("debug SESSION_ID"), R"(debug SESSION_ID: "s")");
  EXPECT_NE(line("debug PAYLOAD_CAPTURE (full JSON):"), "");
}

TEST_F(PayloadCapture, ToolNameAndInputFallbacks) {
  log_payload_capture(json{{"toolName", "exec"}, {"params", {{"cmd", "ls"}}}});
  EXPECT_EQ(line("info PAYLOAD_TYPE"), R"(info PAYLOAD_TYPE: tool_use (matched keys: ["toolName"]))");
  EXPECT_EQ(line("debug TOOL_NAME"), R"(debug TOOL_NAME: "exec")");
  EXPECT_EQ(line("debug TOOL_INPUT"), R"(debug TOOL_INPUT: {"cmd":"ls"})");
}

TEST_F(PayloadCapture, PromptFieldsCountCharacters) {
  const std::string e_acute = "\xC3\xA9";
  std::string at_limit;  // 200 characters in 400 bytes: shown whole
  for (int i = 0; i < 200; ++i) at_limit += e_acute;
  std::string over = std::string(199, 'a') + e_acute + "zz";  // 202 characters
  log_payload_capture(json{{"prompt", at_limit}, {"message", over}, {"query", 3}});
  EXPECT_EQ(line("info PAYLOAD_TYPE"), "info PAYLOAD_TYPE: prompt_use");
  EXPECT_EQ(line("debug PAYLOAD_PROMPT_FIELD: prompt"), "debug PAYLOAD_PROMPT_FIELD: prompt = \"" + at_limit + "\"");
  EXPECT_EQ(line("debug PAYLOAD_PROMPT_FIELD: message"), "debug PAYLOAD_PROMPT_FIELD: message = \"" +
                                                             std::string(199, 'a') + e_acute +
                                                             "... [truncated, total 202 chars]\"");
  EXPECT_EQ(line("debug PAYLOAD_PROMPT_FIELD: query"), "") << "only text members are shown";
  // Fields follow the fixed order content, prompt, message, ..., not the key order.
  std::string all = out_.str();
  EXPECT_LT(all.find("PAYLOAD_PROMPT_FIELD: prompt"), all.find("PAYLOAD_PROMPT_FIELD: message"));
}

TEST_F(PayloadCapture, NonObjectPayload) {
  log_payload_capture(json::array({1, 2}));
  EXPECT_EQ(line("info PAYLOAD_KEYS"), "");
  EXPECT_EQ(line("info PAYLOAD_TYPE"), "info PAYLOAD_TYPE: prompt_use");
}

}  // namespace
}  // namespace stelvane::providers
