// Trace records of a flow scope, and the share of a limited message number.
// (Levels from a configuration text: the options reload test; records
// captured: every test that reads a trace.)
#include "axo/base/trk1.h"

#include <gtest/gtest.h>

#include "axo/base/env.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

TRK1_UNIT(test_unit, "TRK1TEST");

namespace {
int flowLine = 0;  // the line that opens the scope in Traced
int exitLine = 0;  // the line of its exit()
int Traced() {
  flowLine = __LINE__ + 1;
  TRK1_FlowScope flow(&test_unit, "Traced");
  exitLine = __LINE__ + 1;
  return flow.exitWith(5);
}
}  // namespace

// Entry and exit records carry the caller's lines, not the trace header's.
TEST(Trk1Test, FlowScopeRecordsTheCallersLines) {
  ZepTestDir dir;
  ASSERT_TRUE(TRK1_SetTraceFile(dir.path("trace")));
  ASSERT_TRUE(TRK1_Configure("TRK1TEST=64"));
  Traced();
  TRK1_ResetLevels();
  ASSERT_TRUE(TRK1_SetTraceFile("/dev/stderr"));
  const std::string trace = dir.read("trace");
  EXPECT_NE(trace.find("TRK1TEST:" + std::to_string(flowLine) + " Entry Traced"), std::string::npos)
      << trace;
  EXPECT_NE(trace.find("TRK1TEST:" + std::to_string(exitLine) + " Exit Traced"), std::string::npos)
      << trace;
}

// A flood of one message number writes its share each second of the
// framework clock, then says how many it dropped; another number keeps a
// share of its own, and a clock set back starts a new second.
TEST(Trk1Test, LimitedRecordsKeepTheirShareAndCountWhatTheyDrop) {
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetNow(1000);
  TRK1_Capture capture;
  for (int i = 0; i < 100; ++i) TRK1_PrintfLimited(&test_unit, __LINE__, "TST0001W flood %d", i);
  TRK1_PrintfLimited(&test_unit, __LINE__, "TST0002W other");
  EXPECT_EQ(capture.count("TST0001W flood"), TRK1_LIMITED_PER_SECOND);
  EXPECT_EQ(capture.count("TST0002W other"), 1);
  EXPECT_EQ(capture.count("suppressed"), 0);

  env.SetNow(1001);
  TRK1_PrintfLimited(&test_unit, __LINE__, "TST0001W flood %d", 100);
  env.SetNow(999);
  for (int i = 0; i < 10; ++i) TRK1_PrintfLimited(&test_unit, __LINE__, "TST0001W back %d", i);
  const std::vector<std::string> m = capture.messages();
  ASSERT_EQ(m.size(), static_cast<size_t>(TRK1_LIMITED_PER_SECOND) * 2 + 3) << m.back();
  EXPECT_EQ(m[TRK1_LIMITED_PER_SECOND + 1], "TST0001W 95 more suppressed (at most 5 a second)");
  EXPECT_EQ(m[TRK1_LIMITED_PER_SECOND + 2], "TST0001W flood 100");
  EXPECT_EQ(capture.count("TST0001W back"), TRK1_LIMITED_PER_SECOND);
}
