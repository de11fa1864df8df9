// The request a callback sends, byte for byte, as the hook endpoint receives it:
// meta_data members in their fixed order, optional members left out, the payload
// with its object members in ascending key order, and the headers.

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/build_info.hpp"
#include "support/hook_server.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string host_name() {
  char buf[256] = {};
  gethostname(buf, sizeof buf - 1);
  return buf;
}

std::string user_name() {
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "";
}

struct RequestCase {
  const char* name;
  std::vector<std::string> args;  // the callback and its arguments
  std::string stdin_data;
  const char* type;                    // "auth" or "notify"
  const char* source;                  // source name of the assistant
  std::optional<std::string> session;  // expected meta_data session_id
  std::string payload;                 // the payload as it must be written
};

TEST(HookRequest, DocumentByteForByte) {
  const std::string tool_event =
      R"({"tool_name":"Bash","session_id":"sess-9","tool_input":{"command":"echo \"naïve ✓\"",)"
      R"("b":[3,{"z":1,"a":null}],"a":1.5},"cwd":"/w","hook_event_name":"PreToolUse"})";
  const std::string tool_sorted =
      R"({"cwd":"/w","hook_event_name":"PreToolUse","session_id":"sess-9","tool_input":{"a":1.5,)"
      R"("b":[3,{"a":null,"z":1}],"command":"echo \"naïve ✓\""},"tool_name":"Bash"})";
  const std::string codex_event = R"({"type":"agent-turn-complete","turn-id":"t1","input-messages":["a"]})";
  const RequestCase cases[] = {
      {"tool use", {"claude-callback"}, tool_event, "auth", "claudecode", "sess-9", tool_sorted},
      {"no session id",
       {"cursor-callback"},
       R"({"tool_name":"Read","session_id":7})",
       "auth",
       "cursor",
       std::nullopt,
       R"({"session_id":7,"tool_name":"Read"})"},
      {"prompt",
       {"gemini-callback"},
       R"({"prompt":"hi","session_id":"s1","hook_event_name":"BeforeAgent"})",
       "notify",
       "geminicli",
       "s1",
       R"({"hook_event_name":"BeforeAgent","prompt":"hi","session_id":"s1"})"},
      {"codex argument",
       {"codex-callback", codex_event},
       "",
       "notify",
       "codex",
       std::nullopt,
       R"({"input-messages":["a"],"turn-id":"t1","type":"agent-turn-complete"})"},
  };

  HookServer server;
  Sandbox sb;
  sb.write_config(server.base_url() + "/o1/stelvane/s3cr3t-Z_9", /*fail_open=*/false);
  const std::regex meta_re(R"re(^\{"meta_data":\{"ts":(\d+),"installation_id":"[^"]*","request_id":"([^"]*)",)re"
                           R"re(.*"ppid":(\d+),.*$)re");
  const std::regex uuid_v4("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  std::set<std::string> request_ids;

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t before = server.request_count();
    long long start = now_ms();
    RunResult r = sb.run(c.args, RunOptions{c.stdin_data, std::nullopt, 60});
    long long end = now_ms();
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(server.request_count(), before + 1);
    RecordedRequest req = server.requests().back();

    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, "/o1/stelvane");
    EXPECT_EQ(req.header("nx-secret"), "s3cr3t-Z_9");
    EXPECT_EQ(req.header("Content-Type"), "application/json; charset=UTF-8");
    EXPECT_EQ(req.header("User-Agent"),
              std::string("stelvane/") + build::kVersion + " (" + build::kOsName + "; " + build::kArchName + ")");

    std::smatch m;
    ASSERT_TRUE(std::regex_match(req.body, m, meta_re)) << req.body;
    const std::string ts = m[1], request_id = m[2], ppid = m[3];
    EXPECT_GE(std::stoll(ts), start);
    EXPECT_LE(std::stoll(ts), end);
    EXPECT_TRUE(std::regex_match(request_id, uuid_v4)) << request_id;
    EXPECT_TRUE(request_ids.insert(request_id).second) << "a fresh id per request";
    EXPECT_EQ(std::stol(ppid), static_cast<long>(getpid())) << "the parent is the process that ran the callback";

    std::string expected = R"({"meta_data":{"ts":)" + ts +
                           R"(,"installation_id":"0e6f1c7a-3d2b-4c8e-9f10-2a3b4c5d6e7f","request_id":")" + request_id +
                           R"(","hostname":")" + host_name() + "\",";
    if (c.session) expected += R"("session_id":")" + *c.session + "\",";
    expected += std::string(R"("source":")") + c.source + R"(","type":")" + c.type + R"(","username":")" + user_name() +
                R"(","ppid":)" + ppid + R"(,"version":{"version":")" + build::kVersion + R"(","hash":")" +
                build::kBuildId + R"("}},")" + c.type + "\":" + c.payload + "}";
    EXPECT_EQ(req.body, expected);
  }
}

}  // namespace
}  // namespace stelvane::test
