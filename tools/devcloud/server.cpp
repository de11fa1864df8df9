#include "server.hpp"

#include <dirent.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <sys/socket.h>

#include "certs.hpp"

namespace devcloud {

using nlohmann::json;

namespace {

constexpr std::string_view kHookDomain = ".hook.localhost";
constexpr std::size_t kMaxBody = 8 * 1024 * 1024;
constexpr const char* kControlPath = "/_devcloud/faults";

std::int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int port_of(const sockaddr_storage& addr) {
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
  return -1;
}

// The descriptor of this process's TCP connection with the given port pair, or -1.
// The server library does not hand its sockets to handlers; the "close" fault
// needs the socket to drop the connection before any answer is written.
int find_connection_fd(int local_port, int remote_port) {
  DIR* d = ::opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  int found = -1;
  while (const dirent* e = ::readdir(d)) {
    const int fd = std::atoi(e->d_name);
    if (fd <= 2) continue;
    sockaddr_storage local{}, peer{};
    socklen_t llen = sizeof local, plen = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &llen) != 0) continue;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &plen) != 0) continue;
    if (port_of(local) == local_port && port_of(peer) == remote_port) {
      found = fd;
      break;
    }
  }
  ::closedir(d);
  return found;
}

json error_body(const std::string& message) { return json{{"error", message}}; }

class HookService {
 public:
  HookService(Store& store, Faults faults) : store_(store), faults_(faults) {}

