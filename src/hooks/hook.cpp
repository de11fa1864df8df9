#include "hooks/hook.hpp"

#include <chrono>
#include <optional>

#include <nlohmann/json.hpp>

#include "cloud/query.hpp"
#include "common/build_info.hpp"
#include "common/error.hpp"
#include "config/loader.hpp"
#include "logging/log.hpp"
#include "providers/events.hpp"

namespace stelvane::hooks {

namespace {

spdlog::logger& log() { return logging::get("stelvane::hooks::hook"); }

// The hook client, or nothing when it cannot be created (the error is logged and,
// with fail_open off, returned through `failure`).
std::optional<cloud::query::HookClient> create_client(const config::Config& config, providers::ProviderKind kind,
                                                      std::optional<Error>& failure) {
  try {
    try {
      return cloud::query::create_hook_client(config, kind);
    } catch (const std::exception& e) {
      throw Error::wrap("Unable to initialize Cloud API", e);
    }
  } catch (const Error& e) {
    log().error("Unable to init cloud {}", e.message());
    if (config.user.fail_open) {
      log().debug("fail_open=true, allowing despite cloud init failure");
    } else {
      failure = e;
    }
    return std::nullopt;
  }
}

void require_organization(const config::Config& config, const char* debug_line) {
  if (config.org.oid.empty() || config.org.url.empty()) {
    log().debug(fmt::runtime(debug_line), config.org.oid, config.org.url);
    throw Error("not authorized");
  }
}

}  // namespace

void run_hook(providers::ProviderKind kind) {
  log().info("{} hook starting for provider: {}", build::kProgramName, providers::diagnostic_name(kind));
  config::Config config = config::load_config();
  log().debug("Config loaded: audit_tool_use={}, audit_prompts={}, fail_open={}, debug={}", config.user.audit_tool_use,
              config.user.audit_prompts, config.user.fail_open, config.user.debug);
  require_organization(config, "Organization not authorized (oid={}, url={})");
  log().debug("Organization authorized: oid={}", config.org.oid);

  std::optional<Error> failure;
  std::optional<cloud::query::HookClient> client = create_client(config, kind, failure);
  if (!client) {
    if (!failure) return;  // fail_open: nothing read, nothing written
    // Failing closed must still block: an assistant reads any non-zero exit status
    // other than its own blocking code as "go ahead", so the event is read and a
    // tool use is answered with a block decision instead.
    std::unique_ptr<providers::Provider> provider = providers::create_for_kind(kind);
    providers::run_callback_without_cloud(*provider, config, failure->message());
    return;
  }
  log().debug("Cloud API initialized successfully");
  log().debug("Delegating to provider-specific IO handler");
  std::unique_ptr<providers::Provider> provider = providers::create_for_kind(kind);
  providers::run_callback(*provider, *client, config);
}

void run_codex_hook(const std::string& payload) {
  log().info("{} codex hook starting", build::kProgramName);
  log().debug("Codex receives payload via CLI argument (not stdin)");
  config::Config config = config::load_config();
  log().debug("Config loaded: audit_prompts={}, fail_open={}", config.user.audit_prompts, config.user.fail_open);
  if (config.org.oid.empty() || config.org.url.empty()) {
    log().debug("Organization not authorized, failing");
    throw Error("not authorized");
  }
  std::optional<Error> failure;
  std::optional<cloud::query::HookClient> client = create_client(config, providers::ProviderKind::Codex, failure);
  if (!client) {
    if (failure) throw *failure;
    return;
  }
  log().debug("Cloud API initialized successfully");
  log().info("Received JSON payload (length={})", payload.size());
  nlohmann::json event;
  try {
    event = nlohmann::json::parse(payload);
  } catch (const std::exception& e) {
    throw Error::wrap("Unable to deserialize JSON payload", e);
  }
  providers::log_payload_capture(event);
  auto start = std::chrono::steady_clock::now();
  if (config.user.audit_prompts) {
    log().debug("Sending Codex notification to cloud");
    try {
      cloud::query::notify(*client, std::move(event));
      log().debug("Cloud notification sent successfully");
    } catch (const std::exception& e) {
      log().error("Unable to notify cloud ({})", e.what());
    }
  } else {
    log().info("audit_prompts disabled, skipping cloud notification");
  }
  log().info("Codex hook completed in {}ms",
             std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace stelvane::hooks
