// The request API's test fixture: a fresh framework with an event table
// (AXOEV, with a SITNAME column) and a sampled table (AXOSMP) of two rows,
// on a clock the test sets.
#ifndef TESTS_AXO_REQUEST_FIXTURE_H_
#define TESTS_AXO_REQUEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "axo/base/env.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "axo/requests/test_table.h"
#include "support/fake_env.h"

class AxoRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    env_.SetNow(1000);  // the framework clock
    ASSERT_EQ(TableManager::RegisterWithManager(&events_), 0u);
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta", 2, 200)};
  }
  void TearDown() override { axo::resetSituationsForTesting(); }

  axo::Code Create(const std::string& name, const std::string& table, int interval,
                   std::vector<axo::FilterTerm> terms) {
    axo::SituationSpec spec{name, table, interval, std::move(terms)};
    return axo::createSituation(spec).code();
  }

  zeptest::FakeEnv env_;
  axo::ScopedEnv useEnv_{&env_};
  TestManager events_{"AXOEV", true};
  TestManager sampled_{"AXOSMP", false};
};

#endif  // TESTS_AXO_REQUEST_FIXTURE_H_
