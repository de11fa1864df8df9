#include "common/fileio.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/error.hpp"

namespace stelvane::common {

namespace {

// Reads the whole file; returns 0 or the errno of the failing call.
int read_all(const std::filesystem::path& path, std::string& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buf[65536];
  int err = 0;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      err = errno;
      break;
    }
  }
  ::close(fd);
  return err;
}

}  // namespace

std::string read_file(const std::filesystem::path& path) {
  std::string out;
  if (int err = read_all(path, out)) throw Error::from_errno("Unable to read " + path.string(), err);
  return out;
}

std::optional<std::string> read_file_if_exists(const std::filesystem::path& path) {
  std::string out;
  int err = read_all(path, out);
  if (err == ENOENT) return std::nullopt;
  if (err != 0) throw Error::from_errno("Unable to read " + path.string(), err);
  return out;
}

}  // namespace stelvane::common
