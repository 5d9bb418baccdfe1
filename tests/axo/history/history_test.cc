// The history writer and GET /api/v1/history/{TABLE} on both back ends (a
// SQLite file in a temporary directory and a real PostgreSQL server started
// by the test), then what only one back end does.
#include "axo/history/history.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "axo/api/http_api.h"
#include "axo/base/trk1.h"
#include "axo/history/pg_server.h"
#include "axo/history/postgres/postgres.h"
#include "axo/history/sqlite/sqlite.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/requests/test_table.h"
#include "support/e2e_support.h"

namespace {

using json = nlohmann::ordered_json;

// NAME holds each row's own time, as MSGTIME does for records: 2026-12-05,
// 06 and 07 at 10:00. kNow is 2026-12-07 00:00 (WRITETIME 1261207000000000).
const char* const kDay5 = "1261205100000000";
const char* const kDay6 = "1261206100000000";
const char* const kDay7 = "1261207100000000";
constexpr time_t kNow = 1796601600;

::testing::AssertionResult Ok(const axo::Status& s) {
  return s.ok() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << s.message();
}

// The rows of AXOSMP waiting for a retry, as the operator sees them.
size_t PendingRows() {
  namespace m = axo::metrics;
  return static_cast<size_t>(m::Define(m::Kind::kGauge, "zep_history_rows_pending", "", {"table"})
                                 .gauge({"AXOSMP"})
                                 .Value());
}

class HistoryTest : public ::testing::Test {
 protected:
  explicit HistoryTest(bool pg = false) : pg_(pg) {}
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:00000001:h-s1", "ZP", "01.01.00", 0), 0);
    ASSERT_EQ(AXO_Subnode_SendRequest(), 0);
    sampled_.rows = {MakeRow(kDay5, 1, 100), MakeRow(kDay6, 2, 200), MakeRow(kDay7, 3, 300)};
    store_.tables = {"AXOSMP"};
    store_.keys = {{"AXOSMP", {}}};
    store_.timeColumns = {{"AXOSMP", "NAME"}};
    store_.reconnectMaxMillis = 0;
    store_.agentNode = "agent-a";
    if (!pg_) {
      store_.path = dir_.path() + "/history.db";
      return;
    }
    if (server_ == nullptr) server_ = new pgtest::PgServer;
    ASSERT_EQ(server_->error(), "");
    db_ = "t" + std::to_string(++databases_);  // each test on a database of its own
    ASSERT_EQ(server_->Psql("CREATE DATABASE " + db_), "");
    store_.path = server_->Uri(db_);
  }
  void TearDown() override {
    axo::SetHistoryStoreForTesting(axo::HistoryOptions());
    AXO_ResetForTesting();
  }

  void Open(axo::HistoryCollector* c, const axo::HistoryOptions& o) { ASSERT_TRUE(Ok(c->Open(o))); }

  // The rows `sql` reads from the store: fields split by '|', rows by '\n'.
  std::string Sql(const std::string& sql) {
    if (pg_) return server_->Psql(sql, db_);
    std::vector<std::vector<std::string>> rows;
    std::string out;
    if (axo::Status s = axo::HistoryReadQuery(store_.path, sql, &rows); !s.ok()) {
      return "ERROR: " + s.message();
    }
    for (const auto& row : rows) {
      if (!out.empty()) out += '\n';
      for (size_t i = 0; i < row.size(); ++i) out += (i > 0 ? "|" : "") + row[i];
    }
    return out;
  }

  // Breaks the store for writes (a read-only file, a stopped server) or mends it.
  void Break(axo::HistoryCollector* c, bool broken) {
    if (pg_) {
      ASSERT_TRUE(broken ? server_->Stop() : server_->Start()) << server_->error();
    } else {
      ASSERT_TRUE(Ok(c->ReopenForTesting(broken)));
    }
  }

