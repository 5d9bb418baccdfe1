// Many agents, grouped across warehouses: two real PostgreSQL servers, three
// real agents (two writing to the first, one to the second), each on its own
// install directory fed by its own simulator, all writing at once. One agent
// and then the first server restart in the middle. The two servers hold
// every record of every agent exactly once. The password of the connection
// string is in no trace.
#include <gtest/gtest.h>

#include <set>

#include "axo/history/pg_server.h"
#include "e2e/zepagent_process.h"

namespace {

using e2e::Agent;

TEST(WarehouseEndToEnd, ThreeAgentsStoreEveryRecordOnceThroughRestarts) {
  pgtest::PgServer server, other;
  ASSERT_EQ(server.error(), "");
  ASSERT_EQ(other.error(), "");
  e2e::TempDir tmp;
  auto args_for = [&](int i) {
    const std::string uri = (i < 2 ? server : other).Uri();
    return std::vector<std::string>{
        "--history-db",       uri + "?password=e2e-secret&target_session_attrs=read-write",
        "--history-interval", "1",
        "--history-tables",   "ZEPSMT"};
  };
  std::vector<std::string> roots;
  std::vector<std::unique_ptr<Agent>> agents;
  std::vector<std::unique_ptr<e2e::Child>> sims;
  for (int i = 0; i < 3; ++i) {
    roots.push_back(tmp.path() + "/agent" + std::to_string(i));
    agents.push_back(std::make_unique<Agent>(roots[i], args_for(i)));
    ASSERT_TRUE(agents[i]->Up()) << agents[i]->Trace() << agents[i]->child().Err();
    // 2 servers x 300 records at 100 records/s per agent: about six seconds.
    sims.push_back(e2e::StartSimulator(
        roots[i], {"--servers", "2", "--count", "300", "--rate", "100", "--per-file", "30",
                   "--seed", std::to_string(101 + i), "--csv", roots[i] + "/records.csv"}));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_EQ(agents[0]->child().Stop(), 0) << agents[0]->child().Err();
  agents[0] = std::make_unique<Agent>(roots[0], args_for(0));
  ASSERT_TRUE(agents[0]->Up()) << agents[0]->Trace();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_TRUE(server.Stop()) << server.error();
  std::this_thread::sleep_for(std::chrono::seconds(2));  // rows wait in the agents
  ASSERT_TRUE(server.Start()) << server.error();

  std::set<std::string> written;
  size_t total = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(sims[i]->Wait(60), 0) << sims[i]->Err();
    const std::vector<std::string> c = e2e::WrittenCorrelators(roots[i] + "/records.csv");
    ASSERT_EQ(c.size(), 600u);
    written.insert(c.begin(), c.end());
    total += c.size();
  }
  ASSERT_EQ(written.size(), total) << "the simulators' records must differ";
  // Every record once across the two warehouses. (One postgres_fdw view
  // over both, as the README sets it up: the fleet's check.)
  auto stored = [&] {
    std::multiset<std::string> found;
    for (const pgtest::PgServer* s : {&server, &other}) {
      std::istringstream in(s->Psql("SELECT \"CURRCORR\" FROM \"ZEPSMT\""));
      for (std::string line; std::getline(in, line);) found.insert(line);
    }
    return found;
  };
  e2e::Eventually(60, [&] { return stored().size() == total; });
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // a late duplicate would show
  EXPECT_EQ(stored(), std::multiset<std::string>(written.begin(), written.end()));
  EXPECT_EQ(other.Psql("SELECT count(*) FROM \"ZEPSMT\""), "600");
  for (const auto& agent : agents) {
    const std::string trace = agent->Trace();
    EXPECT_NE(trace.find("password=***"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("e2e-secret"), std::string::npos) << trace;
  }
  // (The history route on PostgreSQL: AxoHistoryTest/Postgres in tests/axo/history.)
}

}  // namespace
