// Integration test: metric log files written by the real data-collector
// simulator are taken in by one dispatcher pass, and every aggregation
// bucket matches the aggregates the simulator says it wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "logs/zepaelem.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;

std::vector<std::string> splitCsv(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(f);
  return out;
}

class ZepSimIngestTest : public ZepLogsTest {};

TEST_F(ZepSimIngestTest, BucketsMatchWhatTheSimulatorWrote) {
  const std::string sim = std::string(ZEP_BUILD_DIR) + "/zepdcsim";
  const std::string expect = tmp_.path("expect.csv");
  const std::string cmd = sim + " --dir '" + logDir() + "' --servers 3 --services 3 --count 120" +
                          " --seed 11 --fault-ratio 0.2 --junk-ratio 0.1 --per-file 50" +
                          " --time-base " + std::to_string(kBaseTime - 3600) +
                          " --step-ms 20000 --window-minutes 5 --expect '" + expect +
                          "' 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  ASSERT_EQ(ZEPDISP_dispatcher::initWithoutThread(), 0);
  ZEPDISP_dispatcher::runOnePass();
  EXPECT_TRUE(filesIn(logDir()).empty());
  ZEPDCLST_DCMetricsLogList& list = ZEPDISP_dispatcher::metricsLogList;
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list.getNumMetricsRecords(), 360);

  std::ifstream in(expect);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  const std::vector<std::string> names = splitCsv(line);
  std::map<std::string, size_t> at;
  for (size_t i = 0; i < names.size(); ++i) at[names[i]] = i;
  int rows = 0;
  int buckets = 0;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = splitCsv(line);
    ++rows;
    ZEPDCLOG_DCMetricsLogFile* log = list.front();
    while (log != nullptr && f[at["server"]] != log->getServerName()) log = list.next(log);
    ASSERT_NE(log, nullptr) << line;
    ZEPIELEM_SvcInv* svc = log->svcInventory().front();
    const std::string key = f[at["svcopertyp"]];
    while (svc != nullptr && std::string(svc->row.svcopertyp, key.size()) != key) {
      svc = log->svcInventory().next(svc);
    }
    ASSERT_NE(svc, nullptr) << line;
    const ZEPAELEM_AggData* b = svc->aggDataList().findBucket(std::stoi(f[at["begin"]]));
    ASSERT_NE(b, nullptr) << line;
    zep_zepinv_data_t row;
    b->calcAggData(&row);
    const std::pair<const char*, int32_t> columns[] = {
        {"msgcount", row.msgcount},   {"avgmsglen", row.avgmsglen}, {"sdmsglen", row.sdmsglen},
        {"minmsglen", row.minmsglen}, {"maxmsglen", row.maxmsglen}, {"etmsgcount", row.etmsgcount},
        {"avgetime", row.avgetime},   {"sdetime", row.sdetime},     {"minetime", row.minetime},
        {"maxetime", row.maxetime},   {"fltcount", row.fltcount},   {"intlength", row.intlength},
    };
    for (const auto& [name, value] : columns) {
      EXPECT_EQ(value, std::stoi(f[at[name]])) << name << " of " << line;
    }
    EXPECT_EQ(std::string(row.intbegtime, 16), f[at["intbegtime"]]);
  }
  for (auto* log = list.front(); log != nullptr; log = list.next(log)) {
    buckets += log->svcInventory().getNumAggDataBuckets();
  }
  EXPECT_GT(rows, 0);
  EXPECT_EQ(buckets, rows);
}

}  // namespace
