// Integration test: metric log files written by the real data-collector
// simulator are taken in by one dispatcher pass, and every aggregation
// bucket matches the aggregates the simulator says it wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "logs/zepaelem.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;

class ZepSimIngestTest : public ZepLogsTest {};

TEST_F(ZepSimIngestTest, BucketsMatchWhatTheSimulatorWrote) {
  const std::string sim = std::string(ZEP_BUILD_DIR) + "/zepdcsim";
  ASSERT_EQ(access(sim.c_str(), X_OK), 0) << "the simulator is not built: " << sim;
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

  // One row per bucket: server, operation, window begin, then its columns.
  std::ifstream in(expect);
  std::map<std::string, std::string> f;  // column name -> value
  std::vector<std::string> names;
  int rows = 0, buckets = 0;
  for (std::string line; std::getline(in, line);) {
    std::stringstream fields(line);
    for (size_t i = 0; std::getline(fields, line, ','); ++i) {
      if (names.size() <= i) names.push_back(line); else f[names[i]] = line;
    }
    if (f.empty()) continue;
    ++rows;
    ZEPDCLOG_DCMetricsLogFile* log = list.front();
    while (log != nullptr && f["server"] != log->getServerName()) log = list.next(log);
    ASSERT_NE(log, nullptr) << f["server"];
    const std::string op = f["svcopertyp"];
    ZEPIELEM_SvcInv* svc = log->svcInventory().front();
    while (svc != nullptr && std::string(svc->row.svcopertyp, op.size()) != op) {
      svc = log->svcInventory().next(svc);
    }
    ASSERT_NE(svc, nullptr) << op;
    const ZEPAELEM_AggData* b = svc->aggDataList().findBucket(std::stoi(f["begin"]));
    ASSERT_NE(b, nullptr) << f["begin"];
    zep_zepinv_data_t r;
    b->calcAggData(&r);
    for (const auto& [name, value] : {std::pair{"msgcount", r.msgcount}, {"avgmsglen", r.avgmsglen},
                                      {"sdmsglen", r.sdmsglen}, {"minmsglen", r.minmsglen},
                                      {"maxmsglen", r.maxmsglen}, {"etmsgcount", r.etmsgcount},
                                      {"avgetime", r.avgetime}, {"sdetime", r.sdetime},
                                      {"minetime", r.minetime}, {"maxetime", r.maxetime},
                                      {"fltcount", r.fltcount}, {"intlength", r.intlength}}) {
      EXPECT_EQ(value, std::stoi(f[name])) << name << " of " << op << " " << f["begin"];
    }
    EXPECT_EQ(std::string(r.intbegtime, 16), f["intbegtime"]);
  }
  for (auto* log = list.front(); log != nullptr; log = list.next(log)) {
    buckets += log->svcInventory().getNumAggDataBuckets();
  }
  EXPECT_GT(rows, 0);
  EXPECT_EQ(buckets, rows);
}

}  // namespace
