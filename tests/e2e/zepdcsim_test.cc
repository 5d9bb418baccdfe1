// The data-collector simulator as a binary: runs it on temporary directories
// and reads back the files it wrote. (That its --expect report agrees with
// the agent's windows is tested where the agent reads its files.)
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace {

// Runs the simulator with `args` (already shell-safe); returns its exit
// status and standard output.
int Sim(const std::string& args, std::string* out = nullptr) {
  FILE* p = popen((std::string(ZEP_BUILD_DIR) + "/zepdcsim " + args + " 2>/dev/null").c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof(buf), p)) > 0;) {
    if (out != nullptr) out->append(buf, n);
  }
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == ';') {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

class ZepdcsimTest : public ::testing::Test {
 protected:
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    if (!std::filesystem::exists(dir_)) return names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }
  e2e::TempDir tmp_;
  std::string dir_ = tmp_.path() + "/logs";
};

TEST_F(ZepdcsimTest, WritesCompleteFilesWithHeaderAndSixteenFieldRecords) {
  ASSERT_EQ(Sim("--dir " + dir_ + " --servers 3 --count 25 --per-file 10 --time-base 1143553569"
                " --fault-ratio 0.5"), 0);
  const std::set<std::string> names = Listing();
  ASSERT_EQ(names.size(), 9u);  // 3 files of 10, 10 and 5 records per server
  std::set<std::string> servers;
  long records = 0, faults = 0;
  for (const std::string& name : names) {
    ASSERT_TRUE(name.rfind("ZEP.", 0) == 0 && name.size() > 11 &&
                name.substr(name.size() - 11) == ".metric.log") << name;  // no temporary file
    std::map<std::string, std::string> header;
    std::istringstream in(e2e::ReadFile(dir_ + "/" + name));
    for (std::string line; std::getline(in, line);) {
      if (line[0] == '#') {
        header[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
        continue;
      }
      const std::vector<std::string> f = Fields(line);
      ASSERT_GE(f.size(), 16u) << line;
      const long long t = std::stoll(f[1]);
      EXPECT_TRUE(t >= 1143553569000LL && (t - 1143553569000LL) % 100 == 0) << t;
      if (!f[14].empty() || !f[15].empty()) {
        ++faults;
        EXPECT_EQ(f[7], "1");
      }
      ++records;
    }
    servers.insert(header["#ZEP.servername"]);
    EXPECT_EQ(header.size(), 8u) << name;   // every header line, each once
  }
  EXPECT_EQ(records, 75);
  EXPECT_TRUE(faults > 10 && faults < 65) << faults;
  EXPECT_EQ(servers.size(), 3u);
}

TEST_F(ZepdcsimTest, SameSeedGivesSameFilesAndOtherSeedDiffers) {
  const std::string common = " --servers 2 --count 40 --per-file 15 --time-base 1200000000";
  const std::string a = tmp_.path() + "/a", b = tmp_.path() + "/b", c = tmp_.path() + "/c";
  ASSERT_EQ(Sim("--dir " + a + " --seed 7" + common), 0);
  ASSERT_EQ(Sim("--dir " + b + " --seed 7" + common), 0);
  ASSERT_EQ(Sim("--dir " + c + " --seed 8" + common), 0);
  const char* name = "/ZEP.appsrv02.000002.metric.log";
  EXPECT_FALSE(e2e::ReadFile(a + name).empty());
  EXPECT_EQ(e2e::ReadFile(a + name), e2e::ReadFile(b + name));
  EXPECT_NE(e2e::ReadFile(a + name), e2e::ReadFile(c + name));
}

// Never replaces a file the agent has not taken yet; finds the log
// directory through the base-directory file.
TEST_F(ZepdcsimTest, WritesBesideWaitingFilesAndFindsTheLogDirectory) {
  ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  const std::string existing = dir_ + "/ZEP.appsrv01.000001.metric.log";
  e2e::WriteFile(existing, "not mine\n");
  // Rate mode with a count ends as soon as the count is written.
  ASSERT_EQ(Sim("--dir " + dir_ + " --count 5 --rate 1000000 --time-base old"), 0);
  EXPECT_EQ(e2e::ReadFile(existing), "not mine\n");
  EXPECT_NE(e2e::ReadFile(dir_ + "/ZEP.appsrv01.000002.metric.log").find("#ZEP.servername=appsrv01"),
            std::string::npos);

  e2e::InstallDir install(tmp_.path());
  ASSERT_EQ(Sim("--etc-dir " + install.etc + " --count 1"), 0);
  EXPECT_TRUE(std::filesystem::exists(install.logs + "/ZEP.appsrv01.000001.metric.log"));
}

TEST_F(ZepdcsimTest, UsageErrorsAndHelp) {
  for (const char* bad : {" --bogus 1 --count 1", "", " --count 1 --fault-ratio 2",
                          " --count 1 --window-minutes 7", " --count 1 --locations 2:0"}) {
    EXPECT_EQ(Sim("--dir " + dir_ + bad), 2) << bad;
  }
  EXPECT_TRUE(Listing().empty());
  std::string help;
  EXPECT_EQ(Sim("--help", &help), 0);
  EXPECT_NE(help.find("--window-minutes"), std::string::npos) << help;
}

}  // namespace
