#pragma once
// Outbound HTTP: the one place where the program talks to other machines.
//
// Every request goes to an absolute http or https URL. TLS is always verified
// (certificate chain and host name) against the system's trusted roots, looked up
// on demand in the hashed CA directory; SSL_CERT_FILE and SSL_CERT_DIR point at
// another trust store. Each request has a deadline for the whole exchange
// (connect, TLS, sending and reading), not just per socket operation. The names
// "localhost" and "*.localhost" always mean 127.0.0.1 and never reach the
// resolver; certificates are still checked against the name in the URL.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stelvane::common::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method = "GET";
  std::string url;  // absolute http:// or https:// URL
  Headers headers;  // sent as given; a User-Agent here replaces the program's own
  std::string body;
  // The deadline for the whole request, redirects included.
  std::chrono::milliseconds timeout{std::chrono::seconds(30)};
  bool follow_redirects = false;

  // Sets the body and its Content-Type ("application/json" unless given).
  Request& json(std::string text, std::string content_type = "application/json");
  // Sets an application/x-www-form-urlencoded body from the fields, in order.
  Request& form(const std::vector<std::pair<std::string, std::string>>& fields);
  Request& header(std::string name, std::string value);
};

struct Response {
  int status = 0;
  Headers headers;
  std::string body;
  std::string url;  // the URL that gave this answer (differs after redirects)

  // The first header of that name (case-insensitive), if any.
  std::optional<std::string> header(std::string_view name) const;
  bool ok() const { return status >= 200 && status <= 299; }
};

// Sends the request and returns the answer, whatever its status. Throws Error
// "Failed to send {method} request to {url}" when no answer arrives: invalid URL,
// name resolution, connection, TLS verification, deadline, malformed answer.
Response request(const Request& req);

// Percent-encodes everything except unreserved characters (RFC 3986).
std::string url_encode(std::string_view text);

// The name a request to `host` connects to: "127.0.0.1" for localhost names,
// otherwise the host itself.
std::string connect_address(std::string_view host);

}  // namespace stelvane::common::http