  static inline pgtest::PgServer* server_ = nullptr;
  static inline int databases_ = 0;
  const bool pg_;
  TestManager sampled_{"AXOSMP", false};
  TestManager named_{"AXOKEY", false};
  TestManager snapshot_{"AXOSNP", false};
  e2e::TempDir dir_;
  std::string db_;
  axo::HistoryOptions store_;
};

class AxoHistoryTest : public HistoryTest, public ::testing::WithParamInterface<bool> {
 protected:
  AxoHistoryTest() : HistoryTest(GetParam()) {}
};

// Exactly once: a keyed row delivered again (in one sample, the next sample,
// after a restart) is stored once; a key of named columns keeps the first row
// of that key; a snapshot table keeps every sample.
TEST_P(AxoHistoryTest, KeyedRowsAreStoredOnceAndSnapshotRowsEverySample) {
  ASSERT_EQ(TableManager::RegisterWithManager(&named_), 0u);
  ASSERT_EQ(TableManager::RegisterWithManager(&snapshot_), 0u);
  store_.tables = {"AXOSMP", "AXOKEY", "AXOSNP"};
  store_.keys = {{"AXOSMP", {}}, {"AXOKEY", {"NAME", "SMALL"}}};
  store_.timeColumns = {{"AXOSMP", "NAME"}, {"AXOKEY", "NAME"}, {"AXOSNP", "NAME"}};
  sampled_.rows = {MakeRow(kDay5, 1, 100), MakeRow(kDay6, 2, 200), MakeRow(kDay5, 1, 100)};
  named_.rows = {MakeRow(kDay5, 1, 100)};
  snapshot_.rows = {MakeRow(kDay5, 1, 100), MakeRow(kDay5, 1, 100)};
  {
    axo::HistoryCollector c;
    Open(&c, store_);
    EXPECT_EQ(c.CollectOnce(kNow), 6);
    named_.rows = {MakeRow(kDay5, 1, 150), MakeRow(kDay5, 2, 150)};
    EXPECT_EQ(c.CollectOnce(kNow), 7);  // even within one second
  }
  sampled_.rows.push_back(MakeRow(kDay5, 1, 101));  // differs in one column: a new row
  axo::HistoryCollector restarted;
  Open(&restarted, store_);
  EXPECT_EQ(restarted.CollectOnce(kNow + 300), 8);
  EXPECT_EQ(Sql("SELECT \"NAME\", \"BIG\", \"WRITETIME\" FROM \"AXOSMP\" ORDER BY 1, 2"),
            "1261205100000000|100|1261207000000000\n1261205100000000|101|1261207000500000\n"
            "1261206100000000|200|1261207000000000");
  EXPECT_EQ(Sql("SELECT \"SMALL\", \"BIG\" FROM \"AXOKEY\" ORDER BY 1"), "1|100\n2|150");
  EXPECT_EQ(Sql("SELECT count(*) FROM \"AXOSNP\""), "6");
}

// A store that refuses writes for a while: the failure is traced once, the
// rows wait within their bound (the oldest dropped), and when the store is
// back they are written once each.
TEST_P(AxoHistoryTest, RowsWaitThroughAnOutageWithinTheirBoundAndAreWrittenOnceAfter) {
  store_.maxPendingRows = 6;
  axo::HistoryCollector c;
  Open(&c, store_);
  EXPECT_EQ(c.CollectOnce(kNow), 3);
  Break(&c, true);
  TRK1_Capture trace;
  sampled_.rows.push_back(MakeRow("1261207110000000", 4, 400));
  EXPECT_EQ(c.CollectOnce(kNow + 100), -1);  // three rows stored already, one new
  for (TestRow& r : sampled_.rows) r.big += 1000;
  EXPECT_EQ(c.CollectOnce(kNow + 200), -1);
  EXPECT_EQ(PendingRows(), 6u);
  EXPECT_EQ(trace.count("AXO0202E"), 1) << ::testing::PrintToString(trace.messages());
  EXPECT_EQ(trace.count("AXO0204E"), 1) << ::testing::PrintToString(trace.messages());
  Break(&c, false);
  for (TestRow& r : sampled_.rows) r.big += 1000;
  EXPECT_EQ(c.CollectOnce(kNow + 300), 10);
  EXPECT_EQ(trace.count("AXO0208I"), 1) << ::testing::PrintToString(trace.messages());
  // The two dropped rows were stored before; none of the later ones is lost.
  EXPECT_EQ(Sql("SELECT \"BIG\" FROM \"AXOSMP\" ORDER BY 1"),
            "100\n200\n300\n400\n1100\n1200\n1300\n1400\n2100\n2200\n2300\n2400");
}

