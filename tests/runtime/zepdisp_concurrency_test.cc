// The log dispatcher's thread: its prompt stop. (Its passes sharing the
// locks with samples and commands: the whole-agent stress test.)
#include <gtest/gtest.h>

#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"

namespace {

using namespace zeplogs_test;
using D = ZEPDISP_dispatcher;

class ZepDispConcurrencyTest : public ZepLogsTest {};

TEST_F(ZepDispConcurrencyTest, ThreadStopsPromptlyAndReleasesTheDataComputer) {
  ASSERT_EQ(D::init(nullptr), 0);
  EXPECT_NE(D::dataComputer(), nullptr);
  D::stop();  // wakes the sleeping thread instead of waiting the sleep out
  D::waitForDispatcherTermination();
  EXPECT_EQ(D::dataComputer(), nullptr);
  D::stop();  // a second stop is harmless
}

}  // namespace
