#pragma once
// Where a run's log lines go: standard error (--verbose), the data directory's
// stelvane.log (truncated each run), or a fresh debug file per run.

#include <optional>
#include <string>

namespace stelvane::logging {

// Sets up the process-wide logging once, before any command work. With no file
// name the lines go to standard error. Throws Error on set-up failures.
void init_logging(const std::optional<std::string>& file_name, bool debug);

// The debug switch of config.json, read without creating, logging or changing
// anything; any failure reads as false.
bool debug_enabled();

// The debug-clean command: deletes the *.log files of the debug directory and
// prints what it removed.
void clean_debug_logs();

// "{} bytes", "{:.1} KB" or "{:.1} MB" for a byte total.
std::string size_text(unsigned long long bytes);

}  // namespace stelvane::logging
