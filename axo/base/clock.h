// The framework clock: the time every part stamps events, samples and
// liveness with, and its test seams.
#ifndef AXO_BASE_CLOCK_H_
#define AXO_BASE_CLOCK_H_

#include <ctime>

// The framework clock: time(), or the clock a test put in its place.
// Thread-safe.
time_t AXO_Now();

// Replaces the framework clock (time()) used for event times, situation
// sampling and liveness; null restores time(). A running process's clock
// can be moved by end-to-end tests instead: when the environment variable
// ZEP_TEST_CLOCK_FILE names a file, its whole number of seconds (re-read at
// most once a second) is added to time().
void AXO_SetClockForTesting(time_t (*clock)());

#endif  // AXO_BASE_CLOCK_H_
