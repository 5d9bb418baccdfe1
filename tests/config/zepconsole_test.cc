// End to end: the built zepconsole runs a batch file of action commands named
// on its standard input, on a private install tree, and ends at the end of
// its input.
#include <gtest/gtest.h>

#include "e2e/zepagent_process.h"

namespace {

TEST(ConsoleTest, BatchOfActionCommandsChangesTheConfigurationAndCountsResults) {
  e2e::TempDir tmp;
  const std::string root = tmp.path();
  e2e::InstallDir dir(root, "1.server1.monitor=off\n1.server1.log=error\n");
  e2e::WriteFile(root + "/batch.txt",
                 "# two changes and one rejection\n"
                 "enableMonitoring;server1;Granite_Application_Server;host1\n"
                 "updateLogging;server1;Granite_Application_Server;host1;Info\n"
                 "updateTracing;server1;Granite_Application_Server;host1;loud\n");
  e2e::WriteFile(root + "/stdin.txt", "ACMD\n@" + root + "/batch.txt\nDONE\n");  // no END
  std::string out;
  EXPECT_EQ(e2e::RunCommand("ZEP_ETC_DIR='" + dir.etc + "' '" + e2e::kBuild + "/zepconsole' <'" +
                                root + "/stdin.txt'",
                            &out),
            0)
      << out;
  EXPECT_NE(out.find("Results:\n  Success:   2\n  No Change: 0\n  Error:     1\n"),
            std::string::npos)
      << out;
  const std::string config = e2e::ReadFile(dir.config);
  EXPECT_NE(config.find("1.server1.monitor=on\n"), std::string::npos) << config;
  EXPECT_NE(config.find("1.server1.log=info\n"), std::string::npos) << config;
}

}  // namespace
