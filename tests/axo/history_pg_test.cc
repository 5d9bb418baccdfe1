// The PostgreSQL history warehouse against a real server started by the
// test: rows keyed across restarts, the schema version, retention by whole
// day partitions, and a lost connection.
#include <gtest/gtest.h>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/history.h"
#include "axo/pg_server.h"

namespace {

class AxoHistoryPgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new pgtest::PgServer; }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(server_->error(), "");
    // Each test on a database of its own.
    db_ = "t" + std::to_string(++databases_);
    ASSERT_EQ(server_->Psql("CREATE DATABASE " + db_), "");
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:00000001:p-s1", "ZP", "01.01.00", 0), 0);
    ASSERT_EQ(AXO_Subnode_SendRequest(), 0);
    // NAME holds each row's own time, as MSGTIME does for records.
    sampled_.rows = {MakeRow("1261205100000000", 1, 100), MakeRow("1261206100000000", 2, 200),
                     MakeRow("1261207100000000", 3, 300)};
  }

  axo::HistoryOptions Options() {
    axo::HistoryOptions o;
    o.path = server_->Uri(db_);
    o.tables = {"AXOSMP"};
    o.keys = {{"AXOSMP", {}}};
    o.timeColumns = {{"AXOSMP", "NAME"}};
    o.agentNode = "agent-a";
    o.reconnectMaxMillis = 0;
    return o;
  }

  std::string Sql(const std::string& sql) { return server_->Psql(sql, db_); }
  std::string Partitions() {
    return Sql("SELECT string_agg(c.relname, ',' ORDER BY c.relname) FROM pg_inherits i JOIN "
               "pg_class c ON c.oid = i.inhrelid WHERE c.relkind = 'r'");
  }

  static inline pgtest::PgServer* server_ = nullptr;
  static inline int databases_ = 0;
  TestManager sampled_{"AXOSMP", false};
  std::string db_;
};

TEST_F(AxoHistoryPgTest, RowsAreStoredOnceAcrossRestartsAndPerAgent) {
  {
    axo::HistoryCollector c;
    std::string error;
    ASSERT_TRUE(c.Open(Options(), &error)) << error;
    EXPECT_EQ(c.CollectOnce(1796601600), 3);  // 2026-12-07
  }
  axo::HistoryCollector again;  // a restart: the same rows delivered with a new WRITETIME
  std::string error;
  ASSERT_TRUE(again.Open(Options(), &error)) << error;
  EXPECT_EQ(again.CollectOnce(1796601700), 3);
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT \"WRITETIME\") FROM \"AXOSMP\""), "3|1");
  // The row's own time is the partition key; each day has its partition,
  // and the day after the write is made ahead.
  EXPECT_EQ(Sql("SELECT \"ROWTIME\", \"AGENTNODE\", \"SMALL\", \"BIG\" FROM \"AXOSMP\" ORDER BY 1"
                " LIMIT 1"),
            "2026-12-05 10:00:00+00|agent-a|1|100");
  EXPECT_EQ(Partitions(), "AXOSMP_20261205,AXOSMP_20261206,AXOSMP_20261207,AXOSMP_20261208");

  // Another agent's identical rows are its own.
  axo::HistoryOptions b = Options();
  b.agentNode = "agent-b";
  axo::HistoryCollector other;
  ASSERT_TRUE(other.Open(b, &error)) << error;
  EXPECT_EQ(other.CollectOnce(1796601700), 3);
  EXPECT_EQ(Sql("SELECT count(*) FROM \"AXOSMP\""), "6");

  // Retention drops the whole days before the cutoff, and nothing else.
  axo::HistoryOptions r = Options();
  r.retainDays = 1;
  axo::HistoryCollector retaining;
  ASSERT_TRUE(retaining.Open(r, &error)) << error;
  EXPECT_EQ(retaining.CollectOnce(1796601600 + 12 * 3600), 3);  // cutoff 2026-12-06 12:00
  EXPECT_EQ(Partitions(), "AXOSMP_20261206,AXOSMP_20261207,AXOSMP_20261208");
  EXPECT_EQ(Sql("SELECT count(*) FROM \"AXOSMP\""), "4");
}

TEST_F(AxoHistoryPgTest, StartUpRefusesWhatCannotWorkAndStartsWithoutTheServer) {
  std::string error;
  axo::HistoryOptions o = Options();
  o.path = "postgresql://zep@127.0.0.1:notaport/x";
  EXPECT_FALSE(axo::HistoryCollector().Open(o, &error));
  EXPECT_NE(error.find("notaport"), std::string::npos) << error;
  o.path = "postgresql://nosuchrole@127.0.0.1:" + std::to_string(server_->port()) + "/" + db_;
  EXPECT_FALSE(axo::HistoryCollector().Open(o, &error));
  EXPECT_NE(error.find("nosuchrole"), std::string::npos) << error;
  // Nothing listens: the collector opens, and its rows wait.
  o.path = "postgresql://zep@127.0.0.1:" + std::to_string(pgtest::FreePort()) + "/" + db_;
  axo::HistoryCollector waiting;
  ASSERT_TRUE(waiting.Open(o, &error)) << error;
  EXPECT_EQ(waiting.CollectOnce(1796601600), -1);
  EXPECT_EQ(waiting.PendingRows(), 3u);

  // A warehouse of a newer schema stops start-up with the reason.
  ASSERT_EQ(Sql("CREATE TABLE zep_history_schema (version integer NOT NULL); "
                "INSERT INTO zep_history_schema VALUES (2)"),
            "");
  EXPECT_FALSE(axo::HistoryCollector().Open(Options(), &error));
  EXPECT_NE(error.find("schema version 2, newer than version 1"), std::string::npos) << error;
}

TEST_F(AxoHistoryPgTest, ALostConnectionKeepsRowsPendingUntilTheServerIsBack) {
  axo::HistoryCollector c;
  std::string error;
  ASSERT_TRUE(c.Open(Options(), &error)) << error;
  EXPECT_EQ(c.CollectOnce(1796601600), 3);
  ASSERT_TRUE(server_->Stop()) << server_->error();
  sampled_.rows.push_back(MakeRow("1261207110000000", 4, 400));
  EXPECT_EQ(c.CollectOnce(1796601700), -1);
  EXPECT_EQ(c.CollectOnce(1796601800), -1);
  EXPECT_EQ(c.PendingRows(), 8u);  // both samples kept
  ASSERT_TRUE(server_->Start()) << server_->error();
  EXPECT_EQ(c.CollectOnce(1796601900), 12);
  EXPECT_EQ(c.PendingRows(), 0u);
  EXPECT_EQ(Sql("SELECT count(*) FROM \"AXOSMP\""), "4");
}

}  // namespace
