// The port layer's fault seam under threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "foundation/zepport.h"
#include "foundation/zeptestdir.h"

namespace {

// The fault seam counts strikes exactly even when several threads hit it.
TEST(ZepPortConcurrencyTest, FaultCountsHoldAcrossThreads) {
  ZepTestDir dir;
  ZEPPORT::injectFault(ZEPPORT::Op::kOpen, "shared", EIO, 50, 10);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string path = dir.path("shared" + std::to_string(t));
      for (int i = 0; i < 40; ++i) {
        ZEP_FILE f;
        if (ZEPPORT::zep_open(path.c_str(), "w", &f, 0666) != 0) {
          ++failures;
        } else {
          ZEPPORT::zep_close(&f);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  ZEPPORT::clearFaults();
  EXPECT_EQ(failures.load(), 50);
}

}  // namespace
