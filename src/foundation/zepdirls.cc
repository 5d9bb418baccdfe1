// Directory listing: reading, ordering and trimming the files of a directory.
#include "foundation/zepdirls.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "axo/base/trk1.h"
#include "foundation/zepstrut.h"

TRK1_UNIT(zepdirls_unit, "ZEPDIRLS");

namespace {

constexpr int kDirPermissions = 0775;

int32_t ClampSize(long long size) {
  return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

}  // namespace

ZEPDIRLS_dirList::ZEPDIRLS_dirList(const char* name) { setDirectoryName(name); }

ZEPDIRLS_dirList::~ZEPDIRLS_dirList() { closeStream(); }

void ZEPDIRLS_dirList::setDirectoryName(const char* name) {
  snprintf(dirName_, sizeof(dirName_), "%s", name != nullptr ? name : "");
  const size_t len = strlen(dirName_);
  if (len == 0) {
    // No directory: nothing to list, and no stream on a former one.
    closeStream();
    fileList.clear();
    otherList.clear();
    return;
  }
  if (dirName_[len - 1] != '/' && dirName_[len - 1] != '\\' && len < sizeof(dirName_) - 1) {
    dirName_[len] = '/';
    dirName_[len + 1] = '\0';
  }
  if (openStream()) {
    readDir();
  } else {
    fileList.clear();
    otherList.clear();
  }
}

bool ZEPDIRLS_dirList::openStream() {
  closeStream();
  dir_ = opendir(dirName_);
  if (dir_ != nullptr) return true;
  const int err = errno;
  if (TRK1_On(&zepdirls_unit, TRK1_ERROR)) {
    TRK1_Printf(&zepdirls_unit, __LINE__, "OPENDIR FAILED rc = %d", err);
    TRK1_Printf(&zepdirls_unit, __LINE__, "ZEP0352E Invalid directory name: %s\n", dirName_);
  }
  return false;
}

void ZEPDIRLS_dirList::closeStream() {
  if (dir_ != nullptr) closedir(dir_);
  dir_ = nullptr;
}

bool ZEPDIRLS_dirList::streamIsStale() const {
  struct stat open;
  ZEP_STAT named;
  if (fstat(dirfd(dir_), &open) != 0) return true;
  // While the name leads nowhere the old stream is kept: it lists nothing.
  if (ZEPPORT::zep_stat(dirName_, &named) != 0) return false;
  // A deleted directory has no links left; its successor may even have
  // been given the same inode.
  return open.st_nlink == 0 || open.st_dev != named.st.st_dev || open.st_ino != named.st.st_ino;
}

int ZEPDIRLS_dirList::readDir() {
  fileList.clear();
  otherList.clear();
  if (dir_ != nullptr && streamIsStale()) {
    TRK1_Trace(&zepdirls_unit, TRK1_ERROR,
               "ZEP0356W Directory was deleted and created again; listing the new one: %s\n",
               dirName_);
    closeStream();
  }
  if (dir_ == nullptr && !openStream()) return -1;
  rewinddir(dir_);

  int rc = 0;
  std::vector<ZEPDIREN_dirEntry*> entries;
  for (;;) {
    errno = 0;
    const struct dirent* d = readdir(dir_);
    if (d == nullptr) {
      if (errno != 0) rc = -1;  // the stream broke off: the listing is partial
      break;
    }
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    ZEP_STAT st;
    if (getFileInfo(dirName_, d->d_name, &st, /*followLink=*/false) != 0) {
      TRK1_Trace(&zepdirls_unit, TRK1_ERROR,
                 "ZEP0353E Cannot get information for file using stat: %s\n", d->d_name);
      rc = -1;
      continue;
    }
    auto* entry = new ZEPDIREN_dirEntry(d->d_name, ClampSize(st.size()), st.mtime());
    entry->setFileType(st.fileType());
    if (st.isRegular()) {
      entries.push_back(entry);
    } else {
      otherList.push_back(entry);
    }
  }
  // One stable sort per listing: oldest first, equal times in stream order.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ZEPDIREN_dirEntry* a, const ZEPDIREN_dirEntry* b) {
                     return a->getTimestamp() < b->getTimestamp();
                   });
  for (ZEPDIREN_dirEntry* e : entries) fileList.push_back(e);
  return rc;
}

int ZEPDIRLS_dirList::getFileInfo(const char* directory, const char* name, ZEP_STAT* st,
                                  bool followLink) {
  // Room for a full directory name, a separator and a full file name.
  char path[2 * NAME_SIZE + 1];
  snprintf(path, sizeof(path), "%s", directory != nullptr ? directory : "");
  if (path[0] != '\0') ZEPSTRUT_stringUtil::addFileSeparator(path, sizeof(path));
  const size_t used = strlen(path);
  snprintf(path + used, sizeof(path) - used, "%s", name != nullptr ? name : "");
  return followLink ? ZEPPORT::zep_stat(path, st) : ZEPPORT::zep_lstat(path, st);
}

int ZEPDIRLS_dirList::mkdirIfNeeded(const char* path) {
  ZEP_STAT st;
  if (getFileInfo(path, ".", &st) == 0) return 0;
  // "path/." fails both for a missing path and for a file in the way.
  if (ZEPPORT::zep_stat(path, &st) == 0 && !st.isDirectory()) {
    TRK1_Trace(&zepdirls_unit, TRK1_ERROR,
               "ZEP0354E File already exists and it is not a directory : %s\n", path);
    return -1;
  }
  const int rc = ZEPPORT::zep_mkdir(path, kDirPermissions);
  if (rc != 0) {
    TRK1_Trace(&zepdirls_unit, TRK1_ERROR, "ZEP0355E Unable to create subdirectory: %s\n", path);
  }
  return rc;
}

int ZEPDIRLS_dirList::mkdirsIfNeeded(const char* path) {
  std::string prefix = path != nullptr ? path : "";
  for (size_t slash = prefix.find('/', 1); slash != std::string::npos;
       slash = prefix.find('/', slash + 1)) {
    if (mkdirIfNeeded(prefix.substr(0, slash).c_str()) != 0) return -1;
  }
  return prefix.empty() ? 0 : mkdirIfNeeded(prefix.c_str());
}

void ZEPDIRLS_dirList::add(ZEPDIREN_dirEntry* entry) {
  if (entry == nullptr) return;
  // Walk from the back: the first entry not later than the new one is the
  // one it follows. Appending in time order costs O(1).
  ZEPLELEM_listElem* e = fileList.back();
  while (e != nullptr &&
         static_cast<ZEPDIREN_dirEntry*>(e)->getTimestamp() > entry->getTimestamp()) {
    e = fileList.previous(e);
  }
  fileList.insert_before(entry, e != nullptr ? fileList.next(e) : fileList.front());
}
