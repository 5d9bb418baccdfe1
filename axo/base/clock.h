// The framework clock: the time every part stamps events, samples and
// liveness with, and its test seams.
#ifndef AXO_BASE_CLOCK_H_
#define AXO_BASE_CLOCK_H_

#include <ctime>

// The framework clock: time(), or the clock a test put in its place.
// Thread-safe.
time_t AXO_Now();

// Replaces the framework clock (time()) used for event times, situation
// sampling and liveness; null restores time(). The agent the end-to-end
// tests start adds AXO_TestClockFileOffset() to time() (axo/base/testpause.h).
void AXO_SetClockForTesting(time_t (*clock)());

#endif  // AXO_BASE_CLOCK_H_
