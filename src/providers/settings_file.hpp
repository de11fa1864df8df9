#pragma once
// File handling shared by the providers: creating an assistant's directory and
// default file, reading and parsing its JSON, the structural checks with their
// messages, and writing the document back through the atomic replacement.

#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace stelvane::providers::settings_file {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Creates `dir` and its missing ancestors (mode 0777 before the umask) unless it
// exists. Throws Error(message) with the system error as cause.
void ensure_directory(const fs::path& dir, const std::string& message);

// Writes `content` to `path` unless it exists. Throws Error(message) over the
// write failure.
void ensure_file(const fs::path& path, std::string_view content, const std::string& message);

// The whole file as text. Throws "Unable to read {path}".
std::string read_text(const fs::path& path);

// Reads and parses the JSON document at `path`. Throws "Unable to read {path}" or
// `parse_message` with the parser's message as cause.
Json read_json(const fs::path& path, const std::string& parse_message);

// Pretty-printed, two-space indentation, keys in ascending order, no trailing
// newline. Throws `serialize_message` over the serialiser's error.
std::string serialize(const Json& document, const std::string& serialize_message);

// Replaces the file at `path` with `text` atomically (links kept, mode kept).
// Throws "Failed to write to {path}" over the cause.
void write_text(const fs::path& path, std::string_view text);

// serialize + write_text.
void write_json(const fs::path& path, const Json& document, const std::string& serialize_message);

// Throws Error("Unable to update {path}") caused by `expected`.
[[noreturn]] void structure_error(const fs::path& path, std::string expected);

// The member `key` of the object `parent`, inserted as an empty object (or array)
// when absent. Throws structure_error(path, expected) when it has another type.
Json& object_member(Json& parent, const char* key, const fs::path& path, const std::string& expected);
Json& array_member(Json& parent, const char* key, const fs::path& path, const std::string& expected);

// The text of member `key` when `value` is an object holding a string there.
const std::string* text_member(const Json& value, const char* key);

// Whether a command line runs this program: its first whitespace-separated word
// exists and ends with "stelvane" (any bin directory, old installs included).
bool runs_program(std::string_view command);

}  // namespace stelvane::providers::settings_file
