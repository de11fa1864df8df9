#include "providers/settings_file.hpp"

#include <system_error>

#include <fmt/format.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "common/fileio.hpp"
#include "providers/assistants.hpp"

namespace stelvane::providers::settings_file {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

void ensure_directory(const fs::path& dir, const std::string& message) {
  std::error_code ec;
  if (fs::exists(dir, ec)) return;
  fs::create_directories(dir, ec);
  if (ec) throw Error(message, {ec.message()});
}

void ensure_file(const fs::path& path, std::string_view content, const std::string& message) {
  std::error_code ec;
  if (fs::exists(path, ec)) return;
  try {
    common::replace_file(path, content);
  } catch (const std::exception& e) {
    throw Error::wrap(message, e);
  }
}

std::string read_text(const fs::path& path) { return common::read_file(path); }

Json read_json(const fs::path& path, const std::string& parse_message) {
  const std::string text = read_text(path);
  try {
    return Json::parse(text);
  } catch (const Json::exception& e) {
    throw Error::wrap(parse_message, e);
  }
}

std::string serialize(const Json& document, const std::string& serialize_message) {
  try {
    return document.dump(2);
  } catch (const Json::exception& e) {
    throw Error::wrap(serialize_message, e);
  }
}

void write_text(const fs::path& path, std::string_view text) {
  try {
    common::replace_file(path, text);
  } catch (const std::exception& e) {
    throw Error::wrap(fmt::format("Failed to write to {}", path.string()), e);
  }
}

void write_json(const fs::path& path, const Json& document, const std::string& serialize_message) {
  write_text(path, serialize(document, serialize_message));
}

void structure_error(const fs::path& path, std::string expected) {
  throw Error(fmt::format("Unable to update {}", path.string()), {std::move(expected)});
}

namespace {

Json& typed_member(Json& parent, const char* key, Json::value_t type, const fs::path& path,
                   const std::string& expected) {
  auto it = parent.find(key);
  if (it == parent.end()) return parent[key] = Json(type);
  if (it->type() != type) structure_error(path, expected);
  return *it;
}

}  // namespace

Json& object_member(Json& parent, const char* key, const fs::path& path, const std::string& expected) {
  return typed_member(parent, key, Json::value_t::object, path, expected);
}

Json& array_member(Json& parent, const char* key, const fs::path& path, const std::string& expected) {
  return typed_member(parent, key, Json::value_t::array, path, expected);
}

const std::string* text_member(const Json& value, const char* key) {
  if (!value.is_object()) return nullptr;
  auto it = value.find(key);
  if (it == value.end() || !it->is_string()) return nullptr;
  return it->get_ptr<const std::string*>();
}

bool runs_program(std::string_view command) {
  size_t begin = 0;
  while (begin < command.size() && is_space(command[begin])) ++begin;
  size_t end = begin;
  while (end < command.size() && !is_space(command[end])) ++end;
  const std::string_view word = command.substr(begin, end - begin);
  return !word.empty() && word.ends_with(kProgram);
}

}  // namespace stelvane::providers::settings_file
