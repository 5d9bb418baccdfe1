// The data-collector simulator as a binary: runs it on temporary directories
// and reads back the files it wrote. (That the agent reads its headers and
// that its --expect report agrees with the agent's windows is tested end to
// end through the operator API.)
#include <sys/stat.h>

#include <set>

#include <gtest/gtest.h>

#include "e2e/zepagent_process.h"

namespace {

class ZepdcsimTest : public ::testing::Test {
 protected:
  e2e::TempDir tmp_;
  std::string dir_ = tmp_.path() + "/logs";
};

TEST_F(ZepdcsimTest, WritesCompleteFilesOfSixteenFieldRecordsPerServer) {
  ASSERT_EQ(e2e::Simulate("--dir " + dir_ + " --servers 3 --count 25 --per-file 10 "
                          "--time-base 1143553569 --fault-ratio 0.5"), 0);
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) names.insert(e.path().filename());
  ASSERT_EQ(names.size(), 9u);  // 3 files of 10, 10 and 5 records per server
  std::set<std::string> servers;
  long records = 0, faults = 0;
  for (const std::string& name : names) {
    ASSERT_TRUE(name.rfind("ZEP.", 0) == 0 && name.size() > 11 &&
                name.substr(name.size() - 11) == ".metric.log") << name;  // no temporary file
    servers.insert(name.substr(4, name.find('.', 4) - 4));
    std::istringstream in(e2e::ReadFile(dir_ + "/" + name));
    for (std::string line; std::getline(in, line);) {
      if (line[0] == '#') continue;
      const std::vector<std::string> f = e2e::CsvFields(line, ';');
      ASSERT_GE(f.size(), 16u) << line;
      if (!f[14].empty() || !f[15].empty()) {
        ++faults;
        EXPECT_EQ(f[7], "1");  // a fault is flagged
      }
      ++records;
    }
  }
  EXPECT_EQ(records, 75);
  EXPECT_TRUE(faults > 10 && faults < 65) << faults;
  EXPECT_EQ(servers.size(), 3u);
}

// Never replaces a file the agent has not taken yet; finds the log
// directory through the base-directory file.
TEST_F(ZepdcsimTest, WritesBesideWaitingFilesAndFindsTheLogDirectory) {
  ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  const std::string existing = dir_ + "/ZEP.appsrv01.000001.metric.log";
  e2e::WriteFile(existing, "not mine\n");
  // Rate mode with a count ends as soon as the count is written.
  ASSERT_EQ(e2e::Simulate("--dir " + dir_ + " --count 5 --rate 1000000 --time-base old"), 0);
  EXPECT_EQ(e2e::ReadFile(existing), "not mine\n");
  EXPECT_NE(e2e::ReadFile(dir_ + "/ZEP.appsrv01.000002.metric.log").find("#ZEP.servername=appsrv01"),
            std::string::npos);

  e2e::InstallDir install(tmp_.path());
  ASSERT_EQ(e2e::Simulate("--etc-dir " + install.etc + " --count 1"), 0);
  EXPECT_TRUE(std::filesystem::exists(install.logs + "/ZEP.appsrv01.000001.metric.log"));
}

}  // namespace