  void install(httplib::Server& svr) {
    svr.set_payload_max_length(kMaxBody);
    svr.new_task_queue = [] { return new httplib::ThreadPool(64); };
    svr.Get(kControlPath, [this](const httplib::Request&, httplib::Response& res) { reply_faults(res); });
    svr.Put(kControlPath, [this](const httplib::Request& req, httplib::Response& res) { set_faults(req, res); });
    svr.Post(kControlPath, [this](const httplib::Request& req, httplib::Response& res) { set_faults(req, res); });
    svr.Delete(kControlPath, [this](const httplib::Request&, httplib::Response& res) {
      {
        std::lock_guard guard(mutex_);
        faults_ = {};
      }
      reply_faults(res);
    });
    svr.Get("/_devcloud/health", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"({"ok":true})", "application/json");
    });
    svr.Post(R"(/([^/]+)/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) { hook(req, res); });
  }

  // Wakes handlers that are waiting out a delay or trickling.
  void stop() {
    {
      std::lock_guard guard(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }

 private:
  Faults current_faults() {
    std::lock_guard guard(mutex_);
    return faults_;
  }

  // Sleeps for `ms` unless the server stops first; returns false when stopping.
  bool pause(int ms) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
  }

  void reply_faults(httplib::Response& res) { res.set_content(current_faults().to_json().dump(), "application/json"); }

  void set_faults(const httplib::Request& req, httplib::Response& res) {
    try {
      const json body = req.body.empty() ? json::object() : json::parse(req.body);
      const Faults next = Faults::from_json(body);
      std::lock_guard guard(mutex_);
      faults_ = next;
    } catch (const std::exception& e) {
      res.status = 400;
      res.set_content(error_body(e.what()).dump(), "application/json");
      return;
    }
    reply_faults(res);
  }

  // Judges one hook request: the status and body it deserves, and the log record.
  struct Verdict {
    int status = 200;
    json body;
    json record;
  };

  Verdict judge(const httplib::Request& req, const std::string& oid, const std::string& adapter_name) {
    Verdict v;
    v.record = {{"time", now_ms()}, {"oid", oid}, {"adapter", adapter_name}};
    auto reject = [&](int status, const std::string& message) {
      v.status = status;
      v.body = error_body(message);
      v.record["verdict"] = "rejected";
      v.record["error"] = message;
      return v;
    };

    const std::shared_ptr<const Snapshot> snap = store_.snapshot();
    const Snapshot::Entry* entry = snap->find(oid);
    if (entry == nullptr) return reject(404, "unknown organization");
    // A hook host names its organization; a request for another one is not its.
    std::string host = req.get_header_value("Host");
    if (const auto colon = host.rfind(':'); colon != std::string::npos && host.find(']') == std::string::npos)
      host.resize(colon);
    if (host.size() > kHookDomain.size() && host.ends_with(kHookDomain) &&
        host.substr(0, host.size() - kHookDomain.size()) != oid)
      return reject(404, "unknown organization");
    const Adapter* adapter = entry->org.find_adapter(adapter_name);
    if (adapter == nullptr) return reject(404, "unknown adapter");
    const std::string secret = req.get_header_value("nx-secret");
    if (secret.empty()) return reject(401, "missing nx-secret header");
    if (secret.size() != adapter->secret.size() ||
        CRYPTO_memcmp(secret.data(), adapter->secret.data(), secret.size()) != 0)
      return reject(403, "invalid secret");

    const json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded()) {
      v.record["raw"] = req.body.substr(0, 4096);
      return reject(400, "body is not JSON");
    }
    v.record["event"] = body;
    if (!body.is_object() || !body.contains("meta_data") || !body["meta_data"].is_object())
      return reject(400, "body has no \"meta_data\" object");
    const json& meta = body["meta_data"];
    for (const char* key : {"request_id", "source", "installation_id"})
      if (meta.contains(key)) v.record[key] = meta[key];
    const std::string type = meta.value("type", "");
    v.record["type"] = type;
    if (type == "notify") {
      v.body = {{"success", true}};
      v.record["verdict"] = "notified";
      return v;
    }
    if (type != "auth") return reject(400, "unknown request type \"" + type + "\"");
    if (!body.contains("auth")) return reject(400, "auth request without \"auth\"");
    for (const auto& rule : entry->rules) {
      if (rule.matches(body)) {
        v.body = {{"success", false}, {"reason", rule.report_name()}, {"rule", rule.name()}};
        v.record["verdict"] = "deny";
        v.record["rule"] = rule.name();
        v.record["reason"] = rule.report_name();
        return v;
      }
    }
    v.body = {{"success", true}};
    v.record["verdict"] = "allow";
    return v;
  }

  void hook(const httplib::Request& req, httplib::Response& res) {
    const Faults faults = current_faults();
    Verdict v = judge(req, req.matches[1], req.matches[2]);
    v.record["status"] = faults.status > 0 ? faults.status : v.status;
    if (faults.any()) v.record["fault"] = faults.to_json();
    // Logged before anything is sent: once a client has its answer, the record
    // is in the file.
    try {
      store_.append_event(v.record);
    } catch (const std::exception& e) {
      std::cerr << "stelvane-devcloud: " << e.what() << "\n";
    }

    if (faults.delay_ms > 0 && !pause(faults.delay_ms)) return;
    if (faults.close) {
      const int fd = find_connection_fd(req.local_port, req.remote_port);
      if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
      return;
    }
    std::string text = v.body.dump();
    std::string type = "application/json";
    if (faults.no_success) text = R"({"reason":"answer without a verdict"})";
    if (faults.garbage) {
      text = "<html>this is not JSON";
      type = "text/html";
    }
    res.status = faults.status > 0 ? faults.status : v.status;
    if (faults.trickle_ms <= 0) {
      res.set_content(text, type);
      return;
    }
    const int interval = faults.trickle_ms;
    res.set_content_provider(text.size(), type,
                             [this, text, interval](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset > 0 && !pause(interval)) return false;
                               return sink.write(text.data() + offset, 1);
                             });
  }

  Store& store_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  Faults faults_;
};

int bind_listener(httplib::Server& svr, int port) {
  if (port == 0) return svr.bind_to_any_port("127.0.0.1");
  return svr.bind_to_port("127.0.0.1", port) ? port : -1;
}

}  // namespace

