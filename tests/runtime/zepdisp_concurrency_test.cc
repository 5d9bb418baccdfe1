// The log dispatcher's thread: its prompt stop, and its passes sharing the
// locks with samples and commands on other threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "axo/osb1.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zeppelem.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;

class ZepDispConcurrencyTest : public ZepLogsTest {};

TEST_F(ZepDispConcurrencyTest, ThreadStopsPromptlyAndReleasesTheDataComputer) {
  ASSERT_EQ(D::init(nullptr), 0);
  EXPECT_NE(D::pDataComputer, nullptr);
  D::stop();  // wakes the sleeping thread instead of waiting the sleep out
  D::waitForDispatcherTermination();
  EXPECT_EQ(D::pDataComputer, nullptr);
  D::stop();  // a second stop is harmless
}

// Passes (the dispatcher thread's own and driven ones) run while a sampler
// walks every structure under both locks and a command edits the
// configuration under its lock: no race, no lost record.
TEST_F(ZepDispConcurrencyTest, PassesSamplesAndCommandsShareTheLocks) {
  ASSERT_EQ(D::init(nullptr), 0);
  constexpr int kFiles = 30;
  std::thread reader([this] {
    for (int i = 0; i < kFiles; ++i) {
      // Written under another name and renamed, as a collector does: the
      // dispatcher thread's own pass must never see half a file.
      const std::string name = "ZEP.c" + std::to_string(i) + ".metric.log";
      writeLog(name + ".part",
               header("srv" + std::to_string(i % 3)) +
                   lines({record(2, (kBaseTime + i) * 1000LL, i, "P" + std::to_string(i % 4))}));
      std::filesystem::rename(logDir() + "/" + name + ".part", logDir() + "/" + name);
      D::runOnePass();
    }
  });
  std::thread sampler([] {
    for (int i = 0; i < 200; ++i) {
      OSB1_ScopedLock configLock(&D::configPropertiesLock);
      OSB1_ScopedLock listLock(&D::metricsLogListLock);
      D::metricsLogList.enforceMaxRecordsLimit(D::configProperties);
      for (auto* log = D::metricsLogList.front(); log != nullptr;
           log = D::metricsLogList.next(log)) {
        EXPECT_EQ(D::metricsLogList.findSubNode(log->getSubnodeName()), log);
        for (auto* svc = log->svcInventory().front(); svc != nullptr;
             svc = log->svcInventory().next(svc)) {
          zep_zepinv_data_t row = svc->row;
          svc->aggDataList().front()->calcAggData(&row);
        }
      }
    }
  });
  std::thread command([] {
    for (int i = 0; i < 200; ++i) {
      OSB1_ScopedLock configLock(&D::configPropertiesLock);
      D::configProperties.setProperty("test.key", i);
    }
  });
  reader.join();
  sampler.join();
  command.join();
  D::stop();
  D::runOnePass();  // picks up anything the last driven pass missed
  EXPECT_EQ(D::metricsLogList.size(), 3);
  EXPECT_EQ(D::metricsLogList.getNumMetricsRecords(), kFiles);
}

}  // namespace
