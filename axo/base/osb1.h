// Locks of the agent framework, a scoped guard for the agent's use, and
// machine information (OSB1_Info).
//
// OSB1_Lock wraps a mutex. The agent never calls Get/Release in pairs by
// hand: it takes locks through OSB1_ScopedLock so that no path can leave
// one held.
//
// Bounded waits. A thread that must answer within a bound (the framework's
// request, history and situation threads) carries a wait limit, set for a
// scope with OSB1_WaitLimit. A guard constructed with OSB1_BOUNDED waits at
// most that long and then gives up; its holder checks held() and, when the
// lock was not taken, answers "busy" without touching what the lock guards.
// Guards without OSB1_BOUNDED, and bounded guards on a thread without a
// limit, wait as long as it takes. So only call sites that check held() opt
// in, and no unchecked site can ever run unlocked.
#ifndef AXO_OSB1_H_
#define AXO_OSB1_H_

#include <pthread.h>

struct OSB1_Lock {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  bool initialized = false;
};

// Prepares `lock` for use. Initialising an initialised lock changes nothing.
void OSB1_InitializeLock(OSB1_Lock* lock);
// Blocks until the calling thread holds `lock`.
void OSB1_GetLock(OSB1_Lock* lock);
// Waits at most `milliseconds` (measured on the monotonic clock) for `lock`.
// Returns true when the calling thread holds it.
bool OSB1_GetLockWithin(OSB1_Lock* lock, int milliseconds);
void OSB1_ReleaseLock(OSB1_Lock* lock);

// Gives the calling thread a wait limit for bounded guards while the object
// lives, and restores the previous limit (none, or an outer one) after it.
// Not thread-shared: construct and destroy it on the same thread.
class OSB1_WaitLimit {
 public:
  // `milliseconds` above 0 sets the limit; 0 or less removes it.
  explicit OSB1_WaitLimit(int milliseconds);
  ~OSB1_WaitLimit();
  OSB1_WaitLimit(const OSB1_WaitLimit&) = delete;
  OSB1_WaitLimit& operator=(const OSB1_WaitLimit&) = delete;

  // The calling thread's limit in milliseconds; 0 when it has none.
  static int current();

 private:
  int previous_;
};

// Marks a guard that waits at most the calling thread's wait limit.
enum OSB1_Bounded { OSB1_BOUNDED };

// Holds `lock` for the lifetime of the guard.
class OSB1_ScopedLock {
 public:
  explicit OSB1_ScopedLock(OSB1_Lock* lock) : lock_(lock), held_(true) { OSB1_GetLock(lock_); }
  // Waits at most OSB1_WaitLimit::current() (unbounded when it is 0).
  // Requires: the caller checks held() before it touches guarded data.
  OSB1_ScopedLock(OSB1_Lock* lock, OSB1_Bounded);
  ~OSB1_ScopedLock() {
    if (held_) OSB1_ReleaseLock(lock_);
  }
  OSB1_ScopedLock(const OSB1_ScopedLock&) = delete;
  OSB1_ScopedLock& operator=(const OSB1_ScopedLock&) = delete;

  // True when the guard holds its lock: always, unless it was constructed
  // with OSB1_BOUNDED and the wait limit passed first.
  bool held() const { return held_; }

 private:
  OSB1_Lock* lock_;
  bool held_;
};

// Machine information. Selector 0 asks for the system name of this machine
// (its node name, as the current env tells it: axo/base/env.h). Writes at most size-1 characters
// and a terminator into `buffer`. Returns the number of characters written, 0 on failure (the
// buffer then holds an empty string) or for an unknown selector.
int OSB1_Info(int selector, char* buffer, int size);

#endif  // AXO_OSB1_H_
