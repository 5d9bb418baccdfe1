// Aggregation bucket: the messages of one service operation in one window.
#include "logs/zepaelem.h"

#include <cmath>
#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zepselem.h"
#include "foundation/zepstrut.h"
#include "logs/zepmelem.h"

TRK1_UNIT(zepaelem_unit, "ZEPAELEM");

namespace {

// Statistics of one quantity (message length or elapsed time) as columns.
struct Stats {
  int32_t avg, sd, min, max;
};

// `shiftedSum` and `shiftedSumSq` are taken over the values' differences
// from one of them, which gives the variance (Q - S * S / n) / (n - 1) without
// the cancellation that large equal values would otherwise suffer.
Stats computeStats(int32_t n, double sum, double shiftedSum, double shiftedSumSq, int32_t min,
                   int32_t max) {
  if (n < 1) return {-1, -1, -1, -1};
  double variance = n > 1 ? (shiftedSumSq - shiftedSum * shiftedSum / n) / (n - 1) : 0.0;
  if (variance < 0.0) variance = 0.0;  // rounding can leave a tiny negative
  return {static_cast<int32_t>(sum / n), static_cast<int32_t>(std::sqrt(variance)), min, max};
}

// Adds one value of a quantity when it is 0 or more.
void accumulate(int32_t value, double* sum, double* shift, double* shiftedSum, double* shiftedSumSq,
                int32_t* count, int32_t* min, int32_t* max) {
  if (value < 0) return;
  const double v = value;
  if (*count == 0) *shift = v;
  *sum += v;
  *shiftedSum += v - *shift;
  *shiftedSumSq += (v - *shift) * (v - *shift);
  ++*count;
  if (value < *min) *min = value;
  if (value > *max) *max = value;
}

}  // namespace

ZEPAELEM_AggData::ZEPAELEM_AggData(int32_t begin, int windowMinutes)
    : begin(begin), end(begin + windowMinutes * 60) {}

int ZEPAELEM_AggData::compareKeys(const void* key) const {
  const int32_t t = *static_cast<const int32_t*>(key);
  return begin < t ? -1 : (begin > t ? 1 : 0);
}

void ZEPAELEM_AggData::processMetric(const ZEPMELEM_MetricLine& line) {
  if (line.readTime > latestReadTime) latestReadTime = line.readTime;
  accumulate(line.metricsRow.msglength, &msgLengthSum, &msgLengthShift, &msgLengthShiftedSum,
             &msgLengthShiftedSumSq, &msgCount, &minMsgLength, &maxMsgLength);
  accumulate(line.metricsRow.elpsdtime, &elapsedSum, &elapsedShift, &elapsedShiftedSum,
             &elapsedShiftedSumSq, &elapsedCount, &minElapsed, &maxElapsed);
  if (line.hasFault()) ++faultCount;
}

void ZEPAELEM_AggData::calcAggData(zep_zepinv_data_t* row) const {
  const time_t b = begin;
  const time_t e = end;
  ZEPSTRUT_stringUtil::formatTimestamp(&b, row->intbegtime, 0, sizeof(row->intbegtime));
  ZEPSTRUT_stringUtil::formatTimestamp(&e, row->intendtime, 0, sizeof(row->intendtime));
  row->intlength = (end - begin) / 60;
  row->msgcount = msgCount;
  row->etmsgcount = elapsedCount;
  row->fltcount = faultCount;
  const Stats len = computeStats(msgCount, msgLengthSum, msgLengthShiftedSum, msgLengthShiftedSumSq,
                                 minMsgLength, maxMsgLength);
  row->avgmsglen = len.avg;
  row->sdmsglen = len.sd;
  row->minmsglen = len.min;
  row->maxmsglen = len.max;
  const Stats et = computeStats(elapsedCount, elapsedSum, elapsedShiftedSum, elapsedShiftedSumSq,
                                minElapsed, maxElapsed);
  row->avgetime = et.avg;
  row->sdetime = et.sd;
  row->minetime = et.min;
  row->maxetime = et.max;
}

int ZEPAELEM_AggData::compareTime(int32_t t) const {
  if (t < begin) return 1;
  if (t >= end) return -1;
  return 0;
}

void ZEPAELEM_AggData::addCachedFile(const char* path, int32_t readTime) {
  cachedFiles_.push_back(new ZEPSELEM_stringElem(path, readTime));
  TRK1_Trace(&zepaelem_unit, TRK1_DETAIL, "cached file %s attached to window %d\n", path, begin);
}
