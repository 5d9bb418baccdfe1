// The test seams. This file is compiled twice: into axo_base without
// AXO_TEST_SEAMS (every seam a no-op, for the shipped agent and in-process
// tests), and with it into the agent the end-to-end tests start, whose
// definitions then take the place of axo_base's (both define the same symbols).
#include "axo/base/testpause.h"

#ifdef AXO_TEST_SEAMS

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "axo/base/text.h"

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

time_t AXO_TestClockFileOffset() {
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

time_t AXO_TestClockOffset() {
  static const time_t offset = [] {
    const char* text = std::getenv("ZEP_TEST_CLOCK_OFFSET");
    if (text == nullptr || *text == '\0') return time_t{0};
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || seconds <= -86400 || seconds >= 86400) return time_t{0};
    return static_cast<time_t>(seconds);
  }();
  return offset;
}

#else  // the shipped agent: no seam reads the environment

void AXO_TestPausePoint(const char*) {}
void AXO_TestStallPoint(const char*) {}
time_t AXO_TestClockFileOffset() { return 0; }
time_t AXO_TestClockOffset() { return 0; }

#endif  // AXO_TEST_SEAMS
