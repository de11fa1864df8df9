#pragma once
// Reading whole files. Files are opened, read whole and closed in one call.

#include <filesystem>
#include <optional>
#include <string>

namespace stelvane::common {

// The file's bytes. Throws Error::from_errno("Unable to read {path}", errno).
std::string read_file(const std::filesystem::path& path);
// As read_file, but a missing file (ENOENT) gives nullopt instead of an error.
std::optional<std::string> read_file_if_exists(const std::filesystem::path& path);

}  // namespace stelvane::common
