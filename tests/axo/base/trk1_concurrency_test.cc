// Threads that write one limited message number at once share its limit.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "axo/base/clock.h"
#include "axo/base/trk1.h"

TRK1_UNIT(flood_unit, "TRK1FLOOD");

namespace {
std::atomic<time_t> second{5000};
time_t Second() { return second.load(); }
}  // namespace

TEST(Trk1ConcurrencyTest, ThreadsFloodingOneNumberWriteItsShareAndTheCountOfTheRest) {
  AXO_SetClockForTesting(&Second);
  TRK1_Capture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 500; ++i) TRK1_PrintfLimited(&flood_unit, __LINE__, "TST0003W flood");
    });
  }
  for (std::thread& t : threads) t.join();
  second = 5001;
  TRK1_PrintfLimited(&flood_unit, __LINE__, "TST0003W flood");
  AXO_SetClockForTesting(nullptr);
  EXPECT_EQ(capture.count("TST0003W flood"), TRK1_LIMITED_PER_SECOND + 1);
  EXPECT_TRUE(capture.contains("TST0003W 1995 more suppressed")) << capture.messages().back();
}
