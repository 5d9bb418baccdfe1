// ZEPMATT: a message-count situation names its client address, service and
// interval; one that leaves any of them out is refused with a reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "axo/trk1.h"
#include "axo/vexor.h"
#include "runtime/zepdisp.h"
#include "situations/situations_test_util.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zeppelem.h"
#include "tables/zepmatt.h"

namespace {

struct Term {
  const char* column;
  const char* value;  // text, or null for the number
  int32_t number;
  short oper;
};

class ZepMattConditionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ZEPDISP_dispatcher::pDataComputer;
    ZEPDISP_dispatcher::pDataComputer = &dc_;
  }
  void TearDown() override { ZEPDISP_dispatcher::pDataComputer = saved_; }

  ZEPDC_DataComputer dc_{false};

 private:
  ZEPDC_DataComputer* saved_ = nullptr;
};

TEST_F(ZepMattConditionsTest, SituationWithoutAddressServiceOrIntervalIsRefused) {
  const Term address{"RMIPADDR", "*", 0, FQX1_EQ};
  const Term service{"PORTNAME", "OrderPort", 0, FQX1_EQ};
  const Term interval{"TMINT", nullptr, 60, FQX1_EQ};
  const Term count{"MSGCNT", nullptr, 10, FQX1_GE};
  struct Case {
    std::vector<Term> terms;
    const char* missing;  // null: registered
  } cases[] = {
      {{address, service, interval, count}, nullptr},  // no OPNAME: any operation
      {{service, interval, count}, "RMIPADDR"},
      {{address, interval, count}, "PORTNAME"},
      {{address, service, count}, "TMINT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing != nullptr ? c.missing : "complete");
    RequestDetail request;
    request.sampleType = AXO_SAMPLE_SITUATION;
    request.interval = 60;  // the sampling interval is not the situation's interval
    std::snprintf(request.situationName, sizeof(request.situationName), "S1");
    for (const Term& t : c.terms) {
      if (t.value != nullptr) {
        request.AddFilterTerm(FQX1_AND, t.oper, t.column, FQX1_CSTRING, t.value,
                              static_cast<int>(std::strlen(t.value)));
      } else {
        request.AddFilterTerm(FQX1_AND, t.oper, t.column, FQX1_INTEGER, &t.number, 4);
      }
    }
    ContextInfo context;
    TRK1_Capture capture;
    {
      ZEPTABLE_object<zep_zepmatt_agent> object(&request, &context, nullptr);
      if (c.missing == nullptr) {
        ASSERT_EQ(dc_.getMCList()->size(), 1);
        auto* counter = static_cast<const ZEPDCMC_MessageCounter*>(
            static_cast<ZEPPELEM_PayloadElement*>(dc_.getMCList()->front())->getPayload());
        EXPECT_EQ(counter->operation(), "*");
        EXPECT_EQ(counter->service(), situations_test::pad("OrderPort"));
      } else {
        EXPECT_TRUE(dc_.getMCList()->empty());
        EXPECT_TRUE(capture.contains(std::string("ZEP0409E Situation S1 refused: it has no ") +
                                     "condition on " + c.missing));
      }
    }
    EXPECT_TRUE(dc_.getMCList()->empty());
  }
}

}  // namespace
