// Metric log list: every monitored server and its records.
#include "logs/zepdclst.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"
#include "logs/zepadlst.h"
#include "logs/zepaelem.h"
#include "logs/zepshared.h"

TRK1_UNIT(zepdclst_unit, "ZEPDCLST");
AXO_COUNTER(filesPurged, "zep_files_purged_total", "Archived metric log files deleted.");
AXO_GAUGE(lag, "zep_lag_seconds",
          "Age of the oldest metric log file not yet taken, at the start of the last pass.");
AXO_COUNTER_FAMILY(filesSkipped, "zep_files_skipped_total",
                   "Names of metric log files left alone because they are not regular files, by "
                   "what they are (symlink, fifo, device, socket, directory).",
                   {"reason"});
AXO_COUNTER_FAMILY(recordsDropped, "zep_records_dropped_total",
                   "Held metric lines dropped before their time, by reason (record_limit, "
                   "retention).",
                   {"reason"});

namespace {

using SU = ZEPSTRUT_stringUtil;
constexpr int kPathSize = ZEPDCLOG_DCMetricsLogFile::PATH_SIZE;

ZEPDIREN_dirEntry* entryOf(ZEPLELEM_listElem* e) { return static_cast<ZEPDIREN_dirEntry*>(e); }

}  // namespace

ZEPDCLST_DCMetricsLogList::ZEPDCLST_DCMetricsLogList() = default;

ZEPDCLST_DCMetricsLogList::ZEPDCLST_DCMetricsLogList(const char* logDirectory) {
  setDirectoryName(logDirectory);
}

ZEPDCLST_DCMetricsLogList::~ZEPDCLST_DCMetricsLogList() = default;

void ZEPDCLST_DCMetricsLogList::setDirectoryName(const char* logDirectory) {
  if (logDirectory == nullptr) logDirectory = "";
  // The listing keeps at most 259 characters with its separator: a longer
  // name would silently name another directory.
  if (std::strlen(logDirectory) + 1 >= static_cast<size_t>(kPathSize)) {
    TRK1_Trace(&zepdclst_unit, TRK1_ERROR, "ZEP0308E Log directory name too long: %s\n",
               logDirectory);
    logDirectory = "";
  }
  logDirList_.setDirectoryName(logDirectory);
  cacheDirList_.setDirectoryName("");
  archiveDirList_.setDirectoryName("");
  // Points both listings at their subdirectories when these can be made;
  // when the log directory does not exist yet, the first use after it
  // appeared does.
  char buf[kPathSize];
  getArchiveSubdirName(buf);
}

char* ZEPDCLST_DCMetricsLogList::makeSubdirName(char* buf, bool underCache, const char* subdir,
                                                ZEPDIRLS_dirList& listing) {
  const char* logDir = logDirList_.getDirectoryName();
  buf[0] = '\0';
  if (logDir[0] == '\0') return nullptr;
  const int n = underCache
                    ? std::snprintf(buf, kPathSize, "%s%s%s%s", logDir, RELATIVE_CACHE_SUBDIR_NAME,
                                    ZEPPORT::FILE_SEPARATOR, subdir)
                    : std::snprintf(buf, kPathSize, "%s%s", logDir, subdir);
  if (n < 0 || n >= kPathSize) {
    TRK1_Trace(&zepdclst_unit, TRK1_ERROR, "ZEP0308E Log directory name too long: %s\n", logDir);
    buf[0] = '\0';
    return nullptr;
  }
  if (ZEPDCLOG_DCMetricsLogFile::ensureSafeDirectory(buf) != 0) {
    buf[0] = '\0';
    return nullptr;
  }
  if (listing.getDirectoryName()[0] == '\0') listing.setDirectoryName(buf);
  return buf;
}

char* ZEPDCLST_DCMetricsLogList::getCacheSubdirName(char* buf) {
  return makeSubdirName(buf, false, RELATIVE_CACHE_SUBDIR_NAME, cacheDirList_);
}

char* ZEPDCLST_DCMetricsLogList::getArchiveSubdirName(char* buf) {
  if (getCacheSubdirName(buf) == nullptr) return nullptr;
  return makeSubdirName(buf, true, ARCHIVE_SUBDIR_NAME, archiveDirList_);
}

char* ZEPDCLST_DCMetricsLogList::getOriginalFilename(char* out, const char* cachedName) {
  if (cachedName == nullptr) return nullptr;
  char name[kPathSize];
  std::snprintf(name, sizeof(name), "%s", cachedName);
  char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return nullptr;
  *dot = '\0';
  if (!ZEPDCLOG_DCMetricsLogFile::isAMetricLogFilename(name)) return nullptr;
  std::snprintf(out, kPathSize, "%s", name);
  return out;
}

