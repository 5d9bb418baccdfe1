// The env: the default one's etc directory, and how installed envs nest. (What the agent reads
// through it: the port layer's tests.)
#include "axo/base/env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "axo/base/clock.h"
#include "axo/base/osb1.h"
#include "support/fake_env.h"

namespace {

// The end-to-end tests' and the demo's etc directory comes from the
// environment; an empty variable counts as none.
TEST(EnvTest, TheDefaultEtcDirectoryHonoursANonEmptyVariable) {
  axo::Env* env = axo::Env::Default();
  const char* given = getenv("ZEP_ETC_DIR");
  const std::string saved = given != nullptr ? given : "";
  unsetenv("ZEP_ETC_DIR");
  const std::string built = env->EtcDir();
  setenv("ZEP_ETC_DIR", "/srv/demo/etc", 1);
  EXPECT_EQ(env->EtcDir(), "/srv/demo/etc");
  setenv("ZEP_ETC_DIR", "", 1);
  EXPECT_EQ(env->EtcDir(), built);
  given != nullptr ? setenv("ZEP_ETC_DIR", saved.c_str(), 1) : unsetenv("ZEP_ETC_DIR");
}

// An inner env set over an outer one passes on what it does not set; each
// guard restores the env before it, and the framework reads the innermost.
TEST(EnvTest, InstalledEnvsNestAndTheFrameworkReadsTheInnermost) {
  zeptest::FakeEnv outer;
  zeptest::FakeEnv inner(&outer);
  outer.SetNow(100);
  outer.SetSystemName("outer");
  {
    axo::ScopedEnv useOuter(&outer);
    EXPECT_EQ(AXO_Now(), 100);
    {
      axo::ScopedEnv useInner(&inner);
      EXPECT_EQ(axo::Env::Current(), &inner);
      char name[16];
      EXPECT_EQ(OSB1_Info(0, name, sizeof(name)), 5);  // passed on
      EXPECT_EQ(AXO_Now(), 100);
      inner.SetNow(200);
      EXPECT_EQ(AXO_Now(), 200);
      inner.SetSystemName("");  // unknown: OSB1_Info fails
      EXPECT_EQ(OSB1_Info(0, name, sizeof(name)), 0);
      EXPECT_STREQ(name, "");
    }
    EXPECT_EQ(axo::Env::Current(), &outer);
    EXPECT_EQ(AXO_Now(), 100);
  }
  EXPECT_EQ(axo::Env::Current(), axo::Env::Default());
}

}  // namespace
