#include "providers/events.hpp"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "common/build_info.hpp"
#include "common/error.hpp"
#include "common/utf8.hpp"
#include "logging/log.hpp"

namespace stelvane::providers {

namespace {

using nlohmann::json;

spdlog::logger& log() { return logging::get("stelvane::providers"); }

constexpr const char* kToolKeys[] = {"tool_input", "tool_name", "tool_use_id", "toolName"};
constexpr const char* kPromptKeys[] = {"content", "prompt", "message", "text", "user_prompt", "input", "query"};
constexpr const char* kStopEvents[] = {"Stop", "afterAgentResponse", "AfterAgent", "session.idle"};
constexpr std::size_t kToolInputChars = 500;
constexpr std::size_t kPromptChars = 200;

const json* member(const json& payload, const char* name) {
  if (!payload.is_object()) return nullptr;
  auto it = payload.find(name);
  return it == payload.end() ? nullptr : &*it;
}

// ["a", "b"]
std::string list_text(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const auto& item : items) {
    if (out.size() > 1) out += ", ";
    out += json(item).dump();
  }
  return out + "]";
}

std::string read_stdin() {
  std::string data;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error::wrap("Unable to read from stdin", Error::from_errno("Read failed", errno));
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  if (!common::is_valid_utf8(data)) {
    throw Error("Unable to read from stdin", {fmt::format("stream did not contain valid UTF-8 (valid up to byte {})",
                                                          common::valid_utf8_prefix(data))});
  }
  return data;
}

long long elapsed_ms(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::size_t char_count(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string_view first_chars(std::string_view text, std::size_t max_chars) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (seen == max_chars) return text.substr(0, i);
      ++seen;
    }
  }
  return text;
}

bool is_tool_use(const json& payload) {
  for (const char* key : kToolKeys) {
    if (member(payload, key) != nullptr) return true;
  }
  return false;
}

std::string cloud_failure_reason(std::string_view error_message) {
  return fmt::format("{} cloud failure ({})", build::kProgramName, error_message);
}

HookDecision authorize_tool_use(const cloud::query::HookClient& client, const config::Config& config,
                                const json& payload) {
  try {
    cloud::query::AuthResult result = cloud::query::authorize(client, payload);
    if (result.allowed) return HookDecision::approve();
    log().warn("Deny reason: {}", result.block_message);
    return HookDecision::block(result.block_message);
  } catch (const std::exception& e) {
    log().error("cloud failed ({})", e.what());
    if (config.user.fail_open) return HookDecision::approve();
    return HookDecision::block(cloud_failure_reason(e.what()));
  }
}

std::optional<std::string> last_assistant_text(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::optional<json> turn;  // the "content" array of the last assistant turn
  char* line = nullptr;
  std::size_t capacity = 0;
  for (;;) {
    errno = 0;
    ssize_t n = ::getline(&line, &capacity, file);
    if (n < 0) break;  // end of file or a read error: keep what was found
    std::string_view text(line, static_cast<std::size_t>(n));
    if (text.ends_with('\n')) text.remove_suffix(1);
    if (text.ends_with('\r')) text.remove_suffix(1);
    if (!common::is_valid_utf8(text)) break;
    json value = json::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_object()) continue;
    const json* type = member(value, "type");
    const json* message = member(value, "message");
    if (type == nullptr || *type != "assistant" || message == nullptr || !message->is_object()) continue;
    const json* content = member(*message, "content");
    if (content == nullptr || !content->is_array()) continue;
    turn = *content;
  }
  std::free(line);
  std::fclose(file);
  if (!turn) return std::nullopt;
  std::string joined;
  bool any = false;
  for (const auto& item : *turn) {
    const json* type = member(item, "type");
    const json* text = member(item, "text");
    if (type == nullptr || *type != "text" || text == nullptr || !text->is_string()) continue;
    if (any) joined += "\n";
    joined += text->get<std::string>();
    any = true;
  }
  if (!any) return std::nullopt;
  return joined;
}

json enrich_stop_event(json payload) {
  const json* event = member(payload, "hook_event_name");
  std::string name = event != nullptr && event->is_string() ? event->get<std::string>() : std::string();
  bool stop = false;
  for (const char* candidate : kStopEvents) stop = stop || name == candidate;
  if (!stop) return payload;
  log().info("Detected stop event: {}", name);
  if (member(payload, "assistant_response") != nullptr) {
    log().info("Response already present in payload");
    return payload;
  }
  const json* transcript = member(payload, "transcript_path");
  if (transcript != nullptr && transcript->is_string()) {
    if (auto text = last_assistant_text(transcript->get<std::string>())) {
      log().info("Extracted response from transcript ({} chars)", text->size());
      if (payload.is_object()) payload["assistant_response"] = *text;
    }
  }
  return payload;
}

