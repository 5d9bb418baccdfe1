// Agent start-up in process: the agent name, the failure path and the
// order in which the tables are loaded. The banner and a successful start
// with the dispatcher thread are covered by the end-to-end test of the
// binary.
#include "runtime/zepmain.h"

#include <gtest/gtest.h>

#include <string>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "runtime/zepdisp.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

namespace {

// Start-up against a private install directory. The dispatcher is marked
// initialised beforehand, so its init answers -1 and start-up takes its
// failure path without starting any thread.
class ZepMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ZEPDISP_dispatcher::resetForTesting();
    dir_.write("ZEPBaseDirConfig.properties", "INSTALLDIR=" + dir_.dir() + "\n");
    env_.SetEtcDir(dir_.dir());
    ASSERT_EQ(0, ZEPDISP_dispatcher::initWithoutThread());
  }
  void TearDown() override {
    ZEPDISP_dispatcher::resetForTesting();
    AXO_ResetForTesting();
    TRK1_ResetLevels();
  }

  ZepTestDir dir_;
  zeptest::FakeEnv env_;
  axo::ScopedEnv useEnv_{&env_};
  char program_[9] = "zepagent", listen_[9] = "--listen", none_[5] = "none";
  char* argv_[4] = {program_, listen_, none_, nullptr};
};

TEST_F(ZepMainTest, StartUpDescribesTheAgentAndFailsWithoutADispatcher) {
  env_.SetSystemName("a-system-name-of-forty-characters-long!!");
  TRK1_Capture capture;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(initZEPAgent(3, argv_));  // failed: the dispatcher was already initialised
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(capture.contains("ZEPDisp_init () return code:-1"));
  EXPECT_STREQ("a-system-name-of-forty-characte", zep_agent_name);
  EXPECT_EQ("a-system-name-of-forty-characte", AXO_GetIdentity().hostname);

  // A failed start-up exits non-zero without entering the main loop, which
  // would block: nothing asks it to stop.
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(1, axo_main(3, argv_));
  ::testing::internal::GetCapturedStdout();
}

}  // namespace
