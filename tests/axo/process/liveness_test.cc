// The liveness rule: stuck only when the last round (or the start of the
// watch) is more than three intervals and at least 30 s old.
#include "axo/process/liveness.h"

#include <gtest/gtest.h>

#include "axo/base/env.h"
#include "axo/process/axo.h"
#include "support/fake_env.h"

namespace {

constexpr time_t t = 1000;

bool StuckAt(const std::string& part, time_t now) {
  for (const axo::liveness::PartState& p : axo::liveness::Parts(now)) {
    if (p.name == part) return p.stuck;
  }
  ADD_FAILURE() << part << " is not watched";
  return false;
}

TEST(AxoLivenessTest, StuckAfterThreeIntervalsAndThirtySeconds) {
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetNow(t);
  axo::liveness::Watch("short", 1);
  axo::liveness::Completed("long", 20);
  EXPECT_FALSE(StuckAt("short", t + 29));  // over 3 intervals, under 30 s
  EXPECT_TRUE(StuckAt("short", t + 30));
  EXPECT_FALSE(StuckAt("long", t + 59));  // over 30 s, not over 3 intervals
  EXPECT_TRUE(StuckAt("long", t + 61));
  axo::liveness::Forget("short");
  axo::liveness::Forget("long");
  for (const axo::liveness::PartState& p : axo::liveness::Parts(t)) EXPECT_NE(p.name, "long");
}

}  // namespace
