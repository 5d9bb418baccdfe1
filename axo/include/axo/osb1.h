// Locks of the agent framework, and a scoped guard for the agent's use.
//
// OSB1_Lock wraps a mutex. The agent never calls Get/Release in pairs by
// hand: it takes locks through OSB1_ScopedLock so that no path can leave
// one held.
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
void OSB1_ReleaseLock(OSB1_Lock* lock);

// Holds `lock` for the lifetime of the guard.
class OSB1_ScopedLock {
 public:
  explicit OSB1_ScopedLock(OSB1_Lock* lock) : lock_(lock) { OSB1_GetLock(lock_); }
  ~OSB1_ScopedLock() { OSB1_ReleaseLock(lock_); }
  OSB1_ScopedLock(const OSB1_ScopedLock&) = delete;
  OSB1_ScopedLock& operator=(const OSB1_ScopedLock&) = delete;

 private:
  OSB1_Lock* lock_;
};

#endif  // AXO_OSB1_H_
