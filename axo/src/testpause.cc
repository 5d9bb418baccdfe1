// Test-only pause points.
#include "axo/testpause.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void AXO_TestPausePoint(const char* name) {
  static const char* const wanted = std::getenv("ZEP_TEST_PAUSE_AT");
  if (wanted == nullptr || std::strcmp(wanted, name) != 0) return;
  static std::atomic<bool> reached{false};
  if (reached.exchange(true)) return;
  std::fprintf(stderr, "AXO_TestPausePoint %s\n", name);
  std::fflush(stderr);
  std::raise(SIGSTOP);
}
