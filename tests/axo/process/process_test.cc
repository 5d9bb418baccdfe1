// Process binding: the token file, identity, subnodes and the main loop (SIGTERM
// ending it: the end-to-end tests). Options: options_file_test.cc.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/base/env.h"
#include "axo/base/osb1.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/service.h"
#include "support/e2e_support.h"
#include "support/fake_env.h"

namespace {

class AxoProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { AXO_ResetForTesting(); }
  void TearDown() override { AXO_ResetForTesting(); }
};

// (A missing token file: the agent's start-up test.)
TEST_F(AxoProcessTest, TheTokenIsTheFirstLineOfItsFile) {
  e2e::TempDir dir;
  std::string token;
  e2e::WriteSecretFile(dir.path() + "/token", "  abc123 \r\nignored\n");
  EXPECT_TRUE(AXO_ReadTokenFile(dir.path() + "/token", &token).ok());
  EXPECT_EQ(token, "abc123");
  e2e::WriteSecretFile(dir.path() + "/empty", "\n");
  EXPECT_FALSE(AXO_ReadTokenFile(dir.path() + "/empty", &token).ok());
}

// (The results of a refused registration or send: the agent's registration
// tests.)
TEST_F(AxoProcessTest, IdentityIsCutToItsFieldsAndSubnodesRegister) {
  char buf[33];
  {
    zeptest::FakeEnv env;
    axo::ScopedEnv useEnv(&env);
    env.SetSystemName(std::string(40, 'n').c_str());
    EXPECT_EQ(OSB1_Info(0, buf, sizeof(buf)), 32);
    EXPECT_EQ(std::string(buf), std::string(32, 'n'));
  }
  AXO_SetHostname("agenthost");
  AXO_SetNodeType("ZP");
  EXPECT_STREQ(AXO_GetOriginnode(), "agenthost:ZP");
  AXO_SetHostname(std::string(40, 'h').c_str());
  EXPECT_EQ(strlen(AXO_GetOriginnode()), 32u);

  EXPECT_EQ(AXO_Subnode_Register_nAff("ZP:1", "ZP", "01.01.00", 2, "a", "b"), 0);
  EXPECT_EQ(AXO_Subnode_SendRequest(), 0);
  EXPECT_NE(AXO_Subnode_Register_nAff("", "ZP", "01", 0), 0);
  EXPECT_NE(AXO_Subnode_Register_nAff(std::string(33, 'x').c_str(), "ZP", "01", 0), 0);
  std::vector<AXO_SubnodeInfo> list = AXO_ListSubnodes();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "ZP:1");
}

std::vector<std::string> g_calls;
unsigned long CountingLoader() {
  g_calls.push_back("load");
  return 0;
}
void HookA() { g_calls.push_back("hookA"); }
void HookB() { g_calls.push_back("hookB"); }
// A service that notes its calls, and fails to start when `failing`.
class TestService : public axo::Service {
 public:
  TestService(const char* name, bool failing) : name_(name), failing_(failing) {}
  const char* name() const override { return name_; }
  axo::Status Start(const AXO_Options&) override {
    g_calls.push_back(failing_ ? "start-failing" : "start");
    return failing_ ? axo::Status::Failed("port in use") : axo::Status::OK();
  }
  void Stop() override { g_calls.push_back("stop"); }

 private:
  const char* name_;
  bool failing_;
};

// Loader, services and hooks in order (hooks last registered first, each
// once). A service that cannot start ends omxmain with 1 at once: what
// started is stopped, nothing after it starts, the hooks run, and standard
// error says which service failed and why.
TEST_F(AxoProcessTest, MainLoopRunsLoaderServicesAndHooksInOrder) {
  EXPECT_EQ(omxmain(0, nullptr), 1);  // no loader
  g_calls.clear();
  AXO_RegisterAgentLoader(CountingLoader);
  AXO_RegisterShutdownHook(HookA);
  AXO_RegisterShutdownHook(HookB);
  AXO_RegisterShutdownHook(HookA);
  TestService svc("svc", false), broken("broken", true), later("later", false);
  AXO_AddService(&svc);
  AXO_AddService(&svc);
  AXO_Shutdown(1);  // before the loop: the loop ends right after loading
  EXPECT_EQ(omxmain(0, nullptr), 0);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"load", "start", "stop", "hookB", "hookA"}));

  AXO_ResetForTesting();
  g_calls.clear();
  AXO_RegisterAgentLoader(CountingLoader);
  AXO_RegisterShutdownHook(HookA);
  AXO_AddService(&svc);
  AXO_AddService(&broken);
  AXO_AddService(&later);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(omxmain(0, nullptr), 1);  // returns without waiting for a shutdown
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_calls, (std::vector<std::string>{"load", "start", "start-failing", "stop", "hookA"}));
  EXPECT_NE(err.find("broken not started: port in use"), std::string::npos) << err;
}

// The process part's collectors: the standard process_* figures after every
// other family, the CPU time a counter of seconds in both formats, and the
// agent's build.
TEST_F(AxoProcessTest, ProcessFiguresAreCollectedAtEachScrapeAndWrittenLast) {
  namespace m = axo::metrics;
  AXO_SetProduct("ZP", "01.02.03");
  const std::string text = m::Expose(m::Format::kPrometheus);
  EXPECT_NE(text.find("zep_build_info{product=\"ZP\",version=\"01.02.03\"} 1\n"),
            std::string::npos);
  const size_t cpu =
      text.find("# TYPE process_cpu_seconds_total counter\nprocess_cpu_seconds_total ");
  ASSERT_NE(cpu, std::string::npos) << text;
  EXPECT_EQ(text.find("\n# HELP zep_", cpu), std::string::npos) << "a family after process_*";
  EXPECT_NE(text.find("\nprocess_resident_memory_bytes ", cpu), std::string::npos);
  EXPECT_NE(m::Expose(m::Format::kOpenMetrics).find("# TYPE process_cpu_seconds counter\n"),
            std::string::npos);
}

}  // namespace
