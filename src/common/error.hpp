#pragma once
// The program's one error type: a message plus the chain of causes beneath it.
//
// Errors are thrown as exceptions. A step that wraps a lower failure adds its own
// message on top (Error::wrap or with_context); the front end catches once, prints
// the chain and chooses the exit status.

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace stelvane {

class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  Error(std::string message, std::vector<std::string> causes)
      : message_(std::move(message)), causes_(std::move(causes)) {}

  // A new error whose top message is `message` and whose causes are `cause`
  // followed by the causes of `cause` (any std::exception counts as one cause).
  static Error wrap(std::string message, const std::exception& cause);
  // An error whose cause is the system error text for `err` (an errno value).
  static Error from_errno(std::string message, int err);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  // Causes from the nearest to the deepest.
  const std::vector<std::string>& causes() const noexcept { return causes_; }

  // The chain as one line: "top: cause 0: cause 1".
  std::string chain() const;

 private:
  std::string message_;
  std::vector<std::string> causes_;
};

// Runs `f`; whatever it throws is rethrown as Error::wrap(message, thrown).
template <class F>
decltype(auto) with_context(std::string message, F&& f) {
  try {
    return std::forward<F>(f)();
  } catch (const std::exception& e) {
    throw Error::wrap(std::move(message), e);
  }
}

}  // namespace stelvane
