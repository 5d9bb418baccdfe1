// Samplers: comparisons, filters, request information, the row buffer,
// handles and action-command capsules.
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
    AXO_FailInsertRowForTesting(0, 0);
    ASSERT_EQ(TableManager::RegisterWithManager(&table_), 0u);
    table_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta", 2, 200), MakeRow("gamma  x", 3, -5)};
  }
  void TearDown() override {
    axo::resetSituationsForTesting();
    AXO_FailInsertRowForTesting(0, 0);
  }

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
  EXPECT_EQ(v.IsException(FQX1_GE, column, "abc", 8), 1u);
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

TEST_F(AxoVexorTest, SubnodesComeInOrderInRegisteredFormAndRewind) {
  ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:AAAA:host-one            ", "ZP", "01", 0), 0);
  ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:BBBB:host-two", "ZP", "01", 0), 0);
  ASSERT_EQ(AXO_Subnode_SendRequest(), 0);

  axo::Query q;
  q.table = "AXOVT";
  q.subnodes = {"ZP:BBBB:host-two", "ZP:AAAA:host-one", "unknown"};
  std::vector<axo::Row> rows;
  std::string error;
  ASSERT_EQ(axo::runQuery(q, &rows, &error), axo::kOk);
  EXPECT_EQ(table_.log.subnodes,
            (std::vector<std::string>{"ZP:BBBB:host-two", "ZP:AAAA:host-one            ",
                                      "unknown"}));

  RequestDetail r;
  r.AddSubnode("one");
  r.AddSubnode("two");
  TestVexor v(&r, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  EXPECT_STREQ(v.GetSubnode(), "one");
  EXPECT_STREQ(v.GetSubnode(), "two");
  EXPECT_EQ(v.GetSubnode(), nullptr);
  EXPECT_EQ(v.GetSubnode(), nullptr);
  v.ResetGetSubnode();
  EXPECT_STREQ(v.GetSubnode(), "one");
}

TEST_F(AxoVexorTest, RowBufferGrowsGeometricallyInWholeStepsAndKeepsRows) {
  TestVexor v(&request_, &context_, nullptr, 3, &table_.rows, &table_.log, false);
  std::vector<int> allocations;
  for (int i = 0; i < 25; ++i) {
    TestRow row = MakeRow("r", static_cast<int16_t>(i), i * 10);
    ASSERT_EQ(v.InsertRow(&row), 0u);
    if (allocations.empty() || allocations.back() != v.allocated) allocations.push_back(v.allocated);
  }
  EXPECT_EQ(allocations, (std::vector<int>{3, 6, 12, 24, 48}));
  ASSERT_EQ(v.count, 25);
  for (int i = 0; i < 25; ++i) {
    const TestRow* row = reinterpret_cast<const TestRow*>(v.GetRow(i));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->big, i * 10);
  }
  EXPECT_EQ(v.GetRow(25), nullptr);
  EXPECT_EQ(v.GetRow(-1), nullptr);
  EXPECT_NE(v.InsertRow(nullptr), 0u);
}

TEST_F(AxoVexorTest, InjectedInsertFailureStopsAddDataAtThatRow) {
  AXO_FailInsertRowForTesting(2, 0x777);
  axo::Query q;
  q.table = "AXOVT";
  std::vector<axo::Row> rows;
  std::string error;
  ASSERT_EQ(axo::runQuery(q, &rows, &error), axo::kOk);
  ASSERT_EQ(rows.size(), 1u);   // the second insert failed, the third row was not offered
  EXPECT_EQ(table_.log.lastAddDataStatus, 0x777u);
  ASSERT_EQ(axo::runQuery(q, &rows, &error), axo::kOk);   // one failure per setting
  EXPECT_EQ(rows.size(), 3u);
}

TEST_F(AxoVexorTest, FilterTermsWithBadShapeAreRejected) {
  RequestDetail r;
  int32_t v32 = 5;
  int16_t v16 = 5;
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, "BIG", FQX1_INTEGER, &v32, 4), 0u);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, "BIG", FQX1_INTEGER, &v32, 2), AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, "SMALL", FQX1_SMALL, &v16, 4), AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, 42, "BIG", FQX1_INTEGER, &v32, 4), AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, "BIG", 999, &v32, 4), AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, nullptr, FQX1_INTEGER, &v32, 4), AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, "NAME", FQX1_CSTRING, nullptr, 3), AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_AND, FQX1_EQ, std::string(40, 'A').c_str(), FQX1_CSTRING, "x", 1),
            AXO_RC_BAD_ARGUMENT);
  EXPECT_EQ(r.AddFilterTerm(FQX1_OR, FQX1_EQ, "NAME", FQX1_CSTRING, "", 0), 0u);
  ASSERT_EQ(r.terms.size(), 2u);
  EXPECT_EQ(r.termTexts[0], "5");
  EXPECT_STREQ(r.terms[1].value, "");
}

TEST_F(AxoVexorTest, HandlesPinOnlyTheirOwnSampler) {
  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  unsigned int h = v.GetHandle();
  EXPECT_NE(v.UseHandle(h + 1000), 0);
  EXPECT_NE(RKL1_Drop(h), 0);   // not pinned
  ASSERT_EQ(v.UseHandle(h), 0);
  EXPECT_EQ(RKL1_Drop(h), 0);
  EXPECT_NE(RKL1_Drop(h), 0);
}

TEST_F(AxoVexorTest, CapsuleSafeWithNullShortTextAndNoSampler) {
  VexorAutomationCapsule null_text(nullptr, nullptr);
  EXPECT_STREQ(null_text.GetCommand(), "");
  EXPECT_EQ(strlen(null_text.GetText()), 3u);
  VexorAutomationCapsule short_text("ab", nullptr);
  EXPECT_STREQ(short_text.GetText() + 3, "");
  VexorAutomationCapsule full("ACTenable;x", nullptr);
  EXPECT_STREQ(full.GetCommand(), "enable;x");

  ASSERT_NE(null_text.GetVexor(), nullptr);
  null_text.SetResult(2);
  null_text.GetVexor()->FinishedAutomationCommand(&null_text);
  EXPECT_TRUE(null_text.IsFinished());
  EXPECT_EQ(null_text.GetResult(), 2);

  TestVexor v(&request_, &context_, nullptr, 4, &table_.rows, &table_.log, false);
  VexorAutomationCapsule own("ACTx", &v);
  EXPECT_EQ(own.GetVexor(), &v);
  own.SetMessage("done");
  own.SetMessage(nullptr);
  EXPECT_EQ(own.GetMessage(), "");
}

TEST_F(AxoVexorTest, RegistryFindsTablesAndForgetsDestroyedManagers) {
  EXPECT_EQ(AXO_FindTableManager("AXOVT"), &table_);
  EXPECT_NE(TableManager::RegisterWithManager(nullptr), 0u);
  {
    TestManager temp("AXOTEMP", false);
    ASSERT_EQ(TableManager::RegisterWithManager(&temp), 0u);
    EXPECT_EQ(AXO_FindTableManager("AXOTEMP"), &temp);
  }
  EXPECT_EQ(AXO_FindTableManager("AXOTEMP"), nullptr);
  TestManager bad(nullptr, false);
  EXPECT_NE(bad.GetStatus(), 0u);
  EXPECT_NE(TableManager::RegisterWithManager(&bad), 0u);
  TestManager too_long("A_TABLE_NAME_TOO_LONG", false);
  EXPECT_NE(too_long.GetStatus(), 0u);
}

}  // namespace
