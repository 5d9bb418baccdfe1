// Tests of the service inventory and its aggregation buckets.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "logs/zepadlst.h"
#include "logs/zepaelem.h"
#include "logs/zepielem.h"
#include "logs/zeplogs_test_util.h"
#include "logs/zepmelem.h"
#include "logs/zepnvlst.h"

namespace {

using namespace zeplogs_test;

// 2006-03-28 10:00:00 UTC, the begin of a 5-minute window.
constexpr int32_t kTen = 1143540000;

std::unique_ptr<ZEPMELEM_MetricLine> makeLine(int16_t loc, int32_t seconds, int32_t length,
                                              int32_t elapsed, const char* op = "submitOrder",
                                              bool fault = false) {
  auto l = std::make_unique<ZEPMELEM_MetricLine>(seconds + 5);
  std::memcpy(l->metricsRow.portname, "OrderPort", 9);
  std::memcpy(l->metricsRow.opname, op, std::strlen(op));
  l->metricsRow.msgloc = loc;
  l->metricsRow.msglength = length;
  l->metricsRow.elpsdtime = elapsed;
  l->timeSeconds = seconds;
  if (fault) l->setFaultCode("F1", 2);
  return l;
}

zep_zepinv_data_t rowOf(const ZEPAELEM_AggData& b) {
  zep_zepinv_data_t row;
  std::memset(&row, ' ', sizeof(row));
  b.calcAggData(&row);
  return row;
}

TEST(ZepSvcInvTest, RequestsAndResponsesAreSeparateOperationsInKeyOrder) {
  ZEPNVLST_SvcInventoryList inv(5);
  auto response = makeLine(2, kTen, 10, 1, "b");
  auto request = makeLine(0, kTen, 10, 1, "b");
  auto first = makeLine(1, kTen, 10, 1, "a");
  ZEPIELEM_SvcInv* p = inv.add(*response);
  ZEPIELEM_SvcInv* r = inv.add(*request);
  EXPECT_NE(p, r);
  ZEPIELEM_SvcInv* a = inv.add(*first);
  EXPECT_EQ(a, inv.front());
  EXPECT_EQ(inv.add(*makeLine(3, kTen, 1, 1, "b")), p);
  ASSERT_EQ(inv.size(), 3);
  EXPECT_EQ(inv.next(inv.front()), r);  // a, then b requests, then b responses
  EXPECT_EQ(std::string(p->row.svcopertyp, 140), "OrderPort:b:P" + std::string(127, ' '));
  EXPECT_EQ(std::string(r->row.svcopertyp, 13), "OrderPort:b:R");
  EXPECT_EQ(p->row.svctype, 1);
  EXPECT_EQ(ZEPIELEM_SvcInv::svcTypeFromMsgLoc(7), -1);
}

TEST(ZepSvcInvTest, BucketStatistics) {
  ZEPAELEM_AggData b(kTen, 5);
  b.processMetric(*makeLine(0, kTen, 1, -1));
  b.processMetric(*makeLine(0, kTen, 2, -5, "x", true));
  zep_zepinv_data_t row = rowOf(b);
  EXPECT_EQ(std::string(row.intbegtime, 16), "1060328100000000");
  EXPECT_EQ(std::string(row.intendtime, 16), "1060328100500000");
  EXPECT_EQ(row.intlength, 5);
  EXPECT_EQ(row.msgcount, 2);
  EXPECT_EQ(row.avgmsglen, 1);  // 1.5 truncated
  EXPECT_EQ(row.sdmsglen, 0);   // sqrt(0.5) truncated
  EXPECT_EQ(row.minmsglen, 1);
  EXPECT_EQ(row.maxmsglen, 2);
  EXPECT_EQ(row.etmsgcount, 0);
  EXPECT_EQ(row.avgetime, -1);
  EXPECT_EQ(row.sdetime, -1);
  EXPECT_EQ(row.minetime, -1);
  EXPECT_EQ(row.maxetime, -1);
  EXPECT_EQ(row.fltcount, 1);
  EXPECT_EQ(b.latestReadTime, kTen + 5);

  ZEPAELEM_AggData one(kTen, 5);
  one.processMetric(*makeLine(0, kTen, 100, 7));
  row = rowOf(one);
  EXPECT_EQ(row.avgmsglen, 100);
  EXPECT_EQ(row.sdmsglen, 0);
  EXPECT_EQ(row.minmsglen, 100);
  EXPECT_EQ(row.maxmsglen, 100);
  EXPECT_EQ(row.avgetime, 7);

  // Large values: rounding must not turn into a bogus deviation.
  ZEPAELEM_AggData equal(kTen, 5);
  for (int i = 0; i < 7; ++i) equal.processMetric(*makeLine(0, kTen, 2000000011, 3));
  equal.processMetric(*makeLine(0, kTen, 2000000019, 3));
  row = rowOf(equal);
  EXPECT_EQ(row.sdmsglen, 2);  // variance (64 - 64 / 8) / 7 = 8
  EXPECT_EQ(row.avgmsglen, 2000000012);
}

TEST(ZepSvcInvTest, WindowsAreAlignedAndKeptNewestFirst) {
  ZEPADLST_AggDataList list(5);
  ZEPAELEM_AggData* early = list.add(*makeLine(0, kTen + 2 * 60, 1, 1));
  ZEPAELEM_AggData* late = list.add(*makeLine(0, kTen + 7 * 60, 1, 1));
  EXPECT_EQ(early->begin, kTen);
  EXPECT_EQ(late->begin, kTen + 300);
  EXPECT_EQ(list.front(), late);
  EXPECT_EQ(list.back(), early);
  EXPECT_EQ(list.add(*makeLine(0, kTen + 299, 1, 1)), early);
  EXPECT_EQ(early->compareTime(kTen + 300), -1);
  EXPECT_EQ(early->compareTime(kTen - 1), 1);
  EXPECT_EQ(list.getEarliestBegin(), kTen);
}

TEST(ZepSvcInvTest, SampleWindowsExistOnlyFromTheFirstData) {
  fakeTime() = kTen + 3600;
  ZEPPORT::setClockForTesting(fakeNow);
  ZEPADLST_AggDataList list(5);
  EXPECT_EQ(list.findIntervalForSample(kTen), nullptr);  // no data at all
  list.add(*makeLine(0, kTen + 60, 1, 1));
  EXPECT_EQ(list.findIntervalForSample(kTen - 300), nullptr);
  ZEPAELEM_AggData* empty = list.findIntervalForSample(kTen + 600);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->latestReadTime, kTen + 3600);
  zep_zepinv_data_t row = rowOf(*empty);
  EXPECT_EQ(row.msgcount, 0);
  EXPECT_EQ(row.avgmsglen, -1);
  EXPECT_EQ(list.size(), 2);
  EXPECT_EQ(list.findIntervalForSample(kTen + 600), empty);
  ZEPPORT::setClockForTesting(nullptr);
}

