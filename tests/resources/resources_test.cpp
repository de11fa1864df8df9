#include "resources/resources.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/build_info.hpp"
#include "support/testutil.hpp"

namespace stelvane::resources {
namespace {

namespace fs = std::filesystem;
using stelvane::test::read_file;
using stelvane::test::Sandbox;
using stelvane::test::TempDir;
using stelvane::test::write_file;

const std::vector<std::string> kConstKeys = {"firebase_api_key",          "firebase_signup_url", "join_team_command",
                                             "join_team_command_windows", "upgrade_url",         "github_client_id"};

// The documented form of each built-in constant.
const std::vector<std::pair<std::string, std::string>> kConstForms = {
    {"firebase_api_key", R"(^[A-Za-z0-9_-]{39}$)"},
    {"firebase_signup_url", R"(^https://[^/?#@\s]+/signUpStelvane$)"},
    {"join_team_command", R"(^bash <\(curl -fsSL https://[^/?#@\s]+/install\.sh\) join-team$)"},
    {"join_team_command_windows", R"(^\$u="\{URL\}"; irm https://[^/?#@\s]+/join\.ps1 \| iex$)"},
    {"upgrade_url", R"(^https://[^/?#@\s]+$)"},
    {"github_client_id", R"(^[0-9a-f]{20}$)"},
};

void expect_const_forms(const nlohmann::json& consts, const std::string& where) {
  for (const auto& [key, form] : kConstForms) {
    ASSERT_TRUE(consts.contains(key) && consts[key].is_string()) << where << ": " << key;
    std::string value = consts[key].get<std::string>();
    EXPECT_TRUE(std::regex_match(value, std::regex(form))) << where << ": " << key << " = " << value;
  }
  std::string upgrade = consts["upgrade_url"].get<std::string>();
  EXPECT_EQ(consts["join_team_command"], "bash <(curl -fsSL " + upgrade + "/install.sh) join-team") << where;
  EXPECT_EQ(consts["join_team_command_windows"], "$u=\"{URL}\"; irm " + upgrade + "/join.ps1 | iex") << where;
}

TEST(DefaultValueTest, EveryConstantHasItsDocumentedForm) {
  nlohmann::json consts;
  for (const auto& key : kConstKeys) {
    consts[key] = default_value(key);
  }
  expect_const_forms(consts, "built deployment");
}

TEST(DefaultValueTest, ParsesTheDocumentOnceForRepeatedAndConcurrentLookups) {
  std::string first = default_value("upgrade_url");
  EXPECT_EQ(default_value("upgrade_url"), first);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([] { (void)default_value("github_client_id"); });
  }
  for (auto& t : threads) {
    t.join();
  }
  EXPECT_EQ(testing::consts_parse_count(), 1);
}

TEST(DefaultValueTest, StoredTextIsFourSpaceIndentedWithTheSixKeysInOrder) {
  std::string text(testing::consts_json_text());
  nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(text);
  std::vector<std::string> keys;
  for (const auto& item : parsed.items()) {
    keys.push_back(item.key());
  }
  EXPECT_EQ(keys, kConstKeys);
  // Exactly the pretty form with four-space indentation.
  EXPECT_EQ(text, parsed.dump(4) + "\n");
}

using DefaultValueDeathTest = ::testing::Test;

TEST_F(DefaultValueDeathTest, BuildDefectsStopTheProgramWithTheirMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH((void)default_value("no_such_key"), "missing default: no_such_key");
  EXPECT_DEATH((void)testing::default_value_from("", "upgrade_url"), "consts.json embedded");
  EXPECT_DEATH((void)testing::default_value_from("{\"upgrade_url\": ", "upgrade_url"), "valid consts.json");
  EXPECT_DEATH((void)testing::default_value_from("[\"upgrade_url\"]", "upgrade_url"), "valid consts.json");
  EXPECT_DEATH((void)testing::default_value_from("{\"upgrade_url\": 7}", "upgrade_url"),
               "missing default: upgrade_url");
  EXPECT_DEATH((void)deployment_value("no_such_value"), "missing deployment value: no_such_value");
  EXPECT_EQ(testing::default_value_from("{\"upgrade_url\": \"https://x.example\"}", "upgrade_url"),
            "https://x.example");
}

TEST(DeploymentValueTest, ValuesAreSortedUniqueAndNeverConstants) {
  auto values = testing::deployment_values();
  ASSERT_FALSE(values.empty());
  for (size_t i = 1; i < values.size(); ++i) {
    EXPECT_LT(values[i - 1].name, values[i].name);
  }
  for (const auto& entry : values) {
    EXPECT_EQ(std::find(kConstKeys.begin(), kConstKeys.end(), entry.name), kConstKeys.end()) << entry.name;
    EXPECT_EQ(deployment_value(entry.name), entry.text);
    EXPECT_FALSE(entry.text.empty()) << entry.name;
  }
  EXPECT_TRUE(
      std::regex_match(std::string(deployment_value("api_url")), std::regex(R"(^https://[^/?#@\s]+(/\S*)?/v1$)")));
  EXPECT_TRUE(std::regex_match(std::string(deployment_value("jwt_url")), std::regex(R"(^https://[^/?#@\s]+$)")));
  EXPECT_TRUE(std::regex_match(std::string(deployment_value("hook_domain_suffix")),
                               std::regex(R"(^\.hook\.[a-z0-9-]+(\.[a-z0-9-]+)*$)")));
}

TEST(BuiltinPageTest, LooksUpByExactName) {
  struct Case {
    const char* name;
    bool found;
  };
  const Case cases[] = {
      {"error.html", true},   {"success.html", true},      {"mfa.html", true},   {"callback.html", true},
      {"Error.html", false},  {"ERROR.HTML", false},       {"error.htm", false}, {"error.html ", false},
      {"/error.html", false}, {"pages/error.html", false}, {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(builtin_page(c.name).has_value(), c.found) << c.name;
  }
  EXPECT_NE(builtin_page("error.html")->find("<title>Nexmoor - Authentication Error</title>"), std::string_view::npos);
  auto stored = testing::pages();
  ASSERT_EQ(stored.size(), 4u);
  for (size_t i = 1; i < stored.size(); ++i) {
    EXPECT_LT(stored[i - 1].name, stored[i].name);
  }
}

TEST(BuiltinPageTest, BackslashesCountAsSlashes) {
  const NamedText table[] = {{"a.html", "A"}, {"dir/b.html", "B"}, {"dir/sub/c.html", "C"}, {"z.html", "Z"}};
  struct Case {
    const char* name;
    std::optional<std::string_view> text;
  };
  const Case cases[] = {
      {"dir\\b.html", "B"},
      {"dir/b.html", "B"},
      {"dir\\sub\\c.html", "C"},
      {"dir/sub\\c.html", "C"},
      {"dir\\\\b.html", std::nullopt},
      {"\\a.html", std::nullopt},
      {"a.html", "A"},
      {"z.html", "Z"},
      {"b.html", std::nullopt},
      {"zz.html", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(testing::find_page(table, c.name), c.text) << c.name;
  }
}

size_t count(std::string_view text, std::string_view part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) {
    ++n;
  }
  return n;
}

bool valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
      return false;
    }
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) {
        return false;
      }
    }
    i += len;
  }
  return true;
}

