// Bad records of a metric log file are refused, counted and traced, and
// every good record next to them is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/trk1.h"
#include "logs/zepdclog.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;

class ZepDcLogRecordsTest : public ZepLogsTest {};

TEST_F(ZepDcLogRecordsTest, ImplausibleTimesAndDamagedRecordsAreRefused) {
  constexpr long long kFloorMillis = 946684800000LL;  // 2000-01-01T00:00Z
  const long long good = kBaseTime * 1000LL;
  std::string damaged = record(2, good + 4, 10, "OrderPort", "submitOrder", 100, "F1", "bro");
  damaged += std::string(1, '\0') + "ken";
  const std::string content =
      header("server1") + lines({record(2, good + 1),
                                 record(2, kBaseTime),  // seconds written instead of milliseconds
                                 record(2, kFloorMillis - 1), record(2, kFloorMillis),
                                 damaged, record(2, good + 5)});
  const std::string path = tmp_.path("cached");
  tmp_.write("cached", content);

  ZEPDCLOG_DCMetricsLogFile log(logDir().c_str(), "ZEP.s.metric.log");
  ZEP_FILE file;
  char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
  TRK1_Capture capture;
  ASSERT_EQ(log.readLogForSubnodeName(path.c_str(), &file, line), 0);
  ASSERT_EQ(log.readCachedLog(path.c_str(), 30000, 30000, &file, line), 0);

  std::vector<long long> kept;
  for (const ZEPMELEM_MetricLine* l = log.front(); l != nullptr; l = log.next(l)) {
    kept.push_back(l->timeSeconds * 1000LL + l->timeMillis);
  }
  EXPECT_EQ(kept, (std::vector<long long>{good + 5, good + 1, kFloorMillis}));
  EXPECT_EQ(log.getNumRefusedRecords(), 3);
  EXPECT_EQ(log.getNumFaults(), 0);
  // One warning per run of refused records, each naming its cause.
  EXPECT_EQ(capture.count("ZEP0311W"), 2);
  EXPECT_TRUE(capture.contains("before 2000-01-01T00:00Z"));
  EXPECT_TRUE(capture.contains("NUL byte"));
}

}  // namespace
