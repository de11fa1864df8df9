#include "common/error.hpp"

#include <cstring>

namespace stelvane {

Error Error::wrap(std::string message, const std::exception& cause) {
  std::vector<std::string> causes;
  if (const auto* inner = dynamic_cast<const Error*>(&cause)) {
    causes.reserve(inner->causes_.size() + 1);
    causes.push_back(inner->message_);
    causes.insert(causes.end(), inner->causes_.begin(), inner->causes_.end());
  } else {
    causes.emplace_back(cause.what());
  }
  return Error(std::move(message), std::move(causes));
}

Error Error::from_errno(std::string message, int err) {
  return Error(std::move(message), {std::strerror(err) + std::string(" (os error ") + std::to_string(err) + ")"});
}

std::string Error::chain() const {
  std::string out = message_;
  for (const auto& c : causes_) {
    out += ": ";
    out += c;
  }
  return out;
}

}  // namespace stelvane
