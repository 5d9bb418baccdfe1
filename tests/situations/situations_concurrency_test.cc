// The data computer under concurrent use, as in the agent: a timer pass
// pushing events (data computer lock, then ZEPMATT manager lock), the log
// dispatcher counting records, framework threads creating and deleting
// situations and sampling ZEPMATT; and the timer thread's stop. Run under
// ThreadSanitizer by `make tsan`.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "axo/request.h"
#include "axo/trk1.h"
#include "foundation/zepllst.h"
#include "runtime/zepdisp.h"
#include "situations/situations_test_util.h"
#include "situations/zepdc.h"
#include "tables/zepmatt.h"

using situations_test::pad;

TEST(SituationsConcurrencyTest, TimerCountingSituationsAndSamplesInterleave) {
  ZEPDC_DataComputer* saved = ZEPDISP_dispatcher::pDataComputer;
  auto* dc = new ZEPDC_DataComputer;  // with its timer thread
  ZEPDISP_dispatcher::pDataComputer = dc;
  axo::resetSituationsForTesting();
  ASSERT_EQ(zep_zepmatt_init(), 0u);

  const std::string service = pad("OrderPort");
  const std::string operation = pad("submitOrder");
  std::string error;
  for (const char* name : {"Steady1", "Steady2"}) {
    axo::SituationSpec spec{name, "ZEPMATT", 60, {{"RMIPADDR", "=", "*"},
                                                  {"PORTNAME", "=", "OrderPort"},
                                                  {"TMINT", "=", "60"},
                                                  {"MSGCNT", name[6] == '1' ? ">=" : "<", "2"}}};
    ASSERT_EQ(axo::createSituation(spec, &error), axo::kOk) << error;
  }

  constexpr int kRounds = 200;
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // the timer pass
    for (int i = 0; i < kRounds; ++i) dc->Poll();
  });
  threads.emplace_back([&] {  // the log dispatcher
    for (int i = 0; i < kRounds * 5; ++i) {
      const std::string address = pad("10.0.0." + std::to_string(i % 4));
      dc->Increment(address.c_str(), service.c_str(), operation.c_str());
    }
  });
  threads.emplace_back([&] {  // situations come and go through the framework
    std::string err;
    for (int i = 0; i < kRounds / 4; ++i) {
      axo::SituationSpec spec{"Passing", "ZEPMATT", 60,
                              {{"RMIPADDR", "=", "10.0.0.1"}, {"PORTNAME", "=", "*"},
                               {"TMINT", "=", "60"}, {"MSGCNT", ">", "0"}}};
      if (axo::createSituation(spec, &err) != axo::kOk) failed = true;
      if (axo::deleteSituation("Passing", &err) != axo::kOk) failed = true;
      if (!dc->CreateSituation("*", "*", "*", 90, i, 1, "N", "direct")) failed = true;
      if (!dc->DeleteSituation("*", "*", "*", 90, i, 1, "N", "direct")) failed = true;
    }
  });
  threads.emplace_back([&] {  // operators sample the table
    std::string err;
    for (int i = 0; i < kRounds / 4; ++i) {
      std::vector<axo::Row> rows;
      if (axo::runQuery({"ZEPMATT", {}, false, {}}, &rows, &err) != axo::kOk) failed = true;
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(failed);

  {
    OSB1_ScopedLock guard(dc->lock());
    EXPECT_EQ(dc->getMCList()->size(), 2);
  }
  EXPECT_EQ(axo::deleteSituation("Steady1", &error), axo::kOk);
  EXPECT_EQ(axo::deleteSituation("Steady2", &error), axo::kOk);
  axo::resetSituationsForTesting();
  ZEPDISP_dispatcher::pDataComputer = saved;
  delete dc;
}

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

  ZEPDC_DataComputer without(false);
  EXPECT_EQ(without.timerState(), ZEPDC_DataComputer::TIMER_STOPPED);
}