void log_payload_capture(const json& payload) {
  auto& logger = log();
  if (logger.should_log(spdlog::level::debug)) logger.debug("PAYLOAD_CAPTURE (full JSON):\n{}", payload.dump(2));
  if (payload.is_object()) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : payload.items()) keys.push_back(key);
    logger.info("PAYLOAD_KEYS: {}", list_text(keys));
  }
  std::vector<std::string> matched;
  for (const char* key : kToolKeys) {
    if (member(payload, key) != nullptr) matched.emplace_back(key);
  }
  if (!matched.empty()) {
    logger.info("PAYLOAD_TYPE: tool_use (matched keys: {})", list_text(matched));
    const json* name = member(payload, "tool_name");
    if (name == nullptr) name = member(payload, "toolName");
    if (name != nullptr) logger.debug("TOOL_NAME: {}", name->dump());
    const json* input = member(payload, "tool_input");
    if (input == nullptr) input = member(payload, "params");
    if (input != nullptr && logger.should_log(spdlog::level::debug)) {
      std::string text = input->dump();
      if (char_count(text) > kToolInputChars) {
        logger.debug("TOOL_INPUT: {}... [truncated]", first_chars(text, kToolInputChars));
      } else {
        logger.debug("TOOL_INPUT: {}", text);
      }
    }
  } else {
    logger.info("PAYLOAD_TYPE: prompt_use");
  }
  for (const char* key : kPromptKeys) {
    const json* value = member(payload, key);
    if (value == nullptr || !value->is_string()) continue;
    const auto& text = value->get_ref<const std::string&>();
    std::size_t total = char_count(text);
    if (total > kPromptChars) {
      logger.debug("PAYLOAD_PROMPT_FIELD: {} = \"{}... [truncated, total {} chars]\"", key,
                   first_chars(text, kPromptChars), total);
    } else {
      logger.debug("PAYLOAD_PROMPT_FIELD: {} = \"{}\"", key, text);
    }
  }
  if (const json* session = member(payload, "session_id")) logger.debug("SESSION_ID: {}", session->dump());
}

namespace {

// The event on standard input, or nothing when the input is empty.
std::optional<json> read_event() {
  auto& logger = log();
  logger.debug("Hook waiting for input on stdin");
  std::string input = read_stdin();
  logger.debug("Received {} bytes from stdin", input.size());
  if (input.empty()) {
    logger.warn("EOF received, exiting hook");
    return std::nullopt;
  }
  try {
    return json::parse(input);
  } catch (const std::exception& e) {
    throw Error::wrap("Unable to deserialize", e);
  }
}

}  // namespace

void run_callback_without_cloud(Provider& provider, const config::Config& config, std::string_view error_message) {
  auto& logger = log();
  std::optional<json> payload = read_event();
  if (!payload) return;
  log_payload_capture(*payload);
  auto start = std::chrono::steady_clock::now();
  HookDecision decision;
  if (is_tool_use(*payload)) {
    logger.debug("Processing as TOOL_USE event");
    logger.debug("Config: audit_tool_use={}, fail_open={}", config.user.audit_tool_use, config.user.fail_open);
    decision = HookDecision::block(cloud_failure_reason(error_message));
    logger.info("Decision={}", decision_name(decision));
  } else {
    logger.debug("Processing as PROMPT_USE event (notification only)");
    logger.debug("Writing approve response to stdout (prompts always approved)");
  }
  provider.write_response(decision);
  logger.info("Hook completed in {}ms", elapsed_ms(start));
}

void run_callback(Provider& provider, const cloud::query::HookClient& client, const config::Config& config) {
  auto& logger = log();
  std::optional<json> event = read_event();
  if (!event) return;
  json payload = std::move(*event);
  log_payload_capture(payload);
  auto start = std::chrono::steady_clock::now();

  HookDecision decision;
  if (is_tool_use(payload)) {
    logger.debug("Processing as TOOL_USE event");
    logger.debug("Config: audit_tool_use={}, fail_open={}", config.user.audit_tool_use, config.user.fail_open);
    if (config.user.audit_tool_use) {
      logger.debug("Sending tool_use to cloud for authorization");
      decision = authorize_tool_use(client, config, payload);
    } else {
      logger.info("audit_tool_use disabled, approving locally");
      decision = HookDecision::approve();
    }
    logger.info("Decision={}", decision_name(decision));
    logger.debug("Writing response to stdout");
  } else {
    logger.debug("Processing as PROMPT_USE event (notification only)");
    logger.debug("Config: audit_prompts={}", config.user.audit_prompts);
    if (config.user.audit_prompts) {
      logger.debug("Sending prompt to cloud for audit logging");
      try {
        cloud::query::notify(client, enrich_stop_event(std::move(payload)));
        logger.debug("Cloud notification sent successfully");
      } catch (const std::exception& e) {
        logger.error("Unable to notify cloud ({})", e.what());
      }
    } else {
      logger.info("audit_prompts disabled, skipping cloud notification");
    }
    logger.debug("Writing approve response to stdout (prompts always approved)");
    decision = HookDecision::approve();
  }
  provider.write_response(decision);
  logger.info("Hook completed in {}ms", elapsed_ms(start));
}

}  // namespace stelvane::providers