// The waiting rows are bounded by their memory too: past it the oldest go,
// and every dropped row is counted.
TEST_P(AxoHistoryTest, RowsWaitWithinTheirMemoryBoundAndDroppedRowsAreCounted) {
  store_.maxPendingBytes = 1;  // less than one row
  axo::HistoryCollector c;
  Open(&c, store_);
  Break(&c, true);
  namespace m = axo::metrics;
  m::Counter& dropped =
      m::Define(m::Kind::kCounter, "zep_history_rows_dropped_total", "", {"table"})
          .counter({"AXOSMP"});
  const double before = dropped.Value();
  EXPECT_EQ(c.CollectOnce(kNow), -1);
  EXPECT_EQ(PendingRows(), 0u);
  EXPECT_EQ(dropped.Value() - before, 3);
  Break(&c, false);  // the server serves the suite's next test
}

// The route answers the rows of the range, filtered, in the table route's
// shape, and refuses what it cannot answer with the reason.
TEST_P(AxoHistoryTest, TheRouteAnswersRowsOfTheRangeAndRefusesWithTheReason) {
  axo::HistoryCollector collector;
  Open(&collector, store_);
  ASSERT_EQ(collector.CollectOnce(kNow), 3);
  axo::SetHistoryStoreForTesting(store_);
  axo::api::OperatorApi api;
  axo::api::OperatorApiOptions o;
  o.port = 0;
  ASSERT_TRUE(Ok(api.Start(o)));
  auto Get = [&](const std::string& target) { return e2e::Http(api.port(), "GET", target); };

  e2e::HttpReply r = Get("/api/v1/history/axosmp?from=2026-12-05T00:00:00Z&to=2026-12-07");
  ASSERT_EQ(r.status, 200) << r.body;
  json body = json::parse(r.body);
  EXPECT_EQ(body["count"], 2) << r.body;
  EXPECT_EQ(body["rows"][0].dump(),
            R"({"WRITETIME":"1261207000000000","NAME":"1261205100000000","SMALL":1,"BIG":100})");
  EXPECT_EQ(body["rows"][1]["NAME"], kDay6);

  // Seconds since 1970, where terms ANDed, CSV.
  r =
      Get("/api/v1/history/AXOSMP?from=1796515200&to=2026-12-08T01:00:00%2B01:00"
          "&where=BIG%3E150&where=SMALL!%3D3&format=csv");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body, "WRITETIME,NAME,SMALL,BIG\n1261207000000000,1261206100000000,2,200\n");

  const std::string range = "from=2026-12-01&to=2026-12-08";
  struct Case {
    std::string target, reason;
  } cases[] = {
      {"/api/v1/history/AXOKEY?" + range, "no history of table AXOKEY"},
      {"/api/v1/history/AXOSMP?where=NOPE%3D1&" + range, "has no attribute NOPE"},
      {"/api/v1/history/AXOSMP?where=BIG%3Dabc&" + range, "holds integers"},
      {"/api/v1/history/AXOSMP?from=yesterday", "bad time for from"},
      {"/api/v1/history/AXOSMP?from=2026-12-07&to=2026-12-06", "time range is empty"},
      {"/api/v1/history/AXOSMP?limit=100001", "limit must be"},
      {"/api/v1/history/AXOSMP?limit=2&" + range, "more than 2 rows match"},
  };
  ASSERT_EQ(TableManager::RegisterWithManager(&named_), 0u);  // published, not collected
  for (const Case& c : cases) {
    r = Get(c.target);
    EXPECT_EQ(r.status, 400) << c.target << ": " << r.body;
    EXPECT_NE(r.body.find(c.reason), std::string::npos) << c.target << ": " << r.body;
  }
  // A name meant to reach SQL is only ever a name that is not there.
  r = Get("/api/v1/history/AXOSMP?where=" + e2e::UrlEncode("NAME=x' OR '1'='1") + "&" + range);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(json::parse(r.body)["count"], 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, AxoHistoryTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

// --- SQLite only ---------------------------------------------------------------

using AxoHistorySqliteTest = HistoryTest;

// A file that is not a database is refused at open, not at the first write;
// so is a symbolic link, whose target stays as it was. (A path that cannot
// be created: the agent's start-up test.)
TEST_F(AxoHistorySqliteTest, AFileThatIsNotADatabaseIsRefusedAtOpen) {
  e2e::WriteFile(store_.path, std::string(4096, 'j'));
  axo::HistoryCollector c;
  std::string error = c.Open(store_).message();
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(c.CollectOnce(1), -1);

  const std::string target = dir_.path() + "/target";
  e2e::WriteFile(target, "");
  std::remove(store_.path.c_str());
  ASSERT_EQ(symlink(target.c_str(), store_.path.c_str()), 0);
  error = c.Open(store_).message();
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_TRUE(e2e::ReadFile(target).empty());
}

// Integers are stored as integers, in a WAL file. A write that fails
// part-way (the disk fills) leaves nothing of its sample, which is written
// whole when space returns.
TEST_F(AxoHistorySqliteTest, AFullDiskWritesEachSampleWholeWhenSpaceReturns) {
  constexpr int kRows = 200;  // enough to need new pages; the sample's number in BIG
  sampled_.rows.clear();
  for (int i = 0; i < kRows; ++i) {
    sampled_.rows.push_back(MakeRow(("row" + std::to_string(i)).c_str(), i, 1));
  }
  // A snapshot table: a sample half written and then retried would show twice.
  store_.keys.clear();
  store_.timeColumns.clear();
  axo::HistoryCollector c;
  Open(&c, store_);
  ASSERT_EQ(c.CollectOnce(1000000), kRows);
  EXPECT_EQ(Sql("SELECT typeof(SMALL), typeof(BIG) FROM AXOSMP LIMIT 1"), "integer|integer");
  EXPECT_EQ(Sql("PRAGMA journal_mode"), "wal");
  ASSERT_TRUE(Ok(c.ExecForTesting("PRAGMA max_page_count=" + Sql("PRAGMA page_count"))));
  TRK1_Capture trace;
  for (TestRow& r : sampled_.rows) r.big = 2;
  EXPECT_EQ(c.CollectOnce(1000002), -1);
  EXPECT_TRUE(trace.contains("full")) << ::testing::PrintToString(trace.messages());
  EXPECT_EQ(PendingRows(), static_cast<size_t>(kRows));

  ASSERT_TRUE(Ok(c.ExecForTesting("PRAGMA max_page_count=1000000")));
  for (TestRow& r : sampled_.rows) r.big = 3;
  EXPECT_EQ(c.CollectOnce(1000003), 2 * kRows);
  EXPECT_EQ(Sql("SELECT group_concat(BIG || ':' || n) FROM (SELECT BIG, count(*) n FROM "
                "AXOSMP GROUP BY BIG ORDER BY BIG)"),
            "1:200,2:200,3:200");
}

// A file an older agent wrote without a key: its duplicates are removed on
// open (the first kept), and a column added later widens the key.
TEST_F(AxoHistorySqliteTest, AnOlderFileIsMigratedOnOpen) {
  const std::string old =
      "CREATE TABLE AXOSMP (WRITETIME TEXT, NAME TEXT, SMALL INTEGER);"
      "INSERT INTO AXOSMP VALUES ('t1','1261205100000000',1),"
      "('t1','1261206100000000',2),('t2','1261205100000000',1),"
      "('t3','1261205100000000',1),('t3','1261207100000000',3);";
  ASSERT_EQ(std::system(("sqlite3 '" + store_.path + "' \"" + old + "\"").c_str()), 0);
  TRK1_Capture trace;
  {
    axo::HistoryCollector c;
    Open(&c, store_);
  }
  EXPECT_EQ(trace.count("AXOSMP: 2 duplicate rows removed"), 1)
      << ::testing::PrintToString(trace.messages());
  EXPECT_EQ(Sql("SELECT WRITETIME, SMALL FROM AXOSMP ORDER BY rowid"), "t1|1\nt1|2\nt3|3");

  // Keyed now: BIG, a column added later, is part of the key.
  axo::HistoryCollector again;
  Open(&again, store_);
  sampled_.rows = {MakeRow(kDay5, 1, 100), MakeRow(kDay5, 1, 200), MakeRow(kDay5, 1, 200)};
  EXPECT_EQ(again.CollectOnce(kNow), 3);
  EXPECT_EQ(Sql("SELECT count(*) FROM AXOSMP"), "5");
}

// --- PostgreSQL only -----------------------------------------------------------

class AxoHistoryPgTest : public HistoryTest {
 protected:
  AxoHistoryPgTest() : HistoryTest(true) {}
  std::string Partitions() {
    return Sql(
        "SELECT string_agg(c.relname, ',' ORDER BY c.relname) FROM pg_inherits i JOIN "
        "pg_class c ON c.oid = i.inhrelid WHERE c.relkind = 'r'");
  }
};

TEST_F(AxoHistoryPgTest, RowsArePartitionedByDayPerAgentAndRetainedByWholeDays) {
  axo::HistoryCollector c;
  Open(&c, store_);
  EXPECT_EQ(c.CollectOnce(kNow), 3);
  // The row's own time is the partition key; each day has its partition,
  // and the day after the write is made ahead.
  EXPECT_EQ(Sql("SELECT \"ROWTIME\", \"AGENTNODE\", \"SMALL\", \"BIG\" FROM \"AXOSMP\" ORDER BY 1"
                " LIMIT 1"),
            "2026-12-05 10:00:00+00|agent-a|1|100");
  EXPECT_EQ(Partitions(), "AXOSMP_20261205,AXOSMP_20261206,AXOSMP_20261207,AXOSMP_20261208");

  // Another agent's identical rows are its own.
  axo::HistoryOptions b = store_;
  b.agentNode = "agent-b";
  axo::HistoryCollector other;
  Open(&other, b);
  EXPECT_EQ(other.CollectOnce(kNow + 100), 3);
  EXPECT_EQ(Sql("SELECT count(*) FROM \"AXOSMP\""), "6");

  // Retention drops the whole days before the cutoff, and nothing else.
  axo::HistoryOptions r = store_;
  r.retainDays = 1;
  axo::HistoryCollector retaining;
  Open(&retaining, r);
  EXPECT_EQ(retaining.CollectOnce(kNow + 12 * 3600), 3);  // cutoff 2026-12-06 12:00
  EXPECT_EQ(Partitions(), "AXOSMP_20261206,AXOSMP_20261207,AXOSMP_20261208");
  EXPECT_EQ(Sql("SELECT count(*) FROM \"AXOSMP\""), "4");
}

// A sample sent to the server in several pieces, delivered again with one
// new row: the server refuses the copy while pieces are still on their way,
// and every row is stored once, the new one too.
TEST_F(AxoHistoryPgTest, ALargeSampleDeliveredAgainIsStoredOnce) {
  sampled_.rows.clear();
  for (int i = 0; i < 10000; ++i) sampled_.rows.push_back(MakeRow(kDay6, i % 100, i));
  axo::HistoryCollector c;
  Open(&c, store_);
  EXPECT_EQ(c.CollectOnce(kNow), 10000);
  sampled_.rows.push_back(MakeRow(kDay6, 1, -1));
  EXPECT_EQ(c.CollectOnce(kNow + 300), 10001);
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT \"BIG\") FROM \"AXOSMP\""), "10001|10001");
}

