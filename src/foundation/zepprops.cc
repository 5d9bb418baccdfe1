// Properties file: loading, querying and saving "key=value" files.
#include "foundation/zepprops.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "axo/base/trk1.h"

TRK1_UNIT(zepprops_unit, "ZEPPROPS");

const char* const ZEPPROPS_properties::COMMENT_PREFIXES = "#!";

namespace {

using SU = ZEPSTRUT_stringUtil;

constexpr int kLineBufferSize = 2048;
constexpr int kLineReadSize = kLineBufferSize - 1;  // at most 2046 characters
constexpr int kPermissions = 0666;

// Writes all of `text`; false on a short write.
bool WriteAll(ZEP_FILE* file, const char* text, size_t len) {
  return ZEPPORT::zep_write(file, text, static_cast<unsigned>(len)) == static_cast<int>(len);
}

// Gives the temporary file the permission bits (and, where allowed, the
// owner) of the file `original` it is about to replace, so the data
// collectors keep their access to it.
void MatchAttributes(ZEP_FILE* tmp, const ZEP_STAT& original, const char* name) {
  const int fd = fileno(tmp->fp);
  if (fchown(fd, original.st.st_uid, original.st.st_gid) != 0) {
    // Not permitted for an ordinary user; the file then belongs to us.
  }
  if (fchmod(fd, original.st.st_mode & 07777) != 0) {
    TRK1_Trace(&zepprops_unit, TRK1_DETAIL, "Cannot keep the permissions of %s", name);
  }
}

// Reports a file that is not a regular file where a properties file should
// be (a symbolic link, a FIFO, ...): it is neither read nor written.
void ReportRefused(const char* name, mode_t type) {
  TRK1_Trace(&zepprops_unit, TRK1_ERROR,
             "ZEP00209E Property file refused, not a regular file: %s (%s)\n", name,
             ZEPPORT::fileKind(type));
}

}  // namespace

ZEPPROPS_properties::ZEPPROPS_properties() = default;

ZEPPROPS_properties::ZEPPROPS_properties(const char* filename) {
  setPropertyFilename(filename);
  load();
}

ZEPPROPS_properties::~ZEPPROPS_properties() = default;

const char* ZEPPROPS_properties::setPropertyFilename(const char* name) {
  snprintf(filename_, sizeof(filename_), "%s", name != nullptr ? name : "");
  return filename_;
}

int ZEPPROPS_properties::load() { return load(filename_); }

int ZEPPROPS_properties::load(const char* name) {
  TRK1_FlowScope flow(&zepprops_unit, "load");
  int rc = OK;
  ZEP_FILE file;
  if (name == nullptr || name[0] == '\0') {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR,
               "ZEP00202E NULL or zero length property filename specified\n");
    rc = ERROR;
  } else if (ZEPPORT::zep_open(name, "rw", &file, kPermissions) != 0 && file.refusedType != 0) {
    ReportRefused(name, file.refusedType);
    // Not retried until the name changes: every pass would report it again.
    ZEP_STAT st;
    if (ZEPPORT::zep_lstat(name, &st) == 0) lastModified_ = st.mtime();
    rc = ERROR;
  } else if (file.fp == nullptr) {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR,
               "ZEP00203E Unable to open property file for reading: %s\n", name);
    rc = ERROR;
  } else {
    rc = load(&file);
    ZEPPORT::zep_close(&file);
    ZEP_STAT st;
    if (rc != OK) {
      // A read error: keep the entries and the time of the last good load,
      // so the next loadIfChanged tries again.
      TRK1_Trace(&zepprops_unit, TRK1_ERROR,
                 "ZEP00203E Unable to open property file for reading: %s\n", name);
    } else if (ZEPPORT::zep_stat(name, &st) == 0) {
      lastModified_ = st.mtime();
    }
  }
  return flow.exitWith(rc);
}

