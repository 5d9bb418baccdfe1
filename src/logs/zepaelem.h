// Aggregation bucket: the messages of one service operation in one window.
//
// A ZEPAELEM_AggData sums up the metric lines of one service operation whose
// message time falls into one aggregation window [begin, end): message count
// and length statistics, elapsed-time statistics and the fault count. It also
// remembers which cached log files fed it; when the bucket expires those
// files move to the archive (ZEPADLST_AggDataList::expire).
//
// Ownership: the bucket owns its list of cached files. The bucket list of
// its service operation owns the bucket.
//
// Thread-safety: none of its own; used under metricsLogListLock.
#ifndef ZEP_LOGS_ZEPAELEM_H_
#define ZEP_LOGS_ZEPAELEM_H_

#include <cstdint>

#include "foundation/zeplelem.h"
#include "foundation/zepllst.h"
#include "foundation/zeprows.h"

class ZEPMELEM_MetricLine;

class ZEPAELEM_AggData : public ZEPLELEM_listElem {
 public:
  // An empty bucket for the window that starts at `begin` and lasts
  // `windowMinutes` minutes.
  ZEPAELEM_AggData(int32_t begin, int windowMinutes);
  ~ZEPAELEM_AggData() override = default;

  ZEPAELEM_AggData(const ZEPAELEM_AggData&) = delete;
  ZEPAELEM_AggData& operator=(const ZEPAELEM_AggData&) = delete;

  // The key is the begin time (an int32_t); compareKeys gives begin minus
  // the given time.
  const void* getElemKey() const override { return &begin; }
  int compareKeys(const void* key) const override;

  // Adds one metric line: its read time, its message length and elapsed
  // time when each is 0 or more, and its fault.
  void processMetric(const ZEPMELEM_MetricLine& line);

  // Writes the interval columns of `row` (INTBEGTIME to MAXETIME; not
  // INTSTATUS): averages and standard deviations truncated toward zero, -1
  // for every statistic of a quantity counted fewer than once.
  void calcAggData(zep_zepinv_data_t* row) const;

  // 0 when begin <= t < end, -1 when t >= end, 1 when t < begin.
  int compareTime(int32_t t) const;

  // Attaches a cached log file (its path, and when it was read). The bucket
  // copies the path.
  void addCachedFile(const char* path, int32_t readTime);
  // The attached files, ZEPSELEM_stringElem elements in attachment order.
  ZEPLLST_LinkedList& cachedFiles() { return cachedFiles_; }

  uint8_t storedInHistory = 0;  // handed to the framework's history
  int32_t latestReadTime = 0;   // latest read time of the lines added
  int32_t begin;                // window begin; the key
  int32_t end;                  // window end (excluded)
  // Per quantity: the sum, and the sum and sum of squares of the values'
  // differences from the first value (the shift), which keep the variance
  // exact for large values that differ little.
  double msgLengthSum = 0.0;
  double msgLengthShift = 0.0;
  double msgLengthShiftedSum = 0.0;
  double msgLengthShiftedSumSq = 0.0;
  int32_t msgCount = 0;  // lines with a message length >= 0
  double elapsedSum = 0.0;
  double elapsedShift = 0.0;
  double elapsedShiftedSum = 0.0;
  double elapsedShiftedSumSq = 0.0;
  int32_t elapsedCount = 0;  // lines with an elapsed time >= 0
  int32_t faultCount = 0;
  int32_t minMsgLength = 2147483647;
  int32_t maxMsgLength = -1;
  int32_t minElapsed = 2147483647;
  int32_t maxElapsed = -1;

 private:
  ZEPLLST_LinkedList cachedFiles_;
};

#endif  // ZEP_LOGS_ZEPAELEM_H_
