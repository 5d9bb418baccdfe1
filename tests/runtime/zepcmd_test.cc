// Subnode registration, manager commands and the action-command entry.
#include "runtime/zepcmd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/axo.h"
#include "axo/request.h"
#include "axo/trk1.h"
#include "axo/vexor.h"

namespace {

class ZepCmdTest : public ::testing::Test {
 protected:
  void SetUp() override { AXO_ResetForTesting(); }
  void TearDown() override {
    AXO_SetSubnodeResultsForTesting(0, 0);
    AXO_ResetForTesting();
    TRK1_ResetLevels();
  }
};

char kNode[] = "ZP:1A2B3C4D:host1-server1       ";  // 32 characters

TEST_F(ZepCmdTest, SubnodeRegistrationSucceedsOnZeroAndOnNothingNewToSend) {
  TRK1_SetLevel("ZEPCMD", TRK1_DUMP);
  TRK1_Capture capture;
  EXPECT_EQ(0, zepRegisterSubnode(kNode));
  EXPECT_TRUE(capture.contains(std::string("AXO_Subnode_Register ") + kNode +
                               ". 0000000000020000000000000000000000000000000. ZP. 01.01.00."));
  std::vector<AXO_SubnodeInfo> subnodes = AXO_ListSubnodes();
  ASSERT_EQ(1u, subnodes.size());
  EXPECT_EQ(kNode, subnodes[0].name);
  EXPECT_EQ("ZP", subnodes[0].product);
  EXPECT_EQ("01.01.00", subnodes[0].version);

  AXO_SetSubnodeResultsForTesting(0, 7);
  EXPECT_EQ(0, zepRegisterSubnode(kNode));
  EXPECT_EQ(0, capture.count("returned with"));
}

TEST_F(ZepCmdTest, RefusedRegistrationIsReportedAtEveryLevel) {
  TRK1_SetLevel("ZEPCMD", 0);
  TRK1_Capture capture;
  AXO_SetSubnodeResultsForTesting(4, 0);
  EXPECT_EQ(4, zepRegisterSubnode(kNode));
  EXPECT_TRUE(capture.contains(std::string("AXO_Subnode_Register_nAff error: RC=4, Node=") +
                               kNode + "."));

  AXO_SetSubnodeResultsForTesting(0, 5);
  EXPECT_EQ(5, zepRegisterSubnode(kNode));
  EXPECT_TRUE(capture.contains("AXO_Subnode_SendRequest call returned with 5."));
  EXPECT_TRUE(AXO_ListSubnodes().empty());
  EXPECT_EQ(0, capture.count("AXO_Subnode_Register "));  // no dump at level 0
}

// Runs one manager command and returns the trace records it wrote.
std::string ManagerCommand(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  TRK1_SetLevel("AXOMAIN", TRK1_DETAIL);
  TRK1_SetLevel("ZEPCMD", 0);
  TRK1_Capture capture;
  EXPECT_EQ(0, axo_sendCommand(static_cast<int>(argv.size()), argv.data()));
  std::string records;
  for (const std::string& m : capture.messages()) records += m + "\n";
  return records;
}

const char kStopped[] = "AXO_Shutdown(1)";

TEST_F(ZepCmdTest, ManagerCommandWords) {
  EXPECT_EQ(std::string(kStopped) + "\n", ManagerCommand({"cmd", "agent", "STOP"}));
  EXPECT_EQ(std::string(kStopped) + "\n", ManagerCommand({"cmd", "agent", "STOPPED"}));
  EXPECT_EQ(std::string(kStopped) + "\n", ManagerCommand({"cmd", "agent", "x", "SHUTDOWN"}));
  EXPECT_EQ(std::string(kStopped) + "\n",
            ManagerCommand({"cmd", "agent", "x", "SHUTDOWNNOW"}));

  EXPECT_EQ("ZEP AXO Manager command unknown: START.\n",
            ManagerCommand({"cmd", "agent", "START"}));
  EXPECT_EQ("ZEP AXO Manager command unknown: STO.\n",
            ManagerCommand({"cmd", "agent", "STO", "SHUTDOW"}));
  EXPECT_EQ("ZEP AXO Manager command operand missing.\n", ManagerCommand({"cmd", "agent"}));
  EXPECT_EQ("ZEP AXO Manager command operand missing.\n", ManagerCommand({}));
  // TearDown's reset consumes the pending stop requests.
}

TEST_F(ZepCmdTest, ActionCommandIsFinishedWithItsResult) {
  TRK1_SetLevel("ZEPCMD", TRK1_DETAIL);
  TRK1_Capture capture;
  AXO_RegisterCommandCallback("ZP", ZEP_CommandHandler);
  long rc = -1;
  std::string message, error;
  ASSERT_EQ(axo::kOk, axo::runActionCommand("   disableDC;srv1", &rc, &message, &error))
      << error;
  EXPECT_GE(rc, 0);
  EXPECT_LE(rc, 2);
  EXPECT_TRUE(capture.contains("Command received is: disableDC;srv1"));

  // A capsule without text or sampler still gets a result and is finished.
  VexorAutomationCapsule empty(nullptr, nullptr);
  const long empty_rc = ZEP_CommandHandler(&empty);
  EXPECT_TRUE(empty.HasResult());
  EXPECT_EQ(empty_rc, empty.GetResult());
  EXPECT_TRUE(empty.IsFinished());
  EXPECT_TRUE(capture.contains("Command received is: "));
}

}  // namespace
