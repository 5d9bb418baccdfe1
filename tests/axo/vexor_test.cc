// Samplers: comparisons, filters, the filter terms a sampler reads, the row
// buffer, handles and the table registry.
#include "axo/vexor.h"

#include <gtest/gtest.h>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/request.h"
#include "axo/trk1.h"

namespace {

class AxoVexorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&table_), 0u);
    table_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta", 2, 200), MakeRow("gamma  x", 3, -5)};
  }
  void TearDown() override { axo::resetSituationsForTesting(); }

  // Runs a query and returns the NAME column of each row, joined by ",".
  std::string Names(std::vector<axo::FilterTerm> terms) {
    axo::Query q;
    q.table = "AXOVT";
    q.terms = std::move(terms);
    std::vector<axo::Row> rows;
    std::string error;
    EXPECT_EQ(axo::runQuery(q, &rows, &error), axo::kOk) << error;
    std::string out;
    for (const axo::Row& r : rows) out += (out.empty() ? "" : ",") + r[0].second.text;
    return out;
  }

  TestManager table_{"AXOVT", false};
  RequestDetail request_;
  ContextInfo context_;
};

TEST_F(AxoVexorTest, IntegerComparisonsFollowEachOperator) {
  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  struct Case { _IntfOper op; int value; const char* threshold; unsigned expected; };
  const Case cases[] = {
      {FQX1_EQ, 5, "5", 1}, {FQX1_EQ, 5, "6", 0}, {FQX1_NE, 5, "6", 1}, {FQX1_NE, 5, "5", 0},
      {FQX1_GT, 6, "5", 1}, {FQX1_GT, 5, "5", 0}, {FQX1_GE, 5, "5", 1}, {FQX1_GE, 4, "5", 0},
      {FQX1_LT, 4, "5", 1}, {FQX1_LT, 5, "5", 0}, {FQX1_LE, 5, "5", 1}, {FQX1_LE, 6, "5", 0},
      {FQX1_EQ, -7, "-7", 1}, {FQX1_EQ, 5, "5x", 0}, {FQX1_EQ, 0, "", 0},
      {static_cast<_IntfOper>(99), 5, "5", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(v.IsException(c.op, c.value, c.threshold), c.expected)
        << c.op << " " << c.value << " " << c.threshold;
    EXPECT_EQ(v.IsException(c.op, static_cast<short>(c.value), c.threshold), c.expected);
  }
  EXPECT_EQ(v.IsException(FQX1_GT, static_cast<short>(-32768), "-32769"), 1u);
}

TEST_F(AxoVexorTest, TextComparisonIgnoresTrailingBlanksOfTheColumnOnly) {
  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  const char column[8] = {'a', 'b', 'c', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(v.IsException(FQX1_EQ, column, "abc", 8), 1u);
  EXPECT_EQ(v.IsException(FQX1_EQ, column, "abc ", 8), 0u);   // the value as given
  EXPECT_EQ(v.IsException(FQX1_NE, column, "abd", 8), 1u);
  EXPECT_EQ(v.IsException(FQX1_LT, column, "abd", 8), 1u);
  EXPECT_EQ(v.IsException(FQX1_GT, column, "ab", 8), 1u);
  EXPECT_EQ(v.IsException(FQX1_LE, column, "abb", 8), 0u);
  const char blank[4] = {' ', ' ', ' ', ' '};
  EXPECT_EQ(v.IsException(FQX1_EQ, blank, "", 4), 1u);
  EXPECT_EQ(v.IsException(FQX1_EQ, column, nullptr, 8), 0u);
}

TEST_F(AxoVexorTest, FilterTermsCombineWithAndUnlessOr) {
  EXPECT_EQ(Names({}), "alpha,beta,gamma  x");
  EXPECT_EQ(Names({{"big", ">=", "100"}, {"SMALL", "<", "2"}}), "alpha");
  EXPECT_EQ(Names({{"NAME", "=", "gamma  x"}}), "gamma  x");
  EXPECT_EQ(Names({{"NAME", "!=", "beta"}}), "alpha,gamma  x");
  // (SMALL = 1 AND BIG = 999) OR NAME = beta OR (BIG < 0 AND SMALL = 3)
  EXPECT_EQ(Names({{"SMALL", "=", "1"},
                   {"BIG", "=", "999"},
                   {"NAME", "=", "beta", true},
                   {"BIG", "<", "0", true},
                   {"SMALL", "=", "3"}}),
            "beta,gamma  x");
}

TEST_F(AxoVexorTest, GetFilterInfoStartsAgainAfterTheLastTerm) {
  axo::Query q;
  q.table = "AXOVT";
  q.terms = {{"NAME", "=", "alpha"}, {"SMALL", ">", "0"}, {"BIG", "<=", "7"}};
  std::vector<axo::Row> rows;
  std::string error;
  ASSERT_EQ(axo::runQuery(q, &rows, &error), axo::kOk) << error;
  const std::vector<std::string> expected = {"NAME 10 460 5", "SMALL 6 500 2", "BIG 4 496 4"};
  EXPECT_EQ(table_.log.termsAtCreate, expected);
  EXPECT_EQ(table_.log.termsAtDestroy, expected);   // same terms at the end of the request
}

// A handle pins only its own sampler, once; a destroyed manager leaves the
// registry.
TEST_F(AxoVexorTest, HandlesAndTheRegistry) {
  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  unsigned int h = v.GetHandle();
  EXPECT_NE(v.UseHandle(h + 1000), 0);
  EXPECT_NE(RKL1_Drop(h), 0);   // not pinned
  ASSERT_EQ(v.UseHandle(h), 0);
  EXPECT_EQ(RKL1_Drop(h), 0);
  EXPECT_NE(RKL1_Drop(h), 0);

  EXPECT_EQ(AXO_FindTableManager("AXOVT"), &table_);
  {
    TestManager temp("AXOTEMP", false);
    ASSERT_EQ(TableManager::RegisterWithManager(&temp), 0u);
    EXPECT_EQ(AXO_FindTableManager("AXOTEMP"), &temp);
  }
  EXPECT_EQ(AXO_FindTableManager("AXOTEMP"), nullptr);
  TestManager too_long("A_TABLE_NAME_TOO_LONG", false);
  EXPECT_NE(TableManager::RegisterWithManager(&too_long), 0u);
}

}  // namespace
