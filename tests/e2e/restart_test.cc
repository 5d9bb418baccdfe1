// History exactly once across restarts: the real simulator writes at a steady
// rate while the real agent is killed with SIGKILL at seeded moments, and at
// the test-only pause points inside the history write and inside the rename
// of a metric log to the cache, and restarted each time. Afterwards every
// record written is in the ZEPSMT history exactly once, the real-time
// inventory counts every record held, and the configuration file is whole.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <regex>

#include "axo/history/history.h"
#include "axo/history/sqlite/sqlite.h"
#include "e2e/zepagent_process.h"

namespace {

using e2e::json;

class RestartTest : public ::testing::Test {
 protected:
  // Starts (or restarts) the agent, with the pause point `pause` armed when
  // not empty.
  std::unique_ptr<e2e::Agent> Start(const std::string& pause = "") {
    std::vector<std::string> env = {e2e::WindowClockEnv()};
    if (!pause.empty()) env.push_back("ZEP_TEST_PAUSE_AT=" + pause);
    return std::make_unique<e2e::Agent>(
        root_,
        std::vector<std::string>{"--history-db", db_, "--history-interval", "1", "--history-tables",
                                 "ZEPSMT,ZEPINV"},
        env);
  }

  // The rows of `sql` on the history database; one row of -1s when it fails
  // or finds nothing.
  std::vector<std::vector<std::string>> History(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    if (!axo::HistoryReadQuery(db_, sql, &rows).ok() || rows.empty()) return {{"-1", "-1"}};
    return rows;
  }

  e2e::TempDir tmp_;
  const std::string root_ = tmp_.path();
  const std::string db_ = root_ + "/history.db";
};

TEST_F(RestartTest, EveryRecordReachesHistoryOnceThroughKillsAndPausePoints) {
  const unsigned seed = 20261207;
  std::mt19937 random(seed);
  const std::string csv = root_ + "/records.csv";
  // 2 servers x 500 records at 60 records/s: about 17 seconds of traffic, so
  // that new files still come after four restarts of a slow (sanitized) agent.
  auto sim = e2e::StartSimulator(
      root_, {"--servers", "2", "--count", "500", "--rate", "60", "--per-file", "40", "--seed",
              std::to_string(seed), "--csv", csv, "--time-base", e2e::WindowClockNow()});
  for (int round = 0; round < 4; ++round) {
    auto agent = Start();
    ASSERT_TRUE(agent->Up()) << agent->Trace() << agent->child().Err();
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(200, 1800)(random)));
    ASSERT_EQ(agent->child().Stop(SIGKILL), 128 + SIGKILL);
  }
  // A file is renamed only while new files come; history is written at
  // every start (the taken files are read again), so it can wait.
  for (const std::string pause : {"file-rename", "history-write"}) {
    auto agent = Start(pause);
    EXPECT_TRUE(e2e::Eventually(30,
                                [&] {
                                  return agent->child().Err().find("AXO_TestPausePoint " + pause) !=
                                         std::string::npos;
                                }))
        << pause << "\n"
        << agent->Trace();
    agent->child().Stop(SIGKILL);
  }

  // The last agent runs until the simulator is done and history caught up.
  auto agent = Start();
  ASSERT_TRUE(agent->Up()) << agent->Trace();
  ASSERT_EQ(sim->Wait(40), 0) << sim->Err();
  const std::vector<std::string> written = e2e::WrittenCorrelators(csv);
  ASSERT_EQ(written.size(), 1000u);
  const long total = static_cast<long>(written.size());
  // Generous: under a loaded machine (or a sanitizer) the passes are slow.
  e2e::Eventually(90,
                  [&] { return std::stol(History("SELECT count(*) FROM ZEPSMT")[0][0]) >= total; });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // one more interval

  std::map<std::string, long> stored;
  for (const auto& r : History("SELECT CURRCORR, count(*) FROM ZEPSMT GROUP BY 1")) {
    stored[r[0]] = std::stol(r[1]);
  }
  long missing = 0, duplicates = 0;
  for (const std::string& c : written) missing += stored.count(c) == 0;
  for (const auto& [c, n] : stored) duplicates += n - 1;
  EXPECT_EQ(missing, 0) << "of " << total << " after 6 kills";
  EXPECT_EQ(duplicates, 0);
  EXPECT_EQ(History("SELECT count(*) FROM ZEPSMT")[0][0], std::to_string(total));

  // The real-time inventory counts every record the agent holds (all of
  // them in the running window, on the shifted clock).
  long counted = 0;
  for (const json& row : agent->Rows("ZEPINV")) counted += row["MSGCOUNT"].get<long>();
  EXPECT_EQ(counted, total);
  EXPECT_EQ(agent->GetJson("/api/v1/tables/ZEPSMT").value("count", 0L), total);

  EXPECT_EQ(agent->child().Stop(), 0);
  // The configuration file is whole: the operators' setting and both
  // servers' keys are there, and every line is a key=value pair or a comment,
  // the last one ended.
  const std::string config = e2e::ReadFile(agent->dir().config);
  for (const char* key : {"zep.axo.logReadSleepTimeSeconds=1\n", "zep.config.version=",
                          "1.appsrv01.monitor=on\n", "2.appsrv02.monitor=on\n"})
    EXPECT_NE(config.find(key), std::string::npos) << key;
  EXPECT_TRUE(std::regex_match(config, std::regex("((#.*|[^=\n]+=.*)?\n)+"))) << config;
}

}  // namespace

