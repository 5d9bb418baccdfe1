// Tests of the service inventory and its aggregation buckets. The history
// walk is checked against a plain model in tests/perf.
#include <gtest/gtest.h>

#include <cstring>

#include "logs/zepadlst.h"
#include "logs/zepaelem.h"
#include "logs/zeplogs_test_util.h"
#include "logs/zepnvlst.h"

namespace {

using namespace zeplogs_test;

constexpr int32_t kTen = 1143540000;  // 2006-03-28 10:00:00 UTC, a window begin

std::unique_ptr<ZEPMELEM_MetricLine> line(int32_t seconds, int16_t loc = 0, int32_t length = 1,
                                          int32_t elapsed = 1, const std::string& op = "op") {
  auto l = std::make_unique<ZEPMELEM_MetricLine>(seconds + 5);
  std::memcpy(l->metricsRow.portname, "OrderPort", 9);
  std::memcpy(l->metricsRow.opname, op.data(), op.size());
  l->metricsRow.msgloc = loc;
  l->metricsRow.msglength = length;
  l->metricsRow.elpsdtime = elapsed;
  l->timeSeconds = seconds;
  return l;
}

std::vector<int> statsOf(const ZEPAELEM_AggData& b) {
  zep_zepinv_data_t r;
  b.calcAggData(&r);
  return {r.msgcount, r.avgmsglen, r.sdmsglen, r.minmsglen, r.maxmsglen, r.etmsgcount,
          r.avgetime, r.sdetime,   r.minetime, r.maxetime,  r.fltcount};
}

class ZepSvcInvTest : public ZepLogsTest {};

TEST_F(ZepSvcInvTest, RequestsAndResponsesAreSeparateOperationsInKeyOrder) {
  ZEPNVLST_SvcInventoryList inv(5);
  ZEPIELEM_SvcInv* p = inv.add(*line(kTen, 2, 1, 1, "b"));
  ZEPIELEM_SvcInv* r = inv.add(*line(kTen, 0, 1, 1, "b"));
  ZEPIELEM_SvcInv* a = inv.add(*line(kTen, 1, 1, 1, "a"));
  EXPECT_EQ(inv.add(*line(kTen, 3, 1, 1, "b")), p);
  // (Names alike up to the column's end: the index's test in tests/perf.)
  ASSERT_EQ(inv.size(), 3);
  EXPECT_EQ(inv.front(), a);
  EXPECT_EQ(inv.next(a), r);  // a, then b requests, then b responses
  EXPECT_EQ(std::string(p->row.svcopertyp, 140), "OrderPort:b:P" + std::string(127, ' '));
  EXPECT_EQ(std::string(r->row.svcopertyp, 13), "OrderPort:b:R");
}

TEST_F(ZepSvcInvTest, BucketStatistics) {
  ZEPAELEM_AggData b(kTen, 5);
  b.processMetric(*line(kTen, 0, 1, -1));
  auto faulty = line(kTen, 0, 2, -5);
  faulty->setFaultCode("F1", 2);
  b.processMetric(*faulty);
  // Average 1.5 and deviation sqrt(0.5) truncated; no elapsed times: -1.
  EXPECT_EQ(statsOf(b), (std::vector<int>{2, 1, 0, 1, 2, 0, -1, -1, -1, -1, 1}));
  EXPECT_EQ(b.latestReadTime, kTen + 5);
  // Large values: rounding must not turn into a bogus deviation.
  ZEPAELEM_AggData large(kTen, 5);
  for (int i = 0; i < 8; ++i) {
    large.processMetric(*line(kTen, 0, i < 7 ? 2000000011 : 2000000019, 3));
  }
  // variance (64 - 64 / 8) / 7 = 8
  EXPECT_EQ(statsOf(large),
            (std::vector<int>{8, 2000000012, 2, 2000000011, 2000000019, 8, 3, 0, 3, 3, 0}));
}

TEST_F(ZepSvcInvTest, ExpiredWindowsAreNeverReportedAsEmpty) {
  ZEPDISP_dispatcher::dcaStartTime = kTen;
  ZEPADLST_AggDataList list(5);
  list.add(*line(kTen + 60));
  list.add(*line(kTen + 360));
  list.expire(list.back());  // never reported
  auto first = [&] {
    const ZEPAELEM_AggData* b = list.findFirstIntervalForHistory(kTen + 3600);
    return b != nullptr ? b->begin : -1;
  };
  EXPECT_EQ(first(), kTen + 300);
  // A newer window that leaves first does not hide older ones from history.
  list.add(*line(kTen + 660));
  list.expire(list.front());
  EXPECT_EQ(first(), kTen + 300);
}

}  // namespace
