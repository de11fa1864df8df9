#include "cli/app.hpp"

namespace stelvane::cli {

int run(int, char**) { return kFailure; }

}  // namespace stelvane::cli
