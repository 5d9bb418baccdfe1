// Data computer: matching messages to situations through the filter tree,
// registration and removal of situations, and its timer thread.
#include "situations/zepdc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "axo/base/trk1.h"
#include "foundation/zepllst.h"
#include "logs/zepmelem.h"
#include "situations/zepdcmc.h"
#include "situations/zepdcrow.h"
#include "situations/zeppelem.h"
#include "tables/samples_test_util.h"

using namespace samples_test;

namespace {

const std::string A = pad("10.0.0.1");
const std::string B = pad("10.0.0.2");
const std::string S = pad("OrderPort");
const std::string O = pad("submitOrder");
using Sums = std::vector<std::pair<std::string, int>>;

// A data computer without timer thread, with shortcuts for situations that
// differ only in address, service, operation and name.
class SituationsDataComputerTest : public ::testing::Test {
 protected:
  // Pushed events go nowhere, not to the framework.
  void SetUp() override { previous_ = ZEPDCMC_MessageCounter::setEventSink(nullptr); }
  void TearDown() override { ZEPDCMC_MessageCounter::setEventSink(previous_); }
  bool create(const std::string& a, const std::string& s, const std::string& o, const char* name) {
    return dc.CreateSituation(a.c_str(), s.c_str(), o.c_str(), 60, 1, 1, "N1", name);
  }
  bool remove(const std::string& a, const std::string& s, const std::string& o, const char* name) {
    return dc.DeleteSituation(a.c_str(), s.c_str(), o.c_str(), 60, 1, 1, "N1", name);
  }
  // The window sum of every situation, in creation order, after one tick
  // (so that the running cell is part of the sum).
  Sums windowSums() {
    dc.Poll();
    Sums out;
    ZEPLLST_LinkedList list;
    dc.GetCDT(&list);
    for (ZEPLELEM_listElem* e = list.front(); e != nullptr; e = list.next(e)) {
      auto* row =
          static_cast<ZEPDCROW_DataRow*>(static_cast<ZEPPELEM_PayloadElement*>(e)->getPayload());
      out.emplace_back(text(row->getRow()->sitname), row->getRow()->msgcnt);
      delete row;
    }
    return out;
  }

  ZEPDC_DataComputer dc{false};
  ZEPDCMC_MessageCounter::EventSink previous_ = nullptr;
};

TEST_F(SituationsDataComputerTest, MessagesCountInEveryMatchingSituationOnce) {
  const std::string P = pad("otherOp");
  for (const auto& [a, s, o, name] : {std::tuple{A, S, O, "ASO"},
                                      {A, S, "*", "ASx"},
                                      {"*", "*", "*", "xxx"},
                                      {B, S, O, "BSO"},
                                      {"*", S, O, "xSO"},
                                      {A, "*", "*", "Axx"},
                                      {A, S, P, "ASP"}}) {
    ASSERT_TRUE(create(a, s, o, name));
  }
  EXPECT_TRUE(dc.Increment(A.c_str(), S.c_str(), O.c_str()));
  EXPECT_EQ(
      windowSums(),
      (Sums{{"ASO", 1}, {"ASx", 1}, {"xxx", 1}, {"BSO", 0}, {"xSO", 1}, {"Axx", 1}, {"ASP", 0}}));

  // In the next cell: of the metric lines only location 2 counts; "*"
  // values match the wildcard situation, once.
  for (int16_t loc : {0, 1, 2, 3}) {
    ZEPMELEM_MetricLine line(0);
    line.metricsRow.msgloc = loc;
    std::memcpy(line.metricsRow.rmipaddr, B.data(), 64);
    std::memcpy(line.metricsRow.portname, S.data(), 64);
    std::memcpy(line.metricsRow.opname, O.data(), 64);
    EXPECT_TRUE(dc.Increment(&line));
  }
  EXPECT_TRUE(dc.Increment("*", "*", "*"));
  EXPECT_EQ(
      windowSums(),
      (Sums{{"ASO", 0}, {"ASx", 0}, {"xxx", 2}, {"BSO", 1}, {"xSO", 1}, {"Axx", 0}, {"ASP", 0}}));
}

TEST_F(SituationsDataComputerTest, RefusesInvalidAndDuplicateSituations) {
  TRK1_Capture capture;
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), "*", O.c_str(), 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), "*", "", 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), 60, 1, 1, "N1", nullptr));
  EXPECT_FALSE(dc.CreateSituation(nullptr, S.c_str(), O.c_str(), 60, 1, 1, "N1", "x"));
  EXPECT_FALSE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), INT32_MAX, 1, 1, "N1", "x"));
  EXPECT_TRUE(capture.contains("Service Name cannot be * when Operation Name is not *"));
  EXPECT_TRUE(dc.getList()->empty());
  EXPECT_TRUE(dc.getMCList()->empty());

  // The interval is compared after normalisation: 45 is the same as 60.
  ASSERT_TRUE(dc.CreateSituation(A.c_str(), S.c_str(), O.c_str(), 45, 1, 1, "N1", "dup"));
  EXPECT_FALSE(create(A, S, O, "dup"));
  EXPECT_FALSE(remove(A, S, O, "unknown"));
  EXPECT_EQ(dc.getMCList()->size(), 1);

  // Interval 60 / limit 300 and interval 6030 / limit 0 give the same key
  // text; the values still tell the two situations apart.
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 300, 1, "N", "S"));
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 6030, 0, 1, "N", "S"));
  ASSERT_TRUE(dc.DeleteSituation("*", "*", "*", 6030, 0, 1, "N", "S"));
  ASSERT_TRUE(dc.DeleteSituation("*", "*", "*", 60, 300, 1, "N", "S"));
}

TEST_F(SituationsDataComputerTest, DeletionLeavesTheOthersCountingAndPrunesTheTree) {
  const std::tuple<std::string, std::string, std::string, const char*> situations[] = {
      {A, S, O, "one"}, {A, S, O, "two"}, {B, "*", "*", "three"}, {"*", S, O, "four"}};
  for (const auto& [a, s, o, name] : situations) ASSERT_TRUE(create(a, s, o, name));
  ASSERT_TRUE(remove(A, S, O, "one"));
  dc.Increment(A.c_str(), S.c_str(), O.c_str());
  EXPECT_EQ(windowSums(), (Sums{{"two", 1}, {"three", 0}, {"four", 1}}));
  for (const auto& [a, s, o, name] : situations) {
    EXPECT_EQ(remove(a, s, o, name), std::string(name) != "one");
  }
  EXPECT_TRUE(dc.getList()->empty());
  EXPECT_TRUE(dc.getMCList()->empty());
  EXPECT_TRUE(create(A, S, O, "one"));  // a removed situation can come again
}

}  // namespace
