#include "cloud/query.hpp"

#include <pwd.h>
#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/build_info.hpp"
#include "common/error.hpp"
#include "support/hook_server.hpp"

namespace stelvane::cloud::query {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using stelvane::test::HookServer;
using stelvane::test::Reply;

std::string failure_chain(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.chain();
  }
  return "";
}

TEST(HookUrl, SplitsEndpointAndSecret) {
  struct Case {
    std::string url, endpoint, secret;
  } cases[] = {
      {"https://hooks.example.com/o/n/s", "https://hooks.example.com/o/n", "s"},
      {"https://h/a/b/c/d", "https://h/a/b/c", "d"},
      {"http://127.0.0.1:8080/o1/stelvane/se%2Fcret?x=1#frag", "http://127.0.0.1:8080/o1/stelvane?x=1#frag",
       "se%2Fcret"},
      {"https://h/o%20x//s", "https://h/o%20x/", "s"},
  };
  for (const auto& c : cases) {
    HookUrl parts = split_hook_url(c.url);
    EXPECT_EQ(parts.endpoint, c.endpoint) << c.url;
    EXPECT_EQ(parts.secret, c.secret) << c.url;
  }
}

TEST(HookUrl, RejectsMalformedUrls) {
  struct Case {
    std::string url, cause;
  } cases[] = {
      {"https://h/o/n", "Invalid webhook URL format. Expected: https://hooks.domain/oid/name/secret"},
      {"https://h", "Invalid webhook URL format. Expected: https://hooks.domain/oid/name/secret"},
      {"https://h/o/n/", "Secret segment in webhook URL cannot be empty"},
      {"not a url", "Invalid webhook URL format"},
      {"mailto:someone@example.com", "Webhook URL has no path segments"},
  };
  for (const auto& c : cases) {
    std::string chain = failure_chain([&] { split_hook_url(c.url); });
    EXPECT_EQ(chain.rfind("Unable to get secret from " + c.url + ": " + c.cause, 0), 0u) << chain;
  }
}

