// Message counter: interval normalisation, keys, the sliding window and the
// events pushed on changes of the truth value.
#include "situations/zepdcmc.h"

#include <gtest/gtest.h>

#include "axo/trk1.h"
#include "situations/situations_test_util.h"

using situations_test::column;
using situations_test::EventRecorder;

namespace {

ZEPDCMC_MessageCounter makeCounter(int32_t interval, int32_t limit, uint8_t comparator) {
  return ZEPDCMC_MessageCounter("10.0.0.1", "OrderPort", "submitOrder", interval, limit,
                                comparator, "ZP:node", "S1");
}

// Advances `counter` `ticks` times.
void tick(ZEPDCMC_MessageCounter& counter, int ticks = 1) {
  for (int i = 0; i < ticks; ++i) counter.AdvanceCell();
}

void count(ZEPDCMC_MessageCounter& counter, int messages) {
  for (int i = 0; i < messages; ++i) counter.Increment();
}

}  // namespace

TEST(SituationsCounterTest, IntervalIsNormalisedToWholeCells) {
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(-5), 60);
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(30), 60);
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(60), 60);
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(61), 90);
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(89), 90);
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(120), 120);
  // Near the 32-bit limit the arithmetic must not wrap.
  EXPECT_EQ(ZEPDCMC_MessageCounter::normalizeInterval(INT32_MAX), 2147483670LL);
  EXPECT_FALSE(ZEPDCMC_MessageCounter::isAcceptableInterval(INT32_MAX));
  EXPECT_TRUE(ZEPDCMC_MessageCounter::isAcceptableInterval(86400));
  EXPECT_FALSE(ZEPDCMC_MessageCounter::isAcceptableInterval(86401));

  EXPECT_EQ(makeCounter(30, 1, 1).cellCount(), 2);
  EXPECT_EQ(makeCounter(61, 1, 1).interval(), 90);
  EXPECT_EQ(makeCounter(61, 1, 1).cellCount(), 3);
  EXPECT_EQ(makeCounter(120, 1, 1).cellCount(), 4);
}

TEST(SituationsCounterTest, KeyConcatenatesTheEightValues) {
  EXPECT_EQ(createKey("*", "*", "*", 60, 10, 1, "N1", "S"), "***N160101S");
  ZEPDCMC_MessageCounter counter("*", "*", "*", 45, 10, 1, "N1", "S");
  EXPECT_STREQ(counter.getKey(), "***N160101S");
  EXPECT_TRUE(counter.isSituation("*", "*", "*", 45, 10, 1, "N1", "S"));
  // Same key text, different situation: the values tell them apart.
  EXPECT_EQ(createKey("*", "*", "*", 60, 300, 1, "N", "S"),
            createKey("*", "*", "*", 6030, 0, 1, "N", "S"));
  EXPECT_FALSE(counter.isSituation("*", "*", "*", 60, 101, 1, "N1", "S"));
}

TEST(SituationsCounterTest, UnusableValuesLeaveAnEmptyCounter) {
  TRK1_Capture capture;
  ZEPDCMC_MessageCounter nullText(nullptr, "S", "O", 60, 1, 1, "N", "S1");
  EXPECT_FALSE(nullText.isValid());
  EXPECT_EQ(nullText.getKey(), nullptr);
  EXPECT_TRUE(capture.contains("NULL is not a valid parameter"));
  ZEPDCMC_MessageCounter huge("A", "S", "O", INT32_MAX, 1, 1, "N", "S1");
  EXPECT_FALSE(huge.isValid());
  // Using an empty counter is harmless.
  EventRecorder events;
  huge.Increment();
  huge.AdvanceCell();
  EXPECT_EQ(events.size(), 0u);
}

TEST(SituationsCounterTest, AtLeastLimitRaisesAndClearsOnce) {
  TRK1_SetLevel("ZEPDCMC", 255);
  TRK1_Capture capture;
  EventRecorder events;
  ZEPDCMC_MessageCounter counter = makeCounter(60, 5, 1);
  count(counter, 5);
  tick(counter);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(counter.state());
  EXPECT_EQ(capture.count("Send event: old false, new true"), 1);
  zep_zepmatt_data_t raised = events.rows()[0];
  EXPECT_EQ(raised.msgcnt, 5);
  EXPECT_EQ(raised.tmint, 60);
  EXPECT_EQ(raised.msglmt, 5);
  EXPECT_EQ(raised.comparator, 1);
  EXPECT_EQ(column(raised.originnode), "ZP:node");
  EXPECT_EQ(std::string(raised.hostname, 64), situations_test::pad("ZP:node"));
  EXPECT_EQ(column(raised.portname), "OrderPort");
  EXPECT_EQ(column(raised.opname), "submitOrder");
  EXPECT_EQ(column(raised.rmipaddr), "10.0.0.1");
  EXPECT_EQ(std::string(raised.tablever, 8), "1       ");
  EXPECT_EQ(column(raised.sitname), "S1");

  // The five messages stay in the window for one more tick, then drop out.
  tick(counter);
  EXPECT_EQ(events.size(), 1u);
  tick(counter);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(counter.state());
  EXPECT_EQ(events.rows()[1].msgcnt, 0);
  EXPECT_EQ(capture.count("Send event: old true, new false"), 1);
  TRK1_ResetLevels();
}

TEST(SituationsCounterTest, WindowCoversTheLastCompleteCells) {
  EventRecorder events;
  ZEPDCMC_MessageCounter counter = makeCounter(90, 6, 1);  // three cells
  count(counter, 2);
  tick(counter);
  count(counter, 2);
  tick(counter);
  count(counter, 1);
  tick(counter);
  EXPECT_EQ(events.size(), 0u);  // 5 < 6
  count(counter, 3);             // the first cell's 2 leave, 3 arrive: 6
  tick(counter);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events.rows()[0].msgcnt, 6);
}

TEST(SituationsCounterTest, ComparatorsAndTheirEvents) {
  EventRecorder events;
  // Fewer than the limit with no traffic: true at the first tick.
  ZEPDCMC_MessageCounter fewer = makeCounter(60, 3, 2);
  tick(fewer);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events.rows()[0].msgcnt, 0);
  // A counter that stays true pushes nothing more.
  tick(fewer, 10);
  EXPECT_EQ(events.size(), 1u);

  events.clear();
  ZEPDCMC_MessageCounter never = makeCounter(60, 0, 7);
  count(never, 100);
  tick(never, 3);
  EXPECT_EQ(events.size(), 0u);

  ZEPDCMC_MessageCounter greater = makeCounter(60, 2, 0);
  count(greater, 2);
  tick(greater);
  EXPECT_FALSE(greater.IsTriggered());
  ZEPDCMC_MessageCounter atMost = makeCounter(60, 2, 3);
  count(atMost, 2);
  tick(atMost);
  EXPECT_TRUE(atMost.state());
}
