// Directory listing: the regular files of one directory, oldest first.
//
// ZEPDIRLS_dirList lists the regular files of one directory as
// ZEPDIREN_dirEntry elements ordered by modification time, oldest first;
// files with equal times keep the order in which the directory returned
// them. Entries are examined without following links: a symbolic link,
// FIFO, device, socket or subdirectory is never in `fileList` but in
// `otherList`, with its type, so that its owner can say what it leaves
// alone. The listing is rebuilt by readDir(); its owner reads both lists
// directly (forwards and backwards) and may clear them.
//
// The directory stream stays open from the first successful open until the
// listing is destroyed; every readDir() rewinds and reuses it, unless the
// directory was deleted and created again under its name: then the stream is
// opened afresh on the new directory (ZEP0356W, once per replacement).
//
// Thread-safety: none. A listing belongs to one owner at a time (the metric
// log list serialises its listings under its own lock).
#ifndef ZEP_FOUNDATION_ZEPDIRLS_H_
#define ZEP_FOUNDATION_ZEPDIRLS_H_

#include <dirent.h>

#include "foundation/zepdiren.h"
#include "foundation/zepllst.h"
#include "foundation/zepport.h"

class ZEPDIRLS_dirList {
 public:
  static constexpr int NAME_SIZE = 261;  // 260 characters and a terminator

  // Empty name, no stream, empty listing.
  ZEPDIRLS_dirList() = default;
  // As setDirectoryName(name).
  explicit ZEPDIRLS_dirList(const char* name);
  // Closes the directory stream; the list deletes its entries.
  virtual ~ZEPDIRLS_dirList();

  ZEPDIRLS_dirList(const ZEPDIRLS_dirList&) = delete;
  ZEPDIRLS_dirList& operator=(const ZEPDIRLS_dirList&) = delete;

  // Stores `name` (at most 260 characters) with a "/" appended unless it
  // ends with "/" or a backslash, opens the directory (closing a stream
  // already open) and lists it. An empty name stores "" and lists nothing.
  // A directory that cannot be opened leaves the listing empty
  // ("OPENDIR FAILED rc = %d", ZEP0352E).
  void setDirectoryName(const char* name);
  // The stored name, with its trailing separator.
  const char* getDirectoryName() const { return dirName_; }

  // Rebuilds fileList from the directory. Returns 0 when every file was
  // listed; -1 when the directory cannot be opened (ZEP0352E) or some
  // file's status cannot be read (that file is left out, ZEP0353E).
  int readDir();

  // Stats `directory` + separator (when missing) + `name` into *st, a
  // symbolic link itself when `followLink` is false. Returns the result of
  // ZEPPORT::zep_stat or zep_lstat (0 or -1).
  static int getFileInfo(const char* directory, const char* name, ZEP_STAT* st,
                         bool followLink = true);

  // Makes sure `path` is a directory, creating it (mode 0775) when missing.
  // Returns 0 when it is or was created; -1 when creation failed (ZEP0355E)
  // or a non-directory is in the way (ZEP0354E).
  static int mkdirIfNeeded(const char* path);
  // mkdirIfNeeded for `path` and each of its missing parents, outermost
  // first; stops at the first failure. Returns 0 or -1 as mkdirIfNeeded.
  static int mkdirsIfNeeded(const char* path);

  // Inserts `entry` before the first entry with a strictly later time (so
  // after every entry of the same time). The listing owns it afterwards.
  void add(ZEPDIREN_dirEntry* entry);

  // The regular files, oldest first; elements are ZEPDIREN_dirEntry, owned.
  ZEPLLST_LinkedList fileList;
  // Every other entry but "." and "..", in stream order, with its type;
  // elements are ZEPDIREN_dirEntry, owned.
  ZEPLLST_LinkedList otherList;

 private:
  // Opens dirName_ into dir_ (closing an open stream); false with messages.
  bool openStream();
  // True when the open stream no longer reads the directory its name leads
  // to: that directory was deleted, and another one now has the name.
  bool streamIsStale() const;
  void closeStream();

  char dirName_[NAME_SIZE] = {0};
  DIR* dir_ = nullptr;
};

#endif  // ZEP_FOUNDATION_ZEPDIRLS_H_
