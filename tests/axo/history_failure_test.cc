// History writes that fail for a while (a full disk, a read-only file): the
// error is traced once per streak, rows wait within their bound, and they are
// written when the file takes them again. The collector's interval is driven
// directly.
#include <gtest/gtest.h>

#include "axo/axo.h"
#include "axo/axo_test_table.h"
#include "axo/history.h"
#include "axo/trk1.h"
#include "e2e/e2e_support.h"

namespace {

class AxoHistoryFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    ASSERT_EQ(AXO_Subnode_Register_nAff("ZP:00000001:f-s1", "ZP", "01.01.00", 0), 0);
    ASSERT_EQ(AXO_Subnode_SendRequest(), 0);
    db_ = dir_.path() + "/history.db";
  }

  // Each sample: kRows distinct rows (keyed by content), `sample` in BIG.
  void NextSample(int sample) {
    sampled_.rows.clear();
    for (int i = 0; i < kRows; ++i) {
      sampled_.rows.push_back(MakeRow(("row" + std::to_string(i)).c_str(),
                                      static_cast<int16_t>(i), sample));
    }
  }

  void Open(axo::HistoryCollector* c, size_t maxPending) {
    axo::HistoryOptions o;
    o.path = db_;
    o.tables = {"AXOSMP"};
    o.keys = {{"AXOSMP", {}}};
    o.maxPendingRows = maxPending;
    std::string error;
    ASSERT_TRUE(c->Open(o, &error)) << error;
  }

  std::string Query(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    std::string error;
    EXPECT_TRUE(axo::HistoryReadQuery(db_, sql, &rows, &error)) << error;
    return rows.empty() ? "" : rows[0][0];
  }

  static constexpr int kRows = 200;  // enough to need new pages
  TestManager sampled_{"AXOSMP", false};
  e2e::TempDir dir_;
  std::string db_;
};

TEST_F(AxoHistoryFailureTest, AFullDiskKeepsRowsWithinTheBoundAndWritesThemWhenSpaceReturns) {
  axo::HistoryCollector c;
  Open(&c, 2 * kRows + kRows / 2);
  NextSample(1);
  ASSERT_EQ(c.CollectOnce(1000000), kRows);
  std::string error;
  ASSERT_TRUE(c.ExecForTesting("PRAGMA max_page_count=" + Query("PRAGMA page_count"), &error))
      << error;

  TRK1_Capture trace;
  for (int sample = 2; sample <= 4; ++sample) {
    NextSample(sample);
    EXPECT_EQ(c.CollectOnce(1000000 + sample), -1);
  }
  EXPECT_EQ(trace.count("AXO0202E"), 1) << ::testing::PrintToString(trace.messages());
  EXPECT_TRUE(trace.contains("full")) << ::testing::PrintToString(trace.messages());
  EXPECT_GE(trace.count("AXO0204E"), 1);           // the oldest beyond the bound dropped
  EXPECT_EQ(c.PendingRows(), 2u * kRows + kRows / 2);

  ASSERT_TRUE(c.ExecForTesting("PRAGMA max_page_count=1000000", &error)) << error;
  NextSample(5);
  EXPECT_EQ(c.CollectOnce(1000005), 3 * kRows + kRows / 2);
  EXPECT_EQ(trace.count("AXO0208I"), 1);
  EXPECT_EQ(trace.count("AXO0202E"), 1);
  EXPECT_EQ(c.PendingRows(), 0u);
  // The bound dropped the older half of sample 2; everything else is there.
  EXPECT_EQ(Query("SELECT group_concat(BIG || ':' || n) FROM (SELECT BIG, count(*) n FROM "
                  "AXOSMP GROUP BY BIG ORDER BY BIG)"),
            "1:200,2:100,3:200,4:200,5:200");
}

TEST_F(AxoHistoryFailureTest, AReadOnlyFileIsTracedOnceAndCaughtUpWhenWritableAgain) {
  axo::HistoryCollector c;
  Open(&c, 10 * kRows);
  NextSample(1);
  ASSERT_EQ(c.CollectOnce(1000000), kRows);
  std::string error;
  ASSERT_TRUE(c.ReopenForTesting(true, &error)) << error;

  TRK1_Capture trace;
  NextSample(2);
  EXPECT_EQ(c.CollectOnce(1000001), -1);
  EXPECT_EQ(c.CollectOnce(1000002), -1);  // the same rows again: still one row each
  EXPECT_EQ(trace.count("AXO0202E"), 1);
  EXPECT_TRUE(trace.contains("readonly")) << ::testing::PrintToString(trace.messages());
  EXPECT_EQ(c.PendingRows(), 2u * kRows);

  ASSERT_TRUE(c.ReopenForTesting(false, &error)) << error;
  EXPECT_EQ(c.CollectOnce(1000003), 3 * kRows);
  EXPECT_EQ(trace.count("AXO0208I"), 1);
  EXPECT_EQ(Query("SELECT count(*) FROM AXOSMP"), std::to_string(2 * kRows));
}

}  // namespace
