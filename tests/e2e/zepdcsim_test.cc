// The data-collector simulator as a binary: what no agent test sees. (Its
// records, headers and faults are read by the real agent in every end-to-end
// test, and its --expect report is checked against the agent's windows
// through the operator API.)
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "e2e/zepagent_process.h"

namespace {

// Never replaces a file the agent has not taken yet; finds the log
// directory through the base-directory file.
TEST(ZepdcsimTest, WritesBesideWaitingFilesAndFindsTheLogDirectory) {
  e2e::TempDir tmp;
  const std::string dir = tmp.path() + "/logs";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string existing = dir + "/ZEP.appsrv01.000001.metric.log";
  e2e::WriteFile(existing, "not mine\n");
  // Rate mode with a count ends as soon as the count is written.
  ASSERT_EQ(e2e::Simulate("--dir " + dir + " --count 5 --rate 1000000 --time-base old"), 0);
  EXPECT_EQ(e2e::ReadFile(existing), "not mine\n");
  EXPECT_NE(e2e::ReadFile(dir + "/ZEP.appsrv01.000002.metric.log").find("#ZEP.servername=appsrv01"),
            std::string::npos);

  e2e::InstallDir install(tmp.path());
  ASSERT_EQ(e2e::Simulate("--etc-dir " + install.etc + " --count 1"), 0);
  EXPECT_TRUE(std::filesystem::exists(install.logs + "/ZEP.appsrv01.000001.metric.log"));
}

}  // namespace