TEST_F(AxoHistoryPgTest, StartUpRefusesWhatCannotWorkAndStartsWithoutTheServer) {
  std::string error;
  axo::HistoryOptions o = store_;
  // A keyword/value string libpq refuses is no file name: nothing is made.
  o.path = "host=127.0.0.1 dbnme=x";
  error = axo::HistoryCollector().Open(o).message();
  EXPECT_NE(error.find("invalid connection option \"dbnme\""), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(o.path));
  // Nothing listens: the collector opens, and its rows wait.
  o.path = "postgresql://zep@127.0.0.1:" + std::to_string(pgtest::FreePort()) + "/" + db_;
  axo::HistoryCollector waiting;
  Open(&waiting, o);
  EXPECT_EQ(waiting.CollectOnce(kNow), -1);
  EXPECT_EQ(PendingRows(), 3u);

  // A warehouse of a newer schema stops start-up with the reason.
  ASSERT_EQ(Sql("CREATE TABLE zep_history_schema (version integer NOT NULL); "
                "INSERT INTO zep_history_schema VALUES (2)"),
            "");
  error = axo::HistoryCollector().Open(store_).message();
  EXPECT_NE(error.find("schema version 2, newer than version 1"), std::string::npos) << error;
}

// A primary and its streaming standby, the warehouse's usual replication.
class AxoHistoryReplicaTest : public HistoryTest {
 protected:
  void SetUp() override {
    HistoryTest::SetUp();
    ASSERT_EQ(TableManager::RegisterWithManager(&snapshot_), 0u);
    snapshot_.rows = {MakeRow(kDay5, 1, 100), MakeRow(kDay5, 1, 100)};
    store_.tables = {"AXOSMP", "AXOSNP"};
    store_.timeColumns = {{"AXOSMP", "NAME"}, {"AXOSNP", "NAME"}};
    ASSERT_EQ(a_.error(), "");
    ASSERT_EQ(b_.error(), "");
    ASSERT_EQ(OnPrimary("SELECT state FROM pg_stat_replication WHERE application_name = 'pgb'",
                        "streaming"),
              "streaming");
  }
  // What `sql` reads on the primary, once it reads `want` (or 30 s passed).
  std::string OnPrimary(const std::string& sql, const std::string& want) {
    e2e::Eventually(30, [&] { return a_.Psql(sql) == want; });
    return a_.Psql(sql);
  }

