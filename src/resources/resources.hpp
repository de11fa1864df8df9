#pragma once
// Data compiled into the executable: the constants document consts.json, the other
// values of the deployment the program was built for (service addresses, web
// pages shown in hints), the HTML pages of the sign-in callback server and the
// User-Agent text.
//
// Everything here is fixed at build time. A lookup of a key that the build does
// not define is a defect of the build: it prints the reason to standard error and
// aborts the program instead of throwing.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace stelvane::resources {

// One entry of the embedded tables: a page by file name or a value by key.
struct NamedText {
  std::string_view name;
  std::string_view text;
};

// The string member `key` of consts.json: one of firebase_api_key,
// firebase_signup_url, join_team_command, join_team_command_windows, upgrade_url,
// github_client_id. The document is parsed on first use, once per process.
// Aborts with "missing default: {key}" when there is no such string member.
std::string default_value(std::string_view key);

// A deployment value other than the consts.json constants (api_url, jwt_url,
// identity_toolkit_url, github_url, web_app_url, hook_domain_suffix, the
// install-hint pages, ...; see resources/README.md). Aborts with
// "missing deployment value: {key}" when the build has no such value.
std::string_view deployment_value(std::string_view key);

// The built-in page with the file name `name` (success.html, error.html, mfa.html,
// callback.html), or nothing. Backslashes in `name` count as "/"; names are
// compared byte for byte.
std::optional<std::string_view> builtin_page(std::string_view name);

// "stelvane/{version} ({os}; {arch})", built once per process.
std::string_view user_agent();

// Seams for the tests of this module.
namespace testing {

// The embedded consts.json text as compiled in.
std::string_view consts_json_text();
// How many times the process has parsed the embedded consts.json.
int consts_parse_count();
// Runs the parse of a consts.json text the way the first use does, then the
// lookup of `key` (aborting exactly as default_value does).
std::string default_value_from(std::string_view document, std::string_view key);
// The lookup rule of builtin_page applied to a table sorted by name.
std::optional<std::string_view> find_page(std::span<const NamedText> table, std::string_view name);
// The embedded pages, in stored order.
std::span<const NamedText> pages();
// The embedded deployment values, in stored order.
std::span<const NamedText> deployment_values();

}  // namespace testing

}  // namespace stelvane::resources
