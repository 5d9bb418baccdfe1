// Samplers: comparisons, filters, handles and the table registry. (The
// filter terms a sampler reads: the agent's situation table tests, and a
// situation created over the operator API end to end.)
#include "axo/tables/vexor.h"

#include <gtest/gtest.h>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "axo/requests/test_table.h"

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
    std::vector<axo::Row> rows;
    const axo::Status s = axo::runQuery({"AXOVT", {}, false, std::move(terms)}, &rows);
    EXPECT_TRUE(s.ok()) << s.message();
    std::string out;
    for (const axo::Row& r : rows) out += (out.empty() ? "" : ",") + r[0].second.text;
    return out;
  }

  TestManager table_{"AXOVT", false};
  RequestDetail request_;
  ContextInfo context_;
};

// Integers of both widths follow each operator; a text column's trailing
// blanks are ignored, the value's are not.
TEST_F(AxoVexorTest, ComparisonsFollowEachOperator) {
  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  struct Case {
    _IntfOper op;
    int value;
    const char* threshold;
    unsigned expected;
  };
  const Case cases[] = {
      {FQX1_EQ, 5, "5", 1},   {FQX1_EQ, 5, "6", 0},
      {FQX1_NE, 5, "6", 1},   {FQX1_NE, 5, "5", 0},
      {FQX1_GT, 6, "5", 1},   {FQX1_GT, 5, "5", 0},
      {FQX1_GE, 5, "5", 1},   {FQX1_GE, 4, "5", 0},
      {FQX1_LT, 5, "5", 0},   {FQX1_LE, 5, "5", 1},
      {FQX1_EQ, -7, "-7", 1}, {FQX1_EQ, 5, "5x", 0},
      {FQX1_EQ, 0, "", 0},    {static_cast<_IntfOper>(99), 5, "5", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(v.IsException(c.op, c.value, c.threshold), c.expected)
        << c.op << " " << c.value << " " << c.threshold;
    EXPECT_EQ(v.IsException(c.op, static_cast<short>(c.value), c.threshold), c.expected);
  }
  EXPECT_EQ(v.IsException(FQX1_GT, static_cast<short>(-32768), "-32769"), 1u);

  const char column[8] = {'a', 'b', 'c', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(v.IsException(FQX1_EQ, column, "abc", 8), 1u);
  EXPECT_EQ(v.IsException(FQX1_EQ, column, "abc ", 8), 0u);  // the value as given
  EXPECT_EQ(v.IsException(FQX1_LT, column, "abd", 8), 1u);
  EXPECT_EQ(v.IsException(FQX1_GT, column, "ab", 8), 1u);
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

// A handle pins only its own sampler, once; a destroyed manager leaves the
// registry.
TEST_F(AxoVexorTest, HandlesAndTheRegistry) {
  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  unsigned int h = v.GetHandle();
  EXPECT_NE(v.UseHandle(h + 1000), 0);
  EXPECT_NE(RKL1_Drop(h), 0);  // not pinned
  ASSERT_EQ(v.UseHandle(h), 0);
  EXPECT_EQ(RKL1_Drop(h), 0);
  EXPECT_NE(RKL1_Drop(h), 0);

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
