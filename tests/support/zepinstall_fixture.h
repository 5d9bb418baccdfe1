// A test fixture with a private install tree (InstallDir, without a
// configuration file) in a real temporary directory.
// The clock is the test's (fakeTime()), in a test env (env_) the test may
// set further; the dispatcher starts and ends each test reset, and every
// seam is restored afterwards.
#ifndef ZEP_TESTS_SUPPORT_ZEPINSTALL_FIXTURE_H_
#define ZEP_TESTS_SUPPORT_ZEPINSTALL_FIXTURE_H_

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "axo/tables/vexor.h"
#include "runtime/zepcmd.h"
#include "runtime/zepdisp.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

namespace zeptest {

// The agent's subnode registrar, for the tests of the metric log list below
// the runtime that registers it.
inline constexpr auto kAgentSubnodeRegistrar = &zepRegisterSubnode;

// The time the agent reads while a test runs; tests move it by hand.
inline time_t& fakeTime() {
  static time_t t = 0;
  return t;
}
inline time_t fakeNow() { return fakeTime(); }

class InstallTreeTest : public ::testing::Test {
 protected:
  // `startTime` is the clock's value when each test begins.
  explicit InstallTreeTest(time_t startTime) : startTime_(startTime) {}

  void SetUp() override {
    env_.SetEtcDir(tree_.etc);
    fakeTime() = startTime_;
    env_.SetClock(fakeNow);
    ZEPDISP_dispatcher::resetForTesting();
  }
  void TearDown() override {
    ZEPDISP_dispatcher::resetForTesting();
    AXO_FailInsertRowForTesting(0, 0);
    TRK1_ResetLevels();
  }

  std::string logDir() const { return tree_.logs; }
  std::string configFile() const { return tree_.config; }

  ZepTestDir tmp_;
  InstallDir tree_{tmp_.path(), std::nullopt};  // no configuration file
  FakeEnv env_;
  axo::ScopedEnv useEnv_{&env_};

 private:
  const time_t startTime_;
};

}  // namespace zeptest

#endif  // ZEP_TESTS_SUPPORT_ZEPINSTALL_FIXTURE_H_
