// Files the framework keeps for itself.
#include "axo/base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace axo_internal {
namespace {

using axo::Status;

const char* KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISSOCK(mode)) return "a socket";
  return "a device";
}

Status Errno(const std::string& what, const std::string& path) {
  return Status::Failed("cannot " + what + " " + path + ": " + std::strerror(errno));
}

// Closes a descriptor on every path out.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int OpenRegular(const char* path, int flags, mode_t mode, mode_t* refused) {
  if (refused != nullptr) *refused = 0;
  struct stat st;
  const int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) {
    const int err = errno;
    if (refused != nullptr && lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
      *refused = st.st_mode & S_IFMT;
    }
    errno = err;
    return -1;
  }
  if (fstat(fd, &st) != 0) st.st_mode = 0;
  if (!S_ISREG(st.st_mode)) {
    if (refused != nullptr) *refused = st.st_mode & S_IFMT;
    close(fd);
    errno = EINVAL;
    return -1;
  }
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

Status ReadRegularFile(const std::string& path, size_t limit, std::string* out, struct stat* info) {
  mode_t refused = 0;
  Fd f{OpenRegular(path.c_str(), O_RDONLY, 0, &refused)};
  if (refused != 0) return Status::Failed(path + " is " + KindOf(refused) + ", not a regular file");
  if (f.fd < 0) {
    if (errno == ENOENT) return Status::NotFound(path + " does not exist");
    return Errno("open", path);
  }
  struct stat st;
  if (fstat(f.fd, &st) != 0) return Errno("examine", path);
  if (static_cast<unsigned long long>(st.st_size) > limit) {
    return Status::Failed(path + " holds more than " + std::to_string(limit) + " bytes");
  }
  if (info != nullptr) *info = st;
  out->clear();
  char buf[16384];
  for (;;) {
    const ssize_t n = read(f.fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Errno("read", path);
    if (n == 0) return Status::OK();
    if (out->size() + static_cast<size_t>(n) > limit) {
      return Status::Failed(path + " holds more than " + std::to_string(limit) + " bytes");
    }
    out->append(buf, static_cast<size_t>(n));
  }
}

Status ReplaceFile(const std::string& path, const std::string& content, mode_t mode) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return Status::Failed(path + " is " + KindOf(st.st_mode) +
                          ", not a regular file: it is left alone");
  }
  // mkstemp creates the new name exclusively: nothing there is followed.
  std::string tmp = path + ".XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  Fd f{mkstemp(name.data())};
  if (f.fd < 0) return Errno("create a file beside", path);
  tmp = name.data();
  bool ok = fchmod(f.fd, mode) == 0;
  for (size_t done = 0; ok && done < content.size();) {
    const ssize_t n = write(f.fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(f.fd) == 0;
  const int closed = close(f.fd);
  f.fd = -1;
  if (!ok || closed != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
    Status failed = Errno("write", path);
    unlink(tmp.c_str());
    return failed;
  }
  return Status::OK();
}

}  // namespace axo_internal