json Faults::to_json() const {
  return {{"delay_ms", delay_ms},     {"status", status},         {"garbage", garbage},
          {"no_success", no_success}, {"trickle_ms", trickle_ms}, {"close", close}};
}

Faults Faults::from_json(const json& j) {
  if (!j.is_object()) throw std::invalid_argument("faults must be a JSON object");
  Faults f;
  for (const auto& [key, value] : j.items()) {
    auto number = [&](int& out) {
      if (!value.is_number_integer() || value.get<long long>() < 0 || value.get<long long>() > 3600000)
        throw std::invalid_argument("\"" + key + "\" must be a non-negative integer");
      out = value.get<int>();
    };
    auto flag = [&](bool& out) {
      if (!value.is_boolean()) throw std::invalid_argument("\"" + key + "\" must be true or false");
      out = value.get<bool>();
    };
    if (key == "delay_ms") {
      number(f.delay_ms);
    } else if (key == "status") {
      number(f.status);
      if (f.status != 0 && (f.status < 100 || f.status > 599))
        throw std::invalid_argument("\"status\" must be an HTTP status");
    } else if (key == "trickle_ms") {
      number(f.trickle_ms);
    } else if (key == "garbage") {
      flag(f.garbage);
    } else if (key == "no_success") {
      flag(f.no_success);
    } else if (key == "close") {
      flag(f.close);
    } else {
      throw std::invalid_argument("unknown fault \"" + key + "\"");
    }
  }
  return f;
}

std::string hook_host(const std::string& oid) { return oid + std::string(kHookDomain); }

int serve(Store& store, const ServeOptions& options) {
  const TlsFiles tls = ensure_tls_files(store.dir());
  if (tls.created) std::cout << "Created a certificate authority for this state folder\n";
  std::cout << "CA certificate: " << tls.ca_cert.string() << " (trust it with SSL_CERT_FILE)\n";

  HookService service(store, options.faults);
  httplib::SSLServer https(tls.server_cert.c_str(), tls.server_key.c_str());
  if (!https.is_valid()) {
    std::cerr << "stelvane-devcloud: unable to load " << tls.server_cert.string() << "\n";
    return 1;
  }
  service.install(https);
  const int tls_port = bind_listener(https, options.tls_port);
  if (tls_port < 0) {
    std::cerr << "stelvane-devcloud: unable to listen on 127.0.0.1:" << options.tls_port << "\n";
    return 1;
  }
  std::unique_ptr<httplib::Server> http;
  int http_port = -1;
  if (options.http_port) {
    http = std::make_unique<httplib::Server>();
    service.install(*http);
    http_port = bind_listener(*http, *options.http_port);
    if (http_port < 0) {
      std::cerr << "stelvane-devcloud: unable to listen on 127.0.0.1:" << *options.http_port << "\n";
      return 1;
    }
  }

  json info = {{"tls_port", tls_port}, {"pid", ::getpid()}, {"ca_cert", tls.ca_cert.string()}};
  if (http) info["http_port"] = http_port;
  store.write_server_info(info);

  std::thread tls_thread([&] { https.listen_after_bind(); });
  std::thread http_thread;
  if (http) http_thread = std::thread([&] { http->listen_after_bind(); });
  // Stopping a server that has not started listening yet would not stop it.
  while (!https.is_running() || (http && !http->is_running()))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (http) std::cout << "Listening on http://127.0.0.1:" << http_port << "\n";
  std::cout << "Listening on https://127.0.0.1:" << tls_port << " (hook hosts https://{oid}" << kHookDomain << ":"
            << tls_port << ")\n"
            << std::flush;

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }

  service.stop();
  https.stop();
  if (http) http->stop();
  tls_thread.join();
  if (http_thread.joinable()) http_thread.join();
  std::cout << "Stopped\n" << std::flush;
  return 0;
}

}  // namespace devcloud
