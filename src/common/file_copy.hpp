#pragma once
// Copying a whole file into place so that the destination is never missing and
// never half-written: the copy goes to a temporary file in the destination's
// directory, carries the source's permission bits, is flushed to storage and is
// then renamed over the destination (the directory is flushed too). Readers and
// programs starting the destination see either the old file or the new one.

#include <filesystem>
#include <functional>
#include <string_view>

namespace stelvane::common {

// Copies `source` to `destination` as described above. The temporary file is named
// "." + destination's file name + "_new_" + six random characters and is removed
// again on failure. A symbolic link at the destination is replaced by the file
// itself (the link's target is left alone). Copying a file onto itself is
// harmless. Throws Error("Unable to copy {source} to {destination}") with the
// system error as cause.
void copy_file_into_place(const std::filesystem::path& source, const std::filesystem::path& destination);

// The path of the running executable (all links resolved). Throws Error when the
// system cannot tell it.
std::filesystem::path current_executable();

namespace testing {
// Fault seam: called before each step of copy_file_into_place ("open", "create",
// "write", "fsync", "rename"); a non-zero errno makes that step fail with it.
void set_copy_fault(std::function<int(std::string_view step)> fault);
}  // namespace testing

}  // namespace stelvane::common