TEST(BuiltinPageTest, PagesCarryTheirTitlesTextsAndPlaceholders) {
  struct ExpectedPage {
    const char* name;
    const char* title;
    std::vector<std::string> texts;  // in order of appearance
    const char* placeholder;         // nullptr: none
  };
  const ExpectedPage pages[] = {
      {"success.html",
       "Nexmoor - Authentication Successful",
       {"Authentication Successful</h1>", "You've been successfully authenticated.",
        "Your credentials have been securely stored.", "You can safely close this browser window/tab.",
        "Return to your terminal to continue"},
       nullptr},
      {"error.html",
       "Nexmoor - Authentication Error",
       {"Authentication Failed</h1>", "{{ERROR_MESSAGE}}", "The authentication process encountered an error.",
        "Please return to your terminal and try again.", "You can close this browser window/tab.",
        "Return to your terminal to retry"},
       "{{ERROR_MESSAGE}}"},
      {"mfa.html",
       "Nexmoor - Two-Factor Authentication",
       {"Two-Factor Authentication</h1>", "Enter the 6-digit code from <strong>{{FACTOR_NAME}}</strong>", "<input",
        ">Verify</button>"},
       "{{FACTOR_NAME}}"},
      {"callback.html",
       "Nexmoor - Authentication",
       {"Authentication Received</h1>", "Your credentials are being verified.",
        "Please check your terminal to complete the login.", "Return to your terminal to continue"},
       nullptr},
  };
  const std::string font_sheet = "https://fonts.googleapis.com/css2?family=IBM+Plex+Mono";
  for (const auto& expected : pages) {
    SCOPED_TRACE(expected.name);
    auto page = builtin_page(expected.name);
    ASSERT_TRUE(page);
    EXPECT_TRUE(valid_utf8(*page));
    EXPECT_NE(page->find("<meta charset=\"utf-8\">"), std::string_view::npos);
    EXPECT_EQ(count(*page, "<title>" + std::string(expected.title) + "</title>"), 1u);
    size_t body = page->find("<body>");
    ASSERT_NE(body, std::string_view::npos);
    size_t at = body;
    for (const auto& text : expected.texts) {
      size_t found = page->find(text, at);
      EXPECT_NE(found, std::string_view::npos) << "missing or out of order: " << text;
      if (found != std::string_view::npos) {
        at = found + text.size();
      }
    }
    // Placeholders: the page's own exactly once, no other.
    if (expected.placeholder != nullptr) {
      EXPECT_EQ(count(*page, expected.placeholder), 1u);
    }
    EXPECT_EQ(count(*page, "{{"), expected.placeholder != nullptr ? 1u : 0u);
    // Styles inline; the font stylesheet (IBM Plex Mono and Inter) is the one outside address.
    EXPECT_EQ(count(*page, "<style>"), 1u);
    EXPECT_EQ(count(*page, "<link "), 1u);
    EXPECT_EQ(count(*page, "://"), 1u);
    size_t sheet = page->find(font_sheet);
    ASSERT_NE(sheet, std::string_view::npos);
    EXPECT_NE(page->find("family=Inter", sheet), std::string_view::npos);
  }
}

