// The bounded lock guard's contract: with a wait limit on the thread it gives
// up after the limit and leaves the holder's lock alone; the agent's pair of
// locks gives up whole, holding neither.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "axo/base/osb1.h"
#include "logs/zepshared.h"

namespace {

// Holds `lock` on another thread until `go` is set.
std::thread HoldUntil(OSB1_Lock* lock, std::shared_future<void> go) {
  std::promise<void> taken;
  std::future<void> held = taken.get_future();
  std::thread t([lock, go, &taken] {
    OSB1_ScopedLock guard(lock);
    taken.set_value();
    go.wait();
  });
  held.wait();
  return t;
}

TEST(Osb1BoundedLockTest, BoundedGuardGivesUpAndLeavesTheHoldersLock) {
  OSB1_Lock lock;
  OSB1_InitializeLock(&lock);
  std::promise<void> go;
  std::thread holder = HoldUntil(&lock, go.get_future().share());
  OSB1_WaitLimit limit(20);
  EXPECT_FALSE(OSB1_ScopedLock(&lock, OSB1_BOUNDED).held());
  EXPECT_EQ(pthread_mutex_trylock(&lock.mutex), EBUSY);  // nothing was released
  {
    OSB1_WaitLimit none(0);
    EXPECT_EQ(OSB1_WaitLimit::current(), 0);
  }
  EXPECT_EQ(OSB1_WaitLimit::current(), 20);  // the outer limit is back
  go.set_value();
  holder.join();
  EXPECT_TRUE(OSB1_ScopedLock(&lock, OSB1_BOUNDED).held());
}

TEST(Osb1BoundedLockTest, AgentDataPairGivesUpWholeWhenTheSecondLockStaysTaken) {
  using Data = ZEPSHARED_agentData;
  OSB1_InitializeLock(&Data::configPropertiesLock);
  OSB1_InitializeLock(&Data::metricsLogListLock);
  std::promise<void> go;
  std::thread holder = HoldUntil(&Data::metricsLogListLock, go.get_future().share());
  OSB1_WaitLimit limit(20);
  EXPECT_FALSE(Data::LockBoth(OSB1_BOUNDED).held());
  ASSERT_EQ(pthread_mutex_trylock(&Data::configPropertiesLock.mutex), 0);  // given back
  pthread_mutex_unlock(&Data::configPropertiesLock.mutex);
  go.set_value();
  holder.join();
  EXPECT_TRUE(Data::LockBoth(OSB1_BOUNDED).held());
}

}  // namespace
