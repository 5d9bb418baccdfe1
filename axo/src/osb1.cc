// Framework locks: a thin layer over pthread mutexes.
#include "axo/osb1.h"

#include <cstdio>
#include <cstdlib>

void OSB1_InitializeLock(OSB1_Lock* lock) {
  if (lock->initialized) return;
  pthread_mutex_init(&lock->mutex, nullptr);
  lock->initialized = true;
}

void OSB1_GetLock(OSB1_Lock* lock) {
  int rc = pthread_mutex_lock(&lock->mutex);
  if (rc != 0) {
    // A failing lock means memory corruption; going on would corrupt data.
    fprintf(stderr, "OSB1_GetLock: pthread_mutex_lock failed, rc=%d\n", rc);
    abort();
  }
}

void OSB1_ReleaseLock(OSB1_Lock* lock) { pthread_mutex_unlock(&lock->mutex); }
