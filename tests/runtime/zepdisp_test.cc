// Tests of the log dispatcher: initialisation, single passes driven with the
// test clock, restart from the cache, and the thread's prompt stop.
#include "runtime/zepdisp.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zeppelem.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;

class ZepDispTest : public ZepLogsTest {
 protected:
  void writeConfig(const std::string& text, time_t mtime) {
    tmp_.write("install/ZEP/config/ZEP.dc.properties", text);
    tmp_.setMtime("install/ZEP/config/ZEP.dc.properties", mtime);
  }
  static int totalLines() {
    OSB1_ScopedLock lock(&D::metricsLogListLock);
    return D::metricsLogList.getNumMetricsRecords();
  }
};

TEST_F(ZepDispTest, InitReadsTheCacheAndPassesTakeNewFiles) {
  writeConfig("zep.axo.logReadSleepTimeSeconds=3\n", kBaseTime - 60);
  // A file an earlier run left in the cache.
  std::filesystem::create_directories(cacheDir());
  tmp_.write(
      "install/ZEP/logs/ZEP.DCA.CACHE/ZEP.old.metric.log.1060328120000000-CA",
      header("server1") + lines({record(2, kOldMillis + 1000), record(2, kOldMillis + 2000)}));
  ASSERT_EQ(D::initWithoutThread(), 0);
  EXPECT_EQ(D::initWithoutThread(), -1);
  EXPECT_EQ(D::init(nullptr), -1);
  EXPECT_EQ(D::dcaStartTime, kBaseTime);
  EXPECT_EQ(D::metricsLogList.size(), 1);
  EXPECT_EQ(totalLines(), 2);

  // A message-count situation counts new location-2 messages only.
  ASSERT_TRUE(D::pDataComputer->CreateSituation("*", "*", "*", 60, 5, 0, "origin", "S1"));
  const long long later = (kBaseTime + 5) * 1000LL;
  writeLog("ZEP.new.metric.log", header("server1") + lines({record(2, later), record(0, later),
                                                            record(2, kOldMillis + 3000)}));
  EXPECT_EQ(D::runOnePass(), 3);
  EXPECT_EQ(totalLines(), 5);
  EXPECT_TRUE(filesIn(logDir()).empty());
  EXPECT_EQ(filesIn(cacheDir()).size(), 2u);
  D::pDataComputer->Poll();  // one timer tick closes the current cell
  int counted;
  {
    OSB1_ScopedLock dcLock(D::pDataComputer->lock());
    auto* element = static_cast<ZEPPELEM_PayloadElement*>(D::pDataComputer->getMCList()->front());
    counted = static_cast<ZEPDCMC_MessageCounter*>(element->getPayload())->windowSum();
  }
  EXPECT_EQ(counted, 1);

  // The settings were completed in the file, with the new server's defaults.
  ZEPPROPS_properties saved(configFile().c_str());
  EXPECT_STREQ(saved.getProperty("zep.axo.logReadSleepTimeSeconds"), "3");
  EXPECT_STREQ(saved.getProperty("zep.axo.maxRetainMinutes"), "10");
  EXPECT_STREQ(saved.getProperty("1.server1.monitor"), "on");
}

TEST_F(ZepDispTest, SleepTimeIsReadAfreshEachPass) {
  ASSERT_EQ(D::initWithoutThread(), 0);
  EXPECT_EQ(D::runOnePass(), 10);  // the default, written into the file
  std::string text = tmp_.read("install/ZEP/config/ZEP.dc.properties");
  const size_t at = text.find("zep.axo.logReadSleepTimeSeconds=10");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 34, "zep.axo.logReadSleepTimeSeconds=4");
  writeConfig(text, kBaseTime + 100);
  EXPECT_EQ(D::runOnePass(), 4);
  text.replace(at, 33, "zep.axo.logReadSleepTimeSeconds=50");
  writeConfig(text, kBaseTime + 200);
  EXPECT_EQ(D::runOnePass(), 10);  // bounded
}

TEST_F(ZepDispTest, RestartRebuildsTheSameStateFromTheCache) {
  ASSERT_EQ(D::initWithoutThread(), 0);
  writeLog("ZEP.a.metric.log",
           header("server1") + lines({record(0, kOldMillis + 1000), record(1, kOldMillis + 2000)}));
  writeLog("ZEP.b.metric.log", header("server2") + lines({record(0, kOldMillis + 1000)}));
  D::runOnePass();
  ASSERT_EQ(totalLines(), 3);
  const std::string subnode = D::metricsLogList.front()->getSubnodeName();

  D::resetForTesting();
  fakeTime() += 60;
  ASSERT_EQ(D::initWithoutThread(), 0);
  EXPECT_EQ(D::metricsLogList.size(), 2);
  EXPECT_EQ(totalLines(), 3);
  D::runOnePass();
  EXPECT_EQ(totalLines(), 3);  // each cached file read once
  EXPECT_NE(D::metricsLogList.findSubNode(subnode.c_str()), nullptr);
}

TEST_F(ZepDispTest, PassesApplyRetentionAndArchiveSpentFiles) {
  ASSERT_EQ(D::initWithoutThread(), 0);
  writeLog("ZEP.a.metric.log", header("server1") + lines({record(0, kBaseTime * 1000LL)}));
  D::runOnePass();
  ASSERT_EQ(totalLines(), 1);
  fakeTime() += 11 * 60;
  D::runOnePass();
  EXPECT_EQ(totalLines(), 0);  // older than the maximum retention
  EXPECT_EQ(filesIn(cacheDir()).size(), 1u);
  fakeTime() += 60 * 60;  // the window is now complete and unread for 71 minutes
  D::runOnePass();
  EXPECT_TRUE(filesIn(cacheDir()).empty());
  EXPECT_EQ(filesIn(archiveDir()),
            std::vector<std::string>{"ZEP.a.metric.log.1060328134609000-CA"});
}

TEST_F(ZepDispTest, ThreadStopsPromptlyAndReleasesTheDataComputer) {
  ASSERT_EQ(D::init(nullptr), 0);
  EXPECT_NE(D::pDataComputer, nullptr);
  D::stop();  // wakes the sleeping thread instead of waiting the sleep out
  D::waitForDispatcherTermination();
  EXPECT_EQ(D::pDataComputer, nullptr);
  D::stop();  // a second stop is harmless
}

}  // namespace

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;

class ZepDispConcurrencyTest : public ZepLogsTest {};

// Passes (the dispatcher thread's own and driven ones) run while a sampler
// walks every structure under both locks and a command edits the
// configuration under its lock: no race, no lost record.
TEST_F(ZepDispConcurrencyTest, PassesSamplesAndCommandsShareTheLocks) {
  ASSERT_EQ(D::init(nullptr), 0);
  constexpr int kFiles = 30;
  std::thread reader([this] {
    for (int i = 0; i < kFiles; ++i) {
      writeLog("ZEP.c" + std::to_string(i) + ".metric.log",
               header("srv" + std::to_string(i % 3)) +
                   lines({record(2, (kBaseTime + i) * 1000LL, i, "P" + std::to_string(i % 4))}));
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