void ZEPDCLST_DCMetricsLogList::reportIrregular(const ZEPDIRLS_dirList& listing, bool cached,
                                                std::set<std::string>* reported) {
  std::set<std::string> present;
  for (ZEPLELEM_listElem* e = listing.otherList.front(); e != nullptr;
       e = listing.otherList.next(e)) {
    const char* name = entryOf(e)->getFilename();
    char original[kPathSize];
    const bool candidate = cached ? getOriginalFilename(original, name) != nullptr
                                  : ZEPDCLOG_DCMetricsLogFile::isAMetricLogFilename(name);
    if (!candidate) continue;
    present.insert(name);
    if (reported->count(name) != 0) continue;
    const char* kind = ZEPPORT::fileKind(entryOf(e)->getFileType());
    filesSkipped.counter({kind}).Inc();
    TRK1_Trace(&zepdclst_unit, TRK1_ERROR,
               "ZEP0312W File left alone, not a regular file: %s%s (%s)\n",
               listing.getDirectoryName(), name, kind);
  }
  reported->swap(present);
}

int ZEPDCLST_DCMetricsLogList::readLogs(ZEPPROPS_properties& props) {
  TRK1_FlowScope flow(&zepdclst_unit, "readLogs");
  int rc = 0;
  if (logDirList_.getDirectoryName()[0] != '\0') {
    logDirList_.readDir();
    reportIrregular(logDirList_, /*cached=*/false, &reportedInLogDir_);
    time_t oldest = 0;
    for (ZEPLELEM_listElem* e = logDirList_.fileList.front(); e != nullptr;
         e = logDirList_.fileList.next(e)) {
      const char* name = entryOf(e)->getFilename();
      if (!ZEPDCLOG_DCMetricsLogFile::isAMetricLogFilename(name)) continue;
      const time_t t = entryOf(e)->getTimestamp();
      if (oldest == 0 || t < oldest) oldest = t;
    }
    lag.Set(oldest == 0 ? 0.0 : static_cast<double>(std::max<time_t>(0, ZEPPORT::now() - oldest)));
    for (ZEPLELEM_listElem* e = logDirList_.fileList.front(); e != nullptr;
         e = logDirList_.fileList.next(e)) {
      const char* name = entryOf(e)->getFilename();
      if (!ZEPDCLOG_DCMetricsLogFile::isAMetricLogFilename(name)) continue;
      char tmpName[kPathSize] = {0};
      if (processLog(props, name, tmpName) != 0) rc = -1;
    }
  }
  return flow.exitWith(rc);
}

int ZEPDCLST_DCMetricsLogList::readCachedLogs(ZEPPROPS_properties& props) {
  TRK1_FlowScope flow(&zepdclst_unit, "readCachedLogs");
  int rc = 0;
  char cacheDir[kPathSize];
  if (getCacheSubdirName(cacheDir) != nullptr) {
    cacheDirList_.readDir();
    reportIrregular(cacheDirList_, /*cached=*/true, &reportedInCache_);
    for (ZEPLELEM_listElem* e = cacheDirList_.fileList.front(); e != nullptr;
         e = cacheDirList_.fileList.next(e)) {
      const char* name = entryOf(e)->getFilename();
      char original[kPathSize];
      if (getOriginalFilename(original, name) == nullptr) continue;
      char tmpName[kPathSize];
      const int n = std::snprintf(tmpName, sizeof(tmpName), "%s%s%s", cacheDir,
                                  ZEPPORT::FILE_SEPARATOR, name);
      if (n < 0 || n >= kPathSize) {
        TRK1_Trace(&zepdclst_unit, TRK1_ERROR, "ZEP0301E Error processing metric log file: %s\n",
                   name);
        rc = -1;
        continue;
      }
      if (processLog(props, original, tmpName) != 0) rc = -1;
    }
  }
  return flow.exitWith(rc);
}

