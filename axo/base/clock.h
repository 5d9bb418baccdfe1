// The framework clock: the time every part stamps events, samples and
// liveness with.
#ifndef AXO_BASE_CLOCK_H_
#define AXO_BASE_CLOCK_H_

#include <ctime>

// The framework clock: the current env's clock (axo/base/env.h), the same
// the agent reads through ZEPPORT::now(); a test replaces it by installing
// an env. The agent the end-to-end tests start adds
// AXO_TestClockFileOffset() to it (axo/base/testpause.h). Thread-safe.
time_t AXO_Now();

#endif  // AXO_BASE_CLOCK_H_