// Runs the page's script under Node.js with a minimal DOM and checks how it
// submits a code and shows the server's answers.
TEST(BuiltinPageTest, MfaScriptPostsTheCodeAndShowsTheAnswer) {
  Sandbox sandbox;
  const char* path = std::getenv("PATH");
  sandbox.set_env("PATH", path != nullptr ? path : "/usr/bin:/bin");
  if (sandbox.run_program({"node", "--version"}).status != 0) {
    GTEST_SKIP() << "node is not installed";
  }
  std::string page(*builtin_page("mfa.html"));
  size_t start = page.find("<script>");
  size_t end = page.find("</script>");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  write_file(sandbox.root() / "page.js", page.substr(start + 8, end - start - 8));
  write_file(sandbox.root() / "harness.js", R"JS(
const script = require('fs').readFileSync(process.argv[2], 'utf8');
function element() {
  const listeners = {};
  return { value: '', textContent: '', disabled: false, listeners,
           addEventListener(type, fn) { listeners[type] = fn; }, focus() {}, select() {} };
}
const els = { 'mfa-form': element(), code: element(), verify: element(), message: element() };
let written = null;
global.document = { getElementById: (id) => els[id],
                    open() { written = ''; }, write(t) { written += t; }, close() {} };
const calls = [];
let respond;
global.fetch = (url, options) => { calls.push({ url, options }); return respond(); };
new Function(script)();
const answer = (ok, status, body) => () => Promise.resolve({ ok, status, text: () => Promise.resolve(body) });
async function submit(typed, responder) {
  els.code.value = typed;
  els.code.listeners.input();
  respond = responder;
  let prevented = false;
  els['mfa-form'].listeners.submit({ preventDefault() { prevented = true; } });
  const busy = els.verify.disabled;
  await new Promise((r) => setTimeout(r, 20));
  return { prevented, busy, value: els.code.value, message: els.message.textContent, disabled: els.verify.disabled };
}
(async () => {
  const out = {};
  out.rejected = await submit('12a34567', answer(false, 401, 'Invalid or expired verification code.'));
  out.empty = await submit('123456', answer(false, 400, ''));
  out.offline = await submit('123456', () => Promise.reject(new Error('offline')));
  out.accepted = await submit('000111', answer(true, 200, '<html>verified</html>'));
  out.calls = calls;
  out.written = written;
  console.log(JSON.stringify(out));
})();
)JS");
  auto result =
      sandbox.run_program({"node", (sandbox.root() / "harness.js").string(), (sandbox.root() / "page.js").string()});
  ASSERT_EQ(result.status, 0) << result.err;
  auto out = nlohmann::json::parse(result.out);

  const auto& rejected = out["rejected"];
  EXPECT_TRUE(rejected["prevented"].get<bool>());
  EXPECT_TRUE(rejected["busy"].get<bool>());
  EXPECT_EQ(rejected["value"], "123456");  // only digits, at most six
  EXPECT_EQ(rejected["message"], "Invalid or expired verification code.");
  EXPECT_FALSE(rejected["disabled"].get<bool>());
  EXPECT_EQ(out["empty"]["message"], "Invalid code. Please try again.");
  EXPECT_EQ(out["offline"]["message"], "Invalid code. Please try again.");
  EXPECT_FALSE(out["offline"]["disabled"].get<bool>());

  ASSERT_EQ(out["calls"].size(), 4u);
  for (const auto& call : out["calls"]) {
    EXPECT_EQ(call["url"], "/mfa/verify");
    EXPECT_EQ(call["options"]["method"], "POST");
    EXPECT_EQ(call["options"]["headers"]["Content-Type"], "application/x-www-form-urlencoded");
  }
  EXPECT_EQ(out["calls"][0]["options"]["body"], "code=123456");
  EXPECT_EQ(out["calls"][3]["options"]["body"], "code=000111");
  EXPECT_EQ(out["written"], "<html>verified</html>");
}

