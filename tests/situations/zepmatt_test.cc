// ZEPMATT: situations read from request conditions, the table's sample, and
// the whole event road through the framework's request API.
#include "tables/zepmatt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "axo/axo.h"
#include "axo/request.h"
#include "axo/trk1.h"
#include "axo/vexor.h"
#include "foundation/zepllst.h"
#include "runtime/zepdisp.h"
#include "situations/situations_test_util.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zeppelem.h"

using situations_test::column;
using situations_test::pad;

namespace {

// Installs a data computer without timer thread as the dispatcher's, and
// restores the previous one afterwards.
class SituationsZepmattTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ZEPDISP_dispatcher::pDataComputer;
    ZEPDISP_dispatcher::pDataComputer = &dc;
    request.sampleType = AXO_SAMPLE_SITUATION;
    std::snprintf(request.situationName, sizeof(request.situationName), "S1");
  }
  void TearDown() override { ZEPDISP_dispatcher::pDataComputer = saved_; }

  void text(const char* column, const char* value, short oper = FQX1_EQ) {
    ASSERT_EQ(request.AddFilterTerm(FQX1_AND, oper, column, FQX1_CSTRING, value,
                                    static_cast<int>(std::strlen(value))),
              AXO_RC_OK);
  }
  void integer(const char* column, int32_t value, short oper = FQX1_EQ) {
    ASSERT_EQ(request.AddFilterTerm(FQX1_AND, oper, column, FQX1_INTEGER, &value, 4), AXO_RC_OK);
  }
  void small(const char* column, int16_t value, short oper = FQX1_EQ) {
    ASSERT_EQ(request.AddFilterTerm(FQX1_AND, oper, column, FQX1_SMALL, &value, 2), AXO_RC_OK);
  }
  std::unique_ptr<vexor> open() {
    return std::make_unique<ZEPTABLE_object<zep_zepmatt_agent>>(&request, &context, nullptr);
  }
  // The one registered situation's counter, or null.
  const ZEPDCMC_MessageCounter* only() {
    if (dc.getMCList()->size() != 1) return nullptr;
    return static_cast<const ZEPDCMC_MessageCounter*>(
        static_cast<ZEPPELEM_PayloadElement*>(dc.getMCList()->front())->getPayload());
  }

  ZEPDC_DataComputer dc{false};
  RequestDetail request;
  ContextInfo context;

 private:
  ZEPDC_DataComputer* saved_ = nullptr;
};

}  // namespace

TEST_F(SituationsZepmattTest, ConditionsRegisterTheSituationForTheObjectsLife) {
  text("RMIPADDR", "*");
  text("PORTNAME", "OrderPort");
  integer("TMINT", 45);
  integer("MSGCNT", 10, FQX1_GE);
  {
    std::unique_ptr<vexor> object = open();
    const ZEPDCMC_MessageCounter* counter = only();
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->clientAddress(), "*");
    EXPECT_EQ(counter->service(), pad("OrderPort"));
    EXPECT_EQ(counter->operation(), "*");  // no OPNAME condition: every operation
    EXPECT_EQ(counter->interval(), 60);
    EXPECT_EQ(counter->limit(), 10);
    EXPECT_EQ(counter->comparator(), 1);
    EXPECT_EQ(counter->situationName(), "S1");
  }
  EXPECT_TRUE(dc.getMCList()->empty());
  EXPECT_TRUE(dc.getList()->empty());
}

