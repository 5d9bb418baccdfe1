// The data computer's timer thread: its stop. (Timer passes interleaved with
// counting, situations and samples are the whole-agent stress test's.) Run
// under ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include "axo/base/trk1.h"
#include "situations/zepdc.h"

TEST(SituationsTimerTest, DestructorStopsTheTimerThread) {
  TRK1_SetLevel("ZEPDC", TRK1_DETAIL | TRK1_ERROR);
  TRK1_Capture capture;
  {
    ZEPDC_DataComputer dc;
    ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 1, 1, "N1", "S"));
  }
  // The destructor returned only after the thread wrote its last record.
  EXPECT_TRUE(capture.contains("Timer kill flag detected"));
  TRK1_ResetLevels();
}
