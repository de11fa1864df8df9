#pragma once
// The TypeScript module of the generated OpenClaw plugin.

#include <string>
#include <string_view>

namespace stelvane::providers::openclaw {

// `text` escaped for the inside of a double-quoted script string: backslashes
// doubled, then double quote, line feed, carriage return, dollar sign and
// backquote preceded by a backslash (line breaks as \n and \r).
std::string escape_script_string(std::string_view text);

// The module's source: on every tool call and message it runs `executable` with
// "openclaw-callback", the event as JSON on standard input; a tool call the program
// answers with {"decision":"block",...} is blocked. `docs_url` is OpenClaw's plugin
// documentation, named in the header comment.
std::string module_source(std::string_view executable, std::string_view docs_url);

}  // namespace stelvane::providers::openclaw
