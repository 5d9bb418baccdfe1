// Subnode registration, manager commands and the action-command callback.
#include "runtime/zepcmd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "axo/tables/vexor.h"
#include "runtime/zepdisp.h"
#include "support/zeptestdir.h"

namespace {

class ZepCmdTest : public ::testing::Test {
 protected:
  void SetUp() override { AXO_ResetForTesting(); }
  void TearDown() override {
    AXO_SetSubnodeResultsForTesting(0, 0);
    AXO_ResetForTesting();  // also consumes the stop requests
    TRK1_ResetLevels();
  }
};

// (Which subnodes the framework keeps: its own tests.)
TEST_F(ZepCmdTest, SubnodeRegistrationSucceedsOnZeroAndOnNothingNewToSend) {
  char node[] = "ZP:1A2B3C4D:host1-server1       ";  // 32 characters
  // register rc, send rc, the result
  const int cases[][3] = {{0, 0, 0}, {0, 7, 0}, {4, 0, 4}, {0, 5, 5}};
  for (const auto& [registerRc, sendRc, expected] : cases) {
    AXO_SetSubnodeResultsForTesting(registerRc, sendRc);
    EXPECT_EQ(expected, zepRegisterSubnode(node));
  }
}

TEST_F(ZepCmdTest, ManagerCommandWords) {
  const char kStopped[] = "AXO_Shutdown(1)";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"cmd", "agent", "STOP"}, kStopped},
      {{"cmd", "agent", "x", "SHUTDOWNNOW"}, kStopped},
      {{"cmd", "agent", "STO", "SHUTDOW"}, "ZEP AXO Manager command unknown: STO."},
      {{}, "ZEP AXO Manager command operand missing."},
  };
  TRK1_SetLevel("AXOMAIN", TRK1_DETAIL);
  TRK1_SetLevel("ZEPCMD", 0);
  for (auto [words, expected] : cases) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    TRK1_Capture capture;
    EXPECT_EQ(0, axo_sendCommand(static_cast<int>(argv.size()), argv.data()));
    EXPECT_EQ(std::vector<std::string>{expected}, capture.messages());
  }
}

// The command's result and answer text go back to the framework. (Commands
// changing the configuration through the framework: the dashboard's test.)
TEST_F(ZepCmdTest, ActionCommandsAnswerTheFramework) {
  ZepTestDir dir;
  dir.write("ZEP.dc.properties", "1.server1.monitor=on\n");
  auto useConfig = [](const std::string& file) {
    OSB1_ScopedLock configLock(&ZEPDISP_dispatcher::configPropertiesLock);
    ZEPDISP_dispatcher::configProperties.clear();
    ZEPDISP_dispatcher::configProperties.setPropertyFilename(file.c_str());
  };
  useConfig(dir.path("ZEP.dc.properties"));
  AXO_RegisterCommandCallback("ZP", ZEP_CommandHandler);
  long rc = -1;
  std::string message;
  const axo::Status s = axo::runActionCommand("getKeyVal 1.server1.monitor", &rc, &message);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(0, rc);
  EXPECT_EQ("1.server1.monitor=on", message);
  useConfig("");

  // A capsule without text or sampler still gets a result and is finished.
  VexorAutomationCapsule empty(nullptr, nullptr);
  EXPECT_EQ(2, ZEP_CommandHandler(&empty));
  EXPECT_EQ(2, empty.GetResult());
  EXPECT_TRUE(empty.IsFinished());
}

}  // namespace
