// Data computer: matching messages to situations through the filter tree,
// registration and removal of situations; its message counters.
#include "situations/zepdc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "axo/base/trk1.h"
#include "foundation/zepllst.h"
#include "foundation/zeprows.h"
#include "logs/zepmelem.h"
#include "situations/zepdcmc.h"
#include "situations/zepdcrow.h"
#include "situations/zeppelem.h"
#include "support/samples_test_util.h"

using namespace samples_test;

namespace {

const std::string A = pad("10.0.0.1");
const std::string B = pad("10.0.0.2");
const std::string S = pad("OrderPort");
const std::string O = pad("submitOrder");
using Sums = std::vector<std::pair<std::string, int>>;

// A data computer without timer thread, with shortcuts for situations that
// differ only in address, service, operation and name.
class SituationsDataComputerTest : public ::testing::Test {
 protected:
  // Pushed events go nowhere, not to the framework.
  void SetUp() override { previous_ = ZEPDCMC_MessageCounter::setEventSink(nullptr); }
  void TearDown() override { ZEPDCMC_MessageCounter::setEventSink(previous_); }
  bool create(const std::string& a, const std::string& s, const std::string& o, const char* name) {
    return dc.CreateSituation(a.c_str(), s.c_str(), o.c_str(), 60, 1, 1, "N1", name);
  }
  bool remove(const std::string& a, const std::string& s, const std::string& o, const char* name) {
    return dc.DeleteSituation(a.c_str(), s.c_str(), o.c_str(), 60, 1, 1, "N1", name);
  }
  // The window sum of every situation, in creation order, after one tick
  // (so that the running cell is part of the sum).
  Sums windowSums() {
    dc.Poll();
    Sums out;
    ZEPLLST_LinkedList list;
    dc.GetCDT(&list);
    for (ZEPLELEM_listElem* e = list.front(); e != nullptr; e = list.next(e)) {
      auto* row =
          static_cast<ZEPDCROW_DataRow*>(static_cast<ZEPPELEM_PayloadElement*>(e)->getPayload());
      out.emplace_back(text(row->getRow()->sitname), row->getRow()->msgcnt);
      delete row;
    }
    return out;
  }

  ZEPDC_DataComputer dc{false};
  ZEPDCMC_MessageCounter::EventSink previous_ = nullptr;
};

TEST_F(SituationsDataComputerTest, MessagesCountInEveryMatchingSituationOnce) {
  const std::string P = pad("otherOp");
  for (const auto& [a, s, o, name] : {std::tuple{A, S, O, "ASO"},
                                      {A, S, "*", "ASx"},
                                      {"*", "*", "*", "xxx"},
                                      {B, S, O, "BSO"},
                                      {"*", S, O, "xSO"},
                                      {A, "*", "*", "Axx"},
                                      {A, S, P, "ASP"}}) {
    ASSERT_TRUE(create(a, s, o, name));
  }
  EXPECT_TRUE(dc.Increment(A.c_str(), S.c_str(), O.c_str()));
  EXPECT_EQ(
      windowSums(),
      (Sums{{"ASO", 1}, {"ASx", 1}, {"xxx", 1}, {"BSO", 0}, {"xSO", 1}, {"Axx", 1}, {"ASP", 0}}));

  // In the next cell: of the metric lines only location 2 counts; "*"
  // values match the wildcard situation, once.
  for (int16_t loc : {0, 1, 2, 3}) {
    ZEPMELEM_MetricLine line(0);
    line.metricsRow.msgloc = loc;
    std::memcpy(line.metricsRow.rmipaddr, B.data(), 64);
    std::memcpy(line.metricsRow.portname, S.data(), 64);
    std::memcpy(line.metricsRow.opname, O.data(), 64);
    EXPECT_TRUE(dc.Increment(&line));
  }
  EXPECT_TRUE(dc.Increment("*", "*", "*"));
  EXPECT_EQ(
      windowSums(),
      (Sums{{"ASO", 0}, {"ASx", 0}, {"xxx", 2}, {"BSO", 1}, {"xSO", 1}, {"Axx", 0}, {"ASP", 0}}));
}

TEST_F(SituationsDataComputerTest, RefusesInvalidAndDuplicateSituations) {
  TRK1_Capture capture;
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), "*", O.c_str(), 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), "*", "", 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), 60, 1, 1, "N1", nullptr));
  EXPECT_FALSE(dc.CreateSituation(nullptr, S.c_str(), O.c_str(), 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), INT32_MAX, 1, 1, "N1", "x"));
  EXPECT_TRUE(capture.contains("Service Name cannot be * when Operation Name is not *"));
  EXPECT_TRUE(dc.getList()->empty());
  EXPECT_TRUE(dc.getMCList()->empty());

  // The interval is compared after normalisation: 45 is the same as 60.
  ASSERT_TRUE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), 45, 1, 1, "N1", "dup"));
  EXPECT_FALSE(create(A, S, O, "dup"));
  EXPECT_FALSE(remove(A, S, O, "unknown"));
  EXPECT_EQ(dc.getMCList()->size(), 1);

  // Interval 60 / limit 300 and interval 6030 / limit 0 give the same key
  // text; the values still tell the two situations apart.
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 300, 1, "N", "S"));
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 6030, 0, 1, "N", "S"));
  ASSERT_TRUE(dc.DeleteSituation("*", "*", "*", 6030, 0, 1, "N", "S"));
  ASSERT_TRUE(dc.DeleteSituation("*", "*", "*", 60, 300, 1, "N", "S"));
}

