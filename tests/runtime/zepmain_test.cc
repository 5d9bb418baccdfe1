// Agent start-up in process: identity, banner, agent name, the failure path
// and the order in which the tables are loaded. A successful start with the
// dispatcher thread is covered by the end-to-end test of the binary.
#include "runtime/zepmain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "axo/trk1.h"
#include "axo/vexor.h"
#include "foundation/zepport.h"
#include "foundation/zeptestdir.h"
#include "foundation/zeputil.h"
#include "runtime/zepdisp.h"

namespace {

const char kBannerHead[] = "Zephyr Service Monitor\n";
const char kBannerTail[] = "\nBuild ID: 200603281600\n";

// Start-up against a private install directory. The dispatcher is marked
// initialised beforehand, so its init answers -1 and start-up takes its
// failure path without starting any thread.
class ZepMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ZEPDISP_dispatcher::resetForTesting();
    dir_.write("ZEPBaseDirConfig.properties", "INSTALLDIR=" + dir_.dir() + "\n");
    ZEPUTIL::setEtcDirForTesting(dir_.dir().c_str());
    ASSERT_EQ(0, ZEPDISP_dispatcher::initWithoutThread());
  }
  void TearDown() override {
    ZEPDISP_dispatcher::resetForTesting();
    ZEPUTIL::setEtcDirForTesting(nullptr);
    AXO_SetSystemNameForTesting(nullptr);
    AXO_ResetForTesting();
    TRK1_ResetLevels();
  }

  // Runs initZEPAgent; returns its result and keeps stdout in `out_`.
  bool Init() {
    char program[] = "zepagent", listen[] = "--listen", none[] = "none";
    char* argv[] = {program, listen, none, nullptr};
    ::testing::internal::CaptureStdout();
    const bool failed = initZEPAgent(3, argv);
    out_ = ::testing::internal::GetCapturedStdout();
    return failed;
  }

  ZepTestDir dir_;
  std::string out_;
};

TEST_F(ZepMainTest, StartUpDescribesTheAgentAndPrintsTheBanner) {
  AXO_SetSystemNameForTesting("a-system-name-of-forty-characters-long!!");
  TRK1_SetLevel("ZEPMAIN", 0);
  TRK1_Capture capture;
  EXPECT_TRUE(Init());  // the dispatcher was already initialised

  EXPECT_TRUE(capture.contains("ZEPAGENT Build ID: 200603281600"));
  EXPECT_TRUE(capture.contains("Agent name is a-system-name-of-forty-character"));
  EXPECT_STREQ("a-system-name-of-forty-characte", zep_agent_name);
  EXPECT_STREQ("ZP", zep_product_code);
  EXPECT_STREQ("01.01.00", zep_product_ver);

  AXO_Identity id = AXO_GetIdentity();
  EXPECT_EQ("ZP", id.product);
  EXPECT_EQ("01.01.00", id.version);
  EXPECT_EQ("ZEPHYRMON", id.subsystem);
  EXPECT_EQ("ZP", id.nodeType);
  EXPECT_EQ("a-system-name-of-forty-characte", id.hostname);
  const std::vector<std::string> affinities = {
      "0000000002000000000000000000000000000000000",
      "0000000000000000000000000000000000000000400"};
  EXPECT_EQ(affinities, id.affinities);

  ASSERT_GT(out_.size(), sizeof kBannerHead + sizeof kBannerTail);
  EXPECT_EQ(0u, out_.rfind(kBannerHead, 0));
  EXPECT_EQ(out_.size() - std::strlen(kBannerTail), out_.find(kBannerTail));
}

TEST_F(ZepMainTest, MissingSystemNameGivesAnEmptyAgentName) {
  AXO_SetSystemNameForTesting("");
  TRK1_Capture capture;
  Init();
  EXPECT_TRUE(capture.contains("Unable to get system name for this machine!"));
  EXPECT_STREQ("", zep_agent_name);
}

TEST_F(ZepMainTest, FailedDispatcherStillRegistersTheEntryPoints) {
  TRK1_Capture capture;
  EXPECT_TRUE(Init());
  EXPECT_TRUE(capture.contains("ZEPDisp_init () return code:-1"));
  // The banner came first, and the loader is registered: omxmain would load.
  EXPECT_EQ(0u, out_.rfind(kBannerHead, 0));
  AXO_Shutdown(1);
  EXPECT_EQ(0, omxmain(0, nullptr));
}

TEST_F(ZepMainTest, FailedStartUpExitsNonZeroWithoutTheMainLoop) {
  char program[] = "zepagent", listen[] = "--listen", none[] = "none";
  char* argv[] = {program, listen, none, nullptr};
  ::testing::internal::CaptureStdout();
  // Were the main loop entered it would block: nothing asks it to stop.
  EXPECT_EQ(1, axo_main(3, argv));
  ::testing::internal::GetCapturedStdout();
}

TEST(ZepMainLoad, TablesRegisterInTheirFixedOrder) {
  TRK1_SetLevel("all", TRK1_FLOW);
  TRK1_Capture capture;
  EXPECT_EQ(0ul, LoadAgents());
  TRK1_ResetLevels();
  std::vector<std::string> inits;
  for (const std::string& m : capture.messages()) {
    if (m.rfind("Entry zep_", 0) == 0) inits.push_back(m.substr(6));
  }
  const std::vector<std::string> expected = {
      "zep_zepsmt_init", "zep_zepflct_init", "zep_zepdcmt_init", "zep_zepdct_init",
      "zep_zepfct_init", "zep_zepmatt_init", "zep_zepinv_init"};
  EXPECT_EQ(expected, inits);
  for (const char* table : {"ZEPSMT", "ZEPFLCT", "ZEPDCMT", "ZEPDCT", "ZEPFCT", "ZEPMATT",
                            "ZEPINV"}) {
    EXPECT_NE(nullptr, AXO_FindTableManager(table)) << table;
  }
}

time_t FixedClock() { return 1143561600 + 5 * 60 + 7; }  // 2006-03-28 16:05:07 UTC

TEST(ZepMainTimestamp, FifteenDigitsOfLocalTime) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  ZEPPORT::setClockForTesting(FixedClock);
  char buffer[16];
  get_timestamp(buffer);
  EXPECT_STREQ("106032816050700", buffer);
  ZEPPORT::setClockForTesting(nullptr);
  if (old_tz != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
