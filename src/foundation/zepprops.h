// Properties file: a flat "key=value" text file held in memory.
//
// ZEPPROPS_properties keeps the entries of one file in file order (keys
// added later follow in the order they were first set), reads and rewrites
// the file, and can reload it only when it changed on disk. The data
// collectors read the same configuration file, so the format is fixed:
//   - a line ends at its first carriage return or line feed; at most 2046
//     characters of a line are read, the rest of a longer line is skipped;
//   - trailing whitespace is removed, then each pair of backslashes is
//     collapsed into one (the only escape); nothing else is trimmed;
//   - lines starting with '#' or '!' are comments; empty lines are ignored;
//   - the first '=' splits key and value; a line without '=', with an empty
//     key or an empty value is ignored;
//   - for a repeated key the last value wins, at the first key's position;
//   - saving writes an optional "#<header>" line, then "key=value" lines
//     (LF) in list order with every backslash doubled.
//
// A save never leaves the file half written: the entries go to a new
// temporary file in the same directory (created exclusively under a unique
// name), which is synced and then renamed over the file. On any failure the
// file keeps its previous content.
//
// The configuration directory is writable by the data collectors' group, so
// only a regular file is read or replaced: a symbolic link, FIFO or anything
// else under the file's name is refused with ZEP00209E and left alone.
//
// Lookups are O(1) through a key index kept beside the ordered list.
//
// Thread-safety: none. An object shared between threads (the agent's
// configuration properties) is guarded by its owner's lock, held across a
// load, the reads that follow, any changes and the save.
#ifndef ZEP_FOUNDATION_ZEPPROPS_H_
#define ZEP_FOUNDATION_ZEPPROPS_H_

#include <cstdint>
#include <ctime>
#include <string_view>
#include <unordered_map>

#include "foundation/zepkvpar.h"
#include "foundation/zepllst.h"
#include "foundation/zepport.h"
#include "foundation/zepstrut.h"

class ZEPPROPS_properties {
 public:
  static constexpr char KEY_VAL_DELIM = '=';
  static const char* const COMMENT_PREFIXES;  // "#!"
  static constexpr int OK = 0;
  static constexpr int ERROR = -1;

  // Empty list, empty file name.
  ZEPPROPS_properties();
  // Sets the file name and loads it (see load()).
  explicit ZEPPROPS_properties(const char* filename);
  virtual ~ZEPPROPS_properties();

  ZEPPROPS_properties(const ZEPPROPS_properties&) = delete;
  ZEPPROPS_properties& operator=(const ZEPPROPS_properties&) = delete;

  // Stores `name` (cut at 259 characters; null stores "") as the file used
  // by load(), save(header) and loadIfChanged(). Returns the stored name.
  const char* setPropertyFilename(const char* name);
  const char* getPropertyFilename() const { return filename_; }

  // Modification time of the file after the last successful load(name) or
  // save(name, header), or of what a load refused (so that loadIfChanged
  // refuses it once, not at every call); 0 before the first.
  time_t getLastModified() const { return lastModified_; }

  // load(filename).
  int load();

  // Replaces the entries with those of file `name`. A missing file is
  // created empty (the result is then an empty set). Returns OK, or ERROR
  // with ZEP00202E (null or empty name), ZEP00209E (not a regular file) or
  // ZEP00203E (cannot open, or a read error); after ERROR the previous
  // entries are kept.
  int load(const char* name);

  // Replaces the entries with the lines of the open `file`, read to its end.
  // Returns OK, or ERROR when a read failed (the previous entries are kept).
  int load(ZEP_FILE* file);

  // Reloads the file only when its modification time (of a link: the
  // link's own) differs from getLastModified() (or it cannot be stat'ed). Returns OK when nothing
  // changed, else the result of load().
  int loadIfChanged();

  // save(filename, header).
  int save(const char* header);

  // Replaces file `name` atomically with the header line (when `header` is
  // not null) and the entries. Returns OK, or ERROR with ZEP00205E,
  // ZEP00206E, ZEP00207E or ZEP00209E (a link or other non-regular file is
  // under the name); the file then keeps its previous content and
  // getLastModified() is unchanged.
  int save(const char* name, const char* header);

  // Writes the header line (when not null) and the entries to the open
  // `file`. Returns OK, or ERROR with ZEP00205E at the first short write.
  int save(ZEP_FILE* file, const char* header);

  // Value of `key` (owned by the entry, valid until it changes), or null.
  const char* getProperty(const char* key) const;

  // The value of `key` as a strict decimal number, or `defaultValue` when
  // the key is absent or its value is not a number.
  int getPropertyAsInt(const char* key, int defaultValue) const;

  // Sets `key` to `value`. An existing key with a null or empty value is
  // removed; a new key is appended (even with an empty value, which is
  // written as "key=" and ignored by the next load).
  void setProperty(const char* key, const char* value);
  void setProperty(const char* key, int value);

  // Removes and deletes the entry of `key`, if any.
  void remove(const char* key);

  // Removes and deletes every entry.
  void clear();

  // Iteration in list order: front(), then next(e) until null. The entries
  // are owned by this object.
  ZEPKVPAR_keyValuePair* front() const;
  ZEPKVPAR_keyValuePair* next(ZEPKVPAR_keyValuePair* e) const;
  int size() const { return list_.size(); }

  // Turns one line (already stripped and unescaped) into a new entry owned
  // by the caller, or returns null for an empty line, a line without '=',
  // an empty key or value, or (when `skipComments`) a comment line.
  static ZEPKVPAR_keyValuePair* parseLine(const char* line, bool skipComments);

  // Maps the value of `key` in `props` through `table` (equal length, case
  // ignored). Returns the matching row and stores its value in *out; returns
  // null when the key is absent (silently) or the value matches no row
  // (ZEP0208E); *out is then unchanged.
  static const ZEPSTRUT_stringUtil::ENUM_CONSTANT* copyMappedProperty(
      const char* key, const ZEPPROPS_properties* props,
      const ZEPSTRUT_stringUtil::ENUM_CONSTANT* table, int count, int16_t* out);

 private:
  ZEPKVPAR_keyValuePair* find(const char* key) const;
  // Appends `e`, or merges it into the existing entry of its key (deleting e).
  void addOrMerge(ZEPKVPAR_keyValuePair* e);
  void removeEntry(ZEPKVPAR_keyValuePair* e);

  ZEPLLST_LinkedList list_;  // of ZEPKVPAR_keyValuePair, owned, file order
  // Key -> entry of list_; each view points at its entry's own key text.
  std::unordered_map<std::string_view, ZEPKVPAR_keyValuePair*> index_;
  char filename_[260] = {0};
  time_t lastModified_ = 0;
};

#endif  // ZEP_FOUNDATION_ZEPPROPS_H_