  pgtest::PgServer a_{"pga"};
  pgtest::PgServer b_{a_, "pgb"};
};

// A synchronous standby stopped: a commit on the primary waits for ever,
// so the write gives up at its deadline, dropping the connection, and its
// rows wait. When the standby is back, the rows committed on the primary
// alone and their retry make one copy each, keyed or not (a snapshot
// sample is known by its sample id). (Failover, switchover, a cut link and
// a stopped standby with the real formation: the fleet's.)
TEST_F(AxoHistoryReplicaTest, AWriteGivesUpAtItsDeadlineAndItsRetryIsStoredOnce) {
  store_.path = a_.Uri();
  store_.writeTimeoutSeconds = 1;
  axo::HistoryCollector c;
  Open(&c, store_);
  ASSERT_EQ(c.CollectOnce(kNow), 5);
  a_.Psql("ALTER SYSTEM SET synchronous_standby_names = 'FIRST 1 (pgb)'");
  a_.Psql("SELECT pg_reload_conf()");
  ASSERT_EQ(OnPrimary("SELECT sync_state FROM pg_stat_replication", "sync"), "sync");
  ASSERT_TRUE(b_.Stop()) << b_.error();
  sampled_.rows.push_back(MakeRow(kDay7, 4, 400));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.CollectOnce(kNow + 300), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(PendingRows(), 4u);
  ASSERT_TRUE(b_.Start()) << b_.error();
  EXPECT_TRUE(e2e::Eventually(30, [&] { return c.RetryPending() >= 0; }));
  EXPECT_EQ(a_.Psql("SELECT count(*), count(DISTINCT \"BIG\") FROM \"AXOSMP\""), "4|4");
  EXPECT_EQ(a_.Psql("SELECT count(*), count(DISTINCT \"SAMPLEID\") FROM \"AXOSNP\""), "4|2");
}