int ZEPDCLST_DCMetricsLogList::processLog(ZEPPROPS_properties& props, const char* filename,
                                          char* tmpName) {
  ZEP_FILE file;
  char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
  line[0] = '\0';
  int rc = -1;
  ZEPDCLOG_DCMetricsLogFile* log =
      getMetricLogForFile(logDirList_.getDirectoryName(), filename, tmpName, &file, line);
  if (log != nullptr) {
    const int maxMetrics =
        props.getPropertyAsInt(ZEPDCSET_settings::MAX_METRICS_RECORDS, DEFAULT_MAX_METRICS_RECORDS);
    const int maxSvcInv =
        props.getPropertyAsInt(ZEPDCSET_settings::MAX_SVCINV_RECORDS, DEFAULT_MAX_SVCINV_RECORDS);
    rc = log->readCachedLog(tmpName, maxMetrics, maxSvcInv, &file, line);
    if (rc == 0 && !log->isRegistered()) rc = registerLog(props, log);
  }
  if (rc != 0) {
    TRK1_Trace(&zepdclst_unit, TRK1_ERROR, "ZEP0301E Error processing metric log file: %s\n",
               tmpName[0] != '\0' ? tmpName : filename);
    // Only registered servers are in the list; a new one is dropped.
    if (log != nullptr && !log->isRegistered()) delete log;
  }
  enforceMaxRecordsLimit(props);
  return rc;
}

int ZEPDCLST_DCMetricsLogList::registerLog(ZEPPROPS_properties& props,
                                           ZEPDCLOG_DCMetricsLogFile* log) {
  char name[ZEPDCLOG_DCMetricsLogFile::SUBNODE_NAME_LEN + 1];
  std::snprintf(name, sizeof(name), "%s", log->getSubnodeName());
  const int rc = registrar_ != nullptr ? registrar_(name) : -1;
  if (rc != 0) return rc;
  log->setRegistered();
  logs_.push_back(log);
  setDefaultDCProperties(props, log->getServerName(), log->getEnvCode(), true);
  return 0;
}

ZEPDCLOG_DCMetricsLogFile* ZEPDCLST_DCMetricsLogList::getMetricLogForFile(
    const char* directory, const char* filename, char* tmpName, ZEP_FILE* file, char* line) {
  ZEPDCLOG_DCMetricsLogFile* log = new ZEPDCLOG_DCMetricsLogFile(directory, filename);
  if ((tmpName[0] == '\0' && log->renameLogToTmpName(tmpName) != 0) ||
      log->readLogForSubnodeName(tmpName, file, line) != 0) {
    delete log;
    return nullptr;
  }
  ZEPDCLOG_DCMetricsLogFile* existing = findSubNode(log->getSubnodeName());
  if (existing != nullptr) {
    delete log;
    return existing;
  }
  return log;
}

ZEPDCLOG_DCMetricsLogFile* ZEPDCLST_DCMetricsLogList::findSubNode(const char* name) const {
  if (name == nullptr) return nullptr;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    if (std::memcmp(log->getSubnodeName(), name, ZEPDCLOG_DCMetricsLogFile::SUBNODE_NAME_LEN) ==
        0) {
      return log;
    }
  }
  return nullptr;
}

ZEPDCLOG_DCMetricsLogFile* ZEPDCLST_DCMetricsLogList::findServerLog(const char* serverName,
                                                                    const char* envCode) const {
  if (serverName == nullptr || envCode == nullptr) return nullptr;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    if (std::strcmp(log->getServerName(), serverName) == 0 &&
        std::strcmp(log->getEnvCode(), envCode) == 0) {
      return log;
    }
  }
  return nullptr;
}

int ZEPDCLST_DCMetricsLogList::getNumMetricsRecords() const {
  int total = 0;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    total += log->getNumMetrics();
  }
  return total;
}

ZEPDCLOG_DCMetricsLogFile* ZEPDCLST_DCMetricsLogList::getLogWithOldestMetric() const {
  ZEPDCLOG_DCMetricsLogFile* best = nullptr;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    const ZEPMELEM_MetricLine* oldest = log->back();
    if (oldest != nullptr && (best == nullptr || oldest->timeSeconds < best->back()->timeSeconds)) {
      best = log;
    }
  }
  return best;
}

