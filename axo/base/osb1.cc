// Framework locks, a thin layer over pthread mutexes, and machine information.
#include "axo/base/osb1.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "axo/base/env.h"
#include "axo/base/text.h"

namespace {

thread_local int t_waitLimitMillis = 0;  // 0: no limit

// A failing lock means memory corruption; going on would corrupt data.
void Abort(const char* call, int rc) {
  fprintf(stderr, "OSB1_GetLock: %s failed, rc=%d\n", call, rc);
  abort();
}

}  // namespace

void OSB1_InitializeLock(OSB1_Lock* lock) {
  if (lock->initialized) return;
  pthread_mutex_init(&lock->mutex, nullptr);
  lock->initialized = true;
}

void OSB1_GetLock(OSB1_Lock* lock) {
  int rc = pthread_mutex_lock(&lock->mutex);
  if (rc != 0) Abort("pthread_mutex_lock", rc);
}

// The clock of a bounded wait. The monotonic clock: a step of the wall clock
// neither ends the wait early nor stretches it. ThreadSanitizer's runtime of
// this toolchain does not see pthread_mutex_clocklock take a lock (it would
// report every unlock after one as an error and miss races), so a build
// under it waits on the wall clock with pthread_mutex_timedlock instead.
#if defined(__SANITIZE_THREAD__)
constexpr clockid_t kWaitClock = CLOCK_REALTIME;
int TimedLock(pthread_mutex_t* m, const timespec* at) { return pthread_mutex_timedlock(m, at); }
#else
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
int TimedLock(pthread_mutex_t* m, const timespec* at) {
  return pthread_mutex_clocklock(m, CLOCK_MONOTONIC, at);
}
#endif

bool OSB1_GetLockWithin(OSB1_Lock* lock, int milliseconds) {
  struct timespec deadline;
  clock_gettime(kWaitClock, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    ++deadline.tv_sec;
    deadline.tv_nsec -= 1000000000L;
  }
  int rc = TimedLock(&lock->mutex, &deadline);
  if (rc == ETIMEDOUT) return false;
  if (rc != 0) Abort("a bounded pthread mutex lock", rc);
  return true;
}

void OSB1_ReleaseLock(OSB1_Lock* lock) { pthread_mutex_unlock(&lock->mutex); }

OSB1_WaitLimit::OSB1_WaitLimit(int milliseconds) : previous_(t_waitLimitMillis) {
  t_waitLimitMillis = milliseconds > 0 ? milliseconds : 0;
}

OSB1_WaitLimit::~OSB1_WaitLimit() { t_waitLimitMillis = previous_; }

int OSB1_WaitLimit::current() { return t_waitLimitMillis; }

OSB1_ScopedLock::OSB1_ScopedLock(OSB1_Lock* lock, OSB1_Bounded) : lock_(lock), held_(true) {
  const int limit = t_waitLimitMillis;
  if (limit > 0) {
    held_ = OSB1_GetLockWithin(lock_, limit);
  } else {
    OSB1_GetLock(lock_);
  }
}

int OSB1_Info(int selector, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  if (selector != 0) return 0;
  const std::string name = axo::Env::Current()->SystemName();
  if (name.empty()) return 0;
  axo_internal::CopyBounded(buffer, static_cast<size_t>(size), name);
  return static_cast<int>(std::strlen(buffer));
}
