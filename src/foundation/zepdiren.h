// Directory entry: one file of a directory listing (ZEPDIRLS_dirList).
//
// Holds the file's name within its directory (at most 260 characters,
// always terminated), its size in bytes, its modification time and its type
// (S_IFMT bits, a regular file unless set). Its list key is the file name,
// compared as the list element's default (strcmp).
//
// Thread-safety: none of its own; used by the owner of the listing.
#ifndef ZEP_FOUNDATION_ZEPDIREN_H_
#define ZEP_FOUNDATION_ZEPDIREN_H_

#include <sys/stat.h>

#include <cstdint>
#include <ctime>

#include "foundation/zeplelem.h"

class ZEPDIREN_dirEntry : public ZEPLELEM_listElem {
 public:
  static constexpr int NAME_SIZE = 261;  // 260 characters and a terminator

  // Empty name, size 0, time 0; set the fields with the setters.
  ZEPDIREN_dirEntry() = default;
  ZEPDIREN_dirEntry(const char* name, int32_t size, time_t timestamp);
  ~ZEPDIREN_dirEntry() override = default;

  // Copy name, size, time and type; the list links are never copied.
  ZEPDIREN_dirEntry(const ZEPDIREN_dirEntry& other);
  ZEPDIREN_dirEntry& operator=(const ZEPDIREN_dirEntry& other);

  const char* getFilename() const { return filename_; }
  int32_t getFilesize() const { return filesize_; }
  time_t getTimestamp() const { return timestamp_; }
  mode_t getFileType() const { return fileType_; }

  // Copies at most 260 characters of `name` (null stores "").
  void setFilename(const char* name);
  void setFilesize(int32_t size) { filesize_ = size; }
  void setTimestamp(time_t timestamp) { timestamp_ = timestamp; }
  void setFileType(mode_t type) { fileType_ = type & S_IFMT; }

  const void* getElemKey() const override { return filename_; }

 private:
  char filename_[NAME_SIZE] = {0};
  int32_t filesize_ = 0;
  time_t timestamp_ = 0;
  mode_t fileType_ = S_IFREG;
};

#endif  // ZEP_FOUNDATION_ZEPDIREN_H_