int ZEPDCLST_DCMetricsLogList::deleteOldestMetricRecords(int n) {
  // Each round deletes the oldest line over all servers (by message
  // seconds, the earlier server on ties). A min-heap of the servers' oldest
  // lines gives the same sequence as scanning every server each round. The
  // heap key packs (seconds, position) into one unsigned word whose order
  // is that of the pair, so a comparison is a single instruction; after a
  // deletion the root takes its server's next key and sinks in one pass.
  struct Candidate {
    uint64_t key;
    ZEPDCLOG_DCMetricsLogFile* log;
  };
  auto keyOf = [](int32_t seconds, uint32_t position) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(seconds) ^ 0x80000000u) << 32) | position;
  };
  std::vector<Candidate> heap;
  heap.reserve(static_cast<size_t>(logs_.size()));
  uint32_t position = 0;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log), ++position) {
    if (log->back() != nullptr) heap.push_back({keyOf(log->back()->timeSeconds, position), log});
  }
  auto later = [](const Candidate& a, const Candidate& b) { return a.key > b.key; };
  std::make_heap(heap.begin(), heap.end(), later);
  auto sinkRoot = [&heap] {
    const size_t size = heap.size();
    const Candidate moving = heap[0];
    size_t hole = 0;
    for (size_t child = 1; child < size; child = 2 * hole + 1) {
      if (child + 1 < size && heap[child + 1].key < heap[child].key) ++child;
      if (moving.key <= heap[child].key) break;
      heap[hole] = heap[child];
      hole = child;
    }
    heap[hole] = moving;
  };
  int deleted = 0;
  while (deleted < n && !heap.empty()) {
    Candidate& top = heap[0];
    top.log->deleteOldestMetric();
    ++deleted;
    if (const ZEPMELEM_MetricLine* following = top.log->back(); following != nullptr) {
      top.key = keyOf(following->timeSeconds, static_cast<uint32_t>(top.key));
      // The server's line after that one is read when this server is next
      // on top; fetching it now keeps the miss off the loop's path.
      __builtin_prefetch(following->getPrevElement());
    } else {
      top = heap.back();
      heap.pop_back();
      if (heap.empty()) break;
    }
    sinkRoot();
  }
  return deleted;
}

void ZEPDCLST_DCMetricsLogList::enforceMaxRecordsLimit(ZEPPROPS_properties& props) {
  const int limit =
      props.getPropertyAsInt(ZEPDCSET_settings::MAX_METRICS_RECORDS, DEFAULT_MAX_METRICS_RECORDS);
  const int total = getNumMetricsRecords();
  if (total <= limit) return;
  const int toDelete = total - limit;
  const int deleted = deleteOldestMetricRecords(toDelete);
  static axo::metrics::Counter& overLimit = recordsDropped.counter({"record_limit"});
  overLimit.Inc(static_cast<uint64_t>(deleted));
  TRK1_Trace(&zepdclst_unit, TRK1_DETAIL,
             "Max metric records of %d exceeded. Records to delete: %d. Deleted: %d\n", limit,
             toDelete, deleted);
}

int ZEPDCLST_DCMetricsLogList::purgeLogs(ZEPPROPS_properties& props) {
  TRK1_FlowScope flow(&zepdclst_unit, "purgeLogs");
  const int minMinutes =
      props.getPropertyAsInt(ZEPDCSET_settings::MIN_RETAIN_MINUTES, DEFAULT_MIN_RETAIN_MINUTES);
  const int maxMinutes =
      props.getPropertyAsInt(ZEPDCSET_settings::MAX_RETAIN_MINUTES, DEFAULT_MAX_RETAIN_MINUTES);
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    log->purge(minMinutes * 60, maxMinutes * 60);
  }
  enforceSvcInvLimits(props);
  purgeArchive(props);
  return flow.exitWith(0);
}

int ZEPDCLST_DCMetricsLogList::purgeArchive(ZEPPROPS_properties& props) {
  const int interval = props.getPropertyAsInt(ZEPDCSET_settings::ARCHIVE_MAINT_SECONDS,
                                              DEFAULT_ARCHIVE_MAINT_SECONDS);
  const int maxMB =
      props.getPropertyAsInt(ZEPDCSET_settings::MAX_ARCHIVE_MB, DEFAULT_MAX_ARCHIVE_MB);
  const double maxBytes = maxMB * 1024.0 * 1024.0;
  const int maxMinutes =
      props.getPropertyAsInt(ZEPDCSET_settings::MAX_ARCHIVE_MINUTES, DEFAULT_MAX_ARCHIVE_MINUTES);
  const time_t now = ZEPPORT::now();
  const time_t cutoff = now - static_cast<time_t>(maxMinutes) * 60;
  if (now < static_cast<time_t>(lastArchiveMaintenance_) + interval) return 0;
  lastArchiveMaintenance_ = static_cast<int32_t>(now);

  char archiveDir[kPathSize];
  if (getArchiveSubdirName(archiveDir) == nullptr) return 0;
  archiveDirList_.readDir();
  int rc = 0;
  double total = 0.0;
  bool deleting = false;
  ZEPLLST_LinkedList& files = archiveDirList_.fileList;
  for (ZEPLELEM_listElem* e = files.back(); e != nullptr; e = files.previous(e)) {
    const ZEPDIREN_dirEntry* f = entryOf(e);
    if (!deleting) {
      total += f->getFilesize();
      if (f->getTimestamp() < cutoff || (maxMB >= 0 && total > maxBytes)) {
        deleting = true;
      } else {
        continue;
      }
    }
    char path[kPathSize];
    const int n = std::snprintf(path, sizeof(path), "%s%s%s", archiveDir, ZEPPORT::FILE_SEPARATOR,
                                f->getFilename());
    const int removed = n > 0 && n < kPathSize ? ZEPPORT::zep_unlink(path) : -1;
    if (removed == 0) {
      filesPurged.Inc();
      TRK1_Trace(&zepdclst_unit, TRK1_DETAIL, "ZEP0307I Archived log file deleted: %s \n", path);
    } else {
      rc = removed;
      TRK1_Trace(&zepdclst_unit, TRK1_ERROR, "ZEP0306E Error deleting file: %s rc = %d\n", path,
                 removed);
    }
  }
  return rc;
}

