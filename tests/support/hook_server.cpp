#include "support/hook_server.hpp"

#include <httplib.h>
#include <poll.h>
#include <unistd.h>

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>

#include "support/testutil.hpp"

namespace stelvane::test {

namespace {

void run_openssl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  const char* path = std::getenv("PATH");
  RunResult r = run_process(argv, {{"PATH", path ? path : "/usr/bin:/bin"}});
  if (r.status != 0) throw std::runtime_error("openssl " + args.front() + " failed: " + r.err);
}

bool iequals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

TestCa::TestCa(const fs::path& dir) {
  fs::create_directories(dir);
  ca_file = dir / "ca.pem";
  cert_file = dir / "server.pem";
  key_file = dir / "server.key";
  fs::path ca_key = dir / "ca.key";
  fs::path csr = dir / "server.csr";
  fs::path ext = dir / "server.ext";
  write_file(ext,
             "subjectAltName=DNS:localhost,DNS:o1.hook.localhost,IP:127.0.0.1\n"
             "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
  run_openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
               ca_key.string(), "-out", ca_file.string(), "-subj", "/CN=stelvane test CA", "-days", "2", "-addext",
               "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
  run_openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
               key_file.string(), "-out", csr.string(), "-subj", "/CN=localhost"});
  run_openssl({"x509", "-req", "-in", csr.string(), "-CA", ca_file.string(), "-CAkey", ca_key.string(),
               "-CAcreateserial", "-out", cert_file.string(), "-days", "2", "-extfile", ext.string()});
}

std::string RecordedRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (iequals(key, name)) return value;
  }
  return {};
}

HookServer::HookServer() : HookServer(Options{}) {}

HookServer::HookServer(Options options) : options_(options), mode_(options.mode), default_reply_(allow()) {
  if (options_.mode == Mode::Close) {
    start_closer();
  } else {
    start_http();
  }
}

HookServer::~HookServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  if (server_) server_->stop();
  if (listen_fd_ >= 0) ::shutdown(listen_fd_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void HookServer::start_http() {
  if (options_.tls) {
    server_ = std::make_unique<httplib::SSLServer>(options_.tls->cert_file.c_str(), options_.tls->key_file.c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (!server_->is_valid()) throw std::runtime_error("test server could not be set up");
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->Put(".*", handler);
  server_->Delete(".*", handler);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("test server could not bind");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() is ignored until the server runs, so a server stopped early would hang.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HookServer::start_closer() {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0 || ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("closing test server could not listen");
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] {
    for (;;) {
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      // Read what arrives within a moment (the request, or a TLS hello), then hang up.
      pollfd p{fd, POLLIN, 0};
      char buf[4096];
      if (::poll(&p, 1, 500) > 0) (void)!::read(fd, buf, sizeof buf);
      ::close(fd);
      std::lock_guard lock(mutex_);
      ++closed_;
    }
  });
}

bool HookServer::wait_stopping(std::chrono::milliseconds period) {
  std::unique_lock lock(mutex_);
  return stop_cv_.wait_for(lock, period, [this] { return stopping_; });
}

void HookServer::handle(const httplib::Request& req, httplib::Response& res) {
  Mode mode;
  Reply reply;
  {
    std::lock_guard lock(mutex_);
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.target.empty() ? req.path : req.target;
    for (const auto& [k, v] : req.headers) rec.headers.emplace(k, v);
    rec.body = req.body;
    requests_.push_back(std::move(rec));
    mode = mode_;
    auto it = replies_.find(req.path);
    reply = it != replies_.end() ? it->second : default_reply_;
  }
  switch (mode) {
    case Mode::Silent:
      while (!wait_stopping(std::chrono::seconds(60))) {
      }
      res.status = 503;
      return;
    case Mode::Trickle:
      res.status = 200;
      res.set_chunked_content_provider("application/json", [this](size_t, httplib::DataSink& sink) {
        if (wait_stopping(options_.trickle_interval)) return false;
        return sink.write(" ", 1);
      });
      return;
    case Mode::Reply:
    case Mode::Close:
      res.status = reply.status;
      for (const auto& [k, v] : reply.headers) res.set_header(k.c_str(), v);
      res.set_content(reply.body, reply.content_type.c_str());
      return;
  }
}

std::string HookServer::base_url(const std::string& host) const {
  return std::string(options_.tls ? "https://" : "http://") + host + ":" + std::to_string(port_);
}

void HookServer::set_mode(Mode mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
}

void HookServer::set_reply(Reply reply) {
  std::lock_guard lock(mutex_);
  default_reply_ = std::move(reply);
}

void HookServer::set_reply(const std::string& path, Reply reply) {
  std::lock_guard lock(mutex_);
  replies_[path] = std::move(reply);
}

Reply HookServer::allow() { return Reply{200, R"({"success":true})"}; }

Reply HookServer::deny(std::optional<std::string> reason, std::optional<std::string> rule,
                       std::optional<std::string> error) {
  nlohmann::json body = {{"success", false}, {"rejected", true}};
  if (reason) body["reason"] = *reason;
  if (rule) body["rule"] = *rule;
  if (error) body["error"] = *error;
  return Reply{200, body.dump()};
}

Reply HookServer::status(int code, std::string body) { return Reply{code, std::move(body), "text/plain"}; }

Reply HookServer::garbage() { return Reply{200, "<html>not json</html>", "text/html"}; }

Reply HookServer::no_success() { return Reply{200, R"({"reason":"x"})"}; }

std::vector<RecordedRequest> HookServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t HookServer::request_count() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

size_t HookServer::closed_count() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value.empty()) {
    ::unsetenv(name_.c_str());
  } else {
    ::setenv(name_.c_str(), value.c_str(), 1);
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

}  // namespace stelvane::test