TEST(UserAgentTest, NamesProgramVersionSystemAndArchitecture) {
  std::string_view agent = user_agent();
  EXPECT_EQ(agent, std::string(build::kProgramName) + "/" + build::kVersion + " (" + build::kOsName + "; " +
                       build::kArchName + ")");
  EXPECT_TRUE(
      std::regex_match(std::string(agent), std::regex(R"(^stelvane/\d+\.\d+\.\d+ \([a-z0-9_]+; [a-z0-9_]+\)$)")));
  EXPECT_EQ(user_agent().data(), agent.data());  // built once
}

// The generator that embeds resources/ into the build, run the way the build runs it.
class ResourceGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    sandbox_.set_env("PATH", path != nullptr ? path : "/usr/bin:/bin");
  }

  stelvane::test::RunResult generate(const fs::path& resources_dir, const std::string& deployment,
                                     const fs::path& out_dir) {
    return sandbox_.run_program({"cmake", "-DRESOURCES_DIR=" + resources_dir.string(), "-DDEPLOYMENT=" + deployment,
                                 "-DOUTPUT_DIR=" + out_dir.string(), "-P",
                                 (stelvane::test::source_dir() / "cmake" / "resources.cmake").string()});
  }

  // A copy of resources/ whose production deployment is edited by `edit`.
  fs::path edited_copy(const std::function<void(nlohmann::ordered_json&)>& edit) {
    fs::path copy = sandbox_.root() / "resources";
    fs::copy(stelvane::test::source_dir() / "resources", copy, fs::copy_options::recursive);
    auto doc = nlohmann::ordered_json::parse(read_file(copy / "deployments" / "production.json"));
    edit(doc);
    write_file(copy / "deployments" / "production.json", doc.dump(2));
    return copy;
  }

  Sandbox sandbox_;
};

