// History rows keyed by content: a row delivered again is stored once,
// snapshot tables keep every sample, and a file written before the key is
// migrated on open. Real SQLite files in a temporary directory.
#include <gtest/gtest.h>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/history.h"
#include "axo/trk1.h"
#include "e2e/e2e_support.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

class AxoHistoryKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:00000001:k-s1", "ZP", "01.01.00", 0), 0);
    ASSERT_EQ(AXO_Subnode_SendRequest(), 0);
    db_ = dir_.path() + "/history.db";
  }

  // Opens `c` on the test file with AXOSMP keyed by `key` (no key: snapshot).
  void Open(axo::HistoryCollector* c, const std::vector<std::string>* key) {
    axo::HistoryOptions o;
    o.path = db_;
    o.tables = {"AXOSMP"};
    o.keys.clear();
    if (key != nullptr) o.keys["AXOSMP"] = *key;
    std::string error;
    ASSERT_TRUE(c->Open(o, &error)) << error;
  }

  Rows Read(const std::string& sql) {
    Rows rows;
    std::string error;
    EXPECT_TRUE(axo::HistoryReadQuery(db_, sql, &rows, &error)) << error;
    return rows;
  }

  // Runs `sql` through the sqlite3 shell, as an older agent's file was made.
  void Sqlite(const std::string& sql) {
    std::string script = dir_.path() + "/script.sql";
    e2e::WriteFile(script, sql);
    ASSERT_EQ(std::system(("sqlite3 '" + db_ + "' < '" + script + "'").c_str()), 0) << sql;
  }

  TestManager sampled_{"AXOSMP", false};
  e2e::TempDir dir_;
  std::string db_;
  const std::vector<std::string> everyColumn_;  // every column but WRITETIME
};

TEST_F(AxoHistoryKeysTest, ARowDeliveredAgainIsStoredOnceAcrossRestarts) {
  // Two identical records make one row.
  sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta", 2, 200), MakeRow("alpha", 1, 100)};
  {
    axo::HistoryCollector c;
    Open(&c, &everyColumn_);
    EXPECT_EQ(c.CollectOnce(1000000), 3);
    EXPECT_EQ(c.CollectOnce(1000300), 3);  // the same rows again, a later WRITETIME
  }
  sampled_.rows.push_back(MakeRow("alpha", 1, 101));  // differs in one column: a new row
  axo::HistoryCollector restarted;
  Open(&restarted, &everyColumn_);
  EXPECT_EQ(restarted.CollectOnce(1000600), 4);
  EXPECT_EQ(Read("SELECT NAME, BIG, WRITETIME FROM AXOSMP ORDER BY rowid"),
            (Rows{{"alpha", "100", "0700112134640000"},
                  {"beta", "200", "0700112134640000"},
                  {"alpha", "101", "0700112135640000"}}));
}

TEST_F(AxoHistoryKeysTest, AKeyOfNamedColumnsKeepsTheFirstRowOfThatKey) {
  const std::vector<std::string> key = {"NAME", "SMALL"};
  axo::HistoryCollector c;
  Open(&c, &key);
  sampled_.rows = {MakeRow("alpha", 1, 100)};
  EXPECT_EQ(c.CollectOnce(1000000), 1);
  sampled_.rows = {MakeRow("alpha", 1, 150), MakeRow("alpha", 2, 150)};
  EXPECT_EQ(c.CollectOnce(1000300), 2);
  EXPECT_EQ(Read("SELECT NAME, SMALL, BIG FROM AXOSMP ORDER BY rowid"),
            (Rows{{"alpha", "1", "100"}, {"alpha", "2", "150"}}));
}

TEST_F(AxoHistoryKeysTest, ASnapshotTableKeepsEverySample) {
  sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("alpha", 1, 100)};
  axo::HistoryCollector c;
  Open(&c, nullptr);
  EXPECT_EQ(c.CollectOnce(1000000), 2);
  EXPECT_EQ(c.CollectOnce(1000000), 2);  // even within one second
  EXPECT_EQ(Read("SELECT count(*) FROM AXOSMP")[0][0], "4");
  EXPECT_TRUE(Read("SELECT name FROM sqlite_master WHERE type='index'").empty());
}

TEST_F(AxoHistoryKeysTest, DuplicatesOfAnOlderFileAreRemovedOnOpenFirstKept) {
  Sqlite("CREATE TABLE AXOSMP (WRITETIME TEXT, NAME TEXT, SMALL INTEGER, BIG INTEGER);"
         "INSERT INTO AXOSMP VALUES ('t1','alpha',1,100),('t1','beta',2,200),"
         "('t2','alpha',1,100),('t3','alpha',1,100),('t3','beta',2,200),"
         "('t3','gamma',3,300);");
  TRK1_Capture trace;
  {
    axo::HistoryCollector c;
    Open(&c, &everyColumn_);
  }
  EXPECT_EQ(trace.count("AXOSMP: 3 duplicate rows removed"), 1) << ::testing::PrintToString(
      trace.messages());
  EXPECT_EQ(Read("SELECT WRITETIME, NAME FROM AXOSMP ORDER BY rowid"),
            (Rows{{"t1", "alpha"}, {"t1", "beta"}, {"t3", "gamma"}}));

  // Keyed now: a second open finds nothing to do, and the key holds.
  trace.clear();
  axo::HistoryCollector again;
  Open(&again, &everyColumn_);
  sampled_.rows = {MakeRow("gamma", 3, 300)};
  EXPECT_EQ(again.CollectOnce(1000000), 1);
  EXPECT_EQ(trace.count("duplicate rows removed"), 0);
  EXPECT_EQ(Read("SELECT count(*) FROM AXOSMP")[0][0], "3");
}

TEST_F(AxoHistoryKeysTest, AColumnAddedLaterWidensAnEveryColumnKey) {
  Sqlite("CREATE TABLE AXOSMP (WRITETIME TEXT, NAME TEXT, SMALL INTEGER);"
         "INSERT INTO AXOSMP VALUES ('t1','alpha',1);");
  axo::HistoryCollector c;
  Open(&c, &everyColumn_);
  sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("alpha", 1, 200)};
  EXPECT_EQ(c.CollectOnce(1000000), 2);
  EXPECT_EQ(c.CollectOnce(1000300), 2);
  EXPECT_EQ(Read("SELECT count(*) FROM AXOSMP")[0][0], "3");  // BIG is part of the key
}

}  // namespace
