#pragma once
// The client of the organization's hook endpoint in the cloud: authorization of
// tool use (allow or deny) and notification of every other event.
//
// The hook URL in config.json is https://{hook host}/{oid}/{name}/{secret}; the
// last path segment is the secret, sent in the "nx-secret" header, and the rest is
// the endpoint that receives the POST.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "config/loader.hpp"
#include "providers/mod.hpp"

namespace stelvane::cloud::query {

// Both requests must be answered within this time, connection included.
inline constexpr int kTimeoutSeconds = 10;

// One per hook run.
struct HookClient {
  std::string endpoint;                    // the hook URL without its secret segment
  std::string secret;                      // the last path segment of the hook URL, never empty
  const config::Config* config = nullptr;  // borrowed; supplies install_id
  providers::ProviderKind provider = providers::ProviderKind::ClaudeCode;
};

// The endpoint and secret of a hook URL. Throws Error "Unable to get secret from
// {url}" with the reason as cause.
struct HookUrl {
  std::string endpoint;
  std::string secret;
};
HookUrl split_hook_url(const std::string& url);

// Throws Error "Not yet authorized" (after printing the not-logged-in notice) when
// no organization is configured, or the errors of split_hook_url.
HookClient create_hook_client(const config::Config& config, providers::ProviderKind kind);

// The verdict on a tool use.
struct AuthResult {
  bool allowed = true;
  std::string block_message;  // set when denied
};

// Asks the cloud whether the tool use in `payload` may proceed. Throws Error on
// transport failures, non-2xx statuses and answers that are not a valid verdict.
AuthResult authorize(const HookClient& client, const nlohmann::json& payload);

// Reports an event. Never fails because of the network or the answer; throws
// only when the request cannot be built.
void notify(const HookClient& client, nlohmann::json payload);

// The answer body of an authorization.
struct CloudResponse {
  bool success = false;
  std::optional<std::string> reason;
  std::optional<std::string> error;
  std::optional<bool> rejected;
  std::optional<std::string> rule;
};
// Throws Error when `body` is not a JSON object with a boolean "success" and
// optional string "reason", "error", "rule" and boolean "rejected".
CloudResponse parse_cloud_response(std::string_view body);
// "Command blocked by policy." then " Reason: …", " Rule: …", " Error: …" when set.
std::string block_message(const CloudResponse& response);

// The request document: {"meta_data": {...}, type: payload}, meta_data members in
// their fixed order, optional members left out. `type` is "auth" or "notify".
// Compact JSON, as sent.
std::string build_request(const HookClient& client, std::string_view type, const nlohmann::json& payload);

}  // namespace stelvane::cloud::query
