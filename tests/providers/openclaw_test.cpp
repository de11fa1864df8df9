// OpenClaw: the generated plugin (manifest and TypeScript module), its entry in
// openclaw.json, and the module itself running under Node.js.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "providers/fixture.hpp"
#include "providers/openclaw_module.hpp"
#include "resources/resources.hpp"

namespace stelvane::test {
namespace {

using nlohmann::json;

class OpenClaw : public ProviderEnv {
 protected:
  fs::path dir() const { return home() / ".openclaw"; }
  fs::path config() const { return dir() / "openclaw.json"; }
  fs::path plugin_dir() const { return dir() / "extensions" / "stelvane"; }
  json config_json() const { return json::parse(read_file(config())); }
};

TEST_F(OpenClaw, InstallWithoutOpenClawDirectoryFailsAndCreatesNothing) {
  expect_error([] { create("openclaw")->install_hook("plugin"); },
               {"OpenClaw directory not found at " + (home() / ".openclaw").string(), ""});
  EXPECT_TRUE(fs::is_empty(home()));
}

TEST_F(OpenClaw, InstallWritesThePluginAndEnablesItBesideOtherEntries) {
  write_file(
      config(),
      R"({"plugins": {"entries": {"voice": {"enabled": true, "x": [1]}}, "load": {"paths": []}}, "agent": {"model": "m"}})");
  create("openclaw")->install_hook("plugin");

  const std::string manifest = read_file(plugin_dir() / "openclaw.plugin.json");
  EXPECT_EQ(manifest, json::parse(R"({"id": "stelvane", "name": "stelvane Security Plugin", "version": "1.0.0",
      "description": "stelvane security and compliance monitoring for tool calls", "main": "index.ts",
      "configSchema": {"type": "object", "additionalProperties": false, "properties": {}}})")
                          .dump(2));
  EXPECT_EQ(
      read_file(plugin_dir() / "index.ts"),
      providers::openclaw::module_source(exe().string(), resources::deployment_value("openclaw_plugin_docs_url")));

  const json expected = json::parse(R"({"plugins": {"entries": {"voice": {"enabled": true, "x": [1]},
      "stelvane": {"enabled": true}}, "load": {"paths": []}}, "agent": {"model": "m"}})");
  EXPECT_EQ(read_file(config()), expected.dump(2) + "\n");
  EXPECT_EQ(logged("info"), (std::vector<std::string>{"Installing plugin plugin in " + dir().string(),
                                                      "Installed stelvane plugin at " + plugin_dir().string(),
                                                      "Enabled stelvane plugin in " + config().string()}));

  const auto hooks = create("openclaw")->list_hooks();
  ASSERT_EQ(hooks.size(), 2u);
  EXPECT_EQ(hooks[0].matcher, "stelvane");
  EXPECT_EQ(hooks[0].command, "[plugin: " + (plugin_dir() / "index.ts").string() + "]");
  EXPECT_EQ(hooks[1].matcher, "voice");
  EXPECT_EQ(hooks[1].command, "[plugin - index.ts missing]");
  EXPECT_EQ(hooks[1].hook_type, "plugin");
  fs::create_directories(dir());
  EXPECT_TRUE(providers::find_factory("openclaw")->detect().hooks_installed);
}

TEST_F(OpenClaw, MissingConfigIsCreatedWithATrailingNewline) {
  fs::create_directories(dir());
  create("openclaw")->install_hook("plugin");
  create("openclaw")->install_hook("plugin");
  EXPECT_EQ(read_file(config()),
            "{\n  \"plugins\": {\n    \"entries\": {\n      \"stelvane\": {\n        \"enabled\": true\n"
            "      }\n    }\n  }\n}\n");
  EXPECT_EQ(logged("warning"), (std::vector<std::string>{"stelvane plugin already enabled in " + config().string()}));
}

