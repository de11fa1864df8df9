#include "cloud/query.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <uuid/uuid.h>

#include "cli/output.hpp"
#include "common/build_info.hpp"
#include "common/error.hpp"
#include "common/http.hpp"
#include "common/utf8.hpp"
#include "logging/log.hpp"

namespace stelvane::cloud::query {

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

spdlog::logger& log() { return logging::get("stelvane::cloud::query"); }

std::string optional_text(const std::optional<std::string>& value) {
  return value ? fmt::format("Some({})", json(*value).dump()) : std::string("None");
}

std::string new_request_id() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}

std::optional<std::string> host_name() {
  long max = sysconf(_SC_HOST_NAME_MAX);
  std::vector<char> buf(static_cast<size_t>(std::max(max + 1, 256L)), '\0');
  if (gethostname(buf.data(), buf.size() - 1) != 0) return std::nullopt;
  std::string name(buf.data());  // ends at the first NUL
  if (!common::is_valid_utf8(name)) return std::nullopt;
  return name;
}

std::optional<std::string> user_name() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(static_cast<size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buf.data(), buf.size(), &found) != 0 || found == nullptr) return std::nullopt;
  if (found->pw_name == nullptr) return std::nullopt;
  std::string name(found->pw_name);
  if (name.empty() || !common::is_valid_utf8(name)) return std::nullopt;
  return name;
}

std::optional<std::string> session_id(const json& payload) {
  if (payload.is_object()) {
    auto it = payload.find("session_id");
    if (it != payload.end() && it->is_string()) return it->get<std::string>();
  }
  return std::nullopt;
}

ordered_json meta_data(const HookClient& client, std::string_view type, const json& payload) {
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  if (since_epoch.count() < 0) throw Error("Unable to get current timestamp");
  ordered_json meta;
  meta["ts"] = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
  meta["installation_id"] = client.config != nullptr ? client.config->install_id : std::string();
  meta["request_id"] = new_request_id();
  if (auto host = host_name()) {
    meta["hostname"] = *host;
  } else {
    log().warn("Unable to get localhostname");
  }
  if (auto session = session_id(payload)) {
    meta["session_id"] = *session;
  } else {
    log().warn("Unable to find a session id in hook data");
  }
  meta["source"] = std::string(providers::source_name(client.provider));
  meta["type"] = std::string(type);
  if (auto user = user_name()) meta["username"] = *user;
  meta["ppid"] = static_cast<long long>(getppid());
  ordered_json version;
  version["version"] = build::kVersion;
  version["hash"] = build::kBuildId;
  meta["version"] = std::move(version);
  return meta;
}

ordered_json request_document(const HookClient& client, std::string_view type, const json& payload) {
  ordered_json doc;
  doc["meta_data"] = meta_data(client, type, payload);
  // A parsed payload keeps its object members sorted; the conversion keeps that order.
  doc[std::string(type)] = ordered_json(payload);
  return doc;
}

common::http::Request hook_request(const HookClient& client, std::string body) {
  common::http::Request req;
  req.method = "POST";
  req.url = client.endpoint;
  req.header("nx-secret", client.secret);
  req.json(std::move(body), "application/json; charset=UTF-8");
  req.timeout = std::chrono::seconds(kTimeoutSeconds);
  return req;
}

long long elapsed_ms(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Serialises the document (and, for debug logs, its pretty form).
std::string serialize(const ordered_json& doc, const char* kind, const char* failure) {
  try {
    if (log().should_log(spdlog::level::debug)) log().debug("CLOUD_REQUEST ({}):\n{}", kind, doc.dump(2));
    return doc.dump();
  } catch (const std::exception& e) {
    throw Error::wrap(failure, e);
  }
}

}  // namespace

HookUrl split_hook_url(const std::string& url) {
  return with_context("Unable to get secret from " + url, [&] {
    auto parsed = boost::urls::parse_uri(url);
    if (!parsed) throw Error("Invalid webhook URL format", {parsed.error().message()});
    boost::urls::url u(*parsed);
    if (!u.has_authority() && !u.is_path_absolute()) throw Error("Webhook URL has no path segments");
    std::vector<std::string> segments;
    for (auto segment : u.encoded_segments()) segments.emplace_back(segment);
    if (segments.size() < 3) {
      throw Error("Invalid webhook URL format. Expected: https://hooks.domain/oid/name/secret");
    }
    HookUrl out;
    out.secret = segments.back();
    if (out.secret.empty()) throw Error("Secret segment in webhook URL cannot be empty");
    segments.pop_back();
    std::string path;
    for (const auto& segment : segments) path += "/" + segment;
    u.set_encoded_path(path);
    out.endpoint = std::string(u.buffer());
    return out;
  });
}

