// The request API: queries and their errors, situations and the event log,
// action commands.
#include "axo/request.h"

#include <gtest/gtest.h>

#include <thread>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/request_fixture.h"

namespace {

TEST_F(AxoRequestTest, QueryDecodesRowsThroughColumnDescriptions) {
  std::vector<axo::Row> rows;
  std::string error;
  ASSERT_EQ(Query("AXOSMP", {}, &rows, &error), axo::kOk) << error;
  ASSERT_EQ(rows.size(), 2u);
  const axo::Row& r = rows[0];
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].first, "NAME");
  EXPECT_TRUE(r[0].second.isText);
  EXPECT_EQ(r[0].second.text, "alpha");
  EXPECT_EQ(r[1].first, "SMALL");
  EXPECT_FALSE(r[1].second.isText);
  EXPECT_EQ(r[1].second.number, 1);
  EXPECT_EQ(r[2].second.number, 100);
  EXPECT_EQ(sampled_.log.created, sampled_.log.destroyed);   // the sampler ended with the query

  axo::TableDescription d;
  ASSERT_EQ(axo::describeTable("AXOEV", &d, &error), axo::kOk);
  ASSERT_EQ(d.columns.size(), 4u);
  EXPECT_EQ(d.columns[3].attribute, "SITNAME");
  EXPECT_EQ(d.columns[3].offset, 24);
}

TEST_F(AxoRequestTest, BadQueriesAreClearErrors) {
  std::vector<axo::Row> rows;
  std::string error;
  EXPECT_EQ(Query("NOSUCH", {}, &rows, &error), axo::kNotFound);
  EXPECT_NE(error.find("NOSUCH"), std::string::npos);
  EXPECT_EQ(Query("AXOSMP", {{"COLOUR", "=", "red"}}, &rows, &error), axo::kBadRequest);
  EXPECT_NE(error.find("COLOUR"), std::string::npos);
  EXPECT_EQ(Query("AXOSMP", {{"BIG", "=~", "1"}}, &rows, &error), axo::kBadRequest);
  EXPECT_EQ(Query("AXOSMP", {{"BIG", "=", "12abc"}}, &rows, &error), axo::kBadRequest);
  EXPECT_EQ(Query("AXOSMP", {{"BIG", "=", ""}}, &rows, &error), axo::kBadRequest);
  EXPECT_EQ(Query("AXOSMP", {{"BIG", "=", "4294967296"}}, &rows, &error), axo::kBadRequest);
  EXPECT_EQ(Query("AXOSMP", {{"SMALL", "=", "40000"}}, &rows, &error), axo::kBadRequest);
  EXPECT_EQ(Query("AXOSMP", {{"NAME", "=", std::string("a\0b", 3)}}, &rows, &error),
            axo::kBadRequest);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(Query("AXOSMP", {{"SMALL", "=", "-32768"}}, &rows, &error), axo::kOk);
}

TEST_F(AxoRequestTest, PushedRowRaisesAndClearsOnlyItsOwnSituation) {
  ASSERT_EQ(Create("S1", "AXOEV", 60, {{"BIG", ">=", "10"}}), axo::kOk);
  ASSERT_EQ(Create("S2", "AXOEV", 60, {{"BIG", ">=", "10"}}), axo::kOk);
  EXPECT_EQ(Create("S1", "AXOEV", 60, {}), axo::kConflict);

  TestRow s1_high = MakeRow("p", 0, 12, "S1");
  EXPECT_EQ(events_.AddDataToEvent(&s1_high, 1), 0u);
  std::vector<axo::Event> ev = axo::eventsSince(0);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].id, 1);
  EXPECT_EQ(ev[0].situation, "S1");
  EXPECT_TRUE(ev[0].raised);
  EXPECT_EQ(ev[0].time, 1000);
  ASSERT_EQ(ev[0].row.size(), 4u);
  EXPECT_EQ(ev[0].row[2].second.number, 12);
  EXPECT_EQ(ev[0].row[3].second.text, "S1");

  // Still raised: no new event. A row of S2 below the limit leaves S1 alone.
  EXPECT_EQ(events_.AddDataToEvent(&s1_high, 1), 0u);
  TestRow s2_low = MakeRow("p", 0, 3, "S2");
  EXPECT_EQ(events_.AddDataToEvent(&s2_low, 1), 0u);
  EXPECT_EQ(axo::eventsSince(1).size(), 0u);

  now_ = 1030;
  TestRow s1_low = MakeRow("p", 0, 3, "S1");
  EXPECT_EQ(events_.AddDataToEvent(&s1_low, 1), 0u);
  ev = axo::eventsSince(1);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_FALSE(ev[0].raised);
  EXPECT_EQ(ev[0].time, 1030);

  std::vector<axo::SituationInfo> list = axo::listSituations();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "S1");
  EXPECT_FALSE(list[0].raised);
  EXPECT_EQ(list[0].lastChange, 1030);
  // The event samplers never take a sample of their own.
  axo::pollSituations(5000);
  EXPECT_EQ(axo::eventsSince(2).size(), 0u);
}

