// The request API under concurrent use: event pushes, queries, situations
// created and deleted, and the situation timer's polls, all at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "axo/requests/request.h"
#include "axo/requests/request_fixture.h"
#include "axo/requests/test_table.h"

namespace {

TEST_F(AxoRequestTest, PushesQueriesAndSituationChangesRunConcurrently) {
  ASSERT_EQ(Create("S1", "AXOEV", 60, {{"BIG", ">=", "10"}}), axo::kOk);
  ASSERT_EQ(Create("POLLED", "AXOSMP", axo::kMinSampledInterval, {{"BIG", ">", "0"}}), axo::kOk);
  constexpr int kRounds = 300;
  std::thread pusher([&] {
    for (int i = 0; i < kRounds; ++i) {
      TestRow row = MakeRow("p", 0, i % 2 == 0 ? 12 : 3, "S1");
      events_.AddDataToEvent(&row, 1);
    }
  });
  std::thread churn([&] {
    for (int i = 0; i < kRounds / 10; ++i) {
      Create("S2", "AXOEV", 60, {{"SMALL", "=", "1"}});
      axo::deleteSituation("S2");
      std::vector<axo::Row> rows;
      axo::runQuery({"AXOSMP", {}, false, {{"NAME", "=", "beta"}}}, &rows);
      EXPECT_EQ(rows.size(), 1u);
    }
  });
  std::thread poller([&] {
    for (int i = 0; i < kRounds / 10; ++i) axo::pollSituations(2000 + i);
  });
  pusher.join();
  churn.join();
  poller.join();

  // S1 alternated on every push: raised, cleared, raised, ...
  int s1 = 0;
  for (const axo::Event& e : axo::eventsSince(0)) {
    if (e.situation != "S1") continue;
    EXPECT_EQ(e.raised, s1 % 2 == 0);
    ++s1;
  }
  EXPECT_EQ(s1, kRounds);
}

}  // namespace
