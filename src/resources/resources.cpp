#include "resources/resources.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "common/build_info.hpp"
#include "resources/embedded.hpp"

namespace stelvane::resources {

namespace {

std::atomic<int> g_consts_parses{0};

// A lookup the build should have satisfied failed: nothing sensible can follow.
[[noreturn]] void build_defect(std::string_view message) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
  std::abort();
}

nlohmann::json parse_consts(std::string_view document) {
  if (document.empty()) {
    build_defect("consts.json embedded");
  }
  nlohmann::json parsed = nlohmann::json::parse(document, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    build_defect("valid consts.json");
  }
  return parsed;
}

std::string lookup_const(const nlohmann::json& consts, std::string_view key) {
  auto it = consts.find(key);
  if (it == consts.end() || !it->is_string()) {
    build_defect("missing default: " + std::string(key));
  }
  return it->get<std::string>();
}

const NamedText* find_entry(std::span<const NamedText> table, std::string_view name) {
  auto it = std::lower_bound(table.begin(), table.end(), name,
                             [](const NamedText& entry, std::string_view wanted) { return entry.name < wanted; });
  if (it == table.end() || it->name != name) {
    return nullptr;
  }
  return &*it;
}

}  // namespace

std::string default_value(std::string_view key) {
  static const nlohmann::json consts = [] {
    g_consts_parses.fetch_add(1, std::memory_order_relaxed);
    return parse_consts(embedded::consts_json());
  }();
  return lookup_const(consts, key);
}

std::string_view deployment_value(std::string_view key) {
  const NamedText* entry = find_entry(embedded::deployment_values(), key);
  if (entry == nullptr) {
    build_defect("missing deployment value: " + std::string(key));
  }
  return entry->text;
}

std::optional<std::string_view> builtin_page(std::string_view name) {
  return testing::find_page(embedded::pages(), name);
}

std::string_view user_agent() {
  static const std::string agent =
      std::string(build::kProgramName) + "/" + build::kVersion + " (" + build::kOsName + "; " + build::kArchName + ")";
  return agent;
}

namespace testing {

std::string_view consts_json_text() { return embedded::consts_json(); }

int consts_parse_count() { return g_consts_parses.load(std::memory_order_relaxed); }

std::string default_value_from(std::string_view document, std::string_view key) {
  return lookup_const(parse_consts(document), key);
}

std::optional<std::string_view> find_page(std::span<const NamedText> table, std::string_view name) {
  std::string wanted(name);
  std::replace(wanted.begin(), wanted.end(), '\\', '/');
  const NamedText* entry = find_entry(table, wanted);
  if (entry == nullptr) {
    return std::nullopt;
  }
  return entry->text;
}

std::span<const NamedText> pages() { return embedded::pages(); }

std::span<const NamedText> deployment_values() { return embedded::deployment_values(); }

}  // namespace testing

}  // namespace stelvane::resources
