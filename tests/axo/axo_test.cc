// Process binding: options, identity, subnodes and the main loop.
#include "axo/axo.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

class AxoProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { AXO_ResetForTesting(); }
  void TearDown() override { AXO_ResetForTesting(); }
};

int Parse(std::vector<std::string> args, AXO_Options* o, std::string* error) {
  std::vector<char*> argv;
  static char program[] = "zepagent";
  argv.push_back(program);
  for (std::string& a : args) argv.push_back(a.data());
  return AXO_ParseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST_F(AxoProcessTest, OptionsTakeValuesInBothFormsAndCheckThem) {
  AXO_Options o;
  std::string error;
  ASSERT_EQ(Parse({}, &o, &error), AXO_OPTIONS_OK);
  EXPECT_TRUE(o.listen);
  EXPECT_EQ(o.listenHost, "127.0.0.1");
  EXPECT_EQ(o.listenPort, 1920);
  EXPECT_EQ(o.historyInterval, 300);
  EXPECT_EQ(o.historyTables, "ZEPSMT,ZEPINV");

  ASSERT_EQ(Parse({"--listen", "none", "--history-interval=60", "--history-db", "h.db",
                   "--token-file=t", "--history-tables", "ZEPINV"},
                  &o, &error),
            AXO_OPTIONS_OK)
      << error;
  EXPECT_FALSE(o.listen);
  EXPECT_EQ(o.historyInterval, 60);
  EXPECT_EQ(o.historyDb, "h.db");
  EXPECT_EQ(o.tokenFile, "t");
  EXPECT_EQ(o.historyTables, "ZEPINV");

  EXPECT_EQ(Parse({"--help"}, &o, &error), AXO_OPTIONS_HELP);
  EXPECT_EQ(Parse({"--version"}, &o, &error), AXO_OPTIONS_VERSION);
  EXPECT_EQ(Parse({"--bogus"}, &o, &error), AXO_OPTIONS_ERROR);
  EXPECT_NE(error.find("--bogus"), std::string::npos);
  EXPECT_EQ(Parse({"stray"}, &o, &error), AXO_OPTIONS_ERROR);
  EXPECT_EQ(Parse({"--listen"}, &o, &error), AXO_OPTIONS_ERROR);
  EXPECT_EQ(Parse({"--history-interval", "0"}, &o, &error), AXO_OPTIONS_ERROR);
  EXPECT_EQ(Parse({"--history-interval", "5s"}, &o, &error), AXO_OPTIONS_ERROR);
}

// Every form of --listen, good and bad; a bad one is a usage error.
TEST_F(AxoProcessTest, ListenTakesHostPortColonPortBarePortOrNone) {
  const struct {
    const char* value;
    const char* host;
    int port;
  } good[] = {
      {"10.1.2.3:8080", "10.1.2.3", 8080},
      {"localhost:0", "localhost", 0},   // 0: a free port
      {"[::1]:1920", "::1", 1920},
      {":46999", "127.0.0.1", 46999},
      {"46999", "127.0.0.1", 46999},
      {"65535", "127.0.0.1", 65535},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.value);
    AXO_Options o;
    std::string error;
    ASSERT_EQ(Parse({"--listen", c.value}, &o, &error), AXO_OPTIONS_OK) << error;
    EXPECT_TRUE(o.listen);
    EXPECT_EQ(o.listenHost, c.host);
    EXPECT_EQ(o.listenPort, c.port);
  }
  for (const char* bad : {"", "localhost", "host:", ":", "host:65536", "70000", "-1", "+80",
                          " 80", "host:8o", "::1:80", "[]:80"}) {
    SCOPED_TRACE(bad);
    AXO_Options o;
    std::string error;
    EXPECT_EQ(Parse({"--listen", bad}, &o, &error), AXO_OPTIONS_ERROR);
    EXPECT_NE(error.find("HOST:PORT, :PORT, PORT or none"), std::string::npos) << error;
  }
}