HookClient create_hook_client(const config::Config& config, providers::ProviderKind kind) {
  if (config.org.oid.empty() || config.org.url.empty()) {
    cli::print_not_logged_in();
    throw Error("Not yet authorized");
  }
  log().info("Authorized for oid={}", config.org.oid);
  HookUrl parts = split_hook_url(config.org.url);
  log().info("Using url={}", parts.endpoint);
  return HookClient{std::move(parts.endpoint), std::move(parts.secret), &config, kind};
}

std::string build_request(const HookClient& client, std::string_view type, const json& payload) {
  return request_document(client, type, payload).dump();
}

CloudResponse parse_cloud_response(std::string_view body) {
  try {
    json doc = json::parse(body);
    if (!doc.is_object()) throw Error("expected a JSON object, found " + std::string(doc.type_name()));
    auto it = doc.find("success");
    if (it == doc.end()) throw Error("missing field `success`");
    CloudResponse out;
    if (!it->is_boolean()) throw Error("invalid type for `success`: expected a boolean");
    out.success = it->get<bool>();
    auto text = [&](const char* name, std::optional<std::string>& slot) {
      auto m = doc.find(name);
      if (m == doc.end() || m->is_null()) return;
      if (!m->is_string()) throw Error(fmt::format("invalid type for `{}`: expected a string", name));
      slot = m->get<std::string>();
    };
    text("reason", out.reason);
    text("error", out.error);
    text("rule", out.rule);
    auto rejected = doc.find("rejected");
    if (rejected != doc.end() && !rejected->is_null()) {
      if (!rejected->is_boolean()) throw Error("invalid type for `rejected`: expected a boolean");
      out.rejected = rejected->get<bool>();
    }
    return out;
  } catch (const std::exception& e) {
    throw Error::wrap("Authorization server returned invalid JSON response", e);
  }
}

std::string block_message(const CloudResponse& response) {
  std::string message = "Command blocked by policy.";
  if (response.reason) message += " Reason: " + *response.reason;
  if (response.rule) message += " Rule: " + *response.rule;
  if (response.error) message += " Error: " + *response.error;
  return message;
}

AuthResult authorize(const HookClient& client, const json& payload) {
  log().debug("Preparing authorization request to cloud");
  log().debug("Session ID: {}", optional_text(session_id(payload)));
  ordered_json doc = request_document(client, "auth", payload);
  std::string body = serialize(doc, "auth", "Failed to serialize authorization request");
  log().debug("Sending authorization to: {}", client.endpoint);
  log().debug("Timeout: {}s", kTimeoutSeconds);

  auto start = Clock::now();
  common::http::Response res;
  try {
    res = common::http::request(hook_request(client, std::move(body)));
  } catch (const std::exception& e) {
    throw Error::wrap("Failed to connect to hook server at " + client.endpoint, e);
  }
  long long rtt = elapsed_ms(start);
  log().debug("Authorization response: status={}, rtt={}ms", res.status, rtt);

  if (!res.ok()) {
    std::string text = common::is_valid_utf8(res.body) ? res.body : std::string("Unknown error");
    throw Error(fmt::format("Authorization request failed with status {}: {}", res.status, text));
  }
  if (!common::is_valid_utf8(res.body)) {
    throw Error(fmt::format("Authorization response body is not valid UTF-8 (valid up to byte {})",
                            common::valid_utf8_prefix(res.body)));
  }
  log().debug("Cloud response body: {}", res.body);
  CloudResponse answer = parse_cloud_response(res.body);
  log().info("Authorization result: allow={} reason={} (rtt={}ms)", answer.success, optional_text(answer.reason), rtt);
  if (answer.success) return AuthResult{};
  std::string message = block_message(answer);
  log().debug("Block message: {}", message);
  return AuthResult{false, std::move(message)};
}

void notify(const HookClient& client, json payload) {
  log().debug("Preparing notification request to cloud");
  log().debug("Session ID: {}", optional_text(session_id(payload)));
  ordered_json doc = request_document(client, "notify", payload);
  payload = json();  // consumed: the document holds its own copy
  std::string body = serialize(doc, "notify", "Failed to serialize notification request");
  log().debug("Sending notification to: {}", client.endpoint);

  auto start = Clock::now();
  try {
    common::http::Response res = common::http::request(hook_request(client, std::move(body)));
    long long rtt = elapsed_ms(start);
    log().debug("Notification response: status={}", res.status);
    log().info("Notification sent (status={}, rtt={}ms)", res.status, rtt);
  } catch (const Error& e) {
    log().error("Notification failed (rtt={}ms): {}", elapsed_ms(start), e.chain());
  }
}

}  // namespace stelvane::cloud::query