TEST_F(SituationsDataComputerTest, DeletionLeavesTheOthersCountingAndPrunesTheTree) {
  const std::tuple<std::string, std::string, std::string, const char*> situations[] = {
      {A, S, O, "one"}, {A, S, O, "two"}, {B, "*", "*", "three"}, {"*", S, O, "four"}};
  for (const auto& [a, s, o, name] : situations) ASSERT_TRUE(create(a, s, o, name));
  ASSERT_TRUE(remove(A, S, O, "one"));
  dc.Increment(A.c_str(), S.c_str(), O.c_str());
  EXPECT_EQ(windowSums(), (Sums{{"two", 1}, {"three", 0}, {"four", 1}}));
  for (const auto& [a, s, o, name] : situations) {
    EXPECT_EQ(remove(a, s, o, name), std::string(name) != "one");
  }
  EXPECT_TRUE(dc.getList()->empty());
  EXPECT_TRUE(dc.getMCList()->empty());
  EXPECT_TRUE(create(A, S, O, "one"));  // a removed situation can come again
}

// ---- message counter: the sliding window of 30-second cells and the events
// pushed on changes of the truth value

std::vector<zep_zepmatt_data_t> g_pushed;
uint32_t Record(const zep_zepmatt_data_t* rows, int n) {
  g_pushed.insert(g_pushed.end(), rows, rows + n);
  return 0;
}

// Collects the rows the counters push in g_pushed.
class SituationsCounterTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = ZEPDCMC_MessageCounter::setEventSink(Record); }
  void TearDown() override { ZEPDCMC_MessageCounter::setEventSink(previous_); }
  ZEPDCMC_MessageCounter::EventSink previous_ = nullptr;
};

// Each case counts counts[i] messages before tick i + 1 and expects the
// pushed events as "tick:+sum" (became true) or "tick:-sum" (became false).
TEST_F(SituationsCounterTest, IntervalsAndTheWindowOfTheLastCompleteCellsAgainstTheComparator) {
  struct Case {
    int32_t interval, limit;
    uint8_t comparator;  // 0 >, 1 >=, 2 <, 3 <=, others never true
    std::vector<int> counts;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {60, 5, 1, {5, 0, 0}, {"1:+5", "3:-0"}},     // two cells
      {61, 4, 1, {4, 0, 0, 0}, {"1:+4", "4:-0"}},  // rounded up to three cells
      {90, 6, 1, {2, 2, 1, 3}, {"4:+6"}},          // the first cell's 2 left, 3 arrived
      {60, 2, 0, {2, 3}, {"2:+5"}},
      {60, 3, 2, std::vector<int>(10, 0), {"1:+0"}},  // stays true: one event
      {60, 2, 3, {2, 1}, {"1:+2", "2:-3"}},
      {60, 0, 7, {100, 0, 0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.interval) + "/" + std::to_string(c.comparator));
    g_pushed.clear();
    ZEPDCMC_MessageCounter counter("10.0.0.1", "OrderPort", "submitOrder", c.interval, c.limit,
                                   c.comparator, "ZP:node", "S1");
    std::vector<std::string> seen;
    for (size_t tick = 0; tick < c.counts.size(); ++tick) {
      for (int i = 0; i < c.counts[tick]; ++i) counter.Increment();
      counter.AdvanceCell();
      if (g_pushed.size() > seen.size()) {
        // The row names the situation; its interval is the requested one
        // (61 counts in a 90-second window); the origin node is the host.
        const zep_zepmatt_data_t& r = g_pushed.back();
        EXPECT_EQ(r.tmint, c.interval);
        EXPECT_EQ(text(r.rmipaddr) + "|" + text(r.portname) + "|" + text(r.originnode) + "|" +
                      text(r.sitname) + "|" + std::string(r.hostname, 64),
                  "10.0.0.1|OrderPort|ZP:node|S1|" + pad("ZP:node"));
        seen.push_back(std::to_string(tick + 1) + (counter.state() ? ":+" : ":-") +
                       std::to_string(g_pushed.back().msgcnt));
      }
    }
    EXPECT_EQ(seen, c.events);
  }
  // An interval is at least a minute, at most a day, and does not wrap.
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(-5), 60);
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(INT32_MAX), 2147483670LL);
  EXPECT_TRUE(ZEPDCMC_MessageCounter::isAcceptableInterval(86400));
  EXPECT_FALSE(ZEPDCMC_MessageCounter::isAcceptableInterval(86401));
}

}  // namespace
