#include "evaluator.hpp"

#include <charconv>
#include <regex>
#include <stdexcept>

namespace devcloud {

using nlohmann::json;

class CompiledNode {
 public:
  enum class Op { And, Or, Is, Contains, Matches };

  explicit CompiledNode(const json& node) {
    if (!node.is_object()) throw std::invalid_argument("detect node is not an object: " + node.dump());
    const auto op = node.find("op");
    if (op == node.end() || !op->is_string()) throw std::invalid_argument("detect node without \"op\": " + node.dump());
    const std::string& name = op->get_ref<const std::string&>();
    if (name == "and" || name == "or") {
      op_ = name == "and" ? Op::And : Op::Or;
      const auto rules = node.find("rules");
      if (rules == node.end() || !rules->is_array())
        throw std::invalid_argument("\"" + name + "\" node without a \"rules\" list");
      for (const auto& child : *rules) children_.push_back(std::make_unique<CompiledNode>(child));
      return;
    }
    if (name == "is") {
      op_ = Op::Is;
    } else if (name == "contains") {
      op_ = Op::Contains;
    } else if (name == "matches") {
      op_ = Op::Matches;
    } else {
      throw std::invalid_argument("unknown detect op \"" + name + "\"");
    }
    const auto path = node.find("path");
    if (path == node.end() || !path->is_string())
      throw std::invalid_argument("\"" + name + "\" node without a \"path\"");
    path_ = path->get<std::string>();
    if (path_ != "event" && path_.rfind("event/", 0) != 0)
      throw std::invalid_argument("path does not start with event/: " + path_);
    if (op_ == Op::Matches) {
      const auto re = node.find("re");
      if (re == node.end() || !re->is_string()) throw std::invalid_argument("\"matches\" node without \"re\"");
      try {
        // The breadth-first matcher keeps its stack flat however long the text is
        // (the default backtracking one recurses once per character).
        regex_ = std::regex(re->get<std::string>(), std::regex::ECMAScript | std::regex_constants::__polynomial);
      } catch (const std::regex_error& e) {
        throw std::invalid_argument("invalid regular expression " + re->dump() + ": " + e.what());
      }
      return;
    }
    const auto value = node.find("value");
    if (value == node.end()) throw std::invalid_argument("\"" + name + "\" node without \"value\"");
    value_ = *value;
    if (op_ == Op::Contains && !value_.is_string()) throw std::invalid_argument("\"contains\" value is not text");
  }

  bool eval(const json& event) const {
    switch (op_) {
      case Op::And:
        for (const auto& child : children_)
          if (!child->eval(event)) return false;
        return true;
      case Op::Or:
        for (const auto& child : children_)
          if (child->eval(event)) return true;
        return false;
      default: break;
    }
    const json* found = lookup(event, path_);
    if (found == nullptr || found->is_null()) return false;
    if (op_ == Op::Is) {
      if (value_.is_string() && found->is_string()) return *found == value_;
      if (value_.is_string()) return text_of(*found) == value_.get_ref<const std::string&>();
      return *found == value_;
    }
    const std::string text = text_of(*found);
    if (op_ == Op::Contains) return text.find(value_.get_ref<const std::string&>()) != std::string::npos;
    return std::regex_search(text, regex_);
  }

 private:
  // Non-text values are compared in their compact JSON form.
  static std::string text_of(const json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

  Op op_ = Op::Or;
  std::vector<std::unique_ptr<CompiledNode>> children_;
  std::string path_;
  json value_;
  std::regex regex_;
};

const json* lookup(const json& event, const std::string& path) {
  if (path == "event") return &event;
  if (path.rfind("event/", 0) != 0) return nullptr;
  const json* cur = &event;
  std::size_t pos = 6;
  while (pos <= path.size()) {
    const std::size_t end = std::min(path.find('/', pos), path.size());
    const std::string_view key(path.data() + pos, end - pos);
    if (cur->is_object()) {
      const auto it = cur->find(key);
      if (it == cur->end()) return nullptr;
      cur = &*it;
    } else if (cur->is_array()) {
      std::size_t index = 0;
      const auto [p, ec] = std::from_chars(key.data(), key.data() + key.size(), index);
      if (ec != std::errc() || p != key.data() + key.size() || index >= cur->size()) return nullptr;
      cur = &(*cur)[index];
    } else {
      return nullptr;
    }
    pos = end + 1;
  }
  return cur;
}

CompiledRule::CompiledRule(std::string name, const json& detect, const json& respond)
    : name_(std::move(name)), report_name_(name_), root_(std::make_unique<CompiledNode>(detect)) {
  if (const auto target = detect.find("target"); target != detect.end()) webhook_target_ = *target == "webhook";
  if (!respond.is_array()) throw std::invalid_argument("\"respond\" is not a list");
  for (const auto& action : respond) {
    if (action.is_object() && action.value("action", "") == "report" && action.contains("name") &&
        action["name"].is_string()) {
      report_name_ = action["name"].get<std::string>();
      break;
    }
  }
}

CompiledRule::~CompiledRule() = default;
CompiledRule::CompiledRule(CompiledRule&&) noexcept = default;
CompiledRule& CompiledRule::operator=(CompiledRule&&) noexcept = default;

bool CompiledRule::matches(const json& event) const { return webhook_target_ && root_->eval(event); }

}  // namespace devcloud
