// The env: what the default one asks of the system, and how installed envs
// nest. (What the agent reads through it: the port layer's tests.)
#include "axo/base/env.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "axo/base/clock.h"
#include "axo/base/osb1.h"
#include "support/fake_env.h"

namespace {

TEST(EnvTest, TheDefaultEnvAsksTheSystem) {
  axo::Env* env = axo::Env::Default();
  ASSERT_EQ(axo::Env::Current(), env);
  const time_t before = time(nullptr);
  const time_t now = env->Now();
  EXPECT_TRUE(before <= now && now <= time(nullptr));
  EXPECT_EQ(env->EffectiveUid(), geteuid());
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_EQ(env->SystemName(), u.nodename);
  EXPECT_EQ(env->TmpDir(), "/tmp");
  // The end-to-end tests' and the demo's etc directory; an empty variable
  // counts as none.
  const char* given = getenv("ZEP_ETC_DIR");
  const bool had = given != nullptr;
  const std::string saved = had ? given : "";
  unsetenv("ZEP_ETC_DIR");
  const std::string built = env->EtcDir();
  setenv("ZEP_ETC_DIR", "/srv/demo/etc", 1);
  EXPECT_EQ(env->EtcDir(), "/srv/demo/etc");
  setenv("ZEP_ETC_DIR", "", 1);
  EXPECT_EQ(env->EtcDir(), built);
  if (had) {
    setenv("ZEP_ETC_DIR", saved.c_str(), 1);
  } else {
    unsetenv("ZEP_ETC_DIR");
  }
  EXPECT_EQ(env->FileFault(axo::Env::FileOp::kOpen, "/x", nullptr), 0);
  EXPECT_FALSE(env->MayFailFiles());
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
