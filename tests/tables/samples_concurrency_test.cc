// A metrics sample taken while dispatcher passes read new files on another
// thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "axo/trk1.h"
#include "tables/samples_test_util.h"
#include "tables/zepsmt.h"

namespace {

using namespace samples_test;

class SamplesConcurrencyTest : public SamplesTest {};

TEST_F(SamplesConcurrencyTest, SampleDuringPassesSeesWholeFiles) {
  TRK1_SetLevel("all", 0);
  start();
  constexpr int kFiles = 20;
  constexpr int kPerFile = 10;
  std::atomic<bool> done{false};
  std::thread writer([this, &done] {
    for (int f = 0; f < kFiles; ++f) {
      std::vector<std::string> records;
      for (int i = 0; i < kPerFile; ++i) records.push_back(rec(kT0 + f, i));
      feed("server1", records);
    }
    done = true;
  });
  // A pass reads a file under the locks, so a sample sees all of a file's
  // lines or none of them.
  size_t total = 0;
  for (bool last = false; !last;) {
    last = done;
    const size_t n = sample<zep_zepsmt_agent>({{}, true}).size();
    EXPECT_EQ(n % kPerFile, 0u);
    total += n;
  }
  writer.join();
  EXPECT_EQ(total, static_cast<size_t>(kFiles * kPerFile));
}

}  // namespace
