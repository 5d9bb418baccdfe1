#include "foundation/zepport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "axo/base/env.h"
#include "axo/base/files.h"
#include "axo/base/testpause.h"
#include "axo/base/trk1.h"

TRK1_UNIT(zepport_unit, "ZEPPORT");

const char* const ZEPPORT::FILE_SEPARATOR = "/";
const char* const ZEPPORT::WIN32_FILE_SEPARATOR = "\\";
const char* const ZEPPORT::ENDL = "\n";
const char* const ZEPPORT::ZEPPORT_ENDLINE_CHARS = "\r\n";

namespace {

constexpr uint32_t kStatGuard = 0xF7F7F7F7u;
constexpr size_t kReadBufferSize = 64 * 1024;  // stream buffer of a file read
constexpr int kDiscardPiece = 256;             // pieces of at most 255 characters
constexpr char kUnfilled = '\x7f';             // any byte but NUL: see getline

using FileOp = axo::Env::FileOp;

// Returns true (with errno set) when the current env makes this call fail.
bool ShouldFail(FileOp op, const char* path, const char* path2 = nullptr) {
  const int errno_value = axo::Env::Current()->FileFault(op, path, path2);
  if (errno_value == 0) return false;
  errno = errno_value;
  return true;
}

void CopyBounded(char* dst, size_t dst_size, const char* src) {
  snprintf(dst, dst_size, "%s", src != nullptr ? src : "");
}

// Replaces the NUL bytes that fgets read into `buffer` (`len` bytes up to
// the first NUL) by NUL_SUBSTITUTE and returns the number of bytes read.
// fgets read the whole buffer when it `filled` it, and otherwise up to and
// including a line feed, unless the file ended; a last line without line
// feed cannot be told from what the buffer held before, so it keeps its
// first NUL as its end.
size_t substituteNuls(ZEP_FILE* handle, char* buffer, int size, size_t len, bool filled) {
  size_t read = len;
  if (filled) {
    read = static_cast<size_t>(size) - 1;
  } else if ((len == 0 || buffer[len - 1] != '\n') && !ZEPPORT::zep_feof(handle) &&
             !ZEPPORT::zep_ferror(handle)) {
    // Nothing between the NUL and the line feed is a line feed.
    const char* lf = static_cast<const char*>(memchr(buffer + len, '\n', size - 1 - len));
    if (lf != nullptr) read = static_cast<size_t>(lf - buffer) + 1;
  }
  for (size_t i = len; i < read; ++i) {
    if (buffer[i] == '\0') buffer[i] = ZEPPORT::NUL_SUBSTITUTE;
  }
  return read;
}

#if defined(__GLIBC__)
// The common line taken straight from the stream's buffer: a line whose line
// feed is already buffered, that fits `size` with its line feed and holds no
// carriage return or NUL is copied as fgets would copy it, without fgets's
// work per call and the strlen after it. Returns the line's length, or -1
// when the general path has to read it. The stream's buffer is the handle's
// readBuffer, followed by a NUL byte the stream never writes (see zep_open),
// which ends every search within it; glibc's stream keeps its unread bytes
// in [_IO_read_ptr, _IO_read_end), as its getc_unlocked does.
long takeBufferedLine(ZEP_FILE* handle, char* buffer, int size) {
  FILE* fp = handle->fp;
  const uintptr_t base = reinterpret_cast<uintptr_t>(handle->readBuffer);
  const uintptr_t from = reinterpret_cast<uintptr_t>(fp->_IO_read_ptr);
  const uintptr_t end = reinterpret_cast<uintptr_t>(fp->_IO_read_end);
  if (base == 0 || from < base || from >= end || end > base + kReadBufferSize) return -1;
  const char* line = fp->_IO_read_ptr;
  const size_t n = strcspn(line, "\n\r");
  if (n >= end - from || n + 1 > static_cast<size_t>(size) - 1 || line[n] != '\n') return -1;
  memcpy(buffer, line, n);
  buffer[n] = '\0';
  fp->_IO_read_ptr += n + 1;
  return static_cast<long>(n);
}
#endif

}  // namespace

