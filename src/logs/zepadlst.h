// Bucket list: the aggregation buckets of one service operation.
//
// ZEPADLST_AggDataList keeps the buckets of one service operation ordered by
// window begin from the newest to the oldest, at most one per begin. New
// metric lines nearly always fall into the newest bucket, so lookups walk
// from the front. The list also remembers the earliest window that ever
// received a line and the latest window handed to history, which drive the
// history walk (findFirstIntervalForHistory / findNextIntervalForHistory):
// over successive history requests every window from the service's first
// data (or the agent's start) is visited exactly once.
//
// Ownership: the list owns its buckets; expire() deletes one.
//
// Thread-safety: none of its own; used under metricsLogListLock.
#ifndef ZEP_LOGS_ZEPADLST_H_
#define ZEP_LOGS_ZEPADLST_H_

#include <cstdint>
#include <ctime>

#include "foundation/zepllst.h"
#include "logs/zepaelem.h"

class ZEPMELEM_MetricLine;

class ZEPADLST_AggDataList {
 public:
  // An empty list of windows of `windowMinutes` minutes (at least 1).
  // `bucketCounter`, when not null, is kept equal to the running total of
  // buckets of every list that shares it (the server's inventory count).
  explicit ZEPADLST_AggDataList(int windowMinutes, int32_t* bucketCounter = nullptr);
  ~ZEPADLST_AggDataList();

  ZEPADLST_AggDataList(const ZEPADLST_AggDataList&) = delete;
  ZEPADLST_AggDataList& operator=(const ZEPADLST_AggDataList&) = delete;

  // Counts `line` into the bucket of its message time (created when
  // missing) and returns that bucket. Lowers the earliest begin to it.
  ZEPAELEM_AggData* add(const ZEPMELEM_MetricLine& line);

  // The bucket of the window holding time `t`; with `create` a missing one is
  // made and inserted in order. Returns null when missing and not created.
  ZEPAELEM_AggData* findInterval(time_t t, bool create);

  // The bucket that begins exactly at `begin`, or null. Never creates.
  ZEPAELEM_AggData* findBucket(int32_t begin) const;

  // The bucket of window begin `t` for a sample: null for a window before the
  // service's first data; otherwise the existing bucket, or a new empty one
  // whose latest read time is now (it ages from the moment it was made).
  ZEPAELEM_AggData* findIntervalForSample(time_t t);

  // The first window the next history request reports: the earliest begin
  // (the window after it when that began before the agent started), moved
  // past the last history begin. Null when it begins after `limit`.
  ZEPAELEM_AggData* findFirstIntervalForHistory(time_t limit);
  // The window after `current` (and after the last history begin), or null
  // when it begins after `limit`.
  ZEPAELEM_AggData* findNextIntervalForHistory(time_t current, time_t limit);

  // Records that `bucket` went to history: sets its flag and raises the last
  // history begin to its begin when that is later.
  void markStoredInHistory(ZEPAELEM_AggData* bucket);

  // Removes and deletes `bucket` (which must be in this list). Its cached
  // files move to the archive, with the "HS" mark when the bucket went to
  // history. A bucket that never went to history, is newer than the last
  // history begin and has no older bucket still waiting for history raises
  // the last history begin to its begin, so that history never reports the
  // vanished window as an empty one.
  void expire(ZEPAELEM_AggData* bucket);

  // Moves the cached file `path` into the subdirectory "archive" of its
  // directory; with `storedInHistory` the last two characters of the name
  // become "HS". A failure is reported (ZEP00103E) and leaves the file.
  static void renameToArchive(const char* path, bool storedInHistory);

  // Newest bucket first.
  ZEPAELEM_AggData* front() const { return static_cast<ZEPAELEM_AggData*>(buckets_.front()); }
  ZEPAELEM_AggData* back() const { return static_cast<ZEPAELEM_AggData*>(buckets_.back()); }
  ZEPAELEM_AggData* next(const ZEPAELEM_AggData* b) const {
    return static_cast<ZEPAELEM_AggData*>(buckets_.next(b));
  }
  ZEPAELEM_AggData* previous(const ZEPAELEM_AggData* b) const {
    return static_cast<ZEPAELEM_AggData*>(buckets_.previous(b));
  }
  int32_t size() const { return buckets_.size(); }

  // Stops keeping a bucket counter (the list left its inventory).
  void detachBucketCounter() { bucketCounter_ = nullptr; }

  int getWindowMinutes() const { return windowMinutes_; }
  int32_t getEarliestBegin() const { return earliestBegin_; }
  int32_t getLastHistoryBegin() const { return lastHistoryBegin_; }
  void setLastHistoryBegin(int32_t begin) { lastHistoryBegin_ = begin; }

 private:
  // Inserts a new bucket for `begin` before `before` (null: at the back).
  ZEPAELEM_AggData* insertBucket(int32_t begin, ZEPAELEM_AggData* before);
  // The bucket for `begin` and, when missing, where one would be inserted;
  // searched from the newest end, or from the oldest end.
  ZEPAELEM_AggData* locate(int32_t begin, ZEPAELEM_AggData** insertBefore) const;
  ZEPAELEM_AggData* locateFromOldest(int32_t begin, ZEPAELEM_AggData** insertBefore) const;
  // findIntervalForSample, searching from the chosen end.
  ZEPAELEM_AggData* bucketForSample(time_t t, bool fromOldest);
  // The history walk's next window from `t` on.
  ZEPAELEM_AggData* historyWindowFrom(time_t t, time_t limit);

  int windowMinutes_;
  ZEPLLST_LinkedList buckets_;
  bool hasData_ = false;  // a metric line was ever added
  int32_t earliestBegin_ = 0;
  int32_t lastHistoryBegin_ = 0;
  int32_t* bucketCounter_;
  // The bucket the history walk returned last, where its next search
  // starts; cleared when that bucket expires.
  ZEPAELEM_AggData* historyCursor_ = nullptr;
};

#endif  // ZEP_LOGS_ZEPADLST_H_
