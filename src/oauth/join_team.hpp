#pragma once
// join-team: connects this machine to a team set up elsewhere. The user hands in
// the team URL that init-team printed; its shape is checked, the organization is
// recorded in config.json, the executable is placed in the bin directory and the
// next step is printed. No network call is made.

#include <string_view>

namespace stelvane::oauth {

// Validates `url` (https, a host under the deployment's hook domain, at least three
// path segments with a non-empty first one), stores the organization (oid from the
// URL, empty name, the URL exactly as given), places the executable and prints the
// outcome on standard output. Throws Error with the first failed check's message;
// a failure to place the executable is reported on standard error and is not an
// error.
void join_team(std::string_view url);

}  // namespace stelvane::oauth
