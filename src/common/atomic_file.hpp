#pragma once
// Atomic replacement of whole files. The only code that rewrites a file in place:
// config.json and every assistant's configuration file go through here.
//
// The new content is written to a temporary file ("<name>.tmp.XXXXXX") in the
// target's own directory, flushed to storage, and renamed over the target; the
// directory is flushed too. A reader sees either the old file or the new one, never
// a half-written one, and a failure leaves the old file untouched and no temporary
// file behind. A symbolic link at the target is kept: its final target is replaced.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include <sys/types.h>

namespace stelvane::common {

struct ReplaceOptions {
  // Mode for the file. Unset: an existing file keeps its mode, a new file gets
  // 0666 less the umask.
  std::optional<mode_t> mode;
};

// Replaces the file at `target` with `content`. Throws Error("Unable to write
// {path}") with the system error as cause on failure.
void replace_file(const std::filesystem::path& target, std::string_view content, const ReplaceOptions& options = {});

// Resolves a chain of symbolic links at `path` to the file finally named (which
// need not exist yet). Non-link paths are returned unchanged.
std::filesystem::path resolve_link_target(const std::filesystem::path& path);

namespace testing {
// Fault seam for tests: when set, called before each step of replace_file with the
// step's name ("write", "fsync", "rename"); returning a non-zero errno makes that
// step fail with it.
void set_fault(std::function<int(std::string_view step)> fault);
}  // namespace testing

}  // namespace stelvane::common
