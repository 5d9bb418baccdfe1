// End to end: the built zepconsole driven through standard input, on a
// private install tree named by ZEP_ETC_DIR in the child's environment.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "foundation/zeptestdir.h"

namespace {

TEST(ConsoleTest, TranscriptOfConversionsTimeBatchCommandsAndEndOfInput) {
  ZepTestDir dir;
  std::filesystem::create_directories(dir.path("etc"));
  std::filesystem::create_directories(dir.path("install/ZEP/config"));
  std::filesystem::create_directories(dir.path("install/ZEP/logs"));
  dir.write("etc/ZEPBaseDirConfig.properties", "INSTALLDIR=" + dir.path("install") + "\n");
  dir.write("install/ZEP/config/ZEP.dc.properties",
            "1.server1.monitor=off\n1.server1.log=error\n1.server1.trace=off\n");
  dir.write("batch.txt",
            "# two changes and one rejection\n\n! another comment\n"
            "enableMonitoring;server1;Granite_Application_Server;host1\n"
            "updateLogging;server1;Granite_Application_Server;host1;Info\n"
            "updateTracing;server1;Granite_Application_Server;host1;loud\n");
  // The input ends without END: the end of input ends the console.
  dir.write("stdin.txt", "ITOA\n42\nATOI\n12a\nATOI\n-12\ntime\nACMD\n@" + dir.path("batch.txt") +
                             "\n@" + dir.path("missing.txt") + "\nDONE\nGBLCFG\nLOAD\n" +
                             dir.path("own.properties") + "\nSET\nk\nv\nLIST\nITOA\n");
  const std::string command = "ZEP_ETC_DIR='" + dir.path("etc") + "' '" + ZEP_BUILD_DIR +
                              "/zepconsole' <'" + dir.path("stdin.txt") + "' >'" +
                              dir.path("stdout.txt") + "' 2>'" + dir.path("stderr.txt") + "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << dir.read("stderr.txt");

  const std::string out = dir.read("stdout.txt");
  for (const char* expected : {
           "Enter an integer\nNumber entered was: 42\n",
           "ERROR: [12a] is not recognized as a number\nEnter one of",
           "Number entered was: -12\n",
           "\n\n\nResults:\n  Success:   2\n  No Change: 0\n  Error:     1\n",
           "Input stream not open.\nEnter an individual action command string  or\n",
           "Number of rows returned = 1\n",
           "\nk=v\n",
       }) {
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n--- in ---\n" << out;
  }
  EXPECT_TRUE(out.ends_with("Enter an integer\n"));  // the input ended at the prompt
  EXPECT_TRUE(std::regex_search(out, std::regex("Current timestamp is: 1[0-9]{15}\n")));
  const std::string config = dir.read("install/ZEP/config/ZEP.dc.properties");
  EXPECT_NE(config.find("1.server1.monitor=on\n"), std::string::npos);
  EXPECT_NE(config.find("1.server1.log=info\n"), std::string::npos);
  EXPECT_NE(config.find("1.server1.trace=off\n"), std::string::npos);
}

}  // namespace