TEST_F(OpenClaw, DisabledEntryStaysDisabled) {
  write_file(config(), R"({"plugins": {"entries": {"stelvane": {"enabled": false}}}})");
  create("openclaw")->install_hook("plugin");
  EXPECT_EQ(config_json()["plugins"]["entries"]["stelvane"], json::parse(R"({"enabled": false})"));
  EXPECT_EQ(logged("warning"), (std::vector<std::string>{"stelvane plugin already enabled in " + config().string()}));
  const auto hooks = create("openclaw")->list_hooks();
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0].matcher, "stelvane (disabled)");
  EXPECT_FALSE(providers::find_factory("openclaw")->detect().hooks_installed);
}

TEST_F(OpenClaw, StructuralErrorsAreReportedDirectlyAfterThePluginIsWritten) {
  const std::string path = config().string();
  const std::pair<const char*, std::string> cases[] = {
      {"[]", "Expected root of " + path + " to be a JSON object"},
      {R"({"plugins": []})", "Expected 'plugins' field in " + path + " to be an object"},
      {R"({"plugins": {"entries": 1}})", "Expected 'plugins.entries' field in " + path + " to be an object"},
      {"{", "Unable to parse JSON in " + path},
  };
  for (const auto& [text, message] : cases) {
    write_file(config(), text);
    try {
      create("openclaw")->install_hook("plugin");
      ADD_FAILURE() << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), message);
    }
    EXPECT_EQ(read_file(config()), text);
    EXPECT_TRUE(fs::exists(plugin_dir() / "index.ts"));
  }
}

TEST_F(OpenClaw, UninstallRemovesPluginAndEntryThenWarnsTheSecondTime) {
  write_file(config(), R"({"plugins": {"entries": {"voice": {"enabled": true}}}})");
  create("openclaw")->install_hook("plugin");
  clear_log();
  create("openclaw")->uninstall_hook("plugin");
  EXPECT_FALSE(fs::exists(plugin_dir()));
  EXPECT_TRUE(fs::exists(dir() / "extensions"));
  EXPECT_EQ(read_file(config()),
            json::parse(R"({"plugins": {"entries": {"voice": {"enabled": true}}}})").dump(2) + "\n");
  EXPECT_EQ(logged("info"), (std::vector<std::string>{"Uninstalling plugin from " + dir().string(),
                                                      "Removed stelvane plugin from " + plugin_dir().string(),
                                                      "Disabled stelvane plugin in " + config().string()}));
  const std::string before = read_file(config());
  create("openclaw")->uninstall_hook("plugin");
  EXPECT_EQ(read_file(config()), before);
  EXPECT_EQ(logged("warning"), (std::vector<std::string>{"stelvane not found in " + config().string()}));
}

TEST_F(OpenClaw, UninstallWithoutOpenClawOrConfigIsQuiet) {
  create("openclaw")->uninstall_hook("plugin");
  EXPECT_TRUE(fs::is_empty(home()));
  fs::create_directories(plugin_dir());
  write_file(plugin_dir() / "index.ts", "x");
  create("openclaw")->uninstall_hook("plugin");
  EXPECT_FALSE(fs::exists(plugin_dir()));
  EXPECT_FALSE(fs::exists(config()));
  EXPECT_TRUE(create("openclaw")->list_hooks().empty());
}

TEST_F(OpenClaw, ListShowsMissingModuleAfterThePluginDirectoryIsDeleted) {
  fs::create_directories(dir());
  create("openclaw")->install_hook("plugin");
  fs::remove_all(plugin_dir());
  const auto hooks = create("openclaw")->list_hooks();
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0].command, "[plugin - index.ts missing]");
  write_file(config(), R"({"plugins": {}})");
  EXPECT_TRUE(create("openclaw")->list_hooks().empty());
  write_file(config(), "{");
  expect_error([] { create("openclaw")->list_hooks(); }, {"Unable to parse JSON in " + config().string(), ""});
}

