// Files the framework keeps for itself (the situations it must not forget):
// read and replaced without ever following a link or blocking on something
// that is not a regular file. Thread-safe: no state.
#ifndef AXO_BASE_FILES_H_
#define AXO_BASE_FILES_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "axo/base/status.h"

namespace axo_internal {

// Reads the regular file `path` whole into `*out`. Returns kNotFound when
// nothing is there; kFailed, saying why, when it is a link, a FIFO or any
// other kind of file (never followed, never waited on), cannot be read, or
// holds more than `limit` bytes.
axo::Status ReadRegularFile(const std::string& path, size_t limit, std::string* out);

// Replaces `path` with `content`, which is written to a new file of its
// own beside it (created exclusively, with `mode`), put on the device and
// then renamed over `path`: a reader sees the old or the new content, never
// a part, and a crash leaves the old one. Refused, and nothing is changed,
// when `path` exists and is not a regular file: a link is never written
// through.
axo::Status ReplaceFile(const std::string& path, const std::string& content, mode_t mode);

}  // namespace axo_internal

#endif  // AXO_BASE_FILES_H_