int ZEPPROPS_properties::load(ZEP_FILE* file) {
  TRK1_FlowScope flow(&zepprops_unit, "load(file)");
  // Read into a fresh set so that a read error leaves the current one whole.
  ZEPPROPS_properties fresh;
  char line[kLineBufferSize];
  char unescaped[kLineBufferSize];
  for (;;) {
    memset(line, 0, sizeof(line));
    if (ZEPPORT::getline(file, line, kLineReadSize) == nullptr) break;
    SU::stripTrailing(line, -1, nullptr);
    SU::unescapeString(line, unescaped, sizeof(unescaped));
    fresh.addOrMerge(parseLine(unescaped, true));
  }
  int rc = OK;
  if (ZEPPORT::zep_ferror(file)) {
    rc = ERROR;
  } else {
    clear();
    list_.push_back(fresh.list_);
    index_.swap(fresh.index_);
  }
  return flow.exitWith(rc);
}

int ZEPPROPS_properties::loadIfChanged() {
  ZEP_STAT st;
  const int stat_rc = ZEPPORT::zep_lstat(filename_, &st);
  if (stat_rc == 0 && st.mtime() == lastModified_) return OK;
  const time_t previous = lastModified_;
  const int rc = load(filename_);
  if (TRK1_On(&zepprops_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepprops_unit, __LINE__, "Config file change detected. stat rc =%d\n", stat_rc);
    TRK1_Printf(&zepprops_unit, __LINE__, "Previous config file timestamp = %ld\n",
                static_cast<long>(previous));
    TRK1_Printf(&zepprops_unit, __LINE__, "Current config file timestamp = %ld\n",
                static_cast<long>(st.mtime()));
  }
  return rc;
}

int ZEPPROPS_properties::save(const char* header) { return save(filename_, header); }

int ZEPPROPS_properties::save(const char* name, const char* header) {
  TRK1_FlowScope flow(&zepprops_unit, "save");
  if (name == nullptr || name[0] == '\0') {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP00206E Error writing properties file: %s\n", "");
    return flow.exitWith(ERROR);
  }
  // Only a regular file is replaced: a link (or anything else) found under
  // the name is left alone, never written through.
  ZEP_STAT original;
  const bool exists = ZEPPORT::zep_lstat(name, &original) == 0;
  if (exists && !original.isRegular()) {
    ReportRefused(name, original.fileType());
    return flow.exitWith(ERROR);
  }
  // The entries go to a new temporary file beside the file, which replaces
  // it only once it is completely written and on the device.
  ZEP_FILE file;
  if (ZEPPORT::zep_create_unique((std::string(name) + ".tmp").c_str(), &file, kPermissions) != 0) {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP00206E Error writing properties file: %s\n", name);
    return flow.exitWith(ERROR);
  }
  const std::string tmp = file.path;
  if (exists) MatchAttributes(&file, original, name);
  int rc = OK;
  bool written = save(&file, header) == OK && ZEPPORT::zep_sync(&file) == 0;
  if (!written) {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP00206E Error writing properties file: %s\n", name);
    rc = ERROR;
  }
  if (ZEPPORT::zep_close(&file) != 0) {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP00207E Error closing properties file: %s\n", name);
    rc = ERROR;
  }
  if (rc == OK && ZEPPORT::zep_rename(tmp.c_str(), name) != 0) {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP00206E Error writing properties file: %s\n", name);
    rc = ERROR;
  }
  ZEP_STAT st;
  if (rc != OK) {
    ZEPPORT::zep_unlink(tmp.c_str());
  } else if (ZEPPORT::zep_lstat(name, &st) == 0) {
    lastModified_ = st.mtime();
  }
  return flow.exitWith(rc);
}

int ZEPPROPS_properties::save(ZEP_FILE* file, const char* header) {
  TRK1_FlowScope flow(&zepprops_unit, "save(file)");
  bool ok = true;
  if (header != nullptr) {
    const std::string line = std::string("#") + header + "\n";
    ok = WriteAll(file, line.data(), line.size());
  }
  std::string line;
  std::string escaped;
  for (ZEPKVPAR_keyValuePair* e = front(); ok && e != nullptr; e = next(e)) {
    line.assign(e->getKey()).push_back(KEY_VAL_DELIM);
    line.append(e->getValue()).push_back('\n');
    escaped.resize(2 * line.size() + 1);
    SU::escapeString(line.c_str(), escaped.data(), static_cast<int>(escaped.size()));
    ok = WriteAll(file, escaped.c_str(), strlen(escaped.c_str()));
  }
  if (!ok) {
    TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP00205E Error writing properties to output stream\n");
  }
  const int rc = ok ? OK : ERROR;
  return flow.exitWith(rc);
}

