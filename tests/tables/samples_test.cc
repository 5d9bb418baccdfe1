// Tests of the metrics (ZEPSMT), fault (ZEPFLCT) and service inventory
// (ZEPINV) samples over metric logs read from real files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/base/trk1.h"
#include "logs/zepdcset.h"
#include "support/samples_test_util.h"
#include "tables/zepflct.h"
#include "tables/zepinv.h"
#include "tables/zepsmt.h"

namespace {

using namespace samples_test;

// The elapsed times of the metric rows: the tests use them to tell lines apart.
std::vector<int> smt(const Request& r) {
  std::vector<int> out;
  for (const zep_zepsmt_data_t& row : sample<zep_zepsmt_agent>(r)) out.push_back(row.elpsdtime);
  return out;
}

// ---- ZEPSMT ------------------------------------------------------------------

// The look-back is strict; a changed setting is read afresh. (How settings
// are bounded: the settings test.)
TEST_F(SamplesTest, MetricsRealTimeLooksBackStrictlyWithinTheSetting) {
  start();
  const time_t now = kT0 + 10000;
  fakeTime() = now;
  std::vector<std::string> records;
  for (int age : {1000, 301, 300, 299, 10}) records.push_back(rec(now - age, age));
  feed("server1", records);
  EXPECT_EQ(smt({{subnode("server1")}}), (std::vector<int>{10, 299, 300}));  // newest first
  tmp_.write("install/ZEP/config/ZEP.dc.properties", "zep.axo.maxRealTimeSampleMinutes=1\n");
  tmp_.setMtime("install/ZEP/config/ZEP.dc.properties", now);
  EXPECT_EQ(smt({{subnode("server1")}}), (std::vector<int>{10}));
  // The real-time samples left the history marks alone.
  EXPECT_EQ(smt({{}, true}).size(), 5u);
}

TEST_F(SamplesTest, RequestedSubnodeNames) {
  start();
  feed("server1", {rec(kT0, 1)});
  feed("server2", {rec(kT0, 2)});
  const std::string s1 = subnode("server1");
  const std::string s2 = subnode("server2");
  TRK1_Capture capture;
  // Unknown names are reported and skipped; a name longer than 32
  // characters is matched on its first 32.
  EXPECT_EQ(smt({{"ZP:nosuchnode", s2 + "EXTRA-CHARS", s1}}), (std::vector<int>{2, 1}));
  EXPECT_TRUE(capture.contains("ZEP0408E Data not found for requested for subnode: ZP:nosuchnode"));
  // The list ends at an empty name; no names or a second name give nothing.
  EXPECT_TRUE(smt({{"", s1}}).empty());
  EXPECT_TRUE(smt(Request()).empty());
  EXPECT_TRUE(smt({{s1}, false, "SECOND"}).empty());
}

TEST_F(SamplesTest, MetricsHistoryHandsEachLineOverOnceAndARejectedRowStopsItsLog) {
  start("zep.axo.maxRetainMinutes=0\n");
  feed("server1", {rec(kT0 + 1, 11), rec(kT0 + 2, 12)});
  feed("server2", {rec(kT0 + 3, 21)});
  // Without retention history gets nothing and marks nothing.
  EXPECT_TRUE(smt({{}, true}).empty());
  tmp_.write("install/ZEP/config/ZEP.dc.properties", "zep.axo.maxRetainMinutes=10\n");
  tmp_.setMtime("install/ZEP/config/ZEP.dc.properties", kT0);
  ZEPDISP_dispatcher::runOnePass();  // reads the changed configuration
  // The subnode named by the request does not narrow a history sample.
  EXPECT_EQ(smt({{subnode("server2")}, true}), (std::vector<int>{12, 11, 21}));
  EXPECT_TRUE(smt({{}, true}).empty());

  // A rejected row stops the rest of its log only: server1's 33 added, 32
  // rejected, 31 counted but not offered; server2 starts afresh.
  feed("server1", {rec(kT0 + 6, 33), rec(kT0 + 5, 32), rec(kT0 + 4, 31)});
  feed("server2", {rec(kT0 + 4, 41)});
  TRK1_Capture capture;
  AXO_FailInsertRowForTesting(2, 77);
  EXPECT_EQ(smt({{}, true}), (std::vector<int>{33, 41}));
  EXPECT_TRUE(
      capture.contains("ZEP0403E Error adding row to metric table. rc = 77, row number = 2"));
  // The lines not handed over stay unmarked and come with the next sample.
  EXPECT_EQ(smt({{}, true}), (std::vector<int>{32, 31}));
}

// ---- ZEPFLCT -----------------------------------------------------------------

TEST_F(SamplesTest, FaultSampleOffersEveryFaultOfTheRequestedSubnodes) {
  start();
  fakeTime() = kT0 + 7200;  // far beyond any real-time window
  feed("server1", {rec(kT0 + 1, 1, "a", 1, "E1"), rec(kT0 + 2, 2), rec(kT0 + 3, 3, "a", 1, "E3")});
  feed("server2", {rec(kT0 + 5, 5, "a", 1, "X")});
  const std::string s1 = subnode("server1");
  std::vector<zep_zepflct_data_t> rows = sample<zep_zepflct_agent>({{s1}});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(text(rows[0].fltcode), "E3");
  EXPECT_EQ(text(rows[1].fltcode), "E1");
  EXPECT_EQ(std::string(rows[1].originnode, 32), s1);
  // Unlike the other samples, a rejected row does not stop the walk.
  AXO_FailInsertRowForTesting(1, 5);
  rows = sample<zep_zepflct_agent>({{s1}});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(text(rows[0].fltcode), "E1");
}

// ---- ZEPINV ------------------------------------------------------------------

// "operation/window begin minute/interval status" of each row.
std::vector<std::string> inv(const Request& r) {
  std::vector<std::string> out;
  for (const zep_zepinv_data_t& row : sample<zep_zepinv_agent>(r)) {
    out.push_back(text(row.opname) + "/" + text(row.intbegtime).substr(9, 2) + "/" +
                  std::to_string(row.intstatus));
  }
  return out;
}
using Rows = std::vector<std::string>;

TEST_F(SamplesTest, InventoryRealTimeGivesCompleteThenRunningWindowPerOperation) {
  start("", kT0 + 60);  // started at 13:41
  feed("server1", {rec(kT0 + 330, 10, "a", 100), rec(kT0 + 340, 30, "a", 200),
                   rec(kT0 - 240, 5, "b"), rec(kT0 + 70, 5, "b"), rec(kT0 + 610, 1, "c")});
  const std::string s1 = subnode("server1");

  // 13:51: the 13:45 window is complete, 13:50 runs. Every operation gets
  // both, complete first, in inventory order, empty windows included.
  fakeTime() = kT0 + 660;
  EXPECT_EQ(inv({{s1}}), (Rows{"a/45/2", "a/50/1", "b/45/2", "b/50/1", "c/50/1"}));
  // (The window figures themselves: the inventory's and the end-to-end tests.)
  EXPECT_EQ(std::string(sample<zep_zepinv_agent>({{s1}})[0].originnode, 32), s1);

  // An agent started right at the complete window's begin saw only part of it.
  ZEPDISP_dispatcher::dcaStartTime = kT0 + 300;
  EXPECT_EQ(inv({{s1}}), (Rows{"a/50/1", "b/50/1", "c/50/1"}));
}

TEST_F(SamplesTest, InventoryHistoryReportsEachCompleteWindowOnceForEveryServer) {
  start("", kT0 + 60);
  feed("server1", {rec(kT0 + 90, 1, "a"), rec(kT0 + 420, 1, "a"), rec(kT0 + 720, 1, "a")});
  feed("server2", {rec(kT0 + 400, 1, "z")});

  // 13:56:30: windows up to 13:50 ended at least a minute ago.
  fakeTime() = kT0 + 990;
  EXPECT_EQ(inv({{subnode("server1")}, true}), (Rows{"a/45/2", "a/50/2", "z/45/2", "z/50/2"}));
  EXPECT_TRUE(inv({{}, true}).empty());

  // 14:00:30: the 13:55 window closed only 30 seconds ago.
  fakeTime() = kT0 + 1230;
  EXPECT_TRUE(inv({{}, true}).empty());
  fakeTime() = kT0 + 1260;
  // A rejected window stops its server's walk and is kept for the next
  // sample; the other server's goes on.
  AXO_FailInsertRowForTesting(1, 9);
  EXPECT_EQ(inv({{}, true}), (Rows{"z/55/2"}));
  EXPECT_EQ(inv({{}, true}), (Rows{"a/55/2"}));
}

}  // namespace
