// Tests of the metrics (ZEPSMT), fault (ZEPFLCT) and service inventory
// (ZEPINV) samples over metric logs read from real files.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "logs/zepdcset.h"
#include "tables/samples_test_util.h"
#include "tables/zepflct.h"
#include "tables/zepinv.h"
#include "tables/zepsmt.h"

namespace {

using namespace samples_test;

using SmtRows = std::vector<zep_zepsmt_data_t>;
using FltRows = std::vector<zep_zepflct_data_t>;
using InvRows = std::vector<zep_zepinv_data_t>;

// The elapsed times of metric rows: the tests use them to tell lines apart.
std::vector<int> elapsedOf(const SmtRows& rows) {
  std::vector<int> out;
  for (const zep_zepsmt_data_t& r : rows) out.push_back(r.elpsdtime);
  return out;
}

// ---- ZEPSMT ------------------------------------------------------------------

class MetricsSampleTest : public SamplesTest {
 protected:
  void SetUp() override {
    SamplesTest::SetUp();
    TRK1_SetLevel("ZEPSMT", TRK1_DETAIL | TRK1_ERROR);
  }
};

TEST_F(MetricsSampleTest, RealTimeLooksBackStrictlyWithinTheWindow) {
  start("zep.axo.maxRealTimeSampleMinutes=5\n");
  const time_t now = kT0 + 1000;
  fakeTime() = now;
  feed("server1", {{now - 1000, 1000}, {now - 301, 301}, {now - 300, 300}, {now - 299, 299},
                   {now - 10, 10}});
  TRK1_Capture capture;
  const SmtRows rows = sample<zep_zepsmt_agent>({{subnode("server1")}});
  EXPECT_EQ(elapsedOf(rows), (std::vector<int>{10, 299, 300}));  // newest first
  for (const auto& r : rows) EXPECT_EQ(std::string(r.originnode, 32), subnode("server1"));
  EXPECT_TRUE(capture.contains("ZEP0407I Data requested for subnode: " + subnode("server1")));
  EXPECT_TRUE(capture.contains(
      "ZEP0404I Rows added to metric table. Attempted = 3, Successfully added 3, isHistory=0"));

  // The real-time sample leaves the history marks alone.
  EXPECT_EQ(sample<zep_zepsmt_agent>({{}, true}).size(), 5u);
}

TEST_F(MetricsSampleTest, RealTimeLookBackFollowsTheSetting) {
  start("zep.axo.maxRealTimeSampleMinutes=1\n");
  fakeTime() = kT0 + 1000;
  feed("server1", {{kT0 + 1000 - 61, 61}, {kT0 + 1000 - 60, 60}});
  EXPECT_EQ(elapsedOf(sample<zep_zepsmt_agent>({{subnode("server1")}})),
            (std::vector<int>{60}));
}

TEST_F(MetricsSampleTest, TimePeriodIsTheBoundedSettingInSeconds) {
  ZEPPROPS_properties props;
  EXPECT_EQ(zep_zepsmt_agent::getTimePeriod(props), 300.0);
  props.setProperty(ZEPDCSET_settings::MAX_REALTIME_SAMPLE_MINUTES, 200);
  EXPECT_EQ(zep_zepsmt_agent::getTimePeriod(props), 130 * 60.0);
  props.setProperty(ZEPDCSET_settings::MAX_REALTIME_SAMPLE_MINUTES, "abc");
  EXPECT_EQ(zep_zepsmt_agent::getTimePeriod(props), 300.0);
}

TEST_F(MetricsSampleTest, RequestedSubnodeNames) {
  start();
  feed("server1", {{kT0, 1}});
  feed("server2", {{kT0, 2}});
  const std::string s1 = subnode("server1");
  const std::string s2 = subnode("server2");
  ASSERT_EQ(s1.size(), 32u);
  ASSERT_NE(s1, s2);

  TRK1_Capture capture;
  // Unknown names are reported and skipped; a name longer than 32
  // characters is matched on its first 32; the rows carry the server's name.
  SmtRows rows = sample<zep_zepsmt_agent>({{"ZP:nosuchnode", s2 + "EXTRA-CHARS", s1}});
  ASSERT_EQ(elapsedOf(rows), (std::vector<int>{2, 1}));
  EXPECT_EQ(std::string(rows[0].originnode, 32), s2);
  EXPECT_EQ(std::string(rows[1].originnode, 32), s1);
  std::string unknown = "ZP:nosuchnode";
  unknown.resize(32, ' ');
  EXPECT_TRUE(capture.contains("ZEP0408E Data not found for requested for subnode: " + unknown));

  // The list ends at an empty name; an empty list gives nothing.
  EXPECT_TRUE(sample<zep_zepsmt_agent>({{"", s1}}).empty());
  capture.clear();
  EXPECT_TRUE(sample<zep_zepsmt_agent>(Request()).empty());
  EXPECT_TRUE(capture.contains("Attempted = 0, Successfully added 0, isHistory=0"));

  // A request with a second name gets no rows.
  EXPECT_TRUE(sample<zep_zepsmt_agent>({{s1}, false, "SECOND"}).empty());
}

TEST_F(MetricsSampleTest, HistoryHandsEachLineOverOnceFromEveryServer) {
  start();
  feed("server1", {{kT0 + 1, 11}, {kT0 + 2, 12}});
  feed("server2", {{kT0 + 3, 21}});
  TRK1_Capture capture;
  // The subnode named by the request does not narrow a history sample.
  SmtRows rows = sample<zep_zepsmt_agent>({{subnode("server2")}, true});
  EXPECT_EQ(elapsedOf(rows), (std::vector<int>{12, 11, 21}));
  EXPECT_EQ(std::string(rows[2].originnode, 32), subnode("server2"));
  EXPECT_TRUE(capture.contains("Attempted = 3, Successfully added 3, isHistory=1"));

  EXPECT_TRUE(sample<zep_zepsmt_agent>({{}, true}).empty());
  feed("server1", {{kT0 + 4, 13}});
  EXPECT_EQ(elapsedOf(sample<zep_zepsmt_agent>({{}, true})), (std::vector<int>{13}));
}

TEST_F(MetricsSampleTest, HistoryMarksRowsTheFilterDrops) {
  start();
  feed("server1", {{kT0 + 1, 1}, {kT0 + 2, 2}});
  TRK1_Capture capture;
  Request filtered({}, true);
  filtered.termAttribute = "PORTNAME";
  filtered.termValue = "NoSuchPort";
  EXPECT_TRUE(sample<zep_zepsmt_agent>(filtered).empty());
  EXPECT_TRUE(capture.contains("Attempted = 2, Successfully added 2, isHistory=1"));
  EXPECT_TRUE(sample<zep_zepsmt_agent>({{}, true}).empty());
}

TEST_F(MetricsSampleTest, HistoryWithoutRetentionGivesAndMarksNothing) {
  start("zep.axo.maxRetainMinutes=0\n");
  feed("server1", {{kT0 + 1, 1}});
  EXPECT_TRUE(sample<zep_zepsmt_agent>({{}, true}).empty());
  setProperty(ZEPDCSET_settings::MAX_RETAIN_MINUTES, 10);
  EXPECT_EQ(sample<zep_zepsmt_agent>({{}, true}).size(), 1u);
}

TEST_F(MetricsSampleTest, RejectedRowStopsTheRestOfItsLogOnly) {
  start();
  feed("server1", {{kT0 + 3, 13}, {kT0 + 2, 12}, {kT0 + 1, 11}});
  feed("server2", {{kT0 + 1, 21}});
  TRK1_Capture capture;
  AXO_FailInsertRowForTesting(2, 77);
  // server1: 13 added, 12 rejected, 11 counted but not offered; server2
  // starts afresh.
  EXPECT_EQ(elapsedOf(sample<zep_zepsmt_agent>({{}, true})), (std::vector<int>{13, 21}));
  EXPECT_TRUE(capture.contains(
      "ZEP0403E Error adding row to metric table. rc = 77, row number = 2"));
  EXPECT_TRUE(capture.contains("Attempted = 4, Successfully added 2, isHistory=1"));
  // The lines not handed over stay unmarked and come with the next sample.
  EXPECT_EQ(elapsedOf(sample<zep_zepsmt_agent>({{}, true})), (std::vector<int>{12, 11}));

  // The real-time sample follows the same rule and marks nothing.
  fakeTime() = kT0 + 10;
  capture.clear();
  AXO_FailInsertRowForTesting(1, 0);
  EXPECT_TRUE(sample<zep_zepsmt_agent>({{subnode("server1")}}).empty());
  EXPECT_TRUE(capture.contains("Attempted = 3, Successfully added 0, isHistory=0"));
}

// ---- ZEPFLCT -----------------------------------------------------------------

TEST_F(SamplesTest, FaultSampleOffersEveryFaultOfTheRequestedSubnodes) {
  TRK1_SetLevel("ZEPFLCT", TRK1_DETAIL | TRK1_ERROR);
  start();
  fakeTime() = kT0 + 7200;  // far beyond any real-time window
  Rec f1{kT0 + 1, 1};
  f1.faultCode = "E1";
  Rec f2{kT0 + 2, 2};
  f2.faultString = "broken; really";
  Rec f3{kT0 + 3, 3};
  f3.faultCode = "E3";
  feed("server1", {f1, f2, {kT0 + 4, 4}, f3});
  Rec other{kT0 + 5, 5};
  other.faultCode = "X";
  feed("server2", {other});
  const std::string s1 = subnode("server1");

  FltRows rows = sample<zep_zepflct_agent>({{s1}, /*history=*/true});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(text(rows[0].fltcode), "E3");
  EXPECT_EQ(text(rows[1].fltstr), "broken; really");
  EXPECT_EQ(text(rows[1].fltcode), "");
  EXPECT_EQ(text(rows[2].fltcode), "E1");
  for (const auto& r : rows) EXPECT_EQ(std::string(r.originnode, 32), s1);

  // A rejected row does not stop the walk.
  TRK1_Capture capture;
  AXO_FailInsertRowForTesting(2, 5);
  rows = sample<zep_zepflct_agent>({{s1}});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(text(rows[1].fltcode), "E1");
  EXPECT_TRUE(capture.contains("ZEP0401E Error adding row to fault table. rc = 5, row number = 2"));
  EXPECT_TRUE(capture.contains(
      "ZEP0402I Rows added to fault table. Attempted = 3, Successfully added 2, isHistory=0"));

  EXPECT_TRUE(sample<zep_zepflct_agent>({{s1}, false, "SECOND"}).empty());
  EXPECT_TRUE(sample<zep_zepflct_agent>({{"ZP:unknown"}}).empty());
}

// ---- ZEPINV ------------------------------------------------------------------

class InventorySampleTest : public SamplesTest {
 protected:
  void SetUp() override {
    SamplesTest::SetUp();
    TRK1_SetLevel("ZEPINV", TRK1_DETAIL | TRK1_ERROR);
  }

