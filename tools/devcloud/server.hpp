#pragma once
// The reference cloud's HTTP(S) server: the hook endpoint, and a local control
// route through which tests inject faults while it runs.

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "state.hpp"

namespace devcloud {

// Misbehaviour of the hook endpoint, for exercising the program's failure paths.
// Several can be combined: the delay comes first, then a closed connection, then
// the shaping of the answer.
struct Faults {
  int delay_ms = 0;         // wait this long before answering
  int status = 0;           // answer with this status instead of the verdict's own
  bool garbage = false;     // a body that is not JSON
  bool no_success = false;  // a JSON body without "success"
  int trickle_ms = 0;       // send the body one byte at a time, pausing this long
  bool close = false;       // close the connection without any answer

  bool any() const { return delay_ms > 0 || status > 0 || garbage || no_success || trickle_ms > 0 || close; }
  nlohmann::json to_json() const;
  // Reads the members present in `j`; absent ones are off. Throws
  // std::invalid_argument for members of the wrong type or unknown names.
  static Faults from_json(const nlohmann::json& j);
};

struct ServeOptions {
  std::optional<int> http_port;  // plain HTTP only when set; 0 picks a free port
  int tls_port = 8443;           // 0 picks a free port
  Faults faults;
};

// Serves until SIGINT or SIGTERM arrives; both must be blocked in the calling
// thread before any other thread starts. Returns the process exit status.
int serve(Store& store, const ServeOptions& options);

// The hook host of an organization ("{oid}.hook.localhost").
std::string hook_host(const std::string& oid);

}  // namespace devcloud
