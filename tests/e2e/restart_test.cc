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
#include <set>
#include <sstream>

#include "axo/history.h"
#include "e2e/zepagent_process.h"

namespace {

using e2e::json;

// The fields of one CSV line; a field in double quotes may hold commas.
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_.path();
    dir_ = std::make_unique<e2e::InstallDir>(root_, kSettings);
    e2e::WriteFile(root_ + "/token", std::string(e2e::kToken) + "\n");
    db_ = root_ + "/history.db";
  }

  // Starts the agent for round `round`, with the pause point `pause` armed
  // when not empty. Its trace goes to a file of the round.
  std::unique_ptr<e2e::Child> Start(int round, const std::string& pause = "") {
    trace_ = root_ + "/trace." + std::to_string(round) + ".log";
    std::vector<std::string> env = {"ZEP_ETC_DIR=" + dir_->etc};
    if (!pause.empty()) env.push_back("ZEP_TEST_PAUSE_AT=" + pause);
    err_ = root_ + "/agent." + std::to_string(round) + ".err";
    return std::make_unique<e2e::Child>(
        std::vector<std::string>{e2e::kBuild + "/zepagent", "--listen", "127.0.0.1:0",
                                 "--token-file", root_ + "/token", "--trace-file", trace_,
                                 "--history-db", db_, "--history-interval", "1",
                                 "--history-tables", "ZEPSMT,ZEPINV"},
        env, root_ + "/agent." + std::to_string(round) + ".out", err_);
  }

  // The operator API's port once the agent of the current round listens; 0
  // when it never did.
  int Port(e2e::Child& agent) {
    static const std::regex kListening("listening on http://127\\.0\\.0\\.1:([0-9]+)");
    int port = 0;
    e2e::Eventually(30, [&] {
      std::smatch m;
      std::string trace = e2e::ReadFile(trace_);
      if (!agent.Running()) return true;
      if (!std::regex_search(trace, m, kListening)) return false;
      port = std::stoi(m[1]);
      return e2e::Http(port, "GET", "/healthz").status == 200;
    });
    return agent.Running() ? port : 0;
  }

  // Kills `agent` where it stopped at `pause`; false when it never got there.
  bool KillAtPause(e2e::Child& agent, const std::string& pause) {
    bool reached = e2e::Eventually(30, [&] {
      return !agent.Running() ||
             e2e::ReadFile(err_).find("AXO_TestPausePoint " + pause) != std::string::npos;
    });
    agent.Signal(SIGKILL);
    agent.Wait(30);
    return reached && e2e::ReadFile(err_).find("AXO_TestPausePoint " + pause) !=
                          std::string::npos;
  }

  long HistoryCount(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    std::string error;
    if (!axo::HistoryReadQuery(db_, sql, &rows, &error) || rows.empty()) return -1;
    return std::stol(rows[0][0]);
  }

  static constexpr const char* kSettings =
      "zep.axo.logReadSleepTimeSeconds=1\n";
  e2e::TempDir tmp_;
  std::string root_, db_, trace_, err_;
  std::unique_ptr<e2e::InstallDir> dir_;
};

TEST_F(RestartTest, EveryRecordReachesHistoryOnceThroughKillsAndPausePoints) {
  const unsigned seed = 20261207;
  std::mt19937 random(seed);
  std::string csv = root_ + "/records.csv";
  // 2 servers x 500 records at 100 records/s: about ten seconds of traffic.
  e2e::Child sim({e2e::kBuild + "/zepdcsim", "--dir", dir_->logs, "--servers", "2", "--count",
                  "500", "--rate", "100", "--per-file", "40", "--seed", std::to_string(seed),
                  "--csv", csv},
                 {}, root_ + "/sim.out", root_ + "/sim.err");
  int round = 0;
  int kills = 0;
  for (; round < 4; ++round) {
    auto agent = Start(round);
    ASSERT_GT(Port(*agent), 0) << e2e::ReadFile(trace_) << agent->Err();
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(200, 1800)(random)));
    agent->Signal(SIGKILL);
    ASSERT_EQ(agent->Wait(30), 128 + SIGKILL);
    ++kills;
  }
  for (const char* pause : {"history-write", "file-rename"}) {
    auto agent = Start(round++, pause);
    ASSERT_TRUE(KillAtPause(*agent, pause)) << pause << "\n" << e2e::ReadFile(trace_);
    ++kills;
  }

  // The last agent runs until the simulator is done and history caught up.
  auto agent = Start(round);
  int port = Port(*agent);
  ASSERT_GT(port, 0) << e2e::ReadFile(trace_);
  ASSERT_EQ(sim.Wait(40), 0) << sim.Err();
  std::vector<std::string> written;
  {
    std::istringstream in(e2e::ReadFile(csv));
    std::string line;
    std::getline(in, line);
    ASSERT_EQ(CsvFields(line)[11], "currcorr");
    while (std::getline(in, line)) written.push_back(CsvFields(line)[11]);
  }
  ASSERT_EQ(written.size(), 1000u);
  const long total = static_cast<long>(written.size());
  e2e::Eventually(20, [&] { return HistoryCount("SELECT count(*) FROM ZEPSMT") >= total; });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // one more interval

  std::vector<std::vector<std::string>> rows;
  std::string error;
  ASSERT_TRUE(axo::HistoryReadQuery(db_, "SELECT CURRCORR, count(*) FROM ZEPSMT GROUP BY 1",
                                    &rows, &error))
      << error;
  std::map<std::string, long> stored;
  for (const auto& r : rows) stored[r[0]] = std::stol(r[1]);
  long missing = 0, duplicates = 0;
  for (const std::string& c : written) missing += stored.count(c) == 0 ? 1 : 0;
  for (const auto& [c, n] : stored) duplicates += n - 1;
  EXPECT_EQ(missing, 0) << "of " << total << " after " << kills << " kills";
  EXPECT_EQ(duplicates, 0);
  EXPECT_EQ(HistoryCount("SELECT count(*) FROM ZEPSMT"), total);

  // The real-time inventory counts every record the agent holds.
  json inv = json::parse(e2e::Http(port, "GET", "/api/v1/tables/ZEPINV").body, nullptr, false);
  ASSERT_TRUE(inv.is_object()) << inv.dump();
  long counted = 0;
  for (const json& row : inv["rows"]) counted += row["MSGCOUNT"].get<long>();
  json smt = json::parse(e2e::Http(port, "GET", "/api/v1/tables/ZEPSMT").body, nullptr, false);
  ASSERT_TRUE(smt.is_object());
  EXPECT_EQ(counted, smt["count"].get<long>());
  EXPECT_EQ(counted, total);

  agent->Signal(SIGTERM);
  EXPECT_EQ(agent->Wait(30), 0);
  // The configuration file is whole: the operators' setting and both
  // servers' keys are there, and every line is a key=value pair or a comment,
  // the last one ended.
  std::string config = e2e::ReadFile(dir_->config);
  for (const char* key : {"zep.axo.logReadSleepTimeSeconds=1\n", "zep.config.version=",
                          "1.appsrv01.monitor=on\n", "2.appsrv02.monitor=on\n"}) {
    EXPECT_NE(config.find(key), std::string::npos) << key << " in\n" << config;
  }
  ASSERT_FALSE(config.empty());
  EXPECT_EQ(config.back(), '\n');
  std::istringstream lines(config);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.empty() || line[0] == '#' || line.find('=') != std::string::npos) << line;
  }
}

}  // namespace
