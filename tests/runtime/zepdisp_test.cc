// Tests of the log dispatcher: initialisation from the cache and single
// passes driven with the test clock. Its thread: zepdisp_concurrency_test.cc.
#include "runtime/zepdisp.h"

#include <gtest/gtest.h>

#include <string>

#include "axo/trk1.h"
#include "foundation/zeptestdir.h"
#include "foundation/zeputil.h"
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

// (A restart's reading of the cache, each file once: the restart end-to-end test.)
TEST_F(ZepDispTest, InitReadsTheCachePassesTakeNewFilesAndSettings) {
  writeConfig("zep.axo.logReadSleepTimeSeconds=3\n", kBaseTime - 60);
  // A file an earlier run left in the cache.
  std::filesystem::create_directories(cacheDir());
  tmp_.write(
      "install/ZEP/logs/ZEP.DCA.CACHE/ZEP.old.metric.log.1060328120000000-CA",
      header("server1") + lines({record(2, kOldMillis + 1000), record(2, kOldMillis + 2000)}));
  ASSERT_EQ(D::initWithoutThread(), 0);
  EXPECT_EQ(D::init(nullptr), -1);  // once only
  EXPECT_EQ(D::dcaStartTime, kBaseTime);
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

  // Each pass reads the sleep time afresh. (Its default and bounds: the settings test.)
  writeConfig("zep.axo.logReadSleepTimeSeconds=4\n", kBaseTime + 100);
  EXPECT_EQ(D::runOnePass(), 4);
}

// Without a base-directory file the agent works in the temporary directory:
// one message names the file to create, and passes add no errors.
TEST(ZepDispNoInstallDirTest, OneMessageNamesTheFileToCreateNotOnePerPass) {
  ZepTestDir etc, tmp;
  ZEPUTIL::setEtcDirForTesting(etc.dir().c_str());
  ZEPUTIL::setTmpDirForTesting(tmp.dir().c_str());
  TRK1_Capture capture;
  ASSERT_EQ(0, D::initWithoutThread());
  for (int pass = 0; pass < 3; ++pass) D::runOnePass();
  D::resetForTesting();
  ZEPUTIL::setEtcDirForTesting(nullptr);
  ZEPUTIL::setTmpDirForTesting(nullptr);
  const std::vector<std::string> messages = capture.messages();
  ASSERT_EQ(messages.size(), 1u) << ::testing::PrintToString(messages);
  EXPECT_EQ(messages[0], "ZEP0252E Could not find install directory. Using tmp dir " +
                             tmp.dir() + ". Create " + etc.path("ZEPBaseDirConfig.properties") +
                             " with the line INSTALLDIR=<install directory>");
}

}  // namespace