TEST_F(AxoProcessTest, TheTokenIsTheFirstLineOfItsFile) {
  e2e::TempDir dir;
  std::string token, error;
  e2e::WriteFile(dir.path() + "/token", "  abc123 \r\nignored\n");
  EXPECT_TRUE(AXO_ReadTokenFile(dir.path() + "/token", &token, &error));
  EXPECT_EQ(token, "abc123");
  e2e::WriteFile(dir.path() + "/empty", "\n");
  EXPECT_FALSE(AXO_ReadTokenFile(dir.path() + "/empty", &token, &error));
  EXPECT_FALSE(AXO_ReadTokenFile(dir.path() + "/missing", &token, &error));
  EXPECT_NE(error.find("cannot read token file"), std::string::npos);
}

TEST_F(AxoProcessTest, UnknownOptionExitsWithUsage) {
  char program[] = "zepagent";
  char bad[] = "--frobnicate";
  char* argv[] = {program, bad, nullptr};
  int argc = 2;
  EXPECT_EXIT(OSB1_Main(&argc, argv, "zepagent"), ::testing::ExitedWithCode(2),
              "unknown option: --frobnicate(.|\n)*Usage: zepagent");
}

TEST_F(AxoProcessTest, SecondMainCallKeepsTheFirstOptions) {
  char program[] = "zepagent";
  char listen[] = "--listen=none";
  char* argv[] = {program, listen, nullptr};
  int argc = 2;
  ASSERT_EQ(OSB1_Main(&argc, argv, "zepagent"), 0);
  char* plain[] = {program, nullptr};
  int one = 1;
  ASSERT_EQ(OSB1_Main(&one, plain, "zepagent"), 0);
  EXPECT_FALSE(AXO_GetOptions().listen);
  EXPECT_EQ(argc, 2);
}

TEST_F(AxoProcessTest, SystemNameAndIdentity) {
  char buf[33];
  AXO_SetSystemNameForTesting("");
  EXPECT_EQ(OSB1_Info(0, buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "");
  AXO_SetSystemNameForTesting(std::string(40, 'n').c_str());
  EXPECT_EQ(OSB1_Info(0, buf, sizeof(buf)), 32);
  EXPECT_EQ(std::string(buf), std::string(32, 'n'));
  EXPECT_EQ(OSB1_Info(1, buf, sizeof(buf)), 0);
  AXO_SetSystemNameForTesting(nullptr);
  EXPECT_GT(OSB1_Info(0, buf, sizeof(buf)), 0);

  char host[64];
  EXPECT_EQ(DetermineLocalHost(host, sizeof(host)), 0);
  EXPECT_GT(strlen(host), 0u);

  AXO_SetProduct("ZP", "01.01.00");
  AXO_SetNodeType("ZP");
  AXO_SetHostname("agenthost");
  AXO_SetAffinity("a1");
  AXO_SetAffinity("a2");
  EXPECT_STREQ(AXO_GetHostname(), "agenthost");
  EXPECT_STREQ(AXO_GetOriginnode(), "agenthost:ZP");
  AXO_Identity id = AXO_GetIdentity();
  EXPECT_EQ(id.product, "ZP");
  EXPECT_EQ(id.affinities, (std::vector<std::string>{"a1", "a2"}));
  AXO_SetHostname(std::string(40, 'h').c_str());
  EXPECT_EQ(strlen(AXO_GetOriginnode()), 32u);
}

TEST_F(AxoProcessTest, SubnodeRegistrationCodes) {
  EXPECT_EQ(AXO_Subnode_Register_nAff("ZP:1", "ZP", "01.01.00", 2, "a", "b"), 0);
  EXPECT_EQ(AXO_Subnode_SendRequest(), 0);
  EXPECT_NE(AXO_Subnode_Register_nAff("", "ZP", "01", 0), 0);
  EXPECT_NE(AXO_Subnode_Register_nAff(std::string(33, 'x').c_str(), "ZP", "01", 0), 0);

  AXO_SetSubnodeResultsForTesting(0, 7);   // 7: accepted as well
  EXPECT_EQ(AXO_Subnode_Register_nAff("ZP:2", "ZP", "01.01.00", 0), 0);
  EXPECT_EQ(AXO_Subnode_SendRequest(), 7);
  AXO_SetSubnodeResultsForTesting(0, 9);   // refused: dropped
  EXPECT_EQ(AXO_Subnode_Register_nAff("ZP:3", "ZP", "01.01.00", 0), 0);
  EXPECT_EQ(AXO_Subnode_SendRequest(), 9);
  AXO_SetSubnodeResultsForTesting(5, 0);
  EXPECT_EQ(AXO_Subnode_Register_nAff("ZP:4", "ZP", "01.01.00", 0), 5);
  AXO_SetSubnodeResultsForTesting(0, 0);
  EXPECT_EQ(AXO_Subnode_SendRequest(), 0);

  std::vector<AXO_SubnodeInfo> list = AXO_ListSubnodes();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "ZP:1");
  EXPECT_EQ(list[0].version, "01.01.00");
  EXPECT_EQ(list[1].name, "ZP:2");
}

