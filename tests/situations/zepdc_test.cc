// Data computer: matching through the filter tree, registration and removal
// of situations, the timer pass and the ZEPMATT rows of GetCDT.
#include "situations/zepdc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "axo/trk1.h"
#include "foundation/zepllst.h"
#include "logs/zepmelem.h"
#include "situations/situations_test_util.h"
#include "situations/zepdcfn.h"
#include "situations/zepdcmc.h"
#include "situations/zepdcrow.h"
#include "situations/zeppelem.h"

using situations_test::column;
using situations_test::EventRecorder;
using situations_test::pad;

namespace {

const std::string A = pad("10.0.0.1");
const std::string B = pad("10.0.0.2");
const std::string S = pad("OrderPort");
const std::string O = pad("submitOrder");

// A data computer without timer thread plus shortcuts for situations that
// differ only in address, service, operation and name.
class SituationsDataComputerTest : public ::testing::Test {
 protected:
  bool create(const std::string& a, const std::string& s, const std::string& o,
              const char* name, int32_t limit = 1, uint8_t comparator = 1) {
    return dc.CreateSituation(a.c_str(), s.c_str(), o.c_str(), 60, limit, comparator, "N1",
                              name);
  }
  bool remove(const std::string& a, const std::string& s, const std::string& o,
              const char* name, int32_t limit = 1, uint8_t comparator = 1) {
    return dc.DeleteSituation(a.c_str(), s.c_str(), o.c_str(), 60, limit, comparator, "N1",
                              name);
  }
  // The message counts of every situation, by name, from GetCDT after one
  // tick (so the running cell is part of the window sum).
  std::vector<std::pair<std::string, int>> windowSums() {
    dc.Poll();
    std::vector<std::pair<std::string, int>> out;
    ZEPLLST_LinkedList list;
    dc.GetCDT(&list);
    for (ZEPLELEM_listElem* e = list.front(); e != nullptr; e = list.next(e)) {
      auto* row = static_cast<ZEPDCROW_DataRow*>(
          static_cast<ZEPPELEM_PayloadElement*>(e)->getPayload());
      out.emplace_back(column(row->getRow()->sitname), row->getRow()->msgcnt);
      delete row;
    }
    return out;
  }

  EventRecorder events;  // keeps pushed events away from the framework
  ZEPDC_DataComputer dc{false};
};

}  // namespace

TEST_F(SituationsDataComputerTest, MessageCountsInEveryMatchingSituation) {
  ASSERT_TRUE(create(A, S, O, "ASO"));
  ASSERT_TRUE(create(A, S, "*", "ASx"));
  ASSERT_TRUE(create("*", "*", "*", "xxx"));
  ASSERT_TRUE(create(B, S, O, "BSO"));
  ASSERT_TRUE(create("*", S, O, "xSO"));
  ASSERT_TRUE(create(A, "*", "*", "Axx"));
  ASSERT_TRUE(create(A, S, pad("otherOp"), "ASP"));

  EXPECT_TRUE(dc.Increment(A.c_str(), S.c_str(), O.c_str()));
  using Sums = std::vector<std::pair<std::string, int>>;
  EXPECT_EQ(windowSums(), (Sums{{"ASO", 1}, {"ASx", 1}, {"xxx", 1}, {"BSO", 0}, {"xSO", 1},
                                {"Axx", 1}, {"ASP", 0}}));

  int count = -1;
  ZEPLLST_LinkedList** lists;
  {
    OSB1_ScopedLock guard(dc.lock());
    lists = dc.FindSituations(&count, A.c_str(), S.c_str(), O.c_str());
  }
  EXPECT_EQ(count, 5);
  delete[] lists;
  OSB1_ScopedLock guard(dc.lock());
  lists = dc.FindSituations(&count, "9.9.9.9", "nope", "nope");
  EXPECT_EQ(count, 1);  // only (*,*,*) exists on its paths
  delete[] lists;
  EXPECT_EQ(dc.FindSituations(&count, nullptr, "nope", "nope"), nullptr);
  EXPECT_EQ(count, 0);
}

TEST_F(SituationsDataComputerTest, WildcardValuesAreCountedOncePerSituation) {
  ASSERT_TRUE(create("*", "*", "*", "all"));
  dc.Increment("*", "*", "*");
  int count = 0;
  ZEPLLST_LinkedList** lists;
  {
    OSB1_ScopedLock guard(dc.lock());
    lists = dc.FindSituations(&count, "*", "*", "*");
  }
  EXPECT_EQ(count, 1);
  delete[] lists;
  EXPECT_EQ(windowSums()[0].second, 1);
}

TEST_F(SituationsDataComputerTest, MetricLinesCountOnlyAtLocationTwo) {
  ASSERT_TRUE(create(A, S, O, "ASO"));
  for (int16_t loc : {0, 1, 2, 3}) {
    ZEPMELEM_MetricLine line(0);
    line.metricsRow.msgloc = loc;
    std::memcpy(line.metricsRow.rmipaddr, A.data(), 64);
    std::memcpy(line.metricsRow.portname, S.data(), 64);
    std::memcpy(line.metricsRow.opname, O.data(), 64);
    EXPECT_TRUE(dc.Increment(&line));
  }
  EXPECT_TRUE(dc.Increment(static_cast<const ZEPMELEM_MetricLine*>(nullptr)));
  EXPECT_EQ(windowSums()[0].second, 1);
}