void ZEPDCLST_DCMetricsLogList::enforceSvcInvLimits(ZEPPROPS_properties& props) {
  const int retain = props.getPropertyAsInt(ZEPDCSET_settings::MAX_SVCINV_RETAIN_MINUTES,
                                            DEFAULT_MAX_SVCINV_RETAIN_MINUTES);
  const int max =
      props.getPropertyAsInt(ZEPDCSET_settings::MAX_SVCINV_RECORDS, DEFAULT_MAX_SVCINV_RECORDS);
  const time_t ageCutoff = ZEPPORT::now() - static_cast<time_t>(retain) * 60;
  time_t windowBegin;
  SU::latestCompleteTimeWindowBegin(&windowBegin, ZEPSHARED_agentData::aggDataWindowSizeMinutes);
  int remaining = deleteHistoriedAndAgedOut(ageCutoff, windowBegin);
  if (remaining <= max) return;

  int deleted = 0;
  ZEPADLST_AggDataList* list;
  ZEPAELEM_AggData* bucket;
  int32_t begin;
  int count = getOldestAggDataBucket(&list, &bucket, &begin);
  while (bucket != nullptr && count > max) {
    // The oldest window goes as a whole: one walk of every server, in list
    // order, rather than a search of all servers for each bucket.
    for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
      deleted += log->svcInventory().expireWindow(begin);
    }
    count = getOldestAggDataBucket(&list, &bucket, &begin);
  }
  if (deleted > 0 && TRK1_On(&zepdclst_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepdclst_unit, __LINE__,
                "ZEP0305I Max service inventory records of %d exceeded. Deleted %d records. "
                "Remaining records: %d \n",
                max, deleted, count);
  }
}

int ZEPDCLST_DCMetricsLogList::getOldestAggDataBucket(ZEPADLST_AggDataList** list,
                                                      ZEPAELEM_AggData** bucket,
                                                      int32_t* begin) const {
  *list = nullptr;
  *bucket = nullptr;
  *begin = 2147483647;
  int total = 0;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    ZEPADLST_AggDataList* l;
    ZEPAELEM_AggData* b;
    int32_t t;
    total += log->svcInventory().getOldestAggDataBucket(&l, &b, &t);
    if (b != nullptr && t < *begin) {
      *list = l;
      *bucket = b;
      *begin = t;
    }
  }
  return total;
}

int ZEPDCLST_DCMetricsLogList::deleteHistoriedAndAgedOut(time_t ageCutoff, time_t windowBegin) {
  int historied = 0;
  int expired = 0;
  int remaining = 0;
  for (ZEPDCLOG_DCMetricsLogFile* log = front(); log != nullptr; log = next(log)) {
    ZEPNVLST_SvcInventoryList& inventory = log->svcInventory();
    for (ZEPIELEM_SvcInv* svc = inventory.front(); svc != nullptr; svc = inventory.next(svc)) {
      ZEPADLST_AggDataList& buckets = svc->aggDataList();
      for (ZEPAELEM_AggData* b = buckets.back(); b != nullptr;) {
        ZEPAELEM_AggData* newer = buckets.previous(b);
        if (b->begin < windowBegin && b->storedInHistory) {
          buckets.expire(b);
          ++historied;
        } else if (b->begin < windowBegin && b->latestReadTime < ageCutoff) {
          buckets.expire(b);
          ++expired;
        } else {
          ++remaining;
        }
        b = newer;
      }
    }
  }
  if (historied + expired > 0 && TRK1_On(&zepdclst_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepdclst_unit, __LINE__,
                "ZEP0304I Deleted %d history collected service inventory records. Deleted %d "
                "expired records. Records remaining: %d\n",
                historied, expired, remaining);
  }
  return remaining;
}

void ZEPDCLST_DCMetricsLogList::clear() {
  logs_.clear();
  lastArchiveMaintenance_ = 0;
  reportedInLogDir_.clear();
  reportedInCache_.clear();
}
