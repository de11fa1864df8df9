#include "common/file_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cerrno>
#include <string>
#include <vector>

#include "common/error.hpp"

namespace stelvane::common {

namespace fs = std::filesystem;

namespace {

std::function<int(std::string_view)>& copy_fault() {
  static std::function<int(std::string_view)> hook;
  return hook;
}

// errno for a step: the injected fault, else 0.
int injected(std::string_view step) {
  const auto& hook = copy_fault();
  return hook ? hook(step) : 0;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release_and_close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

void fsync_dir(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Throws the system error of a failed step as the copy's cause.
[[noreturn]] void fail(const std::string& step, int err) { throw Error::from_errno(step, err); }

void copy_steps(const fs::path& source, const fs::path& destination) {
  int err = injected("open");
  Fd in(err != 0 ? -1 : ::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (err != 0 || in.get() < 0) fail("Unable to open " + source.string(), err != 0 ? err : errno);
  struct stat st{};
  if (::fstat(in.get(), &st) != 0) fail("Unable to stat " + source.string(), errno);
  if (!S_ISREG(st.st_mode)) fail(source.string() + " is not a regular file", EINVAL);

  fs::path dir = destination.parent_path();
  if (dir.empty()) dir = ".";
  std::string tmpl = (dir / ("." + destination.filename().string() + "_new_XXXXXX")).string();
  err = injected("create");
  int tmp_fd = err != 0 ? -1 : ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (tmp_fd < 0) fail("Unable to create a temporary file in " + dir.string(), err != 0 ? err : errno);
  Fd out(tmp_fd);
  bool committed = false;
  struct Cleanup {
    const std::string& path;
    const bool& committed;
    ~Cleanup() {
      if (!committed) ::unlink(path.c_str());
    }
  } cleanup{tmpl, committed};

  if (::fchmod(out.get(), st.st_mode & 07777) != 0) fail("Unable to set the mode of " + tmpl, errno);
  std::vector<char> buf(1 << 16);
  for (;;) {
    ssize_t n = ::read(in.get(), buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("Unable to read " + source.string(), errno);
    }
    if (n == 0) break;
    std::size_t off = 0;
    while (off < static_cast<std::size_t>(n)) {
      err = injected("write");
      ssize_t w = err != 0 ? -1 : ::write(out.get(), buf.data() + off, static_cast<std::size_t>(n) - off);
      if (w < 0) {
        if (err == 0 && errno == EINTR) continue;
        fail("Unable to write " + tmpl, err != 0 ? err : errno);
      }
      off += static_cast<std::size_t>(w);
    }
  }
  err = injected("fsync");
  if (err != 0 || ::fsync(out.get()) != 0) fail("Unable to flush " + tmpl, err != 0 ? err : errno);
  if (out.release_and_close() != 0) fail("Unable to close " + tmpl, errno);
  err = injected("rename");
  if (err != 0 || ::rename(tmpl.c_str(), destination.c_str()) != 0)
    fail("Unable to rename " + tmpl + " to " + destination.string(), err != 0 ? err : errno);
  committed = true;
  fsync_dir(dir);
}

}  // namespace

void copy_file_into_place(const fs::path& source, const fs::path& destination) {
  with_context("Unable to copy " + source.string() + " to " + destination.string(),
               [&] { copy_steps(source, destination); });
}

fs::path current_executable() {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::string buf(size, '\0');
  if (_NSGetExecutablePath(buf.data(), &size) != 0) throw Error("Unable to find current exe");
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  std::error_code ec;
  fs::path resolved = fs::canonical(buf, ec);
  if (ec) throw Error::wrap("Unable to find current exe", Error(ec.message()));
  return resolved;
#else
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw Error::wrap("Unable to find current exe", Error(ec.message()));
  return p;
#endif
}

namespace testing {
void set_copy_fault(std::function<int(std::string_view step)> fault) { copy_fault() = std::move(fault); }
}  // namespace testing

}  // namespace stelvane::common