TEST_F(ResourceGeneratorTest, EveryDeploymentGeneratesWellFormedConstants) {
  fs::path resources = stelvane::test::source_dir() / "resources";
  for (const auto& file : fs::directory_iterator(resources / "deployments")) {
    std::string name = file.path().stem().string();
    SCOPED_TRACE(name);
    fs::path out = sandbox_.root() / name;
    auto result = generate(resources, name, out);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string text = read_file(out / "consts.json");
    auto parsed = nlohmann::ordered_json::parse(text);
    EXPECT_EQ(text, parsed.dump(4) + "\n");
    expect_const_forms(nlohmann::json(parsed), name);
    EXPECT_NE(read_file(out / "embedded_resources.cpp").find("deployment_name() { return \"" + name + "\"; }"),
              std::string::npos);
  }
}

TEST_F(ResourceGeneratorTest, FaultyDeploymentsFailWithTheReason) {
  struct Case {
    const char* what;
    std::function<void(nlohmann::ordered_json&)> edit;
    const char* deployment;
    const char* message;
  };
  const Case cases[] = {
      {"unknown deployment", [](auto&) {}, "staging", "staging.json does not exist"},
      {"upper-case client id", [](auto& d) { d["github_client_id"] = "5E0C9A71D3B84F26A1C7"; }, "production",
       "\"github_client_id\" is \"5E0C9A71D3B84F26A1C7\""},
      {"short api key", [](auto& d) { d["firebase_api_key"] = "short"; }, "production", "\"firebase_api_key\""},
      {"upgrade address with a path", [](auto& d) { d["upgrade_url"] = "https://release.nexmoor.example/x"; },
       "production", "\"upgrade_url\""},
      {"join command for another site",
       [](auto& d) { d["join_team_command"] = "bash <(curl -fsSL https://other.example/install.sh) join-team"; },
       "production", "\"join_team_command\""},
      {"missing constant", [](auto& d) { d.erase("github_client_id"); }, "production",
       "lacks the value \"github_client_id\""},
      {"value that is not text", [](auto& d) { d["jwt_url"] = 443; }, "production",
       "value of \"jwt_url\" must be a string"},
      {"hook suffix without the hook label", [](auto& d) { d["hook_domain_suffix"] = ".nexmoor.example"; },
       "production", "\"hook_domain_suffix\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir out;
    fs::path copy = edited_copy(c.edit);
    auto result = generate(copy, c.deployment, out.path());
    EXPECT_NE(result.status, 0);
    std::string err = result.err;
    err.erase(std::remove(err.begin(), err.end(), '\n'), err.end());
    // CMake wraps long messages; compare with the line breaks and indentation folded away.
    std::string folded = std::regex_replace(err, std::regex(" +"), " ");
    EXPECT_NE(folded.find(c.message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(out.path() / "embedded_resources.cpp"));
    fs::remove_all(copy);
  }
}

TEST(DeploymentFilesTest, ServiceAddressesStayOnReservedOrLoopbackHosts) {
  fs::path dir = stelvane::test::source_dir() / "resources" / "deployments";
  const std::vector<std::string> services = {"firebase_signup_url", "upgrade_url", "web_app_url", "api_url", "jwt_url",
                                             "website_url",         "terms_url"};
  auto host_of = [](const std::string& url) {
    std::smatch m;
    return std::regex_search(url, m, std::regex(R"(^https://([^/:]+))")) ? m[1].str() : std::string();
  };
  auto production = nlohmann::json::parse(read_file(dir / "production.json"));
  for (const auto& key : services) {
    std::string host = host_of(production[key].get<std::string>());
    EXPECT_TRUE(std::regex_search(host, std::regex(R"((^|\.)(example|example\.com|invalid)$)"))) << key << ": " << host;
  }
  EXPECT_TRUE(std::regex_search(production["hook_domain_suffix"].get<std::string>(), std::regex(R"(\.example$)")));

  auto local = nlohmann::json::parse(read_file(dir / "local.json"));
  for (const auto& key : {"firebase_signup_url", "upgrade_url", "web_app_url", "api_url", "jwt_url",
                          "identity_toolkit_url", "github_url"}) {
    EXPECT_EQ(local[key].get<std::string>().rfind("https://127.0.0.1:8443", 0), 0u) << key;
  }
  EXPECT_EQ(local["hook_domain_suffix"], ".hook.localhost");
}

}  // namespace
}  // namespace stelvane::resources
