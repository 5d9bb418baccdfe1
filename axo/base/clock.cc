// The framework clock.
#include "axo/base/clock.h"

#include <atomic>

#include "axo/base/testpause.h"

namespace {

std::atomic<time_t (*)()> g_clock{nullptr};

}  // namespace

void AXO_SetClockForTesting(time_t (*clock)()) { g_clock.store(clock); }

time_t AXO_Now() {
  time_t (*clock)() = g_clock.load();
  return clock != nullptr ? clock() : time(nullptr) + AXO_TestClockFileOffset();
}
