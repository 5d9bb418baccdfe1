// Threads that write one limited message number at once share its limit.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "support/fake_env.h"

TRK1_UNIT(flood_unit, "TRK1FLOOD");

TEST(Trk1ConcurrencyTest, ThreadsFloodingOneNumberWriteOneShareBetweenThem) {
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetNow(5000);
  TRK1_Capture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 500; ++i) TRK1_PrintfLimited(&flood_unit, __LINE__, "TST0003W flood");
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(capture.count("TST0003W flood"), TRK1_LIMITED_PER_SECOND);
}