TEST(ZepSvcInvTest, HistoryWalkVisitsEachWindowOnce) {
  const ScopedStartTime start(kTen);
  ZEPADLST_AggDataList list(5);
  list.add(*makeLine(0, kTen + 60, 1, 1));
  list.add(*makeLine(0, kTen + 660, 1, 1));
  std::vector<int32_t> seen;
  for (ZEPAELEM_AggData* b = list.findFirstIntervalForHistory(kTen + 600); b != nullptr;
       b = list.findNextIntervalForHistory(b->begin, kTen + 600)) {
    seen.push_back(b->begin);
    list.markStoredInHistory(b);
  }
  EXPECT_EQ(seen, (std::vector<int32_t>{kTen, kTen + 300, kTen + 600}));
  EXPECT_EQ(list.findFirstIntervalForHistory(kTen + 600), nullptr);
  ZEPAELEM_AggData* next = list.findFirstIntervalForHistory(kTen + 900);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->begin, kTen + 900);
}

TEST(ZepSvcInvTest, ExpiredWindowsAreNeverReportedAsEmpty) {
  const ScopedStartTime start(kTen);
  ZEPADLST_AggDataList list(5);
  list.add(*makeLine(0, kTen + 60, 1, 1));
  list.add(*makeLine(0, kTen + 360, 1, 1));
  list.expire(list.back());  // never reported
  ZEPAELEM_AggData* first = list.findFirstIntervalForHistory(kTen + 3600);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->begin, kTen + 300);
  EXPECT_EQ(first->msgCount, 1);
  // A newer window that leaves first does not hide older ones from history.
  list.add(*makeLine(0, kTen + 660, 1, 1));
  list.expire(list.front());
  first = list.findFirstIntervalForHistory(kTen + 3600);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->begin, kTen + 300);
}

TEST(ZepSvcInvTest, ExpiredBucketsMoveTheirFilesToTheArchive) {
  ZepTestDir dir;
  dir.write("ZEP.a.metric.log.1060328100000000-CA", "a");
  dir.write("ZEP.b.metric.log.1060328100000000-CA", "b");
  int32_t counter = 0;
  ZEPADLST_AggDataList list(5, &counter);
  ZEPAELEM_AggData* stored = list.add(*makeLine(0, kTen, 1, 1));
  ZEPAELEM_AggData* kept = list.add(*makeLine(0, kTen + 300, 1, 1));
  EXPECT_EQ(counter, 2);
  stored->addCachedFile(dir.path("ZEP.a.metric.log.1060328100000000-CA").c_str(), kTen);
  kept->addCachedFile(dir.path("ZEP.b.metric.log.1060328100000000-CA").c_str(), kTen);
  list.markStoredInHistory(stored);
  list.expire(stored);
  list.expire(kept);
  EXPECT_EQ(counter, 0);
  EXPECT_TRUE(dir.exists("archive/ZEP.a.metric.log.1060328100000000-HS"));
  EXPECT_TRUE(dir.exists("archive/ZEP.b.metric.log.1060328100000000-CA"));
  EXPECT_FALSE(dir.exists("ZEP.a.metric.log.1060328100000000-CA"));
}

}  // namespace
