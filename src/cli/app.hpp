#pragma once
// The program's entry: parses the command line, sets up logging, dispatches the
// command, reports errors and returns the process exit status.

namespace stelvane::cli {

// Exit statuses of the process.
enum ExitStatus : int { kSuccess = 0, kFailure = 1, kUsage = 2 };

int run(int argc, char** argv);

}  // namespace stelvane::cli
