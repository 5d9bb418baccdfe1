// The framework clock and its test seams.
#include "axo/base/clock.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "axo/base/text.h"

namespace {

std::atomic<time_t (*)()> g_clock{nullptr};

// The end-to-end tests' seam on the framework clock: the whole number of
// seconds held by the file that ZEP_TEST_CLOCK_FILE names is added to the
// system clock, so a test can move a running agent's framework clock
// forward (write the file anew) instead of waiting. The file is read again
// at most once a second; without the variable the cost is one branch.
time_t TestClockOffset() {
  static const char* const path = std::getenv("ZEP_TEST_CLOCK_FILE");
  if (path == nullptr) return 0;
  static std::mutex mu;
  static time_t offset = 0;
  static std::chrono::steady_clock::time_point readAt;
  std::lock_guard<std::mutex> guard(mu);
  const auto now = std::chrono::steady_clock::now();
  if (now - readAt >= std::chrono::seconds(1)) {
    readAt = now;
    std::ifstream in(path);
    long long seconds = 0;
    std::string text;
    if (in >> text && axo_internal::ParseInteger(text, -999999999, 999999999, &seconds)) {
      offset = static_cast<time_t>(seconds);
    }
  }
  return offset;
}

}  // namespace

void AXO_SetClockForTesting(time_t (*clock)()) { g_clock.store(clock); }

time_t AXO_Now() {
  time_t (*clock)() = g_clock.load();
  return clock != nullptr ? clock() : time(nullptr) + TestClockOffset();
}
