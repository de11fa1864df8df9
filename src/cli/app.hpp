#pragma once

#include <string>
// The program's entry: parses the command line, sets up logging, dispatches the
// command, reports errors and returns the process exit status.

namespace stelvane::cli {

// Exit statuses of the process.
enum ExitStatus : int { kSuccess = 0, kFailure = 1, kUsage = 2 };

int run(int argc, char** argv);

}  // namespace stelvane::cli

namespace stelvane {
class Error;
}

namespace stelvane::cli {

// The report printed for a failed command: "Error: {message}", then, when there
// are causes, a blank line, "Caused by:" and the causes (numbered when several).
std::string format_error_report(const Error& error);

}  // namespace stelvane::cli
