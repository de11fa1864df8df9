#include "common/http.hpp"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include "common/error.hpp"
#include "resources/resources.hpp"

namespace stelvane::common::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRedirects = 10;

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Where one request goes, taken apart from its URL.
struct Target {
  bool tls = false;
  std::string host;  // as written in the URL (used for SNI and certificate checks)
  int port = 0;
  std::string path;  // encoded path and query, never empty
};

Target parse_target(const std::string& url) {
  auto parsed = boost::urls::parse_uri(url);
  if (!parsed) throw Error("Invalid URL " + url, {parsed.error().message()});
  const boost::urls::url_view& u = *parsed;
  Target t;
  if (u.scheme_id() == boost::urls::scheme::https) {
    t.tls = true;
  } else if (u.scheme_id() != boost::urls::scheme::http) {
    throw Error("Unsupported URL scheme '" + std::string(u.scheme()) + "' in " + url);
  }
  if (!u.has_authority() || u.encoded_host().empty()) throw Error("URL " + url + " has no host");
  t.host = u.host_address();
  t.port = t.tls ? 443 : 80;
  if (u.has_port() && !u.port().empty()) {
    std::string_view digits = u.port();
    int port = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || port < 1 || port > 65535) {
      throw Error("Invalid port '" + std::string(digits) + "' in " + url);
    }
    t.port = port;
  }
  t.path = u.encoded_path().empty() ? std::string("/") : std::string(u.encoded_path());
  if (u.has_query()) t.path += "?" + std::string(u.encoded_query());
  return t;
}

// The trust store: SSL_CERT_FILE and/or SSL_CERT_DIR when either is set, otherwise
// OpenSSL's default certificate directory. Directories are searched by subject
// hash when a chain is verified, so only the certificates needed are ever read.
struct TrustStore {
  std::string file;
  std::string dir;
};

TrustStore trust_store() {
  TrustStore store;
  const char* file = std::getenv(X509_get_default_cert_file_env());
  const char* dir = std::getenv(X509_get_default_cert_dir_env());
  if (file && *file) store.file = file;
  if (dir && *dir) store.dir = dir;
  if (store.file.empty() && store.dir.empty()) store.dir = X509_get_default_cert_dir();
  return store;
}