TEST(HookClientCreation, NoOrganizationPrintsTheNoticeAndFails) {
  config::Config cfg;
  cfg.org.oid = "o1";  // url missing
  testing::internal::CaptureStdout();
  std::string chain = failure_chain([&] { create_hook_client(cfg, providers::ProviderKind::Cursor); });
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(chain, "Not yet authorized");
  EXPECT_NE(out.find("  Not logged in.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("join-team <URL>` to join an existing team."), std::string::npos) << out;
}

TEST(CloudAnswer, BlockMessages) {
  struct Case {
    const char* body;
    const char* message;
  } cases[] = {
      {R"({"success": false})", "Command blocked by policy."},
      {R"({"success": false, "reason": "r", "rule": "x"})", "Command blocked by policy. Reason: r Rule: x"},
      {R"({"error": "e", "rule": "x", "success": false, "reason": "r", "rejected": true, "other": 1})",
       "Command blocked by policy. Reason: r Rule: x Error: e"},
      {R"({"success": false, "error": "e", "reason": null})", "Command blocked by policy. Error: e"},
  };
  for (const auto& c : cases) EXPECT_EQ(block_message(parse_cloud_response(c.body)), c.message) << c.body;
}

TEST(CloudAnswer, InvalidAnswers) {
  for (const char* body : {R"({"reason": "x"})", "not json", "[true]", R"({"success": "yes"})",
                           R"({"success": false, "reason": 5})", ""}) {
    std::string chain = failure_chain([&] { parse_cloud_response(body); });
    EXPECT_EQ(chain.rfind("Authorization server returned invalid JSON response: ", 0), 0u) << body << " -> " << chain;
  }
}

class HookClientTest : public ::testing::Test {
 protected:
  HookClientTest() {
    cfg.install_id = "0e6f1c7a-3d2b-4c8e-9f10-2a3b4c5d6e7f";
    cfg.org.oid = "o1";
    cfg.org.url = server.base_url("o1.hook.localhost") + "/o1/stelvane/sekret";
    client = create_hook_client(cfg, providers::ProviderKind::GeminiCli);
  }
  HookServer server;
  config::Config cfg;
  HookClient client;
};

TEST_F(HookClientTest, AuthorizeSendsTheDocumentWithSecretAndHeaders) {
  json payload = json::parse(R"({"tool_name": "Bash", "session_id": "s-1", "tool_input": {"z": 1, "a": [true]}})");
  EXPECT_TRUE(authorize(client, payload).allowed);
  ASSERT_EQ(server.request_count(), 1u);
  auto req = server.requests().front();
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.path, "/o1/stelvane");
  EXPECT_EQ(req.header("nx-secret"), "sekret");
  EXPECT_EQ(req.header("Content-Type"), "application/json; charset=UTF-8");
  EXPECT_EQ(req.header("User-Agent").rfind("stelvane/1.0.8 (", 0), 0u);
  auto doc = json::parse(req.body);
  EXPECT_EQ(doc["meta_data"]["type"], "auth");
  EXPECT_EQ(doc["meta_data"]["source"], "geminicli");
  EXPECT_EQ(doc["auth"], payload);
}

// The exact bytes: member order of meta_data, absent optional members, sorted
// payload keys at every depth.
TEST_F(HookClientTest, RequestDocumentByteForByte) {
  json payload = json::parse(R"({"zeta": {"y": 2, "b": [{"d": 1, "c": null}]}, "alpha": "ü", "tool_name": "Bash"})");
  std::string body = build_request(client, "notify", payload);

  auto doc = ordered_json::parse(body);
  std::vector<std::string> keys;
  for (const auto& [k, v] : doc["meta_data"].items()) keys.push_back(k);
  std::vector<std::string> expected_keys = {"ts", "installation_id", "request_id", "hostname", "source", "type"};
  if (doc["meta_data"].contains("username")) expected_keys.push_back("username");
  expected_keys.insert(expected_keys.end(), {"ppid", "version"});
  EXPECT_EQ(keys, expected_keys) << "no session_id in the payload, so none in meta_data";

  const auto& meta = doc["meta_data"];
  EXPECT_TRUE(std::regex_match(meta["request_id"].get<std::string>(),
                               std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(meta["hostname"], host);
  EXPECT_EQ(meta["ppid"], getppid());
  if (passwd* pw = getpwuid(geteuid())) {
    EXPECT_EQ(meta["username"], pw->pw_name);
  }

  std::string expected =
      R"({"meta_data":{"ts":)" + std::to_string(meta["ts"].get<long long>()) +
      R"(,"installation_id":"0e6f1c7a-3d2b-4c8e-9f10-2a3b4c5d6e7f","request_id":")" +
      meta["request_id"].get<std::string>() + R"(","hostname":)" + json(host).dump() +
      R"(,"source":"geminicli","type":"notify",)" +
      (meta.contains("username") ? R"("username":)" + meta["username"].dump() + "," : std::string()) + R"("ppid":)" +
      std::to_string(getppid()) + R"(,"version":{"version":")" + build::kVersion + R"(","hash":")" + build::kBuildId +
      R"("}},"notify":{"alpha":"ü","tool_name":"Bash","zeta":{"b":[{"c":null,"d":1}],"y":2}}})";
  EXPECT_EQ(body, expected);
  EXPECT_TRUE(std::regex_match(std::string(build::kBuildId), std::regex("g[0-9a-f]{7}")));
}

TEST_F(HookClientTest, AuthorizationAnswers) {
  struct Case {
    Reply reply;
    bool allowed;
    std::string message_or_error;
  } cases[] = {
      {HookServer::allow(), true, ""},
      {HookServer::deny("no rm", "danger", "e1"), false,
       "Command blocked by policy. Reason: no rm Rule: danger Error: e1"},
      {HookServer::status(403, "forbidden"), false, "Authorization request failed with status 403: forbidden"},
      {HookServer::status(500, std::string("\xff\xfe", 2)), false,
       "Authorization request failed with status 500: Unknown error"},
      {HookServer::garbage(), false, "Authorization server returned invalid JSON response: "},
      {HookServer::no_success(), false, "Authorization server returned invalid JSON response: missing field `success`"},
  };
  json payload = {{"tool_name", "Bash"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message_or_error);
    server.set_reply(c.reply);
    AuthResult result;
    std::string chain = failure_chain([&] { result = authorize(client, payload); });
    if (c.allowed) {
      EXPECT_EQ(chain, "");
      EXPECT_TRUE(result.allowed);
    } else if (chain.empty()) {
      EXPECT_FALSE(result.allowed);
      EXPECT_EQ(result.block_message, c.message_or_error);
    } else {
      EXPECT_EQ(chain.rfind(c.message_or_error, 0), 0u) << chain;
    }
  }
}

TEST_F(HookClientTest, TransportFailureNamesTheEndpoint) {
  config::Config gone_cfg = cfg;
  {
    HookServer gone;
    gone_cfg.org.url = gone.base_url() + "/o1/stelvane/sekret";
  }
  HookClient gone_client = create_hook_client(gone_cfg, providers::ProviderKind::ClaudeCode);
  std::string chain = failure_chain([&] { authorize(gone_client, json::object()); });
  EXPECT_EQ(chain.rfind("Failed to connect to hook server at " + gone_client.endpoint + ": ", 0), 0u) << chain;
  // A notification never fails on the network.
  EXPECT_EQ(failure_chain([&] { notify(gone_client, json::object()); }), "");
}

TEST_F(HookClientTest, NotificationIgnoresTheAnswer) {
  for (Reply reply : {HookServer::status(500, "boom"), HookServer::garbage(), HookServer::status(404, "")}) {
    server.set_reply(reply);
    EXPECT_EQ(failure_chain([&] { notify(client, json{{"prompt", "hi"}, {"session_id", "s"}}); }), "");
  }
  auto reqs = server.requests();
  ASSERT_EQ(reqs.size(), 3u);
  auto doc = json::parse(reqs.back().body);
  EXPECT_EQ(doc["meta_data"]["type"], "notify");
  EXPECT_EQ(doc["meta_data"]["session_id"], "s");
  EXPECT_EQ(doc["notify"], (json{{"prompt", "hi"}, {"session_id", "s"}}));
}

}  // namespace
}  // namespace stelvane::cloud::query
