// ZEPMATT: situations read from request conditions, the table's sample, and
// the event road from the data computer to the framework's situations.
#include "tables/zepmatt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "axo/tables/vexor.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zeppelem.h"
#include "support/samples_test_util.h"

using namespace samples_test;

namespace {

// Hands the ZEPMATT table a data computer without timer thread, and takes it
// back afterwards (the dispatcher hands it its own when it starts).
class SituationsZepmattTest : public ::testing::Test {
 protected:
  void SetUp() override { zep_zepmatt_setDataComputer(&dc); }
  void TearDown() override {
    zep_zepmatt_setDataComputer(nullptr);
    axo::resetSituationsForTesting();
  }

  // The registered situations as "address|service|operation|interval|
  // requested interval|limit|comparator", texts without their blanks.
  std::vector<std::string> registered() {
    std::vector<std::string> out;
    ZEPLLST_LinkedList* list = dc.getMCList();
    for (ZEPLELEM_listElem* e = list->front(); e != nullptr; e = list->next(e)) {
      auto* c = static_cast<const ZEPDCMC_MessageCounter*>(
          static_cast<ZEPPELEM_PayloadElement*>(e)->getPayload());
      out.push_back(trim(c->clientAddress()) + "|" + trim(c->service()) + "|" +
                    trim(c->operation()) + "|" + std::to_string(c->interval()) + "|" +
                    std::to_string(c->requestedInterval()) + "|" + std::to_string(c->limit()) +
                    "|" + std::to_string(c->comparator()));
    }
    return out;
  }

  ZEPDC_DataComputer dc{false};
  ContextInfo context;
};

// One condition with its value's bytes; integers through i32 and i16.
struct Term {
  const char* column;
  short oper;
  int type;
  std::string value;
  short logical = FQX1_AND;
};
std::string i32(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string i16(int16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); }
Term eq(const char* column, const std::string& value) {
  return {column, FQX1_EQ, FQX1_CSTRING, value};
}
Term num(const char* column, short oper, int32_t v) { return {column, oper, FQX1_INTEGER, i32(v)}; }

// Adds `t` as the framework would, without checking its shape; the value
// must outlive the request.
void add(RequestDetail* request, const Term& t) {
  FQX1_FILTERINFO term{t.logical,     t.oper, {}, t.type, static_cast<short>(t.value.size()),
                       t.value.data()};
  std::snprintf(term.columnName, sizeof(term.columnName), "%s", t.column);
  request->terms.push_back(term);
}

TEST_F(SituationsZepmattTest, ConditionsRegisterTheSituationForTheObjectsLife) {
  struct Case {
    std::vector<Term> terms;
    int requestInterval;
    std::string expected;  // "" when nothing may be registered
    int sampleType = AXO_SAMPLE_SITUATION;
  };
  const Term limit10 = num("MSGCNT", FQX1_GE, 10);
  const Case cases[] = {
      // Without an OPNAME condition every operation counts.
      {{eq("RMIPADDR", "*"), eq("PORTNAME", "OrderPort"), num("TMINT", FQX1_EQ, 45), limit10},
       0,
       "*|OrderPort|*|60|45|10|1"},
      {{eq("RMIPADDR", "10.0.0.1"), eq("PORTNAME", "*"), eq("OPNAME", ""),
        Term{"TMINT", FQX1_EQ, FQX1_SMALL, i16(100)}, num("MSGCNT", FQX1_GT, 3)},
       0,
       "10.0.0.1|*|*|120|100|3|0"},
      {{eq("RMIPADDR", "*"), eq("PORTNAME", "*"), num("TMINT", FQX1_EQ, 90),
        Term{"MSGCNT", FQX1_LT, FQX1_CSTRING, "4"}},
       0,
       "*|*|*|90|90|4|2"},
      // Address, service and interval are required; the request's interval is no stand-in.
      {{eq("PORTNAME", "P"), num("TMINT", FQX1_EQ, 60), limit10}, 0, ""},
      {{eq("RMIPADDR", "*"), eq("PORTNAME", "P"), limit10}, 60, ""},
      {{{"MSGCNT", FQX1_LE, FQX1_SMALL, i16(5)}}, 60, "", 0},            // not a situation request
      {{num("TMINT", FQX1_EQ, 60), num("MSGCNT", FQX1_EQ, 10)}, 0, ""},  // no comparator
      {{{"TMINT", FQX1_EQ, FQX1_INTEGER, i32(60).substr(0, 1)}, limit10}, 0, ""},  // too short
      {{{"PORTNAME", FQX1_NE, FQX1_CSTRING, "A"}, limit10}, 60, ""},  // only "=" selects
      {{eq("PORTNAME", "A"), {"MSGCNT", FQX1_GE, FQX1_INTEGER, i32(1), FQX1_OR}}, 60, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    RequestDetail request;
    request.sampleType = c.sampleType;
    request.interval = c.requestInterval;
    std::snprintf(request.situationName, sizeof(request.situationName), "S1");
    for (const Term& t : c.terms) add(&request, t);
    {
      ZEPTABLE_object<zep_zepmatt_agent> object(&request, &context, nullptr);
      EXPECT_EQ(registered(),
                c.expected.empty() ? std::vector<std::string>{} : std::vector{c.expected});
    }
    EXPECT_TRUE(dc.getMCList()->empty());
    EXPECT_TRUE(dc.getList()->empty());
  }
  // Without a data computer a situation request touches nothing at all.
  zep_zepmatt_setDataComputer(nullptr);
  RequestDetail request;
  request.sampleType = AXO_SAMPLE_SITUATION;
  add(&request, limit10);
  ZEPTABLE_object<zep_zepmatt_agent> object(&request, &context, nullptr);
  EXPECT_EQ(object.TakeSample(), 0u);
}

TEST_F(SituationsZepmattTest, SampleOffersOneRowPerSituationWithTheOriginNode) {
  ASSERT_TRUE(dc.CreateSituation(pad("B").c_str(), "*", "*", 90, 5, 2, "N1", "first"));
  ASSERT_TRUE(dc.CreateSituation("*", "*", "*", 60, 10, 1, "N1", "second"));
  RequestDetail request;
  ZEPTABLE_object<zep_zepmatt_agent> object(&request, &context, nullptr);
  ASSERT_EQ(object.TakeSample(), 0u);
  ASSERT_EQ(object.count, 2);
  const std::string origin = AXO_GetOriginnode() != nullptr ? AXO_GetOriginnode() : "";
  for (int i = 0; i < 2; ++i) {
    auto* row = reinterpret_cast<const zep_zepmatt_data_t*>(object.GetRow(i));
    EXPECT_EQ(std::string(row->originnode, 32) + "|" + std::string(row->hostname, 64) + "|" +
                  text(row->sitname),
              pad(origin, 32) + "|" + pad(origin, 64) + "|" + (i == 0 ? "first" : "second"));
  }
}

// The road from the counters to the framework: an event raises and clears
// the framework's situation it belongs to. (When a window sum raises is the
// counter test's; registration and removal the conditions test's.) The busy
// one's sampler sits between two others: a push reaches every live sampler.
TEST_F(SituationsZepmattTest, EventsRaiseAndClearTheFrameworksSituations) {
  axo::resetSituationsForTesting();
  ASSERT_EQ(zep_zepmatt_init(), 0u);
  for (const char* name : {"Quiet1", "BusyOrders", "Quiet2"}) {
    axo::SituationSpec spec{name,
                            "ZEPMATT",
                            60,
                            {{"RMIPADDR", "=", "10.1.1.1"},
                             {"PORTNAME", "=", "OrderPort"},
                             {"TMINT", "=", "45"},  // a 60-second window; the rows show 45
                             {"MSGCNT", ">=", name[0] == 'B' ? "3" : "4"}}};
    const axo::Status s = axo::createSituation(spec);
    ASSERT_TRUE(s.ok()) << s.message();
  }
  ASSERT_EQ(dc.getMCList()->size(), 3);

  for (int i = 0; i < 3; ++i) dc.Increment(pad("10.1.1.1").c_str(), pad("OrderPort").c_str(), "op");
  dc.Poll();
  std::vector<axo::Event> events = axo::eventsSince(0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].situation, "BusyOrders");
  EXPECT_TRUE(events[0].raised);

  dc.Poll();  // the three messages are still in the window
  dc.Poll();
  events = axo::eventsSince(events[0].id);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].situation, "BusyOrders");
  EXPECT_FALSE(events[0].raised);
}

