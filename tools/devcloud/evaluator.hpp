#pragma once
// Detection rules of the reference cloud: detect trees compiled once, then matched
// against hook request bodies.
//
// A tree is built from "and"/"or" combinations over "rules", and the tests "is"
// (text equals "value"), "contains" (text contains "value") and "matches" (an
// ECMAScript regular expression "re" found anywhere in the text). Paths have the
// form "event/a/b/...": "event" is the request body and each further segment
// selects an object member (or an array element by index). A test whose path
// leads nowhere is false. Comparisons are case-sensitive.

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace devcloud {

class CompiledNode;

// One rule ready for evaluation. Construction throws std::invalid_argument with a
// readable message for a malformed tree (unknown op, missing field, bad regex).
class CompiledRule {
 public:
  CompiledRule(std::string name, const nlohmann::json& detect, const nlohmann::json& respond);
  ~CompiledRule();
  CompiledRule(CompiledRule&&) noexcept;
  CompiledRule& operator=(CompiledRule&&) noexcept;

  const std::string& name() const { return name_; }
  // The name of the rule's first "report" action, or the rule name when it has none.
  const std::string& report_name() const { return report_name_; }
  // Whether the tree matches `event` (a whole request body). A root "target" other
  // than "webhook" never matches webhook events.
  bool matches(const nlohmann::json& event) const;

 private:
  std::string name_;
  std::string report_name_;
  bool webhook_target_ = true;
  std::unique_ptr<CompiledNode> root_;
};

// The value at `path` ("event/…") in `event`, or nullptr.
const nlohmann::json* lookup(const nlohmann::json& event, const std::string& path);

}  // namespace devcloud
