#include "common/http.hpp"

#include <chrono>

#include <gtest/gtest.h>

#include "common/build_info.hpp"
#include "common/error.hpp"
#include "support/hook_server.hpp"
#include "support/testutil.hpp"

namespace stelvane::common::http {
namespace {

using stelvane::test::HookServer;
using stelvane::test::Reply;
using stelvane::test::ScopedEnv;
using stelvane::test::TempDir;
using stelvane::test::TestCa;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The error chain of a failed request, or "" when it succeeded.
std::string failure_of(const Request& req) {
  try {
    request(req);
  } catch (const Error& e) {
    return e.chain();
  }
  return "";
}

Request post(const std::string& url) {
  Request req;
  req.method = "POST";
  req.url = url;
  req.timeout = 5s;
  return req;
}

TEST(Http, SendsMethodTargetHeadersAndBody) {
  HookServer server;
  server.set_reply(Reply{201, "made", "text/plain", {{"X-Answer", "42"}}});
  Request req = post(server.base_url() + "/a/b%20c?x=1&y=%2F");
  req.json(R"({"k":"v"})", "application/json; charset=UTF-8").header("nx-secret", "s3");

  Response res = request(req);

  EXPECT_EQ(res.status, 201);
  EXPECT_EQ(res.body, "made");
  EXPECT_EQ(res.header("x-answer").value_or(""), "42");
  ASSERT_EQ(server.request_count(), 1u);
  auto got = server.requests().front();
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.path, "/a/b%20c?x=1&y=%2F");
  EXPECT_EQ(got.body, R"({"k":"v"})");
  EXPECT_EQ(got.header("Content-Type"), "application/json; charset=UTF-8");
  EXPECT_EQ(got.header("nx-secret"), "s3");
  EXPECT_EQ(got.header("User-Agent"), std::string(build::kProgramName) + "/" + build::kVersion + " (" + build::kOsName +
                                          "; " + build::kArchName + ")");
}

TEST(Http, FormBodyIsPercentEncoded) {
  HookServer server;
  Request req = post(server.base_url() + "/token");
  req.form({{"grant type", "a&b=c"}, {"name", "Zoë ~x"}});
  request(req);
  auto got = server.requests().front();
  EXPECT_EQ(got.body, "grant%20type=a%26b%3Dc&name=Zo%C3%AB%20~x");
  EXPECT_EQ(got.header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST(Http, ErrorStatusesAreAnswersNotFailures) {
  HookServer server;
  server.set_reply(HookServer::status(500, "boom"));
  Response res = request(post(server.base_url() + "/x"));
  EXPECT_EQ(res.status, 500);
  EXPECT_EQ(res.body, "boom");
  EXPECT_FALSE(res.ok());
}

TEST(Http, LocalhostNamesReachTheLoopbackWithTheirOwnHostHeader) {
  HookServer server;
  for (std::string host : {"localhost", "o1.hook.localhost", "O1.Hook.LOCALHOST"}) {
    SCOPED_TRACE(host);
    Response res = request(post(server.base_url(host) + "/x"));
    EXPECT_EQ(res.status, 200);
    EXPECT_EQ(server.requests().back().header("Host"), host + ":" + std::to_string(server.port()));
  }
}

TEST(Http, ConnectAddress) {
  struct Case {
    const char* host;
    const char* expected;
  } cases[] = {
      {"localhost", "127.0.0.1"},       {"LocalHost", "127.0.0.1"},
      {"a.b.localhost", "127.0.0.1"},   {"localhost.", "127.0.0.1"},
      {"notlocalhost", "notlocalhost"}, {"localhost.example.com", "localhost.example.com"},
      {".localhost", ".localhost"},     {"example.com", "example.com"},
  };
  for (const auto& c : cases) EXPECT_EQ(connect_address(c.host), c.expected) << c.host;
}

TEST(Http, TransportFailuresThrowWithTheUrl) {
  int refused_port;
  {
    HookServer gone;
    refused_port = gone.port();
  }
  HookServer closer(HookServer::Options{HookServer::Mode::Close});
  struct Case {
    std::string url;
    std::string cause;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(refused_port) + "/x", "Unable to connect to 127.0.0.1:"},
      {closer.base_url() + "/x", "Unable to read the answer from 127.0.0.1:"},
      {"not a url", "Invalid URL not a url"},
      {"ftp://127.0.0.1/x", "Unsupported URL scheme 'ftp'"},
      {"/relative/path", "Invalid URL /relative/path"},
      {"http://127.0.0.1:99999/x", "Invalid port '99999'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    std::string chain = failure_of(post(c.url));
    EXPECT_EQ(chain.rfind("Failed to send POST request to " + c.url + ": ", 0), 0u) << chain;
    EXPECT_NE(chain.find(c.cause), std::string::npos) << chain;
  }
}

// A server that never answers, and one that keeps the connection alive with a byte
// now and then: both must end at the request's deadline, not at a per-read limit.
TEST(Http, DeadlineCoversTheWholeRequest) {
  struct Case {
    HookServer::Mode mode;
    const char* name;
  } cases[] = {{HookServer::Mode::Silent, "silent"}, {HookServer::Mode::Trickle, "trickle"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HookServer server(HookServer::Options{c.mode, nullptr, 200ms});
    Request req = post(server.base_url() + "/x");
    req.timeout = 1500ms;
    auto start = Clock::now();
    std::string chain = failure_of(req);
    auto elapsed = Clock::now() - start;
    EXPECT_NE(chain.find("Request timed out after 1500ms"), std::string::npos) << chain;
    EXPECT_GE(elapsed, 1400ms);
    EXPECT_LT(elapsed, 2500ms);
    EXPECT_EQ(server.request_count(), 1u);
  }
}

TEST(Http, Redirects) {
  HookServer server;
  server.set_reply("/found", Reply{302, "", "text/plain", {{"Location", "/target?q=1"}}});
  server.set_reply("/temp", Reply{307, "", "text/plain", {{"Location", server.base_url("localhost") + "/target"}}});
  server.set_reply("/loop", Reply{302, "", "text/plain", {{"Location", "/loop"}}});
  server.set_reply("/target", Reply{200, "here", "text/plain", {}});

  Request not_followed = post(server.base_url() + "/found");
  EXPECT_EQ(request(not_followed).status, 302);

  Request found = post(server.base_url() + "/found");
  found.follow_redirects = true;
  found.json("{}");
  Response res = request(found);
  EXPECT_EQ(res.status, 200);
  EXPECT_EQ(res.body, "here");
  EXPECT_EQ(res.url, server.base_url() + "/target?q=1");
  auto after_302 = server.requests().back();
  EXPECT_EQ(after_302.method, "GET");
  EXPECT_EQ(after_302.body, "");

  Request temp = post(server.base_url() + "/temp");
  temp.follow_redirects = true;
  temp.json(R"({"keep":1})").header("Authorization", "Bearer t");
  EXPECT_EQ(request(temp).status, 200);
  auto after_307 = server.requests().back();
  EXPECT_EQ(after_307.method, "POST");
  EXPECT_EQ(after_307.body, R"({"keep":1})");
  EXPECT_EQ(after_307.header("Authorization"), "") << "credentials must not follow to another host";

  Request loop = post(server.base_url() + "/loop");
  loop.follow_redirects = true;
  EXPECT_NE(failure_of(loop).find("Too many redirects"), std::string::npos);
}

class HttpsTest : public ::testing::Test {
 protected:
  TempDir dir;
  TestCa ca{dir.path() / "ca"};
  TestCa other{dir.path() / "other"};
  HookServer server{HookServer::Options{HookServer::Mode::Reply, &ca}};
  ScopedEnv no_dir{"SSL_CERT_DIR", ""};
};

TEST_F(HttpsTest, TrustedThroughCertFile) {
  ScopedEnv file("SSL_CERT_FILE", ca.ca_file.string());
  for (std::string host : {"127.0.0.1", "localhost", "o1.hook.localhost"}) {
    SCOPED_TRACE(host);
    Response res = request(post(server.base_url(host) + "/x"));
    EXPECT_EQ(res.status, 200);
    EXPECT_EQ(res.body, R"({"success":true})");
  }
}

TEST_F(HttpsTest, TrustedThroughHashedCertDir) {
  ScopedEnv file("SSL_CERT_FILE", "");
  fs::path hashed = dir.path() / "hashed";
  fs::create_directories(hashed);
  const char* path = std::getenv("PATH");
  auto hash = stelvane::test::run_process({"openssl", "x509", "-hash", "-noout", "-in", ca.ca_file.string()},
                                          {{"PATH", path ? path : "/usr/bin"}});
  ASSERT_EQ(hash.status, 0);
  fs::copy_file(ca.ca_file, hashed / (hash.out.substr(0, hash.out.find('\n')) + ".0"));
  ScopedEnv cert_dir("SSL_CERT_DIR", hashed.string());
  EXPECT_EQ(request(post(server.base_url("localhost") + "/x")).status, 200);
}

TEST_F(HttpsTest, UntrustedOrMismatchedCertificatesFail) {
  struct Case {
    std::string trust;
    std::string host;
    std::string cause;
  } cases[] = {
      {other.ca_file.string(), "localhost", "Certificate of localhost not trusted"},
      {ca.ca_file.string(), "other.localhost", "does not match the host name other.localhost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    ScopedEnv file("SSL_CERT_FILE", c.trust);
    std::string chain = failure_of(post(server.base_url(c.host) + "/x"));
    EXPECT_NE(chain.find(c.cause), std::string::npos) << chain;
  }
  EXPECT_EQ(server.request_count(), 0u) << "no request may reach an unverified server";
}

TEST_F(HttpsTest, TrickleOverTlsEndsAtTheDeadline) {
  ScopedEnv file("SSL_CERT_FILE", ca.ca_file.string());
  server.set_mode(HookServer::Mode::Trickle);
  Request req = post(server.base_url("localhost") + "/x");
  req.timeout = 1200ms;
  auto start = Clock::now();
  EXPECT_NE(failure_of(req).find("Request timed out"), std::string::npos);
  EXPECT_LT(Clock::now() - start, 2500ms);
}

}  // namespace
}  // namespace stelvane::common::http
