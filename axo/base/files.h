// Files the framework keeps for itself (the situations it must not forget):
// read and replaced without ever following a link or blocking on something
// that is not a regular file. Thread-safe: no state.
#ifndef AXO_BASE_FILES_H_
#define AXO_BASE_FILES_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "axo/base/status.h"

namespace axo_internal {

// Opens `path` as a regular file only, for the framework and the agent
// alike: with `flags` (an access mode, maybe O_CREAT with `mode`) and
// O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, so that a link, FIFO,
// device, socket or directory under the name is refused at once instead of
// being followed or waited on; checked with fstat before anything is read
// or written; then made blocking again. Returns the descriptor, which the
// caller owns, or -1 with errno (ELOOP for a link, EINVAL for any other
// kind of file) and `*refused` (unless null) the S_IFMT type found in place
// of a regular file, 0 when none was.
int OpenRegular(const char* path, int flags, mode_t mode, mode_t* refused);

// Reads the regular file `path` whole into `*out`. Returns kNotFound when
// nothing is there; kFailed, saying why and naming `path`, when it is a
// link, a FIFO or any other kind of file (never followed, never waited on:
// opened non-blocking), cannot be read, or holds more than `limit` bytes.
// `*info` (unless null) receives the status of the file read, for checks
// of its owner and mode that no rename between two calls can dodge.
axo::Status ReadRegularFile(const std::string& path, size_t limit, std::string* out,
                            struct stat* info = nullptr);

// Replaces `path` with `content`, which is written to a new file of its
// own beside it (created exclusively, with `mode`), put on the device and
// then renamed over `path`: a reader sees the old or the new content, never
// a part, and a crash leaves the old one. Refused, and nothing is changed,
// when `path` exists and is not a regular file: a link is never written
// through.
axo::Status ReplaceFile(const std::string& path, const std::string& content, mode_t mode);

}  // namespace axo_internal

#endif  // AXO_BASE_FILES_H_