TEST(OpenClawModule, EscapesTheExecutableForADoubleQuotedString) {
  using providers::openclaw::escape_script_string;
  EXPECT_EQ(escape_script_string("/plain/stelvane"), "/plain/stelvane");
  EXPECT_EQ(escape_script_string(R"(a\"b)"), R"(a\\\"b)");
  EXPECT_EQ(escape_script_string("$x`y`\n\r"), R"(\$x\`y\`\n\r)");

  const std::string source = providers::openclaw::module_source("/o\"ne/$bin/stelvane", "https://docs.example/plugins");
  const std::string escaped = R"(spawnSync("/o\"ne/\$bin/stelvane", ["openclaw-callback"])";
  size_t count = 0;
  for (size_t at = source.find(escaped); at != std::string::npos; at = source.find(escaped, at + 1)) ++count;
  EXPECT_EQ(count, 2u);
  EXPECT_NE(source.find("import { spawnSync } from \"child_process\";"), std::string::npos);
  EXPECT_NE(source.find("stelvane Plugin for OpenClaw"), std::string::npos);
  EXPECT_NE(source.find("https://docs.example/plugins"), std::string::npos);
}

// The module under Node.js, with a fake installed executable that records what it
// receives and answers as told.
class OpenClawRuntime : public ProviderEnv {
 protected:
  static std::string find_node() {
    const RunResult which = run_process({"/bin/sh", "-c", "command -v node"}, {{"PATH", std::getenv("PATH")}});
    std::string path = which.out;
    while (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
  }
};

TEST_F(OpenClawRuntime, RegisteredHooksRunTheExecutableAndMapItsAnswer) {
  const fs::path typescript = source_dir() / "tests" / "node" / "node_modules" / "typescript";
  ASSERT_TRUE(fs::exists(typescript)) << "run scripts/install-deps to install the test tools";
  const std::string node = find_node();
  ASSERT_FALSE(node.empty()) << "node not found";

  // A bin directory whose name needs every escape of the generated module.
  const fs::path bin = root() / "b \"q\" $HOME `id` \\x\\";
  set_env("STELVANE_BIN_DIR", bin.string());
  fs::create_directories(bin);
  write_file(bin / "stelvane", "#!" + node + R"(
const fs = require("fs");
const path = require("path");
const here = path.dirname(process.argv[1]);
const input = fs.readFileSync(0, "utf8");
fs.appendFileSync(path.join(here, "calls.log"), JSON.stringify({ args: process.argv.slice(2), stdin: input }) + "\n");
const mode = fs.readFileSync(path.join(here, "mode"), "utf8");
if (mode === "block") process.stdout.write('{"decision":"block","reason":"rm is not allowed"}');
if (mode === "block-empty") process.stdout.write('\n {"decision":"block","reason":""}\n');
if (mode === "garbage") process.stdout.write("not json");
if (mode === "fail") { process.stderr.write("boom"); process.exit(3); }
)");
  fs::permissions(bin / "stelvane", fs::perms::owner_all);
  fs::create_directories(home() / ".openclaw");
  create("openclaw")->install_hook("plugin");

  const json tool_event = {{"toolName", "exec"}, {"params", {{"command", "rm -rf /"}}}, {"extra", 1}};
  const json ctx = {{"agentId", "a1"}, {"sessionKey", "s1"}};
  const json scenario = {
      {"bin", bin.string()},
      {"calls",
       {
           {{"hook", "before_tool_call"}, {"event", tool_event}, {"ctx", ctx}, {"mode", "block"}},
           {{"hook", "before_tool_call"}, {"event", tool_event}, {"ctx", ctx}, {"mode", "block-empty"}},
           {{"hook", "before_tool_call"}, {"event", tool_event}, {"ctx", ctx}, {"mode", "allow"}},
           {{"hook", "before_tool_call"}, {"event", tool_event}, {"ctx", ctx}, {"mode", "garbage"}},
           {{"hook", "before_tool_call"}, {"event", tool_event}, {"ctx", ctx}, {"mode", "fail"}},
           {{"hook", "before_tool_call"}, {"event", tool_event}, {"ctx", ctx}, {"mode", "missing"}},
           {{"hook", "before_tool_call"}, {"event", {{"params", json::object()}}}, {"ctx", ctx}, {"mode", "block"}},
           {{"hook", "message_received"},
            {"event", {{"content", "hi"}, {"role", "user"}}},
            {"ctx", {{"channelId", "c"}}},
            {"mode", "block"}},
           {{"hook", "after_tool_call"},
            {"event", {{"toolName", "exec"}, {"params", json::object()}, {"durationMs", 5}}},
            {"ctx", {{"toolName", "ctx-wins"}}},
            {"mode", "allow"}},
       }},
  };
  write_file(root() / "scenario.json", scenario.dump());
  const RunResult run = run_process(
      {node, (source_dir() / "tests" / "providers" / "openclaw_harness.js").string(), typescript.string(),
       (home() / ".openclaw" / "extensions" / "stelvane" / "index.ts").string(), (root() / "scenario.json").string()},
      {{"PATH", std::getenv("PATH")}});
  ASSERT_EQ(run.status, 0) << run.err;
  const json report = json::parse(run.out);

  EXPECT_EQ(report["diagnostics"], json::array());
  EXPECT_EQ(report["id"], "stelvane");
  EXPECT_EQ(report["name"], "stelvane Security Plugin");
  EXPECT_EQ(report["description"], "Security and compliance monitoring for tool calls and messages");
  EXPECT_EQ(report["order"],
            json::parse(R"(["before_tool_call", "after_tool_call", "message_sent", "message_received"])"));
  EXPECT_EQ(report["loaded"], json::parse(R"(["[stelvane] Plugin loaded - monitoring tool calls and messages"])"));

  const auto& results = report["results"];
  ASSERT_EQ(results.size(), 9u);
  const json tool_payload = {{"eventType", "before_tool_call"},
                             {"toolName", "exec"},
                             {"params", {{"command", "rm -rf /"}}},
                             {"agentId", "a1"},
                             {"sessionKey", "s1"}};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(results[i]["received"].size(), 1u);
    EXPECT_EQ(results[i]["received"][0]["args"], json::parse(R"(["openclaw-callback"])"));
    EXPECT_EQ(json::parse(results[i]["received"][0]["stdin"].get<std::string>()), tool_payload);
  }
  EXPECT_EQ(results[0]["returned"], json::parse(R"({"block": true, "blockReason": "rm is not allowed"})"));
  EXPECT_EQ(results[1]["returned"], json::parse(R"({"block": true, "blockReason": "Blocked by stelvane policy"})"));
  EXPECT_EQ(results[2]["returned"], "undefined");
  EXPECT_EQ(results[3]["returned"], "undefined");
  EXPECT_EQ(results[3]["errors"], json::array());
  EXPECT_EQ(results[4]["returned"], "undefined");
  EXPECT_EQ(results[4]["errors"], json::parse(R"(["[stelvane] Process exited with code 3: boom"])"));
  EXPECT_EQ(results[5]["returned"], "undefined");
  EXPECT_EQ(results[5]["received"], json::array());
  ASSERT_EQ(results[5]["errors"].size(), 1u);
  EXPECT_TRUE(results[5]["errors"][0].get<std::string>().starts_with("[stelvane] Spawn error: ")) << results[5];
  EXPECT_NE(results[5]["errors"][0].get<std::string>().find("ENOENT"), std::string::npos) << results[5];
  // Without a tool name nothing is asked.
  EXPECT_EQ(results[6]["returned"], "undefined");
  EXPECT_EQ(results[6]["received"], json::array());
  // Notifications ignore the answer.
  EXPECT_EQ(results[7]["returned"], "undefined");
  ASSERT_EQ(results[7]["received"].size(), 1u);
  EXPECT_EQ(json::parse(results[7]["received"][0]["stdin"].get<std::string>()),
            json::parse(R"({"eventType": "message_received", "content": "hi", "role": "user", "channelId": "c"})"));
  ASSERT_EQ(results[8]["received"].size(), 1u);
  EXPECT_EQ(json::parse(results[8]["received"][0]["stdin"].get<std::string>()),
            json::parse(R"({"eventType": "after_tool_call", "toolName": "ctx-wins", "params": {}, "durationMs": 5})"));
}

}  // namespace
}  // namespace stelvane::test
