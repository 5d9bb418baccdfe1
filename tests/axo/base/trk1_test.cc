// Trace records of a flow scope. (Levels from a configuration text: the
// options reload test; records captured: every test that reads a trace.)
#include "axo/base/trk1.h"

#include <gtest/gtest.h>

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
