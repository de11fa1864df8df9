// The hook path under a misbehaving or overloaded cloud, through the built
// executable against the reference cloud over HTTPS: every tool use gets exactly
// the promised answer in time, and every event reaches the event log once.

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/testutil.hpp"
#include "tools/devcloud_server.hpp"

namespace stelvane::test {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// The hook client gives up after 10 seconds; the assistant must have its answer
// within one more second.
#if defined(__SANITIZE_ADDRESS__)
// Sanitized executables start and run several times slower on a loaded machine;
// the one-second margin is held by the plain build.
constexpr auto kAnswerBound = std::chrono::seconds(20);
#else
constexpr auto kAnswerBound = std::chrono::seconds(11);
#endif

std::string pre_tool_use(const std::string& id, const std::string& command) {
  return json{{"session_id", "sess-1"},     {"transcript_path", ""},
              {"cwd", "/home/dev/project"}, {"hook_event_name", "PreToolUse"},
              {"tool_name", "Bash"},        {"tool_input", {{"command", command}}},
              {"tool_use_id", id}}
      .dump();
}

// A private user whose configuration points at `team_url`, trusting the
// reference cloud's CA.
std::unique_ptr<Sandbox> user_for(const std::string& team_url, const fs::path& ca, bool fail_open) {
  auto sb = std::make_unique<Sandbox>();
  sb->write_config(team_url, fail_open);
  sb->set_env("SSL_CERT_FILE", ca.string());
  return sb;
}

struct Timed {
  RunResult result;
  Clock::duration took{};
};

Timed callback(const Sandbox& sb, const std::string& event) {
  RunOptions options;
  options.stdin_data = event;
  options.timeout_seconds = 30;
  const auto start = Clock::now();
  Timed t;
  t.result = sb.run({"claude-callback"}, options);
  t.took = Clock::now() - start;
  return t;
}

std::vector<json> read_events(const fs::path& file) {
  std::vector<json> out;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) out.push_back(json::parse(line));
  return out;
}

std::string endpoint_of(const TeamUrl& team) { return team.url.substr(0, team.url.rfind('/')); }

std::string user_prompt() {
  return json{{"session_id", "sess-1"},
              {"cwd", "/home/dev/project"},
              {"hook_event_name", "UserPromptSubmit"},
              {"prompt", "tidy up the build"}}
      .dump();
}

// Each fault is served by its own reference cloud (faults are per server), and all
// rows run at once so that the slow ones wait out the deadline together. A prompt
// is only reported, so it is let through whatever the cloud does.
TEST(CloudFaults, EveryFaultGetsThePromisedAnswerInTime) {
  TempDir dir;
  struct Fault {
    const char* name;
    std::vector<std::string> server_args;  // empty with `down`
    std::string cause;                     // the error message inside the block reason
    bool down = false;
    bool stale_secret = false;  // the user's URL carries a secret the cloud no longer knows
  };
  std::vector<Fault> faults = {
      {"delay past the deadline", {"--fault-delay", "15000"}, "Failed to connect to hook server at "},
      {"status 500", {"--fault-status", "500"}, "Authorization request failed with status 500: "},
      {"garbage body", {"--fault-garbage"}, "Authorization server returned invalid JSON response"},
      {"no success member", {"--fault-no-success"}, "Authorization server returned invalid JSON response"},
      {"trickled answer", {"--fault-trickle", "1000"}, "Failed to connect to hook server at "},
      {"connection closed", {"--fault-close"}, "Failed to connect to hook server at "},
      {"server down", {}, "Failed to connect to hook server at ", true},
      {"stale secret", {}, R"(Authorization request failed with status 403: {"error":"invalid secret"})", false, true},
  };

  std::vector<std::unique_ptr<DevCloudServer>> servers;
  std::vector<TeamUrl> teams;
  for (std::size_t i = 0; i < faults.size(); ++i) {
    auto server = std::make_unique<DevCloudServer>(dir.path() / ("cloud" + std::to_string(i)), faults[i].server_args);
    teams.push_back(devcloud_create_org(server->state(), "Acme", server->tls_port()));
    // A stopped server leaves a port where nothing listens.
    if (faults[i].down) server->stop();
    servers.push_back(std::move(server));
  }

  struct Run {
    std::size_t fault;
    bool fail_open;
    bool prompt;
    std::unique_ptr<Sandbox> user;
    Timed outcome;
  };
  std::vector<Run> runs;
  for (std::size_t i = 0; i < faults.size(); ++i) {
    std::string url = teams[i].url;
    if (faults[i].stale_secret) url.back() = url.back() == '0' ? '1' : '0';
    for (bool fail_open : {true, false})
      for (bool prompt : {false, true})
        runs.push_back({i, fail_open, prompt, user_for(url, servers[i]->ca_file(), fail_open), {}});
  }

  std::vector<std::thread> threads;
  for (auto& run : runs)
    threads.emplace_back(
        [&run] { run.outcome = callback(*run.user, run.prompt ? user_prompt() : pre_tool_use("toolu_1", "ls -la")); });
  for (auto& t : threads) t.join();

  for (const auto& run : runs) {
    const Fault& fault = faults[run.fault];
    SCOPED_TRACE(std::string(fault.name) + (run.prompt ? ", prompt" : ", tool use") +
                 (run.fail_open ? ", fail_open on" : ", fail_open off"));
    const RunResult& r = run.outcome.result;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LE(run.outcome.took, kAnswerBound)
        << std::chrono::duration_cast<std::chrono::milliseconds>(run.outcome.took).count() << " ms";
    if (run.fail_open || run.prompt) {
      EXPECT_EQ(r.out, "");
      continue;
    }
    // One JSON object and nothing else.
    const json answer = json::parse(r.out, nullptr, false);
    ASSERT_TRUE(answer.is_object()) << r.out;
    ASSERT_EQ(answer.size(), 2u) << r.out;
    EXPECT_EQ(answer["decision"], "block");
    const std::string reason = answer.value("reason", "");
    ASSERT_FALSE(reason.empty()) << r.out;
    const std::string expected = "stelvane cloud failure (" + fault.cause;
    EXPECT_EQ(reason.substr(0, expected.size()), expected) << reason;
    EXPECT_EQ(reason.back(), ')') << reason;
    if (fault.cause.ends_with(" at ")) {
      EXPECT_EQ(reason, expected + endpoint_of(teams[run.fault]) + ")");
    }
  }

  // A cloud that received the requests logged each once, whatever it then did:
  // two authorizations and two notifications, nothing retried.
  for (std::size_t i = 0; i < faults.size(); ++i) {
    if (faults[i].down) continue;
    SCOPED_TRACE(faults[i].name);
    servers[i]->stop();
    std::map<std::string, int> types;
    for (const auto& e : read_events(servers[i]->events_file())) ++types[e.value("type", "")];
    if (faults[i].stale_secret) {
      // Refused before the body is read.
      EXPECT_EQ(types, (std::map<std::string, int>{{"", 4}}));
    } else {
      EXPECT_EQ(types, (std::map<std::string, int>{{"auth", 2}, {"notify", 2}}));
    }
  }
}

class CloudLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<DevCloudServer>(dir_.path() / "cloud");
    team_ = devcloud_create_org(server_->state(), "Acme", server_->tls_port());
    user_ = user_for(team_.url, server_->ca_file(), /*fail_open=*/false);
  }

  // Every third event is a destructive command that the baseline rules deny; the
  // others are allowed. Returns the ids sent.
  std::vector<std::string> play(std::size_t count, std::size_t parallel) {
    std::vector<std::string> ids(count);
    std::vector<Timed> outcomes(count);
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
      for (std::size_t i; (i = next++) < count;) {
        ids[i] = "toolu_" + std::to_string(i);
        outcomes[i] = callback(*user_, pre_tool_use(ids[i], command(i)));
      }
    };
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < parallel; ++t) threads.emplace_back(worker);
    for (auto& t : threads) t.join();

    for (std::size_t i = 0; i < count; ++i) {
      SCOPED_TRACE(ids[i]);
      const RunResult& r = outcomes[i].result;
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_LE(outcomes[i].took, kAnswerBound);
      if (denied(i)) {
        EXPECT_EQ(r.out, json({{"decision", "block"},
                               {"reason",
                                "Command blocked by policy. Reason: destructive delete operation "
                                "Rule: sv-destructive-delete"}})
                             .dump());
      } else {
        EXPECT_EQ(r.out, "");
      }
    }
    return ids;
  }

  static bool denied(std::size_t i) { return i % 3 == 2; }
  static std::string command(std::size_t i) {
    return denied(i) ? "rm -rf / # " + std::to_string(i) : "echo " + std::to_string(i);
  }

  // Every id appears in the event log exactly once, with the right verdict.
  void expect_logged_once(const std::vector<std::string>& ids) {
    std::map<std::string, std::vector<json>> by_id;
    const auto events = read_events(server_->events_file());
    for (const auto& e : events) by_id[e["event"]["auth"]["tool_use_id"].get<std::string>()].push_back(e);
    EXPECT_EQ(events.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      SCOPED_TRACE(ids[i]);
      const auto found = by_id.find(ids[i]);
      ASSERT_NE(found, by_id.end());
      ASSERT_EQ(found->second.size(), 1u);
      const json& e = found->second.front();
      EXPECT_EQ(e["verdict"], denied(i) ? "deny" : "allow");
      EXPECT_EQ(e["event"]["auth"]["tool_input"]["command"], command(i));
      EXPECT_EQ(e["source"], "claudecode");
    }
  }

  TempDir dir_;
  std::unique_ptr<DevCloudServer> server_;
  TeamUrl team_;
  std::unique_ptr<Sandbox> user_;
};

TEST_F(CloudLoad, ThirtyTwoConcurrentCallbacks) {
  const auto ids = play(32, 32);
  expect_logged_once(ids);
}

TEST_F(CloudLoad, FiveHundredSequentialCallbacks) {
  const auto start = Clock::now();
  const auto ids = play(500, 1);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  expect_logged_once(ids);
  RecordProperty("sequential_callbacks_ms", std::to_string(took.count()));
}

}  // namespace
}  // namespace stelvane::test
