// Metric log file: the state of one monitored application server.
#include "logs/zepdclog.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "axo/base/testpause.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "foundation/zepcrc32.h"
#include "foundation/zepdirls.h"
#include "foundation/zepkvpar.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"
#include "logs/zepaelem.h"
#include "logs/zepshared.h"
#include "logs/zepsink.h"

TRK1_UNIT(zepdclog_unit, "ZEPDCLOG");

namespace {

AXO_COUNTER(filesTaken, "zep_files_taken_total", "Metric log files taken into the cache.");
// The per-record series below are updated under metricsLogListLock only,
// through their serialised updates (axo/metrics/metrics.h).
AXO_COUNTER(recordsRead, "zep_records_read_total", "Record lines read from metric log files.");
AXO_COUNTER(bytesRead, "zep_read_bytes_total", "Bytes of record lines read from metric log files.");
AXO_COUNTER_FAMILY(recordsRejected, "zep_records_rejected_total",
                   "Record lines rejected, by cause (field_count, time, other).", {"cause"});
AXO_COUNTER_FAMILY(recordsDropped, "zep_records_dropped_total",
                   "Held metric lines dropped before their time, by reason (record_limit, "
                   "retention).",
                   {"reason"});
// Records refused for their time: not a number, or before 2000.
axo::metrics::Counter& badTime() {
  static axo::metrics::Counter& counter = recordsRejected.counter({"time"});
  return counter;
}

using SU = ZEPSTRUT_stringUtil;

const SU::ENUM_CONSTANT kEnvCodes[] = {
    {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {"9", 9},
};
constexpr int kNumEnv = sizeof(kEnvCodes) / sizeof(kEnvCodes[0]);

// 2000-01-01T00:00:00Z. No collector wrote a record before it: an earlier
// time was written in seconds instead of milliseconds, or is damaged.
constexpr int32_t kEarliestRecordSeconds = 946684800;

void reportError(int line, const char* fmt, const char* a, const char* b = nullptr) {
  if (TRK1_On(&zepdclog_unit, TRK1_ERROR)) TRK1_Printf(&zepdclog_unit, line, fmt, a, b);
}

// Reports a failed move with the cause: the system's text for the error
// that occurred, or why the move was not tried.
void reportRename(const char* from, const char* to, const char* cause) {
  if (TRK1_On(&zepdclog_unit, TRK1_ERROR)) {
    TRK1_Printf(&zepdclog_unit, __LINE__, "ZEP00103E Cannot rename file from %s to %s\n", from, to);
    TRK1_Printf(&zepdclog_unit, __LINE__, "%s\n", cause);
  }
}

// A one-digit code column: the digit's value, -1 for anything else.
int16_t codeField(const SU::STRING_PARSE_INFO& f) {
  if (f.len < 1 || f.ptr[0] < '0' || f.ptr[0] > '9') return -1;
  return static_cast<int16_t>(f.ptr[0] - '0');
}

// Copies a record field into its column, cut to the column's width. The
// row starts as the header row, whose record columns are blank, so the
// blanks after the text are already there.
template <size_t N>
void textField(char (&column)[N], const SU::STRING_PARSE_INFO& f) {
  SU::copyBytes(column, f.ptr, std::min(static_cast<size_t>(f.len), N));
}

template <size_t N>
void headerColumn(char (&column)[N], const char* text) {
  SU::memcpyWithPad(column, text, static_cast<unsigned>(std::strlen(text)), N, ' ');
}

// Joins the parts into `out` (size bytes). False when the result is longer
// than size - 1 characters.
bool joinPath(char* out, int size, const char* a, const char* b, const char* c = "",
              const char* d = "", const char* e = "") {
  const int n = std::snprintf(out, size, "%s%s%s%s%s", a, b, c, d, e);
  if (n < 0 || n >= size) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool endsWithSeparator(const char* path) {
  const size_t n = std::strlen(path);
  return n > 0 && path[n - 1] == '/';
}

}  // namespace

ZEPDCLOG_DCMetricsLogFile::ZEPDCLOG_DCMetricsLogFile(const char* directory, const char* filename)
    : envValue_(0), registered_(0) {
  setMetricsLogFilename(directory, filename);
}

bool ZEPDCLOG_DCMetricsLogFile::isAMetricLogFilename(const char* name) {
  if (name == nullptr) return false;
  return SU::beginsWith("ZEP.", name) && SU::endsWith(".metric.log", name);
}

int ZEPDCLOG_DCMetricsLogFile::setMetricsLogFilename(const char* directory, const char* filename) {
  if (directory == nullptr) directory = "";
  if (filename == nullptr) filename = "";
  const char* sep = endsWithSeparator(directory) ? "" : ZEPPORT::FILE_SEPARATOR;
  const bool ok =
      joinPath(directory_, PATH_SIZE, directory, "") &&
      joinPath(filename_, PATH_SIZE, filename, "") &&
      joinPath(livePath_, PATH_SIZE, directory, sep, filename) &&
      joinPath(cacheDirectory_, PATH_SIZE, directory, sep, CACHE_SUBDIR, ZEPPORT::FILE_SEPARATOR);
  if (ok) return 0;
  livePath_[0] = '\0';
  cacheDirectory_[0] = '\0';
  reportError(__LINE__, "ZEP00106E Path too long for metric log file %s in %s\n", filename,
              directory);
  return -1;
}

int ZEPDCLOG_DCMetricsLogFile::ensureSafeDirectory(const char* path) {
  if (path == nullptr || path[0] == '\0') return -1;
  if (ZEPDIRLS_dirList::mkdirIfNeeded(path) != 0) return -1;
  char bare[PATH_SIZE];
  if (!joinPath(bare, PATH_SIZE, path, "")) return -1;
  for (size_t n = std::strlen(bare); n > 1 && bare[n - 1] == '/'; --n) bare[n - 1] = '\0';
  // The agent moves and reads files there: a link could send them anywhere,
  // and another user who owns the directory could swap its files. Root may
  // use such a directory (the collectors' user often made it), but never
  // through a link.
  struct stat st;
  char cause[96];
  const uid_t agent = ZEPPORT::effectiveUid();
  if (::lstat(bare, &st) != 0) {
    std::snprintf(cause, sizeof(cause), "%s", std::strerror(errno));
  } else if (S_ISLNK(st.st_mode)) {
    std::snprintf(cause, sizeof(cause), "it is a symbolic link");
  } else if (!S_ISDIR(st.st_mode)) {
    std::snprintf(cause, sizeof(cause), "it is not a directory");
  } else if (st.st_uid != agent && agent != 0) {
    std::snprintf(cause, sizeof(cause), "it is owned by uid %u, not by the agent's uid %u",
                  static_cast<unsigned>(st.st_uid), static_cast<unsigned>(agent));
  } else {
    return 0;
  }
  reportError(__LINE__, "ZEP00107E Directory refused: %s: %s\n", bare, cause);
  return -1;
}

int ZEPDCLOG_DCMetricsLogFile::renameLogToTmpName(char* cachedPath) {
  TRK1_FlowScope flow(&zepdclog_unit, "renameLogToTmpName");
  int rc = -1;
  const time_t now = ZEPPORT::now();
  char stamp[17];
  SU::formatTimestamp(&now, stamp, 0, sizeof(stamp));
  char target[PATH_SIZE];
  if (livePath_[0] == '\0' ||
      !joinPath(target, PATH_SIZE, cacheDirectory_, filename_, ".", stamp, "-CA")) {
    reportRename(livePath_, cacheDirectory_, std::strerror(ENAMETOOLONG));
  } else if (ensureSafeDirectory(cacheDirectory_) != 0) {
    reportRename(livePath_, target, "the cache directory was refused");
  } else {
    ZEP_STAT st;
    if (ZEPPORT::zep_stat(target, &st) == 0) {
      // Never replace a cached file: the file is taken at a later pass.
      reportRename(livePath_, target, std::strerror(EEXIST));
    } else {
      AXO_TestPausePoint("file-rename");
      if (ZEPPORT::zep_rename(livePath_, target) != 0) {
        reportRename(livePath_, target, std::strerror(errno));
      } else {
        std::snprintf(cachedPath, PATH_SIZE, "%s", target);
        filesTaken.Inc();
        rc = 0;
      }
    }
  }
  return flow.exitWith(rc);
}

int ZEPDCLOG_DCMetricsLogFile::readLogForSubnodeName(const char* cachedPath, ZEP_FILE* file,
                                                     char* line) {
  line[0] = '\0';
  if (ZEPPORT::zep_open(cachedPath, "r", file, 0666) != 0) {
    reportError(__LINE__, "ZEP00102E Cannot open file for read: %s\n", cachedPath);
    return -1;
  }
  SU::STRING_PARSE_INFO fields[NUM_FIELDS];
  while (ZEPPORT::getline(file, line, LINE_SIZE) != nullptr) {
    if (line[0] == '#') {
      processKeyVal(line);
    } else if (SU::split(line, fields, NUM_FIELDS, ';') == NUM_FIELDS) {
      break;  // the first record stays in the buffer
    }
    line[0] = '\0';
  }
  if (!isAccepted()) {
    ZEPPORT::zep_close(file);
    line[0] = '\0';
    return -1;
  }
  generateSubnodeName();
  return 0;
}

int ZEPDCLOG_DCMetricsLogFile::readCachedLog(const char* cachedPath, int maxMetricsRecords,
                                             int maxSvcInvRecords, ZEP_FILE* file, char* line) {
  TRK1_FlowScope flow(&zepdclog_unit, "readCachedLog");
  const int32_t readTime = static_cast<int32_t>(ZEPPORT::now());
  NewestWindow newest;
  if (file->fp != nullptr) {
    if (line[0] != '\0') {
      processLine(cachedPath, line, readTime, maxMetricsRecords, maxSvcInvRecords, &newest);
    }
    size_t length;
    while (ZEPPORT::getline(file, line, LINE_SIZE, &length) != nullptr) {
      processText(line, length, readTime, maxMetricsRecords, maxSvcInvRecords, &newest);
    }
    line[0] = '\0';
    ZEPPORT::zep_close(file);
  }
  const int rc = isAccepted() ? 0 : -1;
  if (rc == 0 && newest.entry != nullptr) {
    ZEPAELEM_AggData* bucket = newest.entry->aggDataList().findBucket(newest.begin);
    if (bucket != nullptr) {
      bucket->addCachedFile(cachedPath, readTime);
    } else {
      ZEPADLST_AggDataList::renameToArchive(cachedPath, false);
    }
  }
  return flow.exitWith(rc);
}

int ZEPDCLOG_DCMetricsLogFile::processLine(const char* /*cachedPath*/, const char* line,
                                           int32_t readTime, int maxMetricsRecords,
                                           int maxSvcInvRecords, NewestWindow* newest) {
  return processText(line, std::strlen(line), readTime, maxMetricsRecords, maxSvcInvRecords,
                     newest);
}

int ZEPDCLOG_DCMetricsLogFile::processText(const char* line, size_t length, int32_t readTime,
                                           int maxMetricsRecords, int maxSvcInvRecords,
                                           NewestWindow* newest) {
  if (line[0] == '#') return processKeyVal(line);
  SU::STRING_PARSE_INFO f[NUM_FIELDS];
  recordsRead.IncSerialized();
  bytesRead.IncSerialized(length);
  if (SU::split(line, f, NUM_FIELDS, ';', static_cast<int>(length)) != NUM_FIELDS) {
    static axo::metrics::Counter& fieldCount = recordsRejected.counter({"field_count"});
    fieldCount.Inc();
    return 0;
  }
  if (std::memchr(line, ZEPPORT::NUL_SUBSTITUTE, length) != nullptr) {
    static axo::metrics::Counter& damaged = recordsRejected.counter({"other"});
    damaged.Inc();
    refuseRecord("it holds a NUL byte", line);
    return 0;
  }

  // The message time: the last three digits are milliseconds.
  int32_t seconds;
  int32_t millis = 0;
  if (f[1].len > 3) {
    seconds = SU::atol(f[1].ptr, f[1].len - 3);
    millis = SU::atol(f[1].ptr + f[1].len - 3, 3);
  } else {
    seconds = SU::atol(f[1].ptr, f[1].len);
  }
  if (seconds == SU::ATOI_ERROR || millis == SU::ATOI_ERROR || millis < 0) {
    // A record without a usable time cannot be ordered or aggregated.
    badTime().Inc();
    refuseRecord("its time is not a number", line);
    return 0;
  }
  if (seconds < kEarliestRecordSeconds) {
    badTime().Inc();
    refuseRecord("its time is before 2000-01-01T00:00Z (seconds instead of milliseconds?)", line);
    return 0;
  }
  refusing_ = false;
  if (subnodeName_[0] == '\0') generateSubnodeName();

  ZEPMELEM_MetricLine* ml = new ZEPMELEM_MetricLine(readTime, headerRow());
  zep_zepsmt_data_t& row = ml->metricsRow;
  row.msgloc = codeField(f[0]);
  ml->timeSeconds = seconds;
  ml->timeMillis = millis;
  const time_t t = seconds;
  SU::formatTimestamp(&t, row.msgtime, millis, sizeof(row.msgtime));
  textField(row.threadid, f[2]);
  row.elpsdtime = SU::atol(f[3].ptr, f[3].len);
  textField(row.portname, f[4]);
  textField(row.opname, f[5]);
  row.onewaymsg = codeField(f[6]);
  row.faultresp = codeField(f[7]);
  row.msglength = SU::atol(f[8].ptr, f[8].len);
  textField(row.currcorr, f[9]);
  textField(row.prevcorr, f[11]);
  textField(row.rmhstname, f[12]);
  textField(row.rmipaddr, f[13]);
  ml->setFaultCode(f[14].ptr, f[14].len);
  ml->setFaultString(f[15].ptr, f[15].len);

  insert(ml, nullptr);
  ZEPSINK_Record record{*this, *ml};
  ZEPSINK_sinks::deliver(record);
  counted_ = true;
  if (newest != nullptr && record.window != nullptr &&
      (newest->entry == nullptr || record.window->begin > newest->begin)) {
    newest->entry = record.service;
    newest->begin = record.window->begin;
  }
  enforceSvcInvLimits(maxSvcInvRecords);
  static axo::metrics::Counter& overLimit = recordsDropped.counter({"record_limit"});
  while (lines_.size() > maxMetricsRecords && deleteOldestMetric(true)) {
    overLimit.IncSerialized();
  }
  return 0;
}

ZEPDCLOG_DCMetricsLogFile::~ZEPDCLOG_DCMetricsLogFile() {
  if (counted_) ZEPSINK_sinks::serverGone(*this);
}

void ZEPDCLOG_DCMetricsLogFile::refuseRecord(const char* cause, const char* text) {
  ++refusedRecords_;
  // A run of bad records (a collector writing seconds, a damaged stretch of
  // a file) gets one warning; the rest of the run only detail records.
  const int level = refusing_ ? TRK1_DETAIL : TRK1_ERROR;
  refusing_ = true;
  TRK1_Trace(&zepdclog_unit, level,
             "ZEP0311W Metric record of server %s refused, %s (%d refused so far): %.200s\n",
             serverName_, cause, refusedRecords_, text);
}

const zep_zepsmt_data_t& ZEPDCLOG_DCMetricsLogFile::headerRow() {
  if (headerRowValid_) return headerRow_;
  zep_zepsmt_data_t& r = headerRow_;
  std::memset(&r, ' ', sizeof(r));
  headerColumn(r.tablever, version_);
  r.appsrvenv = envValue_;
  headerColumn(r.appsrvnode, node_);
  headerColumn(r.appsrvcell, cell_);
  headerColumn(r.appsrvnm, serverName_);
  headerColumn(r.appsrvclus, cluster_);
  headerColumn(r.originnode, subnodeName_);
  headerColumn(r.hostname, hostName_);
  headerColumn(r.ipaddr, ipAddress_);
  r.msgloc = r.onewaymsg = r.faultresp = 0;
  r.elpsdtime = r.msglength = 0;
  headerRowValid_ = true;
  return r;
}

void ZEPDCLOG_DCMetricsLogFile::setHeaderField(char* field, int size, const char* value) {
  std::memset(field, 0, size);  // no stale bytes of a longer earlier value
  SU::strSegmentCopy(field, size, value, static_cast<int>(std::strlen(value)), true);
}

int ZEPDCLOG_DCMetricsLogFile::processKeyVal(const char* line) {
  ZEPKVPAR_keyValuePair* kv = ZEPPROPS_properties::parseLine(line, false);
  if (kv == nullptr) return 0;
  const char* key = kv->getKey();
  const char* value = kv->getValue();
  struct Field {
    const char* key;
    char* field;
    int size;
  };
  const Field fields[] = {
      {"#ZEP.version", version_, sizeof(version_)},
      {"#ZEP.env", envCode_, sizeof(envCode_)},
      {"#ZEP.node", node_, sizeof(node_)},
      {"#ZEP.cell", cell_, sizeof(cell_)},
      {"#ZEP.servername", serverName_, sizeof(serverName_)},
      {"#ZEP.cluster", cluster_, sizeof(cluster_)},
      {"#ZEP.hostname", hostName_, sizeof(hostName_)},
      {"#ZEP.ipaddress", ipAddress_, sizeof(ipAddress_)},
  };
  for (const Field& f : fields) {
    if (std::strcmp(key, f.key) != 0) continue;
    setHeaderField(f.field, f.size, value);
    if (f.field == envCode_) {
      envValue_ = envStrToEnum(value, static_cast<int>(std::strlen(value)));
    }
    headerRowValid_ = false;
    TRK1_Trace(&zepdclog_unit, TRK1_DETAIL, "header %s = %s\n", f.key, f.field);
    break;
  }
  delete kv;
  return 0;
}

void ZEPDCLOG_DCMetricsLogFile::insert(ZEPMELEM_MetricLine* line, ZEPMELEM_MetricLine* start) {
  ZEPMELEM_MetricLine* before = start != nullptr ? start : front();
  while (before != nullptr && before->isNewerThan(*line)) before = next(before);
  lines_.insert_before(line, before);
  if (line->hasFault()) ++numFaults_;
  const uint8_t slot = static_cast<uint8_t>(inserted_++ % BULK_DELETE_LOOK_AHEAD);
  if (recent_[slot] != nullptr) recent_[slot]->laterLine = line;
  recent_[slot] = line;
  line->recentSlot = slot;
}

void ZEPDCLOG_DCMetricsLogFile::deleteMetric(ZEPMELEM_MetricLine* line) {
  if (recent_[line->recentSlot] == line) recent_[line->recentSlot] = nullptr;
  if (line->hasFault()) --numFaults_;
  lines_.remove(line);
  delete line;
}

bool ZEPDCLOG_DCMetricsLogFile::deleteOldestMetric(bool forReuse) {
  ZEPMELEM_MetricLine* oldest = back();
  if (oldest == nullptr) return false;
  const ZEPMELEM_MetricLine* later = oldest->laterLine;
  deleteMetric(oldest);
  // The oldest lines were read long ago and have left the processor's
  // caches. At the record limit one goes per record read, and its storage
  // serves the next line: the whole of the line a few deletions ahead is
  // fetched, hidden behind the records read meanwhile. Deleted in bulk, one
  // after the other, a line's storage serves a line much later: only the
  // links are fetched, further ahead: those of the line laterLine names, as
  // a walk of the links would wait on memory at every step.
  if (forReuse) {
    const ZEPMELEM_MetricLine* ahead = back();
    for (int i = 0; i < DELETE_LOOK_AHEAD && ahead != nullptr; ++i) ahead = previous(ahead);
    if (ahead != nullptr) ahead->prefetch();
    return true;
  }
  if (later != nullptr) __builtin_prefetch(later, 1);
  return true;
}

int ZEPDCLOG_DCMetricsLogFile::purge(int minRetainSeconds, int maxRetainSeconds) {
  static axo::metrics::Counter& retentionDropped = recordsDropped.counter({"retention"});
  const time_t now = ZEPPORT::now();
  int deleted = 0;
  for (ZEPMELEM_MetricLine* l = front(); l != nullptr;) {
    ZEPMELEM_MetricLine* following = next(l);
    const time_t read = l->readTime;
    if (now > read + maxRetainSeconds || (now > read + minRetainSeconds && l->addedToHistory)) {
      // Dropped unless the line reached history first.
      if (!l->addedToHistory) retentionDropped.Inc();
      deleteMetric(l);
      ++deleted;
    }
    l = following;
  }
  if (deleted > 0) {
    TRK1_Trace(&zepdclog_unit, TRK1_DETAIL, "purged %d metric lines of %s, %d remain\n", deleted,
               subnodeName_, lines_.size());
  }
  return 0;
}

void ZEPDCLOG_DCMetricsLogFile::enforceSvcInvLimits(int maxSvcInvRecords) {
  int32_t count = svcInventory_.getNumAggDataBuckets();
  int expired = 0;
  while (count > maxSvcInvRecords) {
    ZEPADLST_AggDataList* list;
    ZEPAELEM_AggData* bucket;
    int32_t begin;
    svcInventory_.getOldestAggDataBucket(&list, &bucket, &begin);
    if (bucket == nullptr) break;
    // The oldest window goes as a whole, in one walk of the inventory.
    expired += svcInventory_.expireWindow(begin);
    count = svcInventory_.getNumAggDataBuckets();
  }
  if (expired > 0 && TRK1_On(&zepdclog_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepdclog_unit, __LINE__,
                "ZEP0305I Max service inventory records of %d exceeded. Deleted %d records. "
                "Remaining records: %d \n",
                maxSvcInvRecords, expired, count);
  }
}

ZEPMELEM_MetricLine* ZEPDCLOG_DCMetricsLogFile::frontUnstoredMetric() const {
  ZEPMELEM_MetricLine* l = front();
  while (l != nullptr && l->addedToHistory) l = next(l);
  return l;
}

ZEPMELEM_MetricLine* ZEPDCLOG_DCMetricsLogFile::nextUnstoredMetric(
    const ZEPMELEM_MetricLine* line) const {
  ZEPMELEM_MetricLine* l = next(line);
  while (l != nullptr && l->addedToHistory) l = next(l);
  return l;
}

ZEPMELEM_MetricLine* ZEPDCLOG_DCMetricsLogFile::frontFault() const {
  if (numFaults_ == 0) return nullptr;
  ZEPMELEM_MetricLine* l = front();
  while (l != nullptr && !l->hasFault()) l = next(l);
  return l;
}

ZEPMELEM_MetricLine* ZEPDCLOG_DCMetricsLogFile::nextFault(const ZEPMELEM_MetricLine* line) const {
  ZEPMELEM_MetricLine* l = next(line);
  while (l != nullptr && !l->hasFault()) l = next(l);
  return l;
}

void ZEPDCLOG_DCMetricsLogFile::generateSubnodeName() {
  if (subnodeName_[0] != '\0') return;
  // The checksum covers the fields at their full width, zero bytes included.
  uint32_t crc = ZEPCRC32::crc32(serverName_, sizeof(serverName_));
  crc = ZEPCRC32::crc32(envCode_, sizeof(envCode_), crc);
  crc = ZEPCRC32::crc32(cell_, sizeof(cell_), crc);
  crc = ZEPCRC32::crc32(node_, sizeof(node_), crc);
  crc = ZEPCRC32::crc32(cluster_, sizeof(cluster_), crc);
  crc = ZEPCRC32::crc32(hostName_, sizeof(hostName_), crc);
  char digits[9];
  ZEPCRC32::crc32ToString(crc, digits);

  const char* dot = std::strchr(hostName_, '.');
  int h =
      dot != nullptr ? static_cast<int>(dot - hostName_) : static_cast<int>(std::strlen(hostName_));
  int s = static_cast<int>(std::strlen(serverName_));
  if (h + s > MAX_SUBNODE_BUDGET) {
    const int serverLimit = s < 5 ? s : 5;
    if (h < MAX_SUBNODE_BUDGET - serverLimit) {
      s = s < MAX_SUBNODE_BUDGET - h ? s : MAX_SUBNODE_BUDGET - h;
    } else {
      s = serverLimit;
      h = MAX_SUBNODE_BUDGET - s;
    }
  }
  char name[SUBNODE_NAME_LEN + 1];
  std::snprintf(name, sizeof(name), "ZP:%s:%.*s-%.*s", digits, h, hostName_, s, serverName_);
  SU::memcpyWithPad(subnodeName_, name, static_cast<unsigned>(std::strlen(name)), SUBNODE_NAME_LEN,
                    ' ');
  subnodeName_[SUBNODE_NAME_LEN] = '\0';
  headerRowValid_ = false;
  if (TRK1_On(&zepdclog_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepdclog_unit, __LINE__, "hostname name: %s\n", hostName_);
    TRK1_Printf(&zepdclog_unit, __LINE__, "serverName name: %s\n", serverName_);
    TRK1_Printf(&zepdclog_unit, __LINE__, "subnode name: %s\n", subnodeName_);
  }
}

int16_t ZEPDCLOG_DCMetricsLogFile::envStrToEnum(const char* code, int len) {
  const SU::ENUM_CONSTANT* row = SU::mapValue(code, kEnvCodes, kNumEnv, len);
  if (row != nullptr) return row->value;
  TRK1_Trace(&zepdclog_unit, TRK1_ERROR, "ZEP00104E Unrecognized Server ENV type: %.*s\n",
             code != nullptr ? (len < 0 ? static_cast<int>(std::strlen(code)) : len) : 0,
             code != nullptr ? code : "");
  return -1;
}

const char* ZEPDCLOG_DCMetricsLogFile::envEnumToStr(int16_t value) {
  const SU::ENUM_CONSTANT* row = SU::mapEnum(value, kEnvCodes, kNumEnv);
  if (row != nullptr) return row->name;
  TRK1_Trace(&zepdclog_unit, TRK1_ERROR, "ZEP00105E Unrecognized Server ENV enum type: %d\n",
             value);
  return nullptr;
}
