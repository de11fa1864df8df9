#pragma once
// A configurable HTTP(S) server on 127.0.0.1 for tests of outbound requests: it
// records every request and answers the way a test asks (a canned reply, never,
// a byte at a time, or by dropping the connection). Also a throw-away certificate
// authority for the HTTPS variant.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace stelvane::test {

namespace fs = std::filesystem;

// A certificate authority made for one test, and a server certificate it signed
// for localhost, o1.hook.localhost and 127.0.0.1.
struct TestCa {
  explicit TestCa(const fs::path& dir);
  fs::path ca_file;    // the CA certificate (what SSL_CERT_FILE points at)
  fs::path cert_file;  // the server certificate
  fs::path key_file;   // its private key
};

struct RecordedRequest {
  std::string method;
  std::string path;  // with the query, as sent
  std::multimap<std::string, std::string> headers;
  std::string body;
  // The first header of that name, case-insensitive; empty when missing.
  std::string header(const std::string& name) const;
};

struct Reply {
  Reply(int status_code = 200, std::string text = {}, std::string type = "application/json",
        std::vector<std::pair<std::string, std::string>> extra_headers = {})
      : status(status_code), body(std::move(text)), content_type(std::move(type)), headers(std::move(extra_headers)) {}
  int status = 200;
  std::string body;
  std::string content_type = "application/json";
  std::vector<std::pair<std::string, std::string>> headers;
};

class HookServer {
 public:
  enum class Mode {
    Reply,    // answer with the reply set for the path (or the default reply)
    Silent,   // accept the request and never answer
    Trickle,  // status 200, then one body byte every trickle_interval, forever
    Close,    // accept the connection, read the request, close without answering
  };

  struct Options {
    Mode mode = Mode::Reply;
    const TestCa* tls = nullptr;  // HTTPS with this CA's server certificate when set
    std::chrono::milliseconds trickle_interval{2000};
  };

  HookServer();  // plain HTTP, replying {"success": true}
  explicit HookServer(Options options);
  ~HookServer();
  HookServer(const HookServer&) = delete;
  HookServer& operator=(const HookServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT" (or https, or another host name in front of the port).
  std::string base_url(const std::string& host = "127.0.0.1") const;

  void set_mode(Mode mode);
  void set_reply(Reply reply);                           // default reply
  void set_reply(const std::string& path, Reply reply);  // reply for one path
  // Canned replies of a hook endpoint.
  static Reply allow();
  static Reply deny(std::optional<std::string> reason = std::nullopt, std::optional<std::string> rule = std::nullopt,
                    std::optional<std::string> error = std::nullopt);
  static Reply status(int code, std::string body);
  static Reply garbage();     // 200 with a body that is not JSON
  static Reply no_success();  // 200 with a JSON object lacking "success"

  std::vector<RecordedRequest> requests() const;
  size_t request_count() const;
  // Connections accepted in Close mode.
  size_t closed_count() const;

 private:
  void start_http();
  void start_closer();
  void handle(const httplib::Request& req, httplib::Response& res);
  bool wait_stopping(std::chrono::milliseconds period);

  Options options_;
  std::unique_ptr<httplib::Server> server_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  Mode mode_;
  Reply default_reply_;
  std::map<std::string, Reply> replies_;
  std::vector<RecordedRequest> requests_;
  size_t closed_ = 0;
};

// Sets an environment variable for the life of the object (unset when `value` is
// empty), then restores the old value.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace stelvane::test