// A table without a key that an older agent made gains its sample columns
// in place; a sample written twice (a retry after a commit whose outcome
// was unknown) is stored once, and the old rows stay.
TEST_F(AxoHistoryPgTest, AnOlderUnkeyedTableIsUpgradedInPlaceAndARetriedSampleStoredOnce) {
  ASSERT_EQ(Sql("CREATE TABLE \"AXOSNP\" (\"ROWTIME\" timestamptz NOT NULL, \"AGENTNODE\" text "
                "NOT NULL, \"WRITETIME\" text NOT NULL, \"NAME\" text, \"SMALL\" bigint, "
                "\"BIG\" bigint) PARTITION BY RANGE (\"ROWTIME\"); CREATE TABLE "
                "\"AXOSNP_20261205\" PARTITION OF \"AXOSNP\" FOR VALUES FROM ('2026-12-05') TO "
                "('2026-12-06'); INSERT INTO \"AXOSNP\" VALUES ('2026-12-05 10:00+00', 'agent-a', "
                "'1261205100000000', '1261205100000000', 1, 100), ('2026-12-05 10:00+00', "
                "'agent-a', '1261205100000000', '1261205100000000', 1, 100)"),
            "");
  store_.keys.clear();
  store_.timeColumns = {{"AXOSNP", "NAME"}};
  auto writer = axo::NewPostgresHistoryWriter();
  ASSERT_TRUE(Ok(writer->Open(store_)));
  std::vector<axo::HistoryRow> rows;
  for (int i = 0; i < 2; ++i) {
    axo::HistoryRow r{"1261207000000000", {}, 42, i};
    r.row = {{"NAME", axo::Value{true, kDay5, 0}},
             {"SMALL", axo::Value{false, "", 1}},
             {"BIG", axo::Value{false, "", 100}}};
    rows.push_back(r);
  }
  ASSERT_TRUE(Ok(writer->Write("AXOSNP", rows)));
  ASSERT_TRUE(Ok(writer->Write("AXOSNP", rows)));
  EXPECT_EQ(Sql("SELECT count(*), count(\"SAMPLEID\") FROM \"AXOSNP\""), "4|2");
}

// Every form of password is masked, and so is a password a message quotes
// without its keyword. (The start-up trace: the warehouse's end-to-end test.)
TEST(AxoHistoryMaskTest, EveryFormOfPasswordIsMasked) {
  struct Case {
    std::string text, masked;
  } cases[] = {
      {"postgresql://zep:pw1@h:5432/db", "postgresql://zep:***@h:5432/db"},
      {"postgres://zep@h,k/db?sslmode=require&password=pw2&x=1",
       "postgres://zep@h,k/db?sslmode=require&password=***&x=1"},
      {"host=h password = 'p w\\'3' dbname=db", "host=h password = *** dbname=db"},
      {"host=h password=pw4", "host=h password=***"},
  };
  for (const Case& c : cases) EXPECT_EQ(axo::MaskPasswords(c.text), c.masked) << c.text;
  EXPECT_EQ(axo::MaskPasswords("invalid token: \"se%zcret\"", "postgresql://h/?password=se%zcret"),
            "invalid token: \"***\"");
}

}  // namespace
