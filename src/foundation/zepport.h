// Port layer: every file access of the agent, its clock and its user.
//
// ZEPPORT is a class of static operations over the C library's buffered
// files. The agent opens, reads, writes, renames and removes files only
// through it, and reads the current time and its user only through
// ZEPPORT::now() and effectiveUid(). All three ask the current env
// (axo/base/env.h), so that a test that installs an env of its own replaces
// the clock and the user and makes chosen file operations fail.
//
// Thread-safety: every operation may be called from any thread. A ZEP_FILE
// handle belongs to one thread at a time.
#ifndef ZEP_FOUNDATION_ZEPPORT_H_
#define ZEP_FOUNDATION_ZEPPORT_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>

// An open file. A plain value owned by the caller, usually a local of the
// function that reads or writes the file; zep_open fills it, zep_close
// empties it. `path` remembers the name the file was opened under so that the
// fault seam can recognise writes and closes of chosen files.
struct ZEP_FILE {
  FILE* fp = nullptr;
  char path[260] = {0};        // cut at 259 characters, always terminated
  bool failed = false;         // an injected read or write fault struck this file
  char* readBuffer = nullptr;  // the stream's buffer when opened for reading;
                               // owned, released by zep_close
  // The file type (S_IFMT bits) of what zep_open found at `path` and
  // refused: S_IFLNK for a symbolic link, S_IFIFO, S_IFDIR, ...; 0 when the
  // open succeeded or failed for another reason.
  mode_t refusedType = 0;
};

// The operating system's file status record followed by a guard word that
// zep_stat checks, so that a platform whose `struct stat` is larger than the
// agent was built for is noticed instead of silently corrupting the stack.
struct ZEP_STAT {
  struct stat st;
  uint32_t guard;

  bool isDirectory() const { return S_ISDIR(st.st_mode); }
  bool isRegular() const { return S_ISREG(st.st_mode); }
  mode_t fileType() const { return st.st_mode & S_IFMT; }
  long long size() const { return static_cast<long long>(st.st_size); }
  time_t mtime() const { return st.st_mtime; }
};

class ZEPPORT {
 public:
  static const char* const FILE_SEPARATOR;         // "/"
  static const char* const WIN32_FILE_SEPARATOR;   // "\\"
  static const char* const ENDL;                   // "\n"
  static const char* const ZEPPORT_ENDLINE_CHARS;  // "\r\n"
  // What getline puts in place of a NUL byte inside a line: the ASCII
  // substitute character.
  static constexpr char NUL_SUBSTITUTE = '\x1a';

  ZEPPORT() = delete;

  // --- clock and identity ----------------------------------------------------

  // Returns the current time in seconds since the epoch: the current env's
  // clock, the framework's too (AXO_Now). Every read of the current time in
  // the agent goes through here. In the agent the end-to-end tests start,
  // AXO_TestClockOffset() (axo/base/testpause.h) shifts it: they move the
  // agent's clock and the simulator's record times together to keep a run
  // inside one aggregation window.
  static time_t now();

  // The effective user id the agent acts as: the current env's (geteuid()
  // unless a test env pretends another).
  static uid_t effectiveUid();

  // --- sleeping and text constants -----------------------------------------

  static const char* getSeparator() { return FILE_SEPARATOR; }
  static const char* getEndl() { return ENDL; }

  // Sleeps the calling thread for `seconds` seconds (nothing when <= 0).
  static void sleepForSeconds(int seconds);

  // --- file operations -----------------------------------------------------
  //
  // Each that opens, reads, writes, syncs, closes, renames or removes a file
  // or makes a directory first asks the current env's FileFault whether it
  // fails (a rename names both paths), as a full disk or a broken device
  // would make it fail. A failing operation behaves like the real failure:
  // open yields no stream, read/write transfer nothing, fsync and rename
  // change nothing, close still releases the stream but returns EOF. errno
  // holds the env's value afterwards.

  // Fills *st with the status of `path`. Returns 0 or -1 (errno set).
  // Writes "**ERROR** ZEP_STAT struct overwritten" when the guard word was
  // overwritten by the system call.
  static int zep_stat(const char* path, ZEP_STAT* st);
  // As zep_stat, but a symbolic link is described itself, not followed.
  static int zep_lstat(const char* path, ZEP_STAT* st);

