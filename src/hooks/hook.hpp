#pragma once
// The callbacks' entry: from an assistant's call of a callback subcommand to the
// end of the run (configuration, organization check, cloud client, provider
// object, event processing).

#include <string>

#include "providers/mod.hpp"

namespace stelvane::hooks {

// Every callback except Codex's: the event comes on standard input and the answer
// goes to standard output. Throws Error for the runs that must end with status 1.
void run_hook(providers::ProviderKind kind);

// Codex passes the event as an argument and expects no answer: the event is only
// reported to the cloud.
void run_codex_hook(const std::string& payload);

}  // namespace stelvane::hooks
