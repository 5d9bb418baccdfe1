// Message counter: interval normalisation, the sliding window of 30-second
// cells and the events pushed on changes of the truth value.
#include "situations/zepdcmc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/samples_test_util.h"
#include "tables/zepmatt.h"

using namespace samples_test;

namespace {

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
