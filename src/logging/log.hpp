#pragma once
// Named loggers. Every line carries a target: the module path under "stelvane::"
// (for example "stelvane::providers::cursor"), which is also the logger's name.

#include <spdlog/logger.h>

namespace stelvane::logging {

// The logger for `target`, created on first use. Before init_logging has run the
// logger has no destination, so library code may log freely in any process.
spdlog::logger& get(const char* target);

}  // namespace stelvane::logging
