// End to end: the built zepconsole driven through standard input, on a
// private install tree named by ZEP_ETC_DIR in the child's environment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "foundation/zeptestdir.h"

namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path("etc"));
    std::filesystem::create_directories(dir_.path("install/ZEP/config"));
    std::filesystem::create_directories(dir_.path("install/ZEP/logs"));
    dir_.write("etc/ZEPBaseDirConfig.properties", "INSTALLDIR=" + dir_.path("install") + "\n");
    dir_.write("install/ZEP/config/ZEP.dc.properties",
               "1.server1.monitor=off\n1.server1.log=error\n1.server1.trace=off\n");
  }

  // Runs the console with `input` on standard input; returns its standard
  // output and stores its exit status.
  std::string runConsole(const std::string& input, int* status) {
    dir_.write("stdin.txt", input);
    const std::string binary = std::string(ZEP_BUILD_DIR) + "/zepconsole";
    const std::string inPath = dir_.path("stdin.txt");
    const std::string outPath = dir_.path("stdout.txt");
    const std::string errPath = dir_.path("stderr.txt");
    // Everything the child needs is prepared before the fork: between fork
    // and exec it may only make system calls.
    std::vector<std::string> env = {"ZEP_ETC_DIR=" + dir_.path("etc")};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "ZEP_ETC_DIR=", 12) != 0) env.push_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(binary.c_str()), nullptr};
    pid_t pid = fork();
    if (pid == 0) {
      int in = open(inPath.c_str(), O_RDONLY);
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execve(binary.c_str(), argv, envp.data());
      _exit(127);
    }
    EXPECT_GT(pid, 0);
    EXPECT_EQ(waitpid(pid, status, 0), pid);
    return dir_.read("stdout.txt");
  }

  ZepTestDir dir_;
};

TEST_F(ConsoleTest, TranscriptOfConversionsTimeAndBatchCommands) {
  dir_.write("batch.txt",
             "# two changes and one rejection\n"
             "\n"
             "! another comment\n"
             "enableMonitoring;server1;Granite_Application_Server;host1\n"
             "updateLogging;server1;Granite_Application_Server;host1;Info\n"
             "updateTracing;server1;Granite_Application_Server;host1;loud\n");
  int status = -1;
  std::string out = runConsole("ITOA\n42\nATOI\n12a\nATOI\n-12\ntime\nACMD\n@" +
                                   dir_.path("batch.txt") + "\n@" + dir_.path("missing.txt") +
                                   "\nDONE\nGBLCFG\nEND\n",
                               &status);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_NE(out.find("Enter an integer\nNumber entered was: 42\n"), std::string::npos) << out;
  EXPECT_NE(out.find("ERROR: [12a] is not recognized as a number\nEnter one of"),
            std::string::npos);
  EXPECT_NE(out.find("Number entered was: -12\n"), std::string::npos);
  EXPECT_TRUE(std::regex_search(out, std::regex("Current timestamp is: 1[0-9]{15}\n")));
  EXPECT_NE(out.find("\n\n\nResults:\n  Success:   2\n  No Change: 0\n  Error:     1\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Input stream not open.\nEnter an individual action command string  or\n"),
            std::string::npos);
  EXPECT_NE(out.find("Number of rows returned = 1\n"), std::string::npos);

  std::string config = dir_.read("install/ZEP/config/ZEP.dc.properties");
  EXPECT_NE(config.find("1.server1.monitor=on\n"), std::string::npos);
  EXPECT_NE(config.find("1.server1.log=info\n"), std::string::npos);
  EXPECT_NE(config.find("1.server1.trace=off\n"), std::string::npos);
}

TEST_F(ConsoleTest, EndOfInputEndsTheConsole) {
  int status = -1;
  std::string out = runConsole("LOAD\n" + dir_.path("own.properties") + "\nSET\nk\nv\nLIST\nITOA\n",
                               &status);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(out.find("Enter property value to set:\n\nEnter one of"), std::string::npos) << out;
  EXPECT_NE(out.find("\nk=v\n"), std::string::npos);
}

}  // namespace