TEST_F(SituationsZepmattTest, IntervalAndComparatorFromTheirConditions) {
  text("RMIPADDR", "10.0.0.1");
  text("PORTNAME", "*");
  text("OPNAME", "");  // wildcard under "="
  small("TMINT", 100);
  integer("MSGCNT", 3, FQX1_GT);
  std::unique_ptr<vexor> object = open();
  ASSERT_NE(only(), nullptr);
  EXPECT_EQ(only()->interval(), 120);
  EXPECT_EQ(only()->requestedInterval(), 100);
  EXPECT_EQ(only()->comparator(), 0);
  EXPECT_EQ(only()->clientAddress(), pad("10.0.0.1"));
  EXPECT_EQ(only()->service(), "*");
  EXPECT_EQ(only()->operation(), "*");

  RequestDetail second;
  second.sampleType = AXO_SAMPLE_SITUATION;
  std::snprintf(second.situationName, sizeof(second.situationName), "S2");
  int32_t ninety = 90, limit = 4;
  second.AddFilterTerm(FQX1_AND, FQX1_EQ, "RMIPADDR", FQX1_CSTRING, "*", 1);
  second.AddFilterTerm(FQX1_AND, FQX1_EQ, "PORTNAME", FQX1_CSTRING, "*", 1);
  second.AddFilterTerm(FQX1_AND, FQX1_EQ, "TMINT", FQX1_INTEGER, &ninety, 4);
  second.AddFilterTerm(FQX1_AND, FQX1_LT, "MSGCNT", FQX1_CSTRING, "4", 1);
  ZEPTABLE_object<zep_zepmatt_agent> other(&second, &context, nullptr);
  ASSERT_EQ(dc.getMCList()->size(), 2);
  auto* counter = static_cast<const ZEPDCMC_MessageCounter*>(
      static_cast<ZEPPELEM_PayloadElement*>(dc.getMCList()->back())->getPayload());
  EXPECT_EQ(counter->interval(), 90);
  EXPECT_EQ(counter->limit(), limit);
  EXPECT_EQ(counter->comparator(), 2);
}

TEST_F(SituationsZepmattTest, UnusableConditionsRegisterNothing) {
  TRK1_SetLevel("ZEPMATT", TRK1_DETAIL | TRK1_ERROR);
  TRK1_Capture capture;
  // MSGCNT under "=" sets no comparator.
  integer("TMINT", 60);
  integer("MSGCNT", 10, FQX1_EQ);
  { std::unique_ptr<vexor> object = open(); }
  EXPECT_TRUE(capture.contains("Information is not valid for a DataComputer situation"));
  EXPECT_TRUE(capture.contains("Type INTEGER : 10  ,"));
  EXPECT_TRUE(dc.getMCList()->empty());

  // A value shorter than its type says is refused, not read past its end.
  for (short length : {1, 3}) {
    RequestDetail bad;
    bad.sampleType = AXO_SAMPLE_SITUATION;
    int32_t limit = 5;
    bad.AddFilterTerm(FQX1_AND, FQX1_GE, "MSGCNT", FQX1_INTEGER, &limit, 4);
    FQX1_FILTERINFO term{};
    std::snprintf(term.columnName, sizeof(term.columnName), "TMINT");
    term.compareOper = FQX1_EQ;
    term.dataType = FQX1_INTEGER;
    term.valueLen = length;
    term.value = "\x3c\x00\x00";
    bad.terms.push_back(term);
    ZEPTABLE_object<zep_zepmatt_agent> object(&bad, &context, nullptr);
    EXPECT_TRUE(dc.getMCList()->empty()) << "length " << length;
  }

  // Conditions that cannot be counted: "!=" on a service, OR between terms.
  RequestDetail notEqual;
  notEqual.sampleType = AXO_SAMPLE_SITUATION;
  int32_t limit = 1;
  notEqual.AddFilterTerm(FQX1_AND, FQX1_NE, "PORTNAME", FQX1_CSTRING, "A", 1);
  notEqual.AddFilterTerm(FQX1_AND, FQX1_GE, "MSGCNT", FQX1_INTEGER, &limit, 4);
  notEqual.interval = 60;
  { ZEPTABLE_object<zep_zepmatt_agent> object(&notEqual, &context, nullptr); }
  RequestDetail alternative;
  alternative.sampleType = AXO_SAMPLE_SITUATION;
  alternative.interval = 60;
  alternative.AddFilterTerm(FQX1_AND, FQX1_EQ, "PORTNAME", FQX1_CSTRING, "A", 1);
  alternative.AddFilterTerm(FQX1_OR, FQX1_GE, "MSGCNT", FQX1_INTEGER, &limit, 4);
  { ZEPTABLE_object<zep_zepmatt_agent> object(&alternative, &context, nullptr); }
  EXPECT_TRUE(dc.getMCList()->empty());
  TRK1_ResetLevels();
}

