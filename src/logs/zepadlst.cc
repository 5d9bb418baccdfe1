// Bucket list: the aggregation buckets of one service operation.
#include "logs/zepadlst.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "foundation/zepport.h"
#include "foundation/zepselem.h"
#include "foundation/zepstrut.h"
#include "logs/zepdclog.h"
#include "logs/zepmelem.h"
#include "logs/zepshared.h"

TRK1_UNIT(zepadlst_unit, "ZEPADLST");
AXO_COUNTER(filesArchived, "zep_files_archived_total", "Metric log files moved to the archive.");

namespace {

int32_t windowBegin(time_t t, int minutes) {
  ZEPSTRUT_stringUtil::roundTimeDown(&t, minutes);
  return static_cast<int32_t>(t);
}

}  // namespace

ZEPADLST_AggDataList::ZEPADLST_AggDataList(int windowMinutes, int32_t* bucketCounter)
    : windowMinutes_(windowMinutes > 0 ? windowMinutes : 5), bucketCounter_(bucketCounter) {}

ZEPADLST_AggDataList::~ZEPADLST_AggDataList() {
  if (bucketCounter_ != nullptr) *bucketCounter_ -= buckets_.size();
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::locate(int32_t begin,
                                               ZEPAELEM_AggData** insertBefore) const {
  *insertBefore = nullptr;
  for (ZEPAELEM_AggData* b = front(); b != nullptr; b = next(b)) {
    if (b->begin == begin) return b;
    if (b->begin < begin) {
      *insertBefore = b;
      return nullptr;
    }
  }
  return nullptr;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::locateFromOldest(int32_t begin,
                                                         ZEPAELEM_AggData** insertBefore) const {
  // Every bucket older than the walk's last one is passed over at once.
  ZEPAELEM_AggData* start =
      historyCursor_ != nullptr && historyCursor_->begin <= begin ? historyCursor_ : back();
  for (ZEPAELEM_AggData* b = start; b != nullptr; b = previous(b)) {
    if (b->begin == begin) return b;
    if (b->begin > begin) {
      *insertBefore = next(b);  // between b and its older neighbour
      return nullptr;
    }
  }
  *insertBefore = front();  // newer than every bucket
  return nullptr;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::insertBucket(int32_t begin, ZEPAELEM_AggData* before) {
  ZEPAELEM_AggData* bucket = new ZEPAELEM_AggData(begin, windowMinutes_);
  buckets_.insert_before(bucket, before);
  if (bucketCounter_ != nullptr) ++*bucketCounter_;
  return bucket;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::findInterval(time_t t, bool create) {
  const int32_t begin = windowBegin(t, windowMinutes_);
  ZEPAELEM_AggData* before;
  ZEPAELEM_AggData* bucket = locate(begin, &before);
  if (bucket == nullptr && create) bucket = insertBucket(begin, before);
  return bucket;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::findBucket(int32_t begin) const {
  ZEPAELEM_AggData* before;
  return locate(begin, &before);
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::add(const ZEPMELEM_MetricLine& line) {
  ZEPAELEM_AggData* bucket = findInterval(line.timeSeconds, true);
  bucket->processMetric(line);
  if (!hasData_ || earliestBegin_ > bucket->begin) earliestBegin_ = bucket->begin;
  hasData_ = true;
  return bucket;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::findIntervalForSample(time_t t) {
  return bucketForSample(t, false);
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::bucketForSample(time_t t, bool fromOldest) {
  // No windows before the service's first data (and none at all without).
  if (!hasData_ || earliestBegin_ > t) return nullptr;
  const int32_t begin = static_cast<int32_t>(t);
  ZEPAELEM_AggData* before;
  ZEPAELEM_AggData* bucket = fromOldest ? locateFromOldest(begin, &before) : locate(begin, &before);
  if (bucket == nullptr) {
    bucket = insertBucket(begin, before);
    bucket->latestReadTime = static_cast<int32_t>(ZEPPORT::now());
  }
  return bucket;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::historyWindowFrom(time_t t, time_t limit) {
  if (lastHistoryBegin_ >= t) {
    const time_t last = lastHistoryBegin_;
    ZEPSTRUT_stringUtil::nextTimeWindow(&last, &t, windowMinutes_);
  }
  // History walks from the oldest unreported window forward, so its window
  // is searched from the oldest end, past the window it returned last: a
  // walk over many windows stays linear.
  if (t > limit) return nullptr;
  ZEPAELEM_AggData* bucket = bucketForSample(t, true);
  if (bucket != nullptr) historyCursor_ = bucket;
  return bucket;
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::findFirstIntervalForHistory(time_t limit) {
  if (!hasData_) return nullptr;
  time_t t = earliestBegin_;
  if (earliestBegin_ < ZEPSHARED_agentData::dcaStartTime) {
    const time_t earliest = earliestBegin_;
    ZEPSTRUT_stringUtil::nextTimeWindow(&earliest, &t, windowMinutes_);
  }
  return historyWindowFrom(t, limit);
}

ZEPAELEM_AggData* ZEPADLST_AggDataList::findNextIntervalForHistory(time_t current, time_t limit) {
  time_t t;
  ZEPSTRUT_stringUtil::nextTimeWindow(&current, &t, windowMinutes_);
  return historyWindowFrom(t, limit);
}

void ZEPADLST_AggDataList::markStoredInHistory(ZEPAELEM_AggData* bucket) {
  bucket->storedInHistory = 1;
  if (bucket->begin > lastHistoryBegin_) lastHistoryBegin_ = bucket->begin;
}

void ZEPADLST_AggDataList::expire(ZEPAELEM_AggData* bucket) {
  const bool stored = bucket->storedInHistory != 0;
  ZEPLLST_LinkedList& files = bucket->cachedFiles();
  for (ZEPLELEM_listElem* e = files.front(); e != nullptr; e = files.next(e)) {
    renameToArchive(static_cast<ZEPSELEM_stringElem*>(e)->getString(), stored);
  }
  // A window that leaves without having been reported is never reported
  // later: history must not walk it again as an empty window. History
  // moves past it only when no older window still waits for history.
  if (!stored && bucket->begin > lastHistoryBegin_) {
    bool olderWaiting = false;
    for (ZEPAELEM_AggData* b = next(bucket); b != nullptr && b->begin > lastHistoryBegin_;
         b = next(b)) {
      if (!b->storedInHistory) {
        olderWaiting = true;
        break;
      }
    }
    if (!olderWaiting) lastHistoryBegin_ = bucket->begin;
  }
  if (historyCursor_ == bucket) historyCursor_ = nullptr;
  buckets_.remove(bucket);
  if (bucketCounter_ != nullptr) --*bucketCounter_;
  delete bucket;
}

void ZEPADLST_AggDataList::renameToArchive(const char* path, bool storedInHistory) {
  if (path == nullptr) return;
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return;
  const int dirLen = static_cast<int>(slash - path) + 1;
  char archiveDir[ZEPDCLOG_DCMetricsLogFile::PATH_SIZE];
  int n = std::snprintf(archiveDir, sizeof(archiveDir), "%.*sarchive", dirLen, path);
  if (n < 0 || n >= static_cast<int>(sizeof(archiveDir))) return;
  if (ZEPDCLOG_DCMetricsLogFile::ensureSafeDirectory(archiveDir) != 0) return;
  char target[ZEPDCLOG_DCMetricsLogFile::PATH_SIZE];
  n = std::snprintf(target, sizeof(target), "%s%s%s", archiveDir, ZEPPORT::FILE_SEPARATOR,
                    slash + 1);
  if (n < 0 || n >= static_cast<int>(sizeof(target))) {
    if (TRK1_On(&zepadlst_unit, TRK1_ERROR)) {
      TRK1_Printf(&zepadlst_unit, __LINE__, "ZEP00103E Cannot rename file from %s to %s\n", path,
                  archiveDir);
      TRK1_Printf(&zepadlst_unit, __LINE__, "%s\n", std::strerror(ENAMETOOLONG));
    }
    return;
  }
  if (storedInHistory && n >= 2) {
    target[n - 2] = 'H';
    target[n - 1] = 'S';
  }
  if (ZEPPORT::zep_rename(path, target) != 0) {
    const int err = errno;
    if (TRK1_On(&zepadlst_unit, TRK1_ERROR)) {
      TRK1_Printf(&zepadlst_unit, __LINE__, "ZEP00103E Cannot rename file from %s to %s\n", path,
                  target);
      TRK1_Printf(&zepadlst_unit, __LINE__, "%s\n", std::strerror(err));
    }
  } else {
    filesArchived.Inc();
  }
}
