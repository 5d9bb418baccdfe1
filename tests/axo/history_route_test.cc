// GET /api/v1/history/{TABLE} on each back end: a SQLite file in a
// temporary directory and a real PostgreSQL server started by the test.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/history.h"
#include "axo/http_api.h"
#include "axo/pg_server.h"
#include "e2e/e2e_support.h"

namespace {

using json = nlohmann::ordered_json;

class AxoHistoryRouteTest : public ::testing::TestWithParam<bool> {
 protected:
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:00000001:r-s1", "ZP", "01.01.00", 0), 0);
    ASSERT_EQ(AXO_Subnode_SendRequest(), 0);
    // NAME holds each row's own time, as MSGTIME does for records.
    sampled_.rows = {MakeRow("1261205100000000", 1, 100), MakeRow("1261206100000000", 2, 200),
                     MakeRow("1261207100000000", 3, 300)};
    store_.tables = {"AXOSMP"};
    store_.keys = {{"AXOSMP", {}}};
    store_.timeColumns = {{"AXOSMP", "NAME"}};
    if (GetParam()) {
      if (server_ == nullptr) server_ = new pgtest::PgServer;
      ASSERT_EQ(server_->error(), "");
      std::string db = "r" + std::to_string(++databases_);
      ASSERT_EQ(server_->Psql("CREATE DATABASE " + db), "");
      store_.path = server_->Uri(db);
    } else {
      store_.path = dir_.path() + "/history.db";
    }
    std::string error;
    ASSERT_TRUE(collector_.Open(store_, &error)) << error;
    ASSERT_EQ(collector_.CollectOnce(1796601600), 3);
    axo::SetHistoryStoreForTesting(store_);
    axo::OperatorApiOptions o;
    o.port = 0;
    ASSERT_TRUE(api_.Start(o, &error)) << error;
  }
  void TearDown() override {
    api_.Stop();
    axo::SetHistoryStoreForTesting(axo::HistoryOptions());
  }

  e2e::HttpReply Get(const std::string& target) { return e2e::Http(api_.port(), "GET", target); }

  static inline pgtest::PgServer* server_ = nullptr;
  static inline int databases_ = 0;
  TestManager sampled_{"AXOSMP", false};
  e2e::TempDir dir_;
  axo::HistoryOptions store_;
  axo::HistoryCollector collector_;
  axo::OperatorApi api_;
};

TEST_P(AxoHistoryRouteTest, AnswersRowsOfTheRangeFilteredInTheTableRouteShape) {
  e2e::HttpReply r = Get("/api/v1/history/axosmp?from=2026-12-05T00:00:00Z&to=2026-12-07");
  ASSERT_EQ(r.status, 200) << r.body;
  json body = json::parse(r.body);
  EXPECT_EQ(body["count"], 2) << r.body;
  EXPECT_EQ(body["rows"][0].dump(),
            R"({"WRITETIME":"1261207000000000","NAME":"1261205100000000","SMALL":1,"BIG":100})");
  EXPECT_EQ(body["rows"][1]["NAME"], "1261206100000000");

  // Seconds since 1970, where terms ANDed, CSV.
  r = Get("/api/v1/history/AXOSMP?from=1796515200&to=2026-12-08T01:00:00%2B01:00"
          "&where=BIG%3E150&where=SMALL!%3D3&format=csv");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(r.body, "WRITETIME,NAME,SMALL,BIG\n1261207000000000,1261206100000000,2,200\n");
}

TEST_P(AxoHistoryRouteTest, RefusesWhatItCannotAnswerWithTheReason) {
  const std::string range = "from=2026-12-01&to=2026-12-08";
  struct Case {
    std::string target, reason;
  } cases[] = {
      {"/api/v1/history/NOSUCH?" + range, "no history of table NOSUCH"},
      {"/api/v1/history/AXOSMP?where=NOPE%3D1&" + range, "has no attribute NOPE"},
      {"/api/v1/history/AXOSMP?where=BIG%3Dabc&" + range, "holds integers"},
      {"/api/v1/history/AXOSMP?where=BIG~1&" + range, "bad where term"},
      {"/api/v1/history/AXOSMP?from=yesterday", "bad time for from"},
      {"/api/v1/history/AXOSMP?from=2026-12-07&to=2026-12-06", "time range is empty"},
      {"/api/v1/history/AXOSMP?limit=100001", "limit must be"},
      {"/api/v1/history/AXOSMP?limit=2&" + range, "more than 2 rows match"},
  };
  for (const Case& c : cases) {
    e2e::HttpReply r = Get(c.target);
    EXPECT_EQ(r.status, 400) << c.target << ": " << r.body;
    EXPECT_NE(r.body.find(c.reason), std::string::npos) << c.target << ": " << r.body;
  }
  // A name meant to reach SQL is only ever a name that is not there.
  e2e::HttpReply r = Get("/api/v1/history/AXOSMP?where=" +
                         e2e::UrlEncode("NAME=x' OR '1'='1") + "&" + range);
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(json::parse(r.body)["count"], 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, AxoHistoryRouteTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

}  // namespace
