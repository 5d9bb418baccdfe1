// Concurrency stress of the whole agent in one process, as it runs: log
// dispatcher passes reading simulator files, framework threads sampling all
// seven tables, action commands editing the configuration, situations
// created and deleted while the timer ticks, and history requests marking
// lines. Bounded by rounds, not by time; run under ThreadSanitizer by
// `make tsan`. At the end every record written is held, every line went to
// history exactly once, and every lock is free.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "axo/base/osb1.h"
#include "axo/requests/request.h"
#include "config/zepacmd.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"
#include "runtime/zepmain.h"
#include "situations/zepdc.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;

using StressConcurrencyTest = ZepLogsTest;

TEST_F(StressConcurrencyTest, AgentThreadsShareTheLocksWithoutLossOrRace) {
  // The simulator writes 3 servers of 600 records into a staging directory.
  const std::string staging = tmp_.path("staging");
  const int written = 1800;
  ASSERT_EQ(
      std::system((std::string("'") + ZEP_BUILD_DIR + "/zepdcsim' --dir '" + staging +
                   "' --servers 3 --services 4 --count 600 --per-file 40 --env 1 --time-base " +
                   std::to_string(kBaseTime - 600) + " --seed 7")
                      .c_str()),
      0);
  tmp_.write("install/ZEP/config/ZEP.dc.properties",
             "1.server1.monitor=on\n1.server1.monitor.control.count=0\n"
             "1.server1.filter.control.count=0\n");
  ASSERT_EQ(D::initWithoutThread(), 0);
  D::dcaStartTime = kBaseTime - 3600;
  LoadAgents();
  axo::resetSituationsForTesting();

  std::atomic<bool> done{false};
  std::atomic<long> historyRows{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;

  threads.emplace_back([&] {  // the dispatcher: files appear, passes read them
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(staging)) files.push_back(e.path());
    for (const auto& f : files) {
      std::filesystem::rename(f, logDir() + "/" + f.filename().string());
      D::runOnePass();
    }
    D::runOnePass();
    done = true;
  });
  threads.emplace_back([&] {  // framework threads sample every table
    const std::vector<axo::TableDescription> tables = axo::listTables();
    if (tables.size() < 7) ++failures;
    for (int round = 0; !done || round < 3; ++round) {
      for (const axo::TableDescription& t : tables) {
        std::vector<axo::Row> rows;
        if (axo::runQuery({t.table, {}, false, {}}, &rows).code() != axo::kOk) ++failures;
      }
    }
  });
  threads.emplace_back([&] {  // history requests mark the lines they return
    while (!done) {
      std::vector<axo::Row> rows;
      if (axo::runQuery({"ZEPSMT", {}, true, {}}, &rows).code() != axo::kOk) ++failures;
      historyRows += static_cast<long>(rows.size());
    }
  });
  threads.emplace_back([&] {  // operators edit the configuration
    const std::string prefix = "Control;server1;Granite_Application_Server;host1;OrderPort;op";
    for (int i = 0; !done || i < 10; ++i) {
      const std::string target = prefix + std::to_string(i % 5);
      OSB1_ScopedLock lock(&D::configPropertiesLock);
      ZEPACMD_actionCommand action;
      const int rc = action.handleAction(
          ((i / 5) % 2 == 0 ? "addMonitor" + target + ";Full" : "deleteMonitor" + target).c_str(),
          D::configProperties, nullptr, 0);
      if (rc == ZEPACMD_actionCommand::RC_ERROR) ++failures;
    }
  });
  threads.emplace_back([&] {  // situations come and go while the timer ticks
    for (int i = 0; !done || i < 10; ++i) {
      const std::string name = "Stress" + std::to_string(i % 3);
      // Message-count situations (registered with the data computer) and
      // sampled ones take turns.
      const axo::SituationSpec spec =
          i % 2 == 0 ? axo::SituationSpec{name,
                                          "ZEPMATT",
                                          1,
                                          {{"RMIPADDR", "=", "*"},
                                           {"PORTNAME", "=", "*"},
                                           {"TMINT", "=", "60"},
                                           {"MSGCNT", ">=", "1"}}}
                     : axo::SituationSpec{
                           name, "ZEPSMT", axo::kMinSampledInterval, {{"PORTNAME", "!=", "none"}}};
      if (axo::createSituation(spec).code() != axo::kOk) ++failures;
      D::dataComputer()->Poll();
      axo::pollSituations(kBaseTime + i);
      if (axo::deleteSituation(name).code() != axo::kOk) ++failures;
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);

  // What the history requests did not take yet, a last one does.
  std::vector<axo::Row> rows;
  ASSERT_EQ(axo::runQuery({"ZEPSMT", {}, true, {}}, &rows).code(), axo::kOk);
  historyRows += static_cast<long>(rows.size());
  {
    // Every lock is free again (a held one would block here).
    OSB1_ScopedLock configLock(&D::configPropertiesLock);
    OSB1_ScopedLock listLock(&D::metricsLogListLock);
    { OSB1_ScopedLock dcLock(D::dataComputer()->lock()); }
    EXPECT_EQ(D::metricsLogList.getNumMetricsRecords(), written);
    EXPECT_EQ(D::metricsLogList.size(), 3);
  }
  EXPECT_EQ(historyRows.load(), written);
  EXPECT_TRUE(filesIn(logDir()).empty());
  EXPECT_TRUE(axo::listSituations().empty());
  axo::resetSituationsForTesting();
}

}  // namespace