time_t ZEPPORT::now() { return axo::Env::Current()->Now() + AXO_TestClockOffset(); }

uid_t ZEPPORT::effectiveUid() { return axo::Env::Current()->EffectiveUid(); }

void ZEPPORT::sleepForSeconds(int seconds) {
  if (seconds <= 0) return;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

namespace {

// Runs `call` (stat or lstat) into *st with the guard word checked.
int GuardedStat(int (*call)(const char*, struct stat*), const char* path, ZEP_STAT* st) {
  memset(st, 0, sizeof(*st));
  st->guard = kStatGuard;
  int rc = call(path, &st->st);
  if (st->guard != kStatGuard) {
    TRK1_Trace(&zepport_unit, TRK1_ERROR, "**ERROR** ZEP_STAT struct overwritten\n");
  }
  return rc;
}

// The open(2) flags of a stream mode, without O_CREAT/O_TRUNC handling.
int AccessFlags(const char* mode, bool* creates, bool* truncates) {
  const bool plus = strchr(mode, '+') != nullptr;
  *creates = strchr(mode, 'w') != nullptr || strchr(mode, 'a') != nullptr;
  *truncates = false;
  if (strchr(mode, 'a') != nullptr) return (plus ? O_RDWR : O_WRONLY) | O_APPEND;
  if (strchr(mode, 'w') != nullptr && strchr(mode, 'r') == nullptr) {
    *truncates = true;
    return plus ? O_RDWR : O_WRONLY;
  }
  // "r", "r+" and "rw" (which only makes sure the file exists, see below).
  *creates = false;
  return plus ? O_RDWR : O_RDONLY;
}

}  // namespace

int ZEPPORT::zep_stat(const char* path, ZEP_STAT* st) { return GuardedStat(&stat, path, st); }

int ZEPPORT::zep_lstat(const char* path, ZEP_STAT* st) { return GuardedStat(&lstat, path, st); }

const char* ZEPPORT::fileKind(mode_t type) {
  switch (type & S_IFMT) {
    case S_IFREG:
      return "regular";
    case S_IFLNK:
      return "symlink";
    case S_IFIFO:
      return "fifo";
    case S_IFCHR:
    case S_IFBLK:
      return "device";
    case S_IFSOCK:
      return "socket";
    case S_IFDIR:
      return "directory";
  }
  return "other";
}

int ZEPPORT::zep_open(const char* path, const char* mode, ZEP_FILE* handle, int permission_bits) {
  handle->fp = nullptr;
  handle->failed = false;
  handle->readBuffer = nullptr;
  handle->refusedType = 0;
  CopyBounded(handle->path, sizeof(handle->path), path);
  if (ShouldFail(FileOp::kOpen, path)) return -1;

  const bool makeSure =
      strchr(mode, 'w') != nullptr && strchr(mode, 'r') != nullptr && strchr(mode, '+') == nullptr;
  if (makeSure) {
    // "rw" means: read, after making sure the file exists. O_EXCL never
    // creates through a link; an existing name is left to the open below.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(permission_bits));
    if (fd >= 0) {
      close(fd);
    } else if (errno != EEXIST) {
      TRK1_Trace(&zepport_unit, TRK1_ERROR, "ZEP0501E Cannot open file for write: %s\n", path);
    }
  }

  bool creates;
  bool truncates;
  int flags = AccessFlags(mode, &creates, &truncates);
  if (creates) flags |= O_CREAT;
  // Never through a link, never waiting on a FIFO or a device; the type is
  // checked before anything is read, written or truncated.
  const int fd = axo_internal::OpenRegular(path, flags, static_cast<mode_t>(permission_bits),
                                           &handle->refusedType);
  if (fd < 0) return -1;
  if (truncates && ftruncate(fd, 0) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  const char* c_mode = mode;
  if (makeSure) c_mode = strchr(mode, 'b') != nullptr ? "rb" : "r";
  handle->fp = fdopen(fd, c_mode);
  if (handle->fp == nullptr) {
    close(fd);
    return -1;
  }
  // Metric log files are read a line at a time and run to hundreds of
  // megabytes: a larger buffer than the C library's default (the file
  // system block, often 4 KiB) spares one read system call per few lines.
  // One byte more than the stream uses holds a NUL (see getline).
  if (c_mode[0] == 'r' && strchr(c_mode, '+') == nullptr) {
    handle->readBuffer = static_cast<char*>(malloc(kReadBufferSize + 1));
    if (handle->readBuffer != nullptr) handle->readBuffer[kReadBufferSize] = '\0';
    if (handle->readBuffer != nullptr &&
        setvbuf(handle->fp, handle->readBuffer, _IOFBF, kReadBufferSize) != 0) {
      free(handle->readBuffer);
      handle->readBuffer = nullptr;
    }
  }
  return 0;
}

int ZEPPORT::zep_create_unique(const char* prefix, ZEP_FILE* handle, int permission_bits) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 rng{std::random_device{}()};
  handle->fp = nullptr;
  handle->failed = false;
  handle->readBuffer = nullptr;
  handle->refusedType = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[8] = {'.'};
    for (size_t i = 1; i < sizeof(suffix) - 1; ++i) {
      suffix[i] = kLetters[rng() % (sizeof(kLetters) - 1)];
    }
    const std::string name = std::string(prefix != nullptr ? prefix : "") + suffix;
    if (name.size() >= sizeof(handle->path)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    CopyBounded(handle->path, sizeof(handle->path), name.c_str());
    if (ShouldFail(FileOp::kOpen, handle->path)) return -1;
    const int fd = open(handle->path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(permission_bits));
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return -1;
    handle->fp = fdopen(fd, "w");
    if (handle->fp != nullptr) return 0;
    close(fd);
    unlink(handle->path);
    return -1;
  }
  errno = EEXIST;
  return -1;
}

int ZEPPORT::zep_read(ZEP_FILE* handle, void* buffer, unsigned count) {
  if (handle->fp == nullptr) return 0;
  if (ShouldFail(FileOp::kRead, handle->path)) {
    handle->failed = true;
    return 0;
  }
  return static_cast<int>(fread(buffer, 1, count, handle->fp));
}

int ZEPPORT::zep_write(ZEP_FILE* handle, const void* buffer, unsigned count) {
  if (handle->fp == nullptr) return 0;
  if (ShouldFail(FileOp::kWrite, handle->path)) {
    handle->failed = true;
    return 0;
  }
  return static_cast<int>(fwrite(buffer, 1, count, handle->fp));
}

int ZEPPORT::zep_sync(ZEP_FILE* handle) {
  if (handle->fp == nullptr) return -1;
  if (ShouldFail(FileOp::kSync, handle->path)) return -1;
  if (fflush(handle->fp) != 0) return -1;
  return fsync(fileno(handle->fp)) == 0 ? 0 : -1;
}

int ZEPPORT::zep_close(ZEP_FILE* handle) {
  if (handle->fp == nullptr) return EOF;
  const bool fail = ShouldFail(FileOp::kClose, handle->path);
  const int saved_errno = errno;
  int rc = fclose(handle->fp);
  handle->fp = nullptr;
  free(handle->readBuffer);
  handle->readBuffer = nullptr;
  if (fail) {
    errno = saved_errno;
    return EOF;
  }
  return rc;
}

char* ZEPPORT::zep_fgets(char* buffer, int size, ZEP_FILE* handle) {
  if (handle->fp == nullptr) return nullptr;
  if (ShouldFail(FileOp::kRead, handle->path)) {
    handle->failed = true;
    return nullptr;
  }
  // A handle belongs to one thread at a time: the stream's own lock, taken
  // and released with two atomic operations per line, guards nothing.
#if defined(__GLIBC__)
  return fgets_unlocked(buffer, size, handle->fp);
#else
  return fgets(buffer, size, handle->fp);
#endif
}

int ZEPPORT::zep_feof(ZEP_FILE* handle) { return handle->fp != nullptr ? feof(handle->fp) : 1; }

int ZEPPORT::zep_ferror(ZEP_FILE* handle) {
  if (handle->failed) return 1;
  return handle->fp != nullptr ? ferror(handle->fp) : 0;
}

int ZEPPORT::zep_rename(const char* from, const char* to) {
  if (ShouldFail(FileOp::kRename, from, to)) return -1;
  return rename(from, to) == 0 ? 0 : -1;
}

int ZEPPORT::zep_unlink(const char* path) {
  if (ShouldFail(FileOp::kUnlink, path)) return -1;
  return remove(path) == 0 ? 0 : -1;
}

int ZEPPORT::zep_mkdir(const char* path, int permission_bits) {
  if (ShouldFail(FileOp::kMkdir, path)) return -1;
  return mkdir(path, static_cast<mode_t>(permission_bits)) == 0 ? 0 : -1;
}

char* ZEPPORT::getline(ZEP_FILE* handle, char* buffer, int size, size_t* length) {
  if (length != nullptr) *length = 0;
  if (size <= 0) return nullptr;
#if defined(__GLIBC__)
  // An env that fails files may count every read: with one in force, each
  // line takes the general path.
  if (handle->fp != nullptr && !axo::Env::Current()->MayFailFiles()) {
    const long n = takeBufferedLine(handle, buffer, size);
    if (n >= 0) {
      if (length != nullptr) *length = static_cast<size_t>(n);
      return buffer;
    }
  }
#endif
  buffer[0] = '\0';
  // fgets writes its terminator into the last byte only when it fills the
  // buffer; the mark left there tells a full buffer from an ended line, also
  // when a NUL inside the line hides its end from strlen.
  buffer[size - 1] = kUnfilled;
  if (zep_fgets(buffer, size, handle) == nullptr) {
    buffer[0] = '\0';
    return nullptr;
  }
  size_t len = strlen(buffer);
  // The common line: ends with its line feed and holds no carriage return.
  if (len > 0 && buffer[len - 1] == '\n' && memchr(buffer, '\r', len - 1) == nullptr) {
    buffer[len - 1] = '\0';
    if (length != nullptr) *length = len - 1;
    return buffer;
  }
  const bool filled = buffer[size - 1] == '\0';
  len = substituteNuls(handle, buffer, size, len, filled);
  if (len > 0 && buffer[len - 1] == '\r') {
    // A carriage return that filled the buffer: its line feed belongs to
    // this line, not to an empty one after it.
    int c = fgetc(handle->fp);
    if (c != '\n' && c != EOF) ungetc(c, handle->fp);
  }
  if (filled && strpbrk(buffer, ZEPPORT_ENDLINE_CHARS) == nullptr) {
    // The line was cut: drop the rest of it so that the next call starts on
    // the next line.
    char scratch[kDiscardPiece];
    while (!zep_feof(handle) && !zep_ferror(handle)) {
      scratch[sizeof(scratch) - 1] = kUnfilled;
      if (zep_fgets(scratch, sizeof(scratch), handle) == nullptr) break;
      // A piece that did not fill the scratch buffer ended at a line feed
      // or at the end of the file, whatever NUL it holds.
      if (scratch[sizeof(scratch) - 1] != '\0') break;
      if (scratch[sizeof(scratch) - 2] == '\n' ||
          memchr(scratch, '\r', sizeof(scratch) - 1) != nullptr) {
        break;
      }
    }
  }
  const size_t end = strcspn(buffer, ZEPPORT_ENDLINE_CHARS);
  buffer[end] = '\0';
  if (length != nullptr) *length = end;
  return buffer;
}