TEST_F(SituationsDataComputerTest, RefusesInvalidAndDuplicateSituations) {
  TRK1_SetLevel("ZEPDC", 255);
  TRK1_Capture capture;
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), "*", O.c_str(), 60, 1, 1, "N1", "bad"));
  EXPECT_TRUE(capture.contains("Service Name cannot be * when Operation Name is not *"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), "*", "", 60, 1, 1, "N1", "bad"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), 60, 1, 1, "N1", nullptr));
  EXPECT_FALSE(dc.CreateSituation(nullptr, S.c_str(), O.c_str(), 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), INT32_MAX, 1, 1, "N1", "x"));
  EXPECT_TRUE(dc.getList()->empty());
  EXPECT_TRUE(dc.getMCList()->empty());

  // The interval is compared after normalisation: 45 is the same as 60.
  ASSERT_TRUE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), 45, 1, 1, "N1", "dup"));
  EXPECT_FALSE(create(A, S, O, "dup"));
  EXPECT_TRUE(capture.contains("Situation Already Exists"));
  EXPECT_EQ(dc.getMCList()->size(), 1);

  EXPECT_FALSE(remove(A, S, O, "unknown"));
  EXPECT_TRUE(capture.contains("Situation does not exist"));
  EXPECT_FALSE(dc.DeleteSituation(A.c_str(), nullptr, O.c_str(), 60, 1, 1, "N1", "dup"));
  EXPECT_EQ(dc.getMCList()->size(), 1);
  TRK1_ResetLevels();
}

TEST_F(SituationsDataComputerTest, SituationsWithEqualKeysStayApart) {
  // interval 60 / limit 300 and interval 6030 / limit 0 give the same key text.
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 300, 1, "N", "S"));
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 6030, 0, 1, "N", "S"));
  EXPECT_EQ(dc.getMCList()->size(), 2);
  ASSERT_TRUE(dc.DeleteSituation("*", "*", "*", 6030, 0, 1, "N", "S"));
  ASSERT_EQ(dc.getMCList()->size(), 1);
  ZEPLLST_LinkedList list;
  dc.GetCDT(&list);
  auto* row = static_cast<ZEPDCROW_DataRow*>(
      static_cast<ZEPPELEM_PayloadElement*>(list.front())->getPayload());
  EXPECT_EQ(row->getRow()->msglmt, 300);
  delete row;
}

TEST_F(SituationsDataComputerTest, DeletionPrunesEmptyNodesOnly) {
  ASSERT_TRUE(create(A, S, O, "one"));
  ASSERT_TRUE(create(A, S, O, "two"));
  ASSERT_TRUE(create(B, "*", "*", "three"));
  // The wildcard node sits in front of its siblings.
  ASSERT_TRUE(create("*", S, O, "four"));
  EXPECT_STREQ(static_cast<ZEPDCFN_FilterNode*>(dc.getList()->front())->getKey(), "*");

  ASSERT_TRUE(remove(A, S, O, "one"));
  auto* addrNode = static_cast<ZEPDCFN_FilterNode*>(dc.getList()->find(A.c_str()));
  ASSERT_NE(addrNode, nullptr);
  auto* opNode = addrNode->findChild(S.c_str())->findChild(O.c_str());
  ASSERT_NE(opNode, nullptr);
  EXPECT_EQ(opNode->getChildren()->size(), 1);

  ASSERT_TRUE(remove(A, S, O, "two"));
  EXPECT_EQ(dc.getList()->find(A.c_str()), nullptr);
  EXPECT_EQ(dc.getList()->size(), 2);
  ASSERT_TRUE(remove(B, "*", "*", "three"));
  ASSERT_TRUE(remove("*", S, O, "four"));
  EXPECT_TRUE(dc.getList()->empty());
  EXPECT_TRUE(dc.getMCList()->empty());
  // A removed situation can be registered again.
  EXPECT_TRUE(create(A, S, O, "one"));
}

TEST_F(SituationsDataComputerTest, GetCdtListsSituationsInCreationOrder) {
  ZEPLLST_LinkedList empty;
  dc.GetCDT(&empty);
  EXPECT_TRUE(empty.empty());
  dc.GetCDT(nullptr);

  ASSERT_TRUE(create(B, S, O, "first", 7, 3));
  ASSERT_TRUE(create("*", "*", "*", "second"));
  ASSERT_TRUE(dc.CreateSituation(A.c_str(), S.c_str(), "*", 100, 2, 0, "N1", "third"));
  dc.Increment(B.c_str(), S.c_str(), O.c_str());
  dc.Poll();

  ZEPLLST_LinkedList list;
  dc.GetCDT(&list);
  ASSERT_EQ(list.size(), 3);
  std::vector<std::string> names;
  for (ZEPLELEM_listElem* e = list.front(); e != nullptr; e = list.next(e)) {
    auto* dataRow = static_cast<ZEPDCROW_DataRow*>(
        static_cast<ZEPPELEM_PayloadElement*>(e)->getPayload());
    EXPECT_EQ(dataRow->getKey(), nullptr);
    const zep_zepmatt_data_t* row = dataRow->getRow();
    names.push_back(column(row->sitname));
    EXPECT_EQ(std::string(row->originnode, 32), pad("", 32));
    EXPECT_EQ(std::string(row->hostname, 64), pad(""));
    EXPECT_EQ(std::string(row->tablever, 8), pad("1", 8));
    if (names.back() == "first") {
      EXPECT_EQ(std::string(row->rmipaddr, 64), B);
      EXPECT_EQ(std::string(row->portname, 64), S);
      EXPECT_EQ(std::string(row->opname, 64), O);
      EXPECT_EQ(row->msgcnt, 1);
      EXPECT_EQ(row->msglmt, 7);
      EXPECT_EQ(row->comparator, 3);
    }
    if (names.back() == "third") {
      EXPECT_EQ(row->tmint, 100);  // as requested; the window is 120 seconds
      EXPECT_EQ(column(row->opname), "*");
    }
    delete dataRow;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "third"}));
}
