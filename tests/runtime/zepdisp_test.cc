// Tests of the log dispatcher: initialisation from the cache and single
// passes driven with the test clock. Its thread: zepdisp_concurrency_test.cc.
#include "runtime/zepdisp.h"

#include <gtest/gtest.h>

#include <string>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zeppelem.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;

class ZepDispTest : public ZepLogsTest {
 protected:
  void writeConfig(const std::string& text, time_t mtime) {
    tmp_.write("install/ZEP/config/ZEP.dc.properties", text);
    tmp_.setMtime("install/ZEP/config/ZEP.dc.properties", mtime);
  }
};

// Initialisation happens once; passes feed situations and read the settings
// afresh. (A restart's reading of the cache, each file once: the
// fault-injection and restart end-to-end tests.)
TEST_F(ZepDispTest, InitOncePassesFeedSituationsAndReadSettings) {
  writeConfig("zep.axo.logReadSleepTimeSeconds=3\n", kBaseTime - 60);
  ASSERT_EQ(D::initWithoutThread(), 0);
  EXPECT_EQ(D::init(nullptr), -1);  // once only
  EXPECT_EQ(D::dcaStartTime, kBaseTime);

  // A message-count situation counts location-2 messages since the start only.
  ASSERT_TRUE(D::dataComputer()->CreateSituation("*", "*", "*", 60, 5, 0, "origin", "S1"));
  const long long later = (kBaseTime + 5) * 1000LL;
  writeLog("ZEP.new.metric.log", header("server1") + lines({record(2, later), record(0, later),
                                                            record(2, kOldMillis + 3000)}));
  EXPECT_EQ(D::runOnePass(), 3);
  // Each pass reads the sleep time afresh. (Its default and bounds: the settings test.)
  writeConfig("zep.axo.logReadSleepTimeSeconds=4\n", kBaseTime + 100);
  EXPECT_EQ(D::runOnePass(), 4);

  D::dataComputer()->Poll();  // one timer tick closes the current cell
  OSB1_ScopedLock dcLock(D::dataComputer()->lock());
  auto* element = static_cast<ZEPPELEM_PayloadElement*>(D::dataComputer()->getMCList()->front());
  EXPECT_EQ(static_cast<ZEPDCMC_MessageCounter*>(element->getPayload())->windowSum(), 1);
}

// Without a base-directory file the agent works in the temporary directory:
// one message names the file to create, and passes add no errors.
TEST(ZepDispNoInstallDirTest, OneMessageNamesTheFileToCreateNotOnePerPass) {
  ZepTestDir etc, tmp;
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetEtcDir(etc.dir());
  env.SetTmpDir(tmp.dir());
  TRK1_Capture capture;
  ASSERT_EQ(0, D::initWithoutThread());
  for (int pass = 0; pass < 3; ++pass) D::runOnePass();
  D::resetForTesting();
  const std::string expected = "ZEP0252E Could not find install directory. Using tmp dir " +
                               tmp.dir() + ". Create " + etc.path("ZEPBaseDirConfig.properties") +
                               " with the line INSTALLDIR=<install directory>";
  EXPECT_EQ(capture.messages(), std::vector<std::string>{expected});
}

}  // namespace
