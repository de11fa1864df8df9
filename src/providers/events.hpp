#pragma once
// The assistant-independent handling of one hook event: read it from standard
// input, log what it holds, ask the cloud about a tool use or report anything
// else, and hand the decision to the provider, which answers the assistant.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "cloud/query.hpp"
#include "config/loader.hpp"
#include "providers/mod.hpp"

namespace stelvane::providers {

// The whole run of one event read from standard input. Throws Error "Unable to
// read from stdin" (unreadable or not UTF-8), "Unable to deserialize" (not JSON)
// or the provider's write_response error; empty input ends quietly.
void run_callback(Provider& provider, const cloud::query::HookClient& client, const config::Config& config);

// The run of one event when the cloud client could not be set up and the user
// chose to fail closed: a tool use is blocked with the cloud-failure reason built
// from `error_message`, anything else is approved. Input errors as run_callback.
void run_callback_without_cloud(Provider& provider, const config::Config& config, std::string_view error_message);

// Whether the payload is an object with "tool_input", "tool_name", "tool_use_id"
// or "toolName".
bool is_tool_use(const nlohmann::json& payload);

// The cloud's verdict on a tool use; a cloud failure approves when fail_open is
// on and blocks with "{program} cloud failure ({error})" otherwise. Never throws.
HookDecision authorize_tool_use(const cloud::query::HookClient& client, const config::Config& config,
                                const nlohmann::json& payload);

// The reason given when a tool use is blocked because the cloud failed.
std::string cloud_failure_reason(std::string_view error_message);

// For a stop event without "assistant_response", adds the assistant's last answer
// taken from the transcript named by "transcript_path", when there is one.
nlohmann::json enrich_stop_event(nlohmann::json payload);

// The text of the last assistant turn of a JSON Lines transcript, if any.
std::optional<std::string> last_assistant_text(const std::string& path);

// Diagnostic log lines describing the payload.
void log_payload_capture(const nlohmann::json& payload);

// The first `max_chars` characters (code points) of UTF-8 text, never cutting a
// sequence, and the text's length in characters.
std::string_view first_chars(std::string_view text, std::size_t max_chars);
std::size_t char_count(std::string_view text);

}  // namespace stelvane::providers
