// Directory entry: one file of a directory listing.
#include "foundation/zepdiren.h"

#include <cstdio>

ZEPDIREN_dirEntry::ZEPDIREN_dirEntry(const char* name, int32_t size, time_t timestamp)
    : filesize_(size), timestamp_(timestamp) {
  setFilename(name);
}

ZEPDIREN_dirEntry::ZEPDIREN_dirEntry(const ZEPDIREN_dirEntry& other) : ZEPLELEM_listElem() {
  *this = other;
}

ZEPDIREN_dirEntry& ZEPDIREN_dirEntry::operator=(const ZEPDIREN_dirEntry& other) {
  if (this != &other) {
    setFilename(other.filename_);
    filesize_ = other.filesize_;
    timestamp_ = other.timestamp_;
    fileType_ = other.fileType_;
  }
  return *this;
}

void ZEPDIREN_dirEntry::setFilename(const char* name) {
  snprintf(filename_, sizeof(filename_), "%s", name != nullptr ? name : "");
}