ZEPKVPAR_keyValuePair* ZEPPROPS_properties::find(const char* key) const {
  if (key == nullptr) return nullptr;
  auto it = index_.find(std::string_view(key));
  return it != index_.end() ? it->second : nullptr;
}

const char* ZEPPROPS_properties::getProperty(const char* key) const {
  ZEPKVPAR_keyValuePair* e = find(key);
  return e != nullptr ? e->getValue() : nullptr;
}

int ZEPPROPS_properties::getPropertyAsInt(const char* key, int defaultValue) const {
  const char* value = getProperty(key);
  if (value == nullptr) return defaultValue;
  const int n = SU::atoi(value, -1);
  return n == SU::ATOI_ERROR ? defaultValue : n;
}

void ZEPPROPS_properties::setProperty(const char* key, const char* value) {
  if (key == nullptr) return;
  ZEPKVPAR_keyValuePair* e = find(key);
  if (e == nullptr) {
    addOrMerge(new ZEPKVPAR_keyValuePair(key, value));
  } else if (value == nullptr || value[0] == '\0') {
    removeEntry(e);
  } else {
    e->setValue(value);
  }
}

void ZEPPROPS_properties::setProperty(const char* key, int value) {
  char text[12];
  setProperty(key, SU::itoa(value, text));
}

void ZEPPROPS_properties::remove(const char* key) {
  ZEPKVPAR_keyValuePair* e = find(key);
  if (e != nullptr) removeEntry(e);
}

void ZEPPROPS_properties::clear() {
  index_.clear();
  list_.clear();
}

ZEPKVPAR_keyValuePair* ZEPPROPS_properties::front() const {
  return static_cast<ZEPKVPAR_keyValuePair*>(list_.front());
}

ZEPKVPAR_keyValuePair* ZEPPROPS_properties::next(ZEPKVPAR_keyValuePair* e) const {
  return static_cast<ZEPKVPAR_keyValuePair*>(list_.next(e));
}

void ZEPPROPS_properties::addOrMerge(ZEPKVPAR_keyValuePair* e) {
  if (e == nullptr) return;
  ZEPKVPAR_keyValuePair* existing = find(e->getKey());
  if (existing != nullptr) {
    existing->setValue(e->getValue());
    delete e;
    return;
  }
  list_.push_back(e);
  index_.emplace(std::string_view(e->getKey()), e);
}

void ZEPPROPS_properties::removeEntry(ZEPKVPAR_keyValuePair* e) {
  index_.erase(std::string_view(e->getKey()));
  list_.remove(e);
  delete e;
}

ZEPKVPAR_keyValuePair* ZEPPROPS_properties::parseLine(const char* line, bool skipComments) {
  if (line == nullptr || line[0] == '\0') return nullptr;
  if (skipComments && strchr(COMMENT_PREFIXES, line[0]) != nullptr) return nullptr;
  SU::STRING_PARSE_INFO parts[2];
  if (SU::split(line, parts, 2, KEY_VAL_DELIM, -1) != 2) return nullptr;
  if (parts[0].len == 0 || parts[1].len == 0) return nullptr;
  return new ZEPKVPAR_keyValuePair(parts[0], parts[1]);
}

const ZEPSTRUT_stringUtil::ENUM_CONSTANT* ZEPPROPS_properties::copyMappedProperty(
    const char* key, const ZEPPROPS_properties* props,
    const ZEPSTRUT_stringUtil::ENUM_CONSTANT* table, int count, int16_t* out) {
  TRK1_FlowScope flow(&zepprops_unit, "copyMappedProperty");
  const SU::ENUM_CONSTANT* row = nullptr;
  const char* value = props != nullptr ? props->getProperty(key) : nullptr;
  if (value != nullptr) {
    row = SU::mapValue(value, table, count, -1);
    if (row != nullptr) {
      *out = row->value;
    } else
      TRK1_Trace(&zepprops_unit, TRK1_ERROR, "ZEP0208E Unable to map property: %s\n", value);
  }
  flow.exitWith(row != nullptr);
  return row;
}
