// Test-only pause and stall points.
#include "axo/base/testpause.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

void AXO_TestPausePoint(const char* name) {
  static const char* const wanted = std::getenv("ZEP_TEST_PAUSE_AT");
  if (wanted == nullptr || std::strcmp(wanted, name) != 0) return;
  static std::atomic<bool> reached{false};
  if (reached.exchange(true)) return;
  std::fprintf(stderr, "AXO_TestPausePoint %s\n", name);
  std::fflush(stderr);
  std::raise(SIGSTOP);
}

void AXO_TestStallPoint(const char* name) {
  static const char* const wanted = std::getenv("ZEP_TEST_STALL_AT");
  if (wanted == nullptr || std::strcmp(wanted, name) != 0) return;
  static const char* const file = std::getenv("ZEP_TEST_STALL_FILE");
  if (file == nullptr || access(file, F_OK) != 0) return;
  std::fprintf(stderr, "AXO_TestStallPoint %s\n", name);
  std::fflush(stderr);
  while (access(file, F_OK) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