// The table pattern on ZEPMATT: its manager is created once, its columns are
// described within bounds, and a row's column is compared through the reader
// of its own type.
TEST(ZepTableTest, ColumnsAreDescribedAndComparedByTheirType) {
  zep_zepmatt_init();
  zep_zepmatt_manager* first = zep_zepmatt_static_manager;
  zep_zepmatt_init();  // a second load keeps the manager in use
  EXPECT_EQ(first, zep_zepmatt_static_manager);

  RequestDetail request;
  ContextInfo context;
  std::unique_ptr<vexor> object(zep_zepmatt_static_manager->CreateVexor(&request, &context));
  ASSERT_NE(nullptr, object);
  for (int index : {-1, object->NumColumns()}) {
    ColumnInfo info = {"untouched", 1, 2, 3};
    EXPECT_EQ(ZEPTABLE_RC_BAD_COLUMN, object->GetColumnInfo(&info, index));
    EXPECT_STREQ("untouched", info.name);
  }

  zep_zepmatt_data_t row;
  std::memset(&row, ' ', sizeof row);
  row.comparator = 3;  // 16 bits
  row.msgcnt = 70000;  // needs all 32 bits
  std::memcpy(row.sitname, "S1", 2);
  // (attribute, operator, value, passes); blanks are ignored, only attribute names match.
  for (const auto& [attribute, oper, value, passes] : {std::tuple{"COMPARATOR", FQX1_EQ, "3", true},
                                                       {"MSGCNT", FQX1_GE, "70000", true},
                                                       {"MSGCNT", FQX1_GT, "70000", false},
                                                       {"SITNAME", FQX1_EQ, "S1", true},
                                                       {"SITNAME", FQX1_GT, "S2", false},
                                                       {"sitname", FQX1_EQ, "S1", false},
                                                       {"NOSUCH", FQX1_EQ, "S1", false}}) {
    EXPECT_EQ(passes, object->ColumnIsException(&row, attribute, oper, value) != 0) << attribute;
  }
}

}  // namespace