  // "port:operation:type" and interval status of each row.
  static std::vector<std::string> describe(const InvRows& rows) {
    std::vector<std::string> out;
    for (const zep_zepinv_data_t& r : rows) {
      out.push_back(text(r.svcopertyp) + "/" + text(r.intbegtime) + "/" +
                    std::to_string(r.intstatus));
    }
    return out;
  }
};

// Window begins as INTBEGTIME shows them (2006-03-28, UTC).
const char* const k1340 = "1060328134000000";
const char* const k1345 = "1060328134500000";
const char* const k1350 = "1060328135000000";
const char* const k1355 = "1060328135500000";

TEST_F(InventorySampleTest, RealTimeGivesCompleteThenRunningWindowPerOperation) {
  start("", kT0 + 60);  // started at 13:41
  Rec a1{kT0 + 330, 10, "a", 100};
  Rec a2{kT0 + 340, 30, "a", 200};
  Rec b0{kT0 - 240, 5, "b", 50};  // before the start, in the 13:35 window
  Rec b1{kT0 + 70, 5, "b", 50};
  Rec c1{kT0 + 610, -1, "c", 70};
  c1.faultCode = "F";
  feed("server1", {a1, a2, b0, b1, c1});
  const std::string s1 = subnode("server1");

  // 13:42: the agent has not seen a whole window yet.
  fakeTime() = kT0 + 120;
  InvRows rows = sample<zep_zepinv_agent>({{s1}});
  EXPECT_EQ(describe(rows), (std::vector<std::string>{"OrderPort:b:P/" + std::string(k1340) + "/1"}));

  // 13:51: the 13:45 window is complete, 13:50 runs. Every operation gets
  // both, complete first, in inventory order, empty windows included.
  fakeTime() = kT0 + 660;
  rows = sample<zep_zepinv_agent>({{s1}});
  ASSERT_EQ(describe(rows),
            (std::vector<std::string>{
                "OrderPort:a:P/" + std::string(k1345) + "/2", "OrderPort:a:P/" + std::string(k1350) + "/1",
                "OrderPort:b:P/" + std::string(k1345) + "/2", "OrderPort:b:P/" + std::string(k1350) + "/1",
                "OrderPort:c:P/" + std::string(k1350) + "/1"}));
  const zep_zepinv_data_t& a = rows[0];
  EXPECT_EQ(std::string(a.originnode, 32), s1);
  EXPECT_EQ(a.msgcount, 2);
  EXPECT_EQ(a.avgmsglen, 150);
  EXPECT_EQ(a.sdmsglen, 70);  // sqrt(5000), truncated
  EXPECT_EQ(a.minmsglen, 100);
  EXPECT_EQ(a.maxmsglen, 200);
  EXPECT_EQ(a.avgetime, 20);
  EXPECT_EQ(a.intlength, 5);
  EXPECT_EQ(rows[1].msgcount, 0);
  EXPECT_EQ(rows[1].avgmsglen, -1);
  const zep_zepinv_data_t& c = rows[4];
  EXPECT_EQ(c.msgcount, 1);
  EXPECT_EQ(c.etmsgcount, 0);
  EXPECT_EQ(c.avgetime, -1);
  EXPECT_EQ(c.fltcount, 1);

  EXPECT_TRUE(sample<zep_zepinv_agent>({{s1}, false, "SECOND"}).empty());
}

TEST_F(InventorySampleTest, RowLimitStopsTheSample) {
  start("zep.axo.maxSvcInvRecords=200\n", kT0 - 3600);
  std::vector<Rec> records;
  for (int i = 0; i < 150; ++i) {
    char op[8];
    snprintf(op, sizeof(op), "op%03d", i);
    records.push_back({kT0 + 10, 1, op});
  }
  feed("server1", records);
  fakeTime() = kT0 + 330;
  TRK1_Capture capture;
  const InvRows rows = sample<zep_zepinv_agent>({{subnode("server1"), subnode("server1")}});
  ASSERT_EQ(rows.size(), 200u);
  EXPECT_EQ(text(rows[198].svcopertyp), "OrderPort:op099:P");
  EXPECT_EQ(rows[198].intstatus, 2);
  EXPECT_EQ(rows[199].intstatus, 1);
  EXPECT_TRUE(capture.contains("ZEP0406I Rows added to service inventory table. Attempted = 200, "
                               "Successfully added 200"));
}

TEST_F(InventorySampleTest, HistoryReportsEachCompleteWindowOnceForEveryServer) {
  start("", kT0 + 60);  // 13:41: the 13:40 window was seen only in part
  feed("server1", {{kT0 + 90, 1, "a"}, {kT0 + 420, 1, "a"}, {kT0 + 720, 1, "a"}});
  feed("server2", {{kT0 + 400, 1, "z"}});

  // 13:56:30: windows up to 13:50 ended at least a minute ago.
  fakeTime() = kT0 + 990;
  InvRows rows = sample<zep_zepinv_agent>({{subnode("server1")}, true});
  EXPECT_EQ(describe(rows), (std::vector<std::string>{"OrderPort:a:P/" + std::string(k1345) + "/2",
                                                      "OrderPort:a:P/" + std::string(k1350) + "/2",
                                                      "OrderPort:z:P/" + std::string(k1345) + "/2",
                                                      "OrderPort:z:P/" + std::string(k1350) + "/2"}));
  EXPECT_EQ(std::string(rows[2].originnode, 32), subnode("server2"));
  EXPECT_EQ(rows[3].msgcount, 0);
  EXPECT_TRUE(sample<zep_zepinv_agent>({{}, true}).empty());

  // 14:00:30: the 13:55 window closed only 30 seconds ago.
  fakeTime() = kT0 + 1230;
  EXPECT_TRUE(sample<zep_zepinv_agent>({{}, true}).empty());
  fakeTime() = kT0 + 1260;
  EXPECT_EQ(describe(sample<zep_zepinv_agent>({{}, true})),
            (std::vector<std::string>{"OrderPort:a:P/" + std::string(k1355) + "/2",
                                      "OrderPort:z:P/" + std::string(k1355) + "/2"}));
}

TEST_F(InventorySampleTest, RejectedHistoryRowLeavesItsWindowsForTheNextRequest) {
  start("", kT0 - 3600);
  feed("server1", {{kT0 + 10, 1, "a"}, {kT0 + 310, 1, "a"}});
  fakeTime() = kT0 + 700;
  TRK1_Capture capture;
  AXO_FailInsertRowForTesting(1, 9);
  EXPECT_TRUE(sample<zep_zepinv_agent>({{}, true}).empty());
  EXPECT_TRUE(capture.contains(
      "ZEP0405E Error adding row to service inventory table. rc = 9, row number = 1"));
  EXPECT_TRUE(capture.contains("Attempted = 2, Successfully added 0"));
  EXPECT_EQ(describe(sample<zep_zepinv_agent>({{}, true})),
            (std::vector<std::string>{"OrderPort:a:P/" + std::string(k1340) + "/2",
                                      "OrderPort:a:P/" + std::string(k1345) + "/2"}));
}

TEST_F(InventorySampleTest, DebugHistoryAnswersEveryRequestAsHistory) {
  start("zep.debug.history=1\n", kT0 - 3600);
  feed("server1", {{kT0 + 10, 1, "a"}});
  fakeTime() = kT0 + 400;
  EXPECT_EQ(describe(sample<zep_zepinv_agent>({{subnode("server1")}})),
            (std::vector<std::string>{"OrderPort:a:P/" + std::string(k1340) + "/2"}));
  // The window went to history with that request.
  setProperty(ZEPDCSET_settings::DEBUG_HISTORY, 0);
  EXPECT_TRUE(sample<zep_zepinv_agent>({{}, true}).empty());
}

TEST_F(InventorySampleTest, HistoryWithoutRetentionGivesNothing) {
  start("", kT0 - 3600);
  feed("server1", {{kT0 + 10, 1, "a"}});
  fakeTime() = kT0 + 400;
  InvRows rows;
  {
    OSB1_ScopedLock configLock(&ZEPDISP_dispatcher::configPropertiesLock);
    OSB1_ScopedLock listLock(&ZEPDISP_dispatcher::metricsLogListLock);
    RequestDetail request;
    request.history = true;
    ContextInfo context;
    ZEPTABLE_object<zep_zepinv_agent> sampler(&request, &context, nullptr);
    EXPECT_EQ(sampler.TakeSampleHistorical(ZEPDISP_dispatcher::metricsLogList, 0, 100), 0);
    EXPECT_EQ(sampler.count, 0);
  }
  EXPECT_EQ(sample<zep_zepinv_agent>({{}, true}).size(), 1u);
}

}  // namespace
