// The request API's sampled situations: due on their interval, raised and
// cleared by what a sample shows, and deleted with their sampler. Pushed
// (event) situations are tested with the agent's ZEPMATT table, and request
// errors through the HTTP routes.
#include "axo/requests/request.h"

#include <gtest/gtest.h>

#include "axo/requests/request_fixture.h"
#include "axo/requests/test_table.h"

namespace {

TEST_F(AxoRequestTest, SampledSituationFollowsItsIntervalAndDeletes) {
  ASSERT_EQ(Create("HIGH", "AXOSMP", 60, {{"BIG", ">", "150"}}), axo::kOk);
  EXPECT_EQ(Create("HIGH", "AXOSMP", 60, {}), axo::kConflict);
  axo::pollSituations(1000);
  std::vector<axo::Event> ev = axo::eventsSince(0);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_TRUE(ev[0].raised);
  EXPECT_EQ(ev[0].time, 1000);
  EXPECT_EQ(ev[0].row[0].second.text, "beta");

  // A busy sample (the agent's data stayed locked) changes nothing: the
  // situation stays raised until a later interval samples; a query says so.
  std::vector<axo::Row> rows;
  axo::Query query;
  query.table = "AXOSMP";
  sampled_.sampleRc = AXO_RC_BUSY;
  sampled_.rows[1].big = 10;
  axo::pollSituations(1060);
  EXPECT_EQ(axo::eventsSince(1).size(), 0u);
  EXPECT_TRUE(axo::listSituations()[0].raised);
  const axo::Status busy = axo::runQuery(query, &rows);
  EXPECT_EQ(busy.code(), axo::kUnavailable);
  EXPECT_NE(busy.message().find("locked"), std::string::npos) << busy.message();
  sampled_.sampleRc = 0;

  axo::pollSituations(1119);  // not due yet
  EXPECT_EQ(axo::eventsSince(1).size(), 0u);
  axo::pollSituations(1120);
  ev = axo::eventsSince(1);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_FALSE(ev[0].raised);
  EXPECT_TRUE(ev[0].row.empty());

  const int destroyed = sampled_.log.destroyed;
  EXPECT_EQ(axo::deleteSituation("HIGH").code(), axo::kOk);
  EXPECT_EQ(sampled_.log.destroyed, destroyed + 1);
  EXPECT_EQ(sampled_.log.lastAllocated, 0);  // no rows held between samples
  EXPECT_EQ(axo::deleteSituation("HIGH").code(), axo::kNotFound);
  EXPECT_EQ(Create("HIGH", "AXOSMP", 60, {}), axo::kOk);  // the name is free again
}

}  // namespace
