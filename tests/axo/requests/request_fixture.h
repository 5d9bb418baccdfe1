// The request API's test fixture: a fresh framework with an event table
// (AXOEV, with a SITNAME column) and a sampled table (AXOSMP) of two rows,
// on a clock the test sets.
#ifndef TESTS_AXO_REQUEST_FIXTURE_H_
#define TESTS_AXO_REQUEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "axo/requests/test_table.h"

class AxoRequestTest : public ::testing::Test {
 protected:
  static inline time_t now_ = 1000;  // the framework clock
  static time_t Clock() { return now_; }

  void SetUp() override {
    AXO_ResetForTesting();
    now_ = 1000;
    AXO_SetClockForTesting(Clock);
    ASSERT_EQ(TableManager::RegisterWithManager(&events_), 0u);
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta", 2, 200)};
  }
  void TearDown() override {
    axo::resetSituationsForTesting();
    AXO_SetClockForTesting(nullptr);
  }

  axo::Code Create(const std::string& name, const std::string& table, int interval,
                   std::vector<axo::FilterTerm> terms) {
    axo::SituationSpec spec{name, table, interval, std::move(terms)};
    return axo::createSituation(spec).code();
  }

  TestManager events_{"AXOEV", true};
  TestManager sampled_{"AXOSMP", false};
};

#endif  // TESTS_AXO_REQUEST_FIXTURE_H_