// Stops a request that runs past its deadline. cpp-httplib only bounds single
// socket operations, so a peer that sends a byte now and then could hold a request
// open forever; once the deadline passes, the watchdog shuts the socket down
// (repeatedly, in case a new one is opened) until the request has returned.
class Watchdog {
 public:
  explicit Watchdog(Clock::time_point deadline) : thread_([this, deadline] { watch(deadline); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void set_socket(int fd) { socket_.store(fd); }
  bool fired() const { return fired_.load(); }

 private:
  void watch(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (wake_.wait_until(lock, deadline, [this] { return done_; })) return;
    fired_.store(true);
    while (!done_) {
      int fd = socket_.load();
      if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
      wake_.wait_for(lock, std::chrono::milliseconds(20), [this] { return done_; });
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<int> socket_{-1};
  std::atomic<bool> fired_{false};
  std::thread thread_;  // last: starts after the members it uses exist
};

std::string describe(httplib::Error error, const Target& target, const httplib::ClientImpl* client, bool tls) {
  std::string where = target.host + ":" + std::to_string(target.port);
  switch (error) {
    case httplib::Error::Connection: return "Unable to connect to " + where;
    case httplib::Error::ConnectionTimeout: return "Connection to " + where + " timed out";
    case httplib::Error::Read: return "Unable to read the answer from " + where;
    case httplib::Error::Write: return "Unable to send the request to " + where;
    case httplib::Error::SSLConnection: return "TLS handshake with " + where + " failed";
    case httplib::Error::SSLLoadingCerts: return "Unable to load the trusted certificates";
    case httplib::Error::SSLServerVerification: {
      long code = X509_V_OK;
      if (tls) code = static_cast<const httplib::SSLClient*>(client)->get_openssl_verify_result();
      if (code != X509_V_OK) {
        return "Certificate of " + target.host + " not trusted: " + X509_verify_cert_error_string(code);
      }
      return "Certificate of " + where + " does not match the host name " + target.host;
    }
    default: return "Request to " + where + " failed (" + httplib::to_string(error) + ")";
  }
}

std::string timeout_message(std::chrono::milliseconds timeout) {
  auto ms = timeout.count();
  if (ms % 1000 == 0) return "Request timed out after " + std::to_string(ms / 1000) + "s";
  return "Request timed out after " + std::to_string(ms) + "ms";
}

// One exchange with one server; `deadline` bounds all of it.
Response send_once(const std::string& method, const std::string& url, const Headers& headers, const std::string& body,
                   Clock::time_point deadline, std::chrono::milliseconds timeout) {
  Target target = parse_target(url);
  std::string address = connect_address(target.host);

  std::unique_ptr<httplib::ClientImpl> client;
  if (target.tls) {
    auto ssl = std::make_unique<httplib::SSLClient>(target.host, target.port);
    TrustStore store = trust_store();
    ssl->set_ca_cert_path(store.file, store.file.empty() ? store.dir : std::string());
    if (!store.file.empty() && !store.dir.empty()) {
      SSL_CTX_load_verify_locations(ssl->ssl_context(), nullptr, store.dir.c_str());
    }
    ssl->enable_server_certificate_verification(true);
    client = std::move(ssl);
  } else {
    client = std::make_unique<httplib::ClientImpl>(target.host, target.port);
  }
  if (address != target.host) client->set_hostname_addr_map({{target.host, address}});

  auto remaining = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (remaining.count() <= 0) throw Error(timeout_message(timeout));
  client->set_connection_timeout(remaining);
  client->set_read_timeout(remaining);
  client->set_write_timeout(remaining);
  client->set_keep_alive(false);
  client->set_follow_location(false);
  client->set_url_encode(false);
  client->set_tcp_nodelay(true);

  Watchdog watchdog(deadline);
  client->set_socket_options([&watchdog](socket_t sock) { watchdog.set_socket(sock); });

  httplib::Request req;
  req.method = method;
  req.path = target.path;
  bool has_agent = false;
  for (const auto& [name, value] : headers) {
    if (iequals(name, "User-Agent")) has_agent = true;
    req.headers.emplace(name, value);
  }
  if (!has_agent) req.headers.emplace("User-Agent", std::string(resources::user_agent()));
  req.body = body;

  httplib::Result result = client->send(req);
  bool timed_out = watchdog.fired();
  if (!result) {
    if (timed_out || Clock::now() >= deadline || result.error() == httplib::Error::ConnectionTimeout) {
      throw Error(timeout_message(timeout));
    }
    throw Error(describe(result.error(), target, client.get(), target.tls));
  }
  if (timed_out) throw Error(timeout_message(timeout));

  Response response;
  response.status = result->status;
  response.body = std::move(result->body);
  response.url = url;
  for (const auto& [name, value] : result->headers) response.headers.emplace_back(name, value);
  return response;
}

bool is_redirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string resolve_location(const std::string& base, const std::string& location) {
  auto base_url = boost::urls::parse_uri(base);
  auto ref = boost::urls::parse_uri_reference(location);
  if (!base_url || !ref) throw Error("Invalid redirect location '" + location + "'");
  boost::urls::url out;
  auto resolved = boost::urls::resolve(*base_url, *ref, out);
  if (!resolved) throw Error("Invalid redirect location '" + location + "'", {resolved.error().message()});
  out.remove_fragment();
  return std::string(out.buffer());
}

}  // namespace

Request& Request::json(std::string text, std::string content_type) {
  body = std::move(text);
  return header("Content-Type", std::move(content_type));
}

Request& Request::form(const std::vector<std::pair<std::string, std::string>>& fields) {
  body.clear();
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += url_encode(name) + '=' + url_encode(value);
  }
  return header("Content-Type", "application/x-www-form-urlencoded");
}

Request& Request::header(std::string name, std::string value) {
  headers.emplace_back(std::move(name), std::move(value));
  return *this;
}

std::optional<std::string> Response::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (iequals(key, name)) return value;
  }
  return std::nullopt;
}

std::string url_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string connect_address(std::string_view host) {
  std::string name = lower(host);
  if (!name.empty() && name.back() == '.') name.pop_back();
  constexpr std::string_view kSuffix = ".localhost";
  if (name == "localhost" || (name.size() > kSuffix.size() && name.ends_with(kSuffix))) return "127.0.0.1";
  return std::string(host);
}

Response request(const Request& req) {
  auto deadline = Clock::now() + req.timeout;
  return with_context("Failed to send " + req.method + " request to " + req.url, [&] {
    std::string method = req.method;
    std::string url = req.url;
    Headers headers = req.headers;
    std::string body = req.body;
    for (int hop = 0;; ++hop) {
      Response response = send_once(method, url, headers, body, deadline, req.timeout);
      if (!req.follow_redirects || !is_redirect(response.status)) return response;
      auto location = response.header("Location");
      if (!location) return response;
      if (hop == kMaxRedirects) throw Error("Too many redirects (more than " + std::to_string(kMaxRedirects) + ")");
      std::string next = resolve_location(url, *location);
      // Credentials meant for one host are not handed to another.
      if (parse_target(next).host != parse_target(url).host) {
        std::erase_if(headers, [](const auto& h) { return iequals(h.first, "Authorization"); });
      }
      url = std::move(next);
      // 303 always, and 301/302 after a POST, continue as a GET without a body.
      if (response.status == 303 || ((response.status == 301 || response.status == 302) && method == "POST")) {
        if (method != "HEAD") method = "GET";
        body.clear();
        std::erase_if(headers, [](const auto& h) {
          return iequals(h.first, "Content-Type") || iequals(h.first, "Content-Length");
        });
      }
    }
  });
}

}  // namespace stelvane::common::http