  // A short name of a file type (S_IFMT bits) for messages and metric
  // labels: "regular", "symlink", "fifo", "device", "socket", "directory",
  // or "other".
  static const char* fileKind(mode_t type);

  // Opens the regular file `path` with `mode` ("r", "w", "a", "rw", with an
  // optional "b" or "+") into *handle. A mode containing 'w' first creates
  // the file with `permission_bits` when it does not exist; "rw" then opens
  // for reading only.
  //
  // Only a regular file is ever opened, and never through a symbolic link:
  // the last component of `path` is opened with O_NOFOLLOW and O_NONBLOCK
  // and checked with fstat before any read or write, so that a link, FIFO,
  // device, socket or directory placed under the name is refused at once
  // (handle->refusedType names it; errno is ELOOP for a link, EINVAL for the
  // others) instead of redirecting the access or blocking the caller.
  //
  // Returns 0 when a stream was obtained, -1 otherwise (handle->fp is then
  // nullptr). The caller owns the stream and must zep_close it.
  static int zep_open(const char* path, const char* mode, ZEP_FILE* handle, int permission_bits);

  // Creates a new regular file named `prefix` + "." + six random letters or
  // digits, with O_CREAT | O_EXCL (so never through a link, never over an
  // existing file), and opens it for writing into *handle; handle->path
  // holds the name chosen. For temporary files beside a file they replace.
  // Returns 0, or -1 when no name could be created (errno set).
  static int zep_create_unique(const char* prefix, ZEP_FILE* handle, int permission_bits);

  // Reads up to `count` bytes into `buffer`. Returns the number read; fewer
  // than `count` at end of file or on a read error (see zep_ferror).
  static int zep_read(ZEP_FILE* handle, void* buffer, unsigned count);

  // Writes `count` bytes from `buffer`. Returns the number written; fewer
  // than `count` means the write failed.
  static int zep_write(ZEP_FILE* handle, const void* buffer, unsigned count);

  // Flushes the stream and forces its data to the device. Returns 0 or -1.
  static int zep_sync(ZEP_FILE* handle);

  // Closes the stream (also when the close reports a failure) and empties
  // the handle. Returns 0, or EOF when buffered data could not be written.
  // Closing an empty handle returns EOF.
  static int zep_close(ZEP_FILE* handle);

  // The C library's line read, unchanged: keeps the end-of-line characters.
  // Returns nullptr at end of file or on a read error.
  static char* zep_fgets(char* buffer, int size, ZEP_FILE* handle);

  // Non-zero once end of file was reached.
  static int zep_feof(ZEP_FILE* handle);
  // Non-zero once a read or write on the stream failed.
  static int zep_ferror(ZEP_FILE* handle);

  // Renames `from` to `to`, replacing `to`. Returns 0 or -1.
  static int zep_rename(const char* from, const char* to);

  // Removes the file. Returns 0 or -1.
  static int zep_unlink(const char* path);

  // Creates directory `path` with `permission_bits`. Returns 0 or -1.
  static int zep_mkdir(const char* path, int permission_bits);

  // Reads one line into `buffer` (of `size` bytes) without its carriage
  // return or line feed. A line longer than size - 1 characters is cut and
  // the rest of it is discarded, so the next call returns the next line.
  // A NUL byte inside a line damages that line only: each NUL comes back as
  // NUL_SUBSTITUTE, so the line keeps its length and readers can refuse it
  // (in a last line without line feed the first NUL ends the line).
  // Returns `buffer`, or nullptr when nothing could be read: at end of file
  // (zep_feof is then non-zero) or on a read error (zep_ferror is non-zero).
  // Line loops stop on nullptr; the buffer is empty then. With `length`,
  // *length is set to the line's length (strlen of the buffer).
  static char* getline(ZEP_FILE* handle, char* buffer, int size, size_t* length = nullptr);
};

#endif  // ZEP_FOUNDATION_ZEPPORT_H_