TEST_F(SituationsZepmattTest, OrdinaryRequestsNeitherRegisterNorRemove) {
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 10, 1, "", "S1"));
  request.sampleType = 0;
  request.interval = 60;
  integer("MSGCNT", 10, FQX1_GE);
  { std::unique_ptr<vexor> object = open(); }
  EXPECT_EQ(dc.getMCList()->size(), 1);
  // Without a data computer nothing is touched at all.
  ZEPDISP_dispatcher::pDataComputer = nullptr;
  request.sampleType = AXO_SAMPLE_SITUATION;
  std::unique_ptr<vexor> object = open();
  EXPECT_EQ(object->TakeSample(), 0u);
  EXPECT_EQ(object->count, 0);
}

TEST_F(SituationsZepmattTest, SampleOffersOneRowPerSituationWithTheOriginNode) {
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 10, 1, "N1", "first"));
  ASSERT_TRUE(dc.CreateSituation(pad("A").c_str(), "*", "*", 90, 5, 2, "N1", "second"));
  request.sampleType = 0;
  std::unique_ptr<vexor> object = open();
  ASSERT_EQ(object->TakeSample(), 0u);
  ASSERT_EQ(object->count, 2);
  const char* origin = AXO_GetOriginnode();
  const std::string expected = origin == nullptr ? "" : origin;
  for (int i = 0; i < 2; ++i) {
    auto* row = reinterpret_cast<const zep_zepmatt_data_t*>(object->GetRow(i));
    EXPECT_EQ(std::string(row->originnode, 32), pad(expected, 32));
    EXPECT_EQ(std::string(row->hostname, 64), pad(expected, 64));
    EXPECT_EQ(column(row->sitname), i == 0 ? "first" : "second");
  }
  // The request's filter selects among the rows.
  object.reset();
  RequestDetail filtered;
  filtered.AddFilterTerm(FQX1_AND, FQX1_EQ, "SITNAME", FQX1_CSTRING, "second", 6);
  ZEPTABLE_object<zep_zepmatt_agent> selective(&filtered, &context, nullptr);
  selective.TakeSample();
  EXPECT_EQ(selective.count, 1);
}

// A situation created through the framework is registered, raised when its
// window sum reaches the limit, cleared when it drops, and removed with it.
TEST_F(SituationsZepmattTest, EventsRaiseAndClearTheFrameworksSituation) {
  axo::resetSituationsForTesting();
  ASSERT_EQ(zep_zepmatt_init(), 0u);
  const std::string address = pad("10.1.1.1"), service = pad("OrderPort"),
                    operation = pad("submitOrder");
  axo::SituationSpec spec;
  spec.name = "BusyOrders";
  spec.table = "ZEPMATT";
  spec.interval = 60;
  spec.terms = {{"RMIPADDR", "=", "10.1.1.1"},
                {"PORTNAME", "=", "OrderPort"},
                {"OPNAME", "=", "submitOrder"},
                {"TMINT", "=", "45"},  // a 60-second window; the rows show 45
                {"MSGCNT", ">=", "3"}};
  std::string error;
  ASSERT_EQ(axo::createSituation(spec, &error), axo::kOk) << error;
  ASSERT_EQ(dc.getMCList()->size(), 1);

  for (int i = 0; i < 3; ++i) dc.Increment(address.c_str(), service.c_str(), operation.c_str());
  dc.Increment(pad("10.9.9.9").c_str(), service.c_str(), operation.c_str());
  dc.Poll();
  std::vector<axo::Event> events = axo::eventsSince(0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].situation, "BusyOrders");
  EXPECT_TRUE(events[0].raised);
  int64_t msgcnt = -1;
  for (const auto& [attribute, value] : events[0].row) {
    if (attribute == "MSGCNT") msgcnt = value.number;
  }
  EXPECT_EQ(msgcnt, 3);

  dc.Poll();  // the three messages are still in the window
  dc.Poll();
  events = axo::eventsSince(events[0].id);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_FALSE(events[0].raised);

  // The table's sample shows the situation with its current count.
  std::vector<axo::Row> rows;
  ASSERT_EQ(axo::runQuery({"ZEPMATT", {}, false, {{"SITNAME", "=", "BusyOrders"}}}, &rows,
                          &error),
            axo::kOk)
      << error;
  ASSERT_EQ(rows.size(), 1u);

  ASSERT_EQ(axo::deleteSituation("BusyOrders", &error), axo::kOk);
  EXPECT_TRUE(dc.getMCList()->empty());
  axo::resetSituationsForTesting();
}
