// The history warehouse on a real SQLite file in a temporary directory.
#include "axo/history.h"

#include <gtest/gtest.h>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/http_api.h"
#include "e2e/e2e_support.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

class AxoHistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta", 2, 200)};
    db_ = dir_.path() + "/history.db";
  }

  void Register(const char* subnode) {
    ASSERT_EQ(AXO_Subnode_Register_nAff(subnode, "ZP", "01.01.00", 0), 0);
    ASSERT_EQ(AXO_Subnode_SendRequest(), 0);
  }

  bool Open(axo::HistoryCollector* c) {
    axo::HistoryOptions o;
    o.path = db_;
    o.tables = {"AXOSMP"};
    std::string error;
    bool ok = c->Open(o, &error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }

  Rows Read(const std::string& sql) {
    Rows rows;
    std::string error;
    EXPECT_TRUE(axo::HistoryReadQuery(db_, sql, &rows, &error)) << error;
    return rows;
  }

  TestManager sampled_{"AXOSMP", false};
  e2e::TempDir dir_;
  std::string db_;
};

TEST_F(AxoHistoryTest, EachCollectionAppendsOneHistoryRequestPerTable) {
  axo::HistoryCollector c;
  ASSERT_TRUE(Open(&c));
  EXPECT_EQ(c.CollectOnce(1143553569), 0);  // no subnode yet: nothing to ask for
  Register("ZP:00000001:h-s1");
  Register("ZP:00000002:h-s2");
  EXPECT_EQ(c.CollectOnce(1143553569), 2);
  EXPECT_EQ(c.CollectOnce(1143553869), 2);
  // One request naming every subnode.
  EXPECT_EQ(sampled_.log.subnodes, (std::vector<std::string>{"ZP:00000001:h-s1",
            "ZP:00000002:h-s2", "ZP:00000001:h-s1", "ZP:00000002:h-s2"}));

  Rows rows = Read("SELECT WRITETIME, NAME, SMALL, BIG, typeof(BIG) FROM AXOSMP ORDER BY rowid");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"1060328134609000", "alpha", "1", "100",
                                               "integer"}));
  EXPECT_EQ(rows[3][0], "1060328135109000");
  EXPECT_EQ(Read("PRAGMA journal_mode")[0][0], "wal");
}

TEST_F(AxoHistoryTest, AFailedWriteIsKeptAndWrittenWithTheNextSample) {
  // A table of the same name that refuses the rows (a column they do not fill).
  ASSERT_EQ(std::system(("sqlite3 '" + db_ + "' 'CREATE TABLE AXOSMP (WRITETIME TEXT, NAME TEXT,"
                         " SMALL INTEGER, BIG INTEGER, MUST TEXT NOT NULL)'")
                            .c_str()),
            0);
  axo::HistoryCollector c;
  ASSERT_TRUE(Open(&c));
  Register("ZP:00000001:h-s1");
  EXPECT_EQ(c.CollectOnce(1000000), -1);
  EXPECT_EQ(c.PendingRows(), 2u);
  EXPECT_EQ(Read("SELECT count(*) FROM AXOSMP")[0][0], "0");  // nothing half-written

  ASSERT_EQ(std::system(("sqlite3 '" + db_ + "' 'DROP TABLE AXOSMP'").c_str()), 0);
  EXPECT_EQ(c.CollectOnce(1000300), 4);  // the kept rows and the new sample
  EXPECT_EQ(c.PendingRows(), 0u);
  Rows rows = Read("SELECT WRITETIME, count(*) FROM AXOSMP GROUP BY WRITETIME ORDER BY 1");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], "2");
  EXPECT_EQ(rows[1][1], "2");
}

TEST_F(AxoHistoryTest, AnUnusableDatabaseIsRefusedAtOpen) {
  axo::HistoryCollector c;
  axo::HistoryOptions o;
  o.path = dir_.path() + "/no/such/dir/history.db";
  std::string error;
  EXPECT_FALSE(c.Open(o, &error));
  EXPECT_FALSE(error.empty());
  e2e::WriteFile(dir_.path() + "/junk.db", std::string(4096, 'j'));
  o.path = dir_.path() + "/junk.db";
  axo::HistoryCollector d;
  EXPECT_FALSE(d.Open(o, &error));
  EXPECT_EQ(d.CollectOnce(1), -1);
}

TEST(AxoHistoryTables, ParsesTheTableList) {
  EXPECT_EQ(axo::ParseTableList(" zepsmt , ,ZEPFLCT "),
            (std::vector<std::string>{"ZEPSMT", "ZEPFLCT"}));
  EXPECT_TRUE(axo::ParseTableList("").empty());
}

}  // namespace
