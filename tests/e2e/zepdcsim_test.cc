// The data-collector simulator as a binary: what no agent test sees. (Its
// records, headers and faults are read by the real agent in every end-to-end
// test, and its --expect report is checked against the agent's windows
// through the operator API; the Alertmanager test has it find the log
// directory through the base-directory file.)
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "e2e/zepagent_process.h"

namespace {

// Never replaces a file the agent has not taken yet: its records would be
// lost to every test that runs the simulator twice. A server prefix that
// would overflow a subnode name, or carry a separator, is refused (the
// prefix itself names the servers in the Prometheus end-to-end test).
TEST(ZepdcsimTest, WritesBesideWaitingFilesAndRefusesABadServerPrefix) {
  e2e::TempDir tmp;
  const std::string dir = tmp.path();
  const std::string existing = dir + "/ZEP.appsrv01.000001.metric.log";
  e2e::WriteFile(existing, "not mine\n");
  // Rate mode with a count ends as soon as the count is written.
  ASSERT_EQ(e2e::Simulate("--dir " + dir + " --count 5 --rate 1000000 --time-base old"), 0);
  EXPECT_EQ(e2e::ReadFile(existing), "not mine\n");
  EXPECT_NE(e2e::ReadFile(dir + "/ZEP.appsrv01.000002.metric.log").find("#ZEP.servername=appsrv01"),
            std::string::npos);
  for (const char* bad : {"h07-", "123456789"}) {
    const int status = e2e::Simulate("--dir " + dir + " --count 1 --server-prefix '" + bad + "'");
    EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
  }
}

}  // namespace
