#include "common/atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include <sys/stat.h>

#include "common/error.hpp"

namespace stelvane::common {

namespace fs = std::filesystem;

namespace {

std::function<int(std::string_view)>& fault_hook() {
  static std::function<int(std::string_view)> hook;
  return hook;
}

// errno for a step, either the injected fault or the real one.
int injected(std::string_view step) {
  const auto& hook = fault_hook();
  return hook ? hook(step) : 0;
}

mode_t current_umask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Removes the temporary file unless commit() ran.
class TempFile {
 public:
  explicit TempFile(const fs::path& target) {
    std::string tmpl = target.string() + ".tmp.XXXXXX";
    fd_ = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd_ < 0) throw Error::from_errno("Unable to create temporary file for " + target.string(), errno);
    path_ = std::move(tmpl);
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Closes the file (checking the close) and forgets it so it is not removed.
  int close_checked() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }
  void release() { path_.clear(); }

 private:
  int fd_ = -1;
  std::string path_;
};

int write_all(int fd, std::string_view data) {
  if (int e = injected("write")) return e;
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

void fsync_dir(const fs::path& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename itself already happened
  ::close(fd);
}

}  // namespace

fs::path resolve_link_target(const fs::path& path) {
  fs::path current = path;
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
    fs::path next = fs::read_symlink(current, ec);
    if (ec) return current;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return current;
}

void replace_file(const fs::path& target, std::string_view content, const ReplaceOptions& options) {
  const fs::path real = resolve_link_target(target);
  auto fail = [&](int err) { return Error::from_errno("Unable to write " + target.string(), err); };

  mode_t mode = 0;
  if (options.mode) {
    mode = *options.mode;
  } else {
    struct stat st {};
    mode = ::stat(real.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~current_umask());
  }

  std::optional<TempFile> tmp;
  try {
    tmp.emplace(real);
  } catch (const Error& e) {
    throw Error::wrap("Unable to write " + target.string(), e);
  }
  if (::fchmod(tmp->fd(), mode) != 0) throw fail(errno);
  if (int e = write_all(tmp->fd(), content)) throw fail(e);
  if (int e = injected("fsync")) throw fail(e);
  if (::fsync(tmp->fd()) != 0) throw fail(errno);
  if (int e = tmp->close_checked()) throw fail(e);
  if (int e = injected("rename")) throw fail(e);
  if (::rename(tmp->path().c_str(), real.c_str()) != 0) throw fail(errno);
  tmp->release();
  fsync_dir(real.parent_path());
}

namespace testing {
void set_fault(std::function<int(std::string_view step)> fault) { fault_hook() = std::move(fault); }
}  // namespace testing

}  // namespace stelvane::common