std::vector<std::string> g_calls;
unsigned long CountingLoader() {
  g_calls.push_back("load");
  return 0;
}
unsigned long LoaderThatShutsDown() {
  g_calls.push_back("load");
  AXO_Shutdown(1);
  return 0;
}
unsigned long LoaderRaisingSigterm() {
  g_calls.push_back("load");
  raise(SIGTERM);
  return 0;
}
void HookA() { g_calls.push_back("hookA"); }
void HookB() { g_calls.push_back("hookB"); }
int StartService(std::string*) {
  g_calls.push_back("start");
  return 0;
}
void StopService() { g_calls.push_back("stop"); }
int FailingStart(std::string* error) {
  g_calls.push_back("start-failing");
  *error = "port in use";
  return 1;
}
void StopFailed() { g_calls.push_back("stop-failed"); }
int StartLater(std::string*) {
  g_calls.push_back("start-later");
  return 0;
}
void StopLater() { g_calls.push_back("stop-later"); }

TEST_F(AxoProcessTest, MainLoopRunsLoaderServicesAndHooksInOrder) {
  g_calls.clear();
  EXPECT_EQ(omxmain(0, nullptr), 1);   // no loader

  AXO_RegisterAgentLoader(CountingLoader);
  AXO_RegisterShutdownHook(HookA);
  AXO_RegisterShutdownHook(HookB);
  AXO_RegisterShutdownHook(HookA);
  AXO_RegisterService("svc", StartService, StopService);
  AXO_RegisterService("svc again", StartService, StopService);
  AXO_Shutdown(1);   // before the loop: the loop ends right after loading
  EXPECT_EQ(omxmain(0, nullptr), 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"load", "start", "stop", "hookB", "hookA"}));

  g_calls.clear();
  AXO_RegisterAgentLoader(LoaderThatShutsDown);
  EXPECT_EQ(omxmain(0, nullptr), 0);
  EXPECT_EQ(g_calls.front(), "load");

  g_calls.clear();
  AXO_RegisterAgentLoader(LoaderRaisingSigterm);
  EXPECT_EQ(omxmain(0, nullptr), 0);   // SIGTERM ends the loop, not the process
  EXPECT_EQ(g_calls.front(), "load");
}

// A service that cannot start ends omxmain with 1 at once: what started is
// stopped, nothing after it starts, the hooks run, and standard error says
// which service failed and why.
TEST_F(AxoProcessTest, AFailedServiceStartStopsWhatStartedAndReturnsOne) {
  g_calls.clear();
  AXO_RegisterAgentLoader(CountingLoader);
  AXO_RegisterShutdownHook(HookA);
  AXO_RegisterService("svc", StartService, StopService);
  AXO_RegisterService("broken", FailingStart, StopFailed);
  AXO_RegisterService("later", StartLater, StopLater);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(omxmain(0, nullptr), 1);   // returns without waiting for a shutdown
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_calls,
            (std::vector<std::string>{"load", "start", "start-failing", "stop", "hookA"}));
  EXPECT_NE(err.find("broken not started: port in use"), std::string::npos) << err;
}

}  // namespace