TEST_F(AxoRequestTest, SampledSituationFollowsItsIntervalAndDeletes) {
  ASSERT_EQ(Create("HIGH", "AXOSMP", 60, {{"BIG", ">", "150"}}), axo::kOk);
  axo::pollSituations(1000);
  std::vector<axo::Event> ev = axo::eventsSince(0);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_TRUE(ev[0].raised);
  EXPECT_EQ(ev[0].row[0].second.text, "beta");

  sampled_.rows[1].big = 10;
  axo::pollSituations(1059);   // not due yet
  EXPECT_EQ(axo::eventsSince(1).size(), 0u);
  axo::pollSituations(1060);
  ev = axo::eventsSince(1);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_FALSE(ev[0].raised);
  EXPECT_TRUE(ev[0].row.empty());

  int destroyed = sampled_.log.destroyed;
  std::string error;
  EXPECT_EQ(axo::deleteSituation("HIGH", &error), axo::kOk);
  EXPECT_EQ(sampled_.log.destroyed, destroyed + 1);
  EXPECT_EQ(axo::deleteSituation("HIGH", &error), axo::kNotFound);
  EXPECT_TRUE(axo::listSituations().empty());
  EXPECT_EQ(Create("HIGH", "AXOSMP", 60, {}), axo::kOk);   // the name is free again
}

TEST_F(AxoRequestTest, SituationRequestsAreCheckedBeforeAnySamplerExists) {
  axo::TableDescription d;
  std::string error;
  ASSERT_EQ(axo::describeTable("AXOSMP", &d, &error), axo::kOk);   // the catalogue's probe
  int created = sampled_.log.created;
  EXPECT_EQ(Create("", "AXOSMP", 60, {}), axo::kBadRequest);
  EXPECT_EQ(Create(std::string(33, 'x'), "AXOSMP", 60, {}), axo::kBadRequest);
  EXPECT_EQ(Create("S", "AXOSMP", 0, {}), axo::kBadRequest);
  EXPECT_EQ(Create("S", "NOSUCH", 60, {}), axo::kNotFound);
  EXPECT_EQ(Create("S", "AXOSMP", 60, {{"NOPE", "=", "1"}}), axo::kBadRequest);
  EXPECT_EQ(sampled_.log.created, created);
  EXPECT_TRUE(axo::listSituations().empty());
}

std::string g_seen_command;
long RecordingHandler(VexorAutomationCapsule* capsule) {
  g_seen_command = capsule->GetText() + 3;
  capsule->SetResult(1);
  capsule->SetMessage("nothing to change");
  capsule->GetVexor()->FinishedAutomationCommand(capsule);
  return 1;
}

TEST_F(AxoRequestTest, ActionCommandsReachTheCallbackWithTheirResult) {
  long rc = -1;
  std::string message, error;
  EXPECT_EQ(axo::runActionCommand("x", &rc, &message, &error), axo::kFailed);
  AXO_RegisterCommandCallback("ZP", RecordingHandler);
  ASSERT_EQ(axo::runActionCommand("enableMonitoring;s1", &rc, &message, &error), axo::kOk);
  EXPECT_EQ(g_seen_command, "enableMonitoring;s1");
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(message, "nothing to change");
  ASSERT_EQ(axo::runActionCommand("", &rc, &message, &error), axo::kOk);
  EXPECT_EQ(g_seen_command, "");
}

}  // namespace