// Situations kept in --situations-file come back after a SIGKILL, as they
// were created; a file that cannot be used stops the start instead of
// letting the agent run without the situations it was asked to keep.
TEST(SituationsFileTest, SituationsSurviveAKillAndABadFileStopsTheStart) {
  e2e::TempDir tmp;
  const std::string root = tmp.path();
  const std::string file = root + "/situations.json";
  const std::vector<std::string> args = {"--situations-file", file};
  const std::string body = R"({"name": "ManyOrders", "table": "ZEPMATT", "conditions": [
      {"attribute": "RMIPADDR", "op": "=", "value": "*"},
      {"attribute": "PORTNAME", "op": "=", "value": "OrderPort"},
      {"attribute": "TMINT", "op": "=", "value": 60},
      {"attribute": "MSGCNT", "op": ">=", "value": 10}]})";
  json before;
  {
    e2e::Agent agent(root, args);
    ASSERT_TRUE(agent.Up()) << agent.Trace();
    ASSERT_EQ(agent.Send("POST", "/api/v1/situations", body).status, 201);
    ASSERT_EQ(agent
                  .Send("POST", "/api/v1/situations",
                        R"({"name": "Gone", "table": "ZEPINV", "interval": 60})")
                  .status,
              201);
    ASSERT_EQ(agent.Send("DELETE", "/api/v1/situations/Gone").status, 200);
    before = agent.GetJson("/api/v1/situations");
    agent.child().Signal(SIGKILL);
    agent.child().Wait(10);
  }
  e2e::Agent again(root, args);
  ASSERT_TRUE(again.Up()) << again.Trace();
  const json after = again.GetJson("/api/v1/situations");
  ASSERT_EQ(after["situations"].size(), 1u) << after.dump();
  EXPECT_EQ(after["situations"][0]["name"], "ManyOrders");
  EXPECT_EQ(after["situations"][0]["conditions"], before["situations"][0]["conditions"]);
  again.child().Signal(SIGTERM);
  again.child().Wait(15);

  e2e::WriteFile(file, R"({"situations": [{"name": "a/b", "table": "ZEPMATT"}]})");
  e2e::Agent refused(root, args);
  EXPECT_EQ(refused.child().Wait(30), 1);
  EXPECT_NE(refused.child().Err().find("situations file " + file + ", situation 1 (a/b): "),
            std::string::npos)
      << refused.child().Err();
}
