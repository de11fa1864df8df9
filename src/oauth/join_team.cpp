#include "oauth/join_team.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include <boost/url/parse.hpp>
#include <boost/url/url_view.hpp>
#include <fmt/format.h>

#include "common/error.hpp"
#include "common/paths.hpp"
#include "common/term.hpp"
#include "config/loader.hpp"
#include "hooks/install.hpp"
#include "resources/resources.hpp"

namespace stelvane::oauth {

namespace {

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// The first path segment of a team URL, in its encoded form, after the checks in
// the order the user is told about them.
std::string checked_oid(std::string_view text) {
  const auto parsed = boost::urls::parse_uri(text);
  if (!parsed) throw Error("Invalid URL format", {parsed.error().message()});
  const boost::urls::url_view& u = *parsed;

  if (ascii_lower(u.scheme()) != "https") throw Error("Team URL must use HTTPS");
  if (!u.has_authority() || u.encoded_host().empty()) throw Error("Team URL must have a valid host");

  const std::string suffix(resources::deployment_value("hook_domain_suffix"));
  if (!ascii_lower(u.encoded_host()).ends_with(suffix))
    throw Error(fmt::format("Team URL must be a Nexmoor hook URL (*{})", suffix));

  // An authority without a path has the root path.
  const std::string_view path = u.encoded_path().empty() ? std::string_view("/") : std::string_view(u.encoded_path());
  if (path.front() != '/') throw Error("URL has no path segments");
  std::vector<std::string_view> segments;
  std::string_view rest = path.substr(1);
  for (std::size_t slash; (slash = rest.find('/')) != std::string_view::npos; rest.remove_prefix(slash + 1))
    segments.push_back(rest.substr(0, slash));
  segments.push_back(rest);
  if (segments.size() < 3)
    throw Error(fmt::format("Invalid team URL format. Expected: https://<id>{}/<oid>/<name>/<secret>", suffix));
  if (segments.front().empty()) throw Error("Organization ID in URL cannot be empty");
  return std::string(segments.front());
}

std::string cyan(std::string_view text) { return common::paint(text, common::Style::Cyan); }

}  // namespace

void join_team(std::string_view url) {
  config::Config cfg = config::load_config();
  const std::string oid = checked_oid(url);

  cfg.org.oid = oid;
  cfg.org.name.clear();
  cfg.org.url = std::string(url);
  config::save_config(cfg);

  const std::filesystem::path destination = common::installed_executable_path();
  try {
    hooks::install::place_executable(destination);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fputs(fmt::format("Unable to install stelvane @ {} ({})\n", destination.string(), e.what()).c_str(), stderr);
  }

  std::string out = "Joined team successfully!\n\n";
  out += common::paint(fmt::format("\nTeam URL: {}", url), common::Style::Green) + "\n\n";
  out += "Run to set up hooks for your AI coding tools:\n\n";
  out += cyan(fmt::format("{} install", destination.string())) + "\n\n";
  std::fputs(out.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace stelvane::oauth
