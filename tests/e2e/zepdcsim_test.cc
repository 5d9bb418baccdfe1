// End-to-end tests of the data-collector simulator: runs the real binary on
// temporary directories and reads back the files it wrote.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kSim = std::string(ZEP_BUILD_DIR) + "/zepdcsim";

struct Result {
  int status = -1;
  std::string out;
};

// Runs the simulator with `args` (already shell-safe), capturing stdout.
Result Sim(const std::string& args) {
  Result r;
  std::string cmd = kSim + " " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Split(const std::string& s, char sep, size_t max_fields) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (out.size() + 1 < max_fields) {
    size_t next = s.find(sep, pos);
    if (next == std::string::npos) break;
    out.push_back(s.substr(pos, next - pos));
    pos = next + 1;
  }
  out.push_back(s.substr(pos));
  return out;
}

class ZepdcsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = ::testing::TempDir() + "zepdcsim_XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    root_ = buf.data();
    dir_ = root_ + "/logs";
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

  // Names in the log directory, sorted.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    DIR* d = opendir(dir_.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
    return names;
  }

  std::string root_, dir_;
};

TEST_F(ZepdcsimTest, WritesCompleteFilesWithHeaderAndSixteenFieldRecords) {
  Result r = Sim("--dir " + dir_ + " --servers 3 --count 25 --per-file 10 --time-base 1143553569"
                 " --fault-ratio 0.5");
  ASSERT_EQ(r.status, 0);
  std::set<std::string> names = Listing();
  ASSERT_EQ(names.size(), 9u);  // 3 files of 10, 10 and 5 records per server
  std::set<std::string> servers, hosts, envs;
  long records = 0, faults = 0;
  for (const std::string& name : names) {
    ASSERT_EQ(name.rfind("ZEP.", 0), 0u) << name;  // no temporary file left behind
    ASSERT_EQ(name.substr(name.size() - 11), ".metric.log") << name;
    std::vector<std::string> lines = Lines(ReadFile(dir_ + "/" + name));
    ASSERT_GE(lines.size(), 9u);
    std::map<std::string, std::string> header;
    long in_file = 0;
    for (const std::string& line : lines) {
      if (line[0] == '#') {
        size_t eq = line.find('=');
        ASSERT_NE(eq, std::string::npos);
        header[line.substr(0, eq)] = line.substr(eq + 1);
        continue;
      }
      std::vector<std::string> f = Split(line, ';', 16);
      ASSERT_EQ(f.size(), 16u) << line;
      EXPECT_EQ(Split(line, ';', 15).size(), 15u);  // at least 15 separators
      long long t = std::stoll(f[1]);
      EXPECT_GE(t, 1143553569000LL);
      EXPECT_EQ((t - 1143553569000LL) % 100, 0);
      if (!f[14].empty() || !f[15].empty()) {
        ++faults;
        EXPECT_EQ(f[7], "1");
      }
      ++records;
      ++in_file;
    }
    EXPECT_LE(in_file, 10);
    servers.insert(header["#ZEP.servername"]);
    hosts.insert(header["#ZEP.hostname"]);
    envs.insert(header["#ZEP.env"]);
    for (const char* key : {"#ZEP.version", "#ZEP.node", "#ZEP.cell", "#ZEP.cluster",
                            "#ZEP.ipaddress"}) {
      EXPECT_FALSE(header[key].empty()) << key;
    }
  }
  EXPECT_EQ(records, 75);
  EXPECT_GT(faults, 10);
  EXPECT_LT(faults, 65);
  EXPECT_EQ(servers.size(), 3u);
  EXPECT_EQ(hosts.size(), 3u);
  EXPECT_EQ(envs.size(), 3u);
}

TEST_F(ZepdcsimTest, SameSeedGivesSameFilesAndOtherSeedDiffers) {
  std::string common = " --servers 2 --count 40 --per-file 15 --time-base 1200000000";
  std::string a = root_ + "/a", b = root_ + "/b", c = root_ + "/c";
  ASSERT_EQ(Sim("--dir " + a + " --seed 7" + common).status, 0);
  ASSERT_EQ(Sim("--dir " + b + " --seed 7" + common).status, 0);
  ASSERT_EQ(Sim("--dir " + c + " --seed 8" + common).status, 0);
  const char* name = "/ZEP.appsrv02.000002.metric.log";
  EXPECT_EQ(ReadFile(a + name), ReadFile(b + name));
  EXPECT_FALSE(ReadFile(a + name).empty());
  EXPECT_NE(ReadFile(a + name), ReadFile(c + name));
}

// The expected aggregates must agree with the records actually written,
// computed here from the files without the simulator's code.
TEST_F(ZepdcsimTest, ExpectationsMatchTheRecordsInTheFiles) {
  Result r = Sim("--dir " + dir_ + " --servers 2 --count 400 --step-ms 2000 --time-base 1143553500"
                 " --locations 1:1,2:3 --fault-ratio 0.2 --junk-ratio 0.2 --expect -");
  ASSERT_EQ(r.status, 0);
  struct Sums {
    long count = 0, lensum = 0, faults = 0, loc2 = 0;
  };
  std::map<std::string, Sums> from_files;
  for (const std::string& name : Listing()) {
    std::string server;
    for (const std::string& line : Lines(ReadFile(dir_ + "/" + name))) {
      if (line.rfind("#ZEP.servername=", 0) == 0) server = line.substr(16);
      std::vector<std::string> f = Split(line, ';', 16);
      if (line[0] == '#' || f.size() != 16) continue;  // header or junk
      long long seconds = std::stoll(f[1]) / 1000;
      std::string type = (f[0] == "0" || f[0] == "1") ? "0" : "1";
      std::string key = server + "," + f[4] + "," + f[5] + "," + type + "," +
                        std::to_string(seconds / 300 * 300);
      Sums& s = from_files[key];
      ++s.count;
      s.lensum += std::stol(f[8]);
      if (!f[14].empty() || !f[15].empty()) ++s.faults;
      if (f[0] == "2") ++s.loc2;
    }
  }
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_GT(lines.size(), 1u);
  std::vector<std::string> head = Split(lines[0], ',', 100);
  std::map<std::string, size_t> col;
  for (size_t i = 0; i < head.size(); ++i) col[head[i]] = i;
  size_t seen = 0;
  long total = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i], ',', 100);
    std::string key = f[col["server"]] + "," + f[col["port"]] + "," + f[col["operation"]] + "," +
                      f[col["svctype"]] + "," + f[col["begin"]];
    ASSERT_TRUE(from_files.count(key)) << key;
    const Sums& s = from_files[key];
    EXPECT_EQ(std::stol(f[col["msgcount"]]), s.count) << key;
    EXPECT_EQ(std::stol(f[col["lensum"]]), s.lensum) << key;
    EXPECT_EQ(std::stol(f[col["fltcount"]]), s.faults) << key;
    EXPECT_EQ(std::stol(f[col["loc2count"]]), s.loc2) << key;
    EXPECT_EQ(std::stol(f[col["avgmsglen"]]), s.lensum / s.count) << key;
    total += s.count;
    ++seen;
  }
  EXPECT_EQ(seen, from_files.size());
  EXPECT_EQ(total, 800);
}

TEST_F(ZepdcsimTest, NeverReplacesAFileTheAgentHasNotTakenYet) {
  ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  std::string existing = dir_ + "/ZEP.appsrv01.000001.metric.log";
  std::ofstream(existing) << "not mine\n";
  // Rate mode with a count ends as soon as the count is written.
  ASSERT_EQ(Sim("--dir " + dir_ + " --count 5 --rate 1000000 --time-base old").status, 0);
  EXPECT_EQ(ReadFile(existing), "not mine\n");
  std::string written = ReadFile(dir_ + "/ZEP.appsrv01.000002.metric.log");
  EXPECT_NE(written.find("#ZEP.servername=appsrv01"), std::string::npos);
}

TEST_F(ZepdcsimTest, FindsTheLogDirectoryThroughTheBaseDirectoryFile) {
  std::string etc = root_ + "/etc", install = root_ + "/install";
  ASSERT_EQ(mkdir(etc.c_str(), 0755), 0);
  std::ofstream(etc + "/ZEPBaseDirConfig.properties") << "INSTALLDIR=" << install << "\n";
  ASSERT_EQ(Sim("--etc-dir " + etc + " --count 1").status, 0);
  struct stat st;
  EXPECT_EQ(stat((install + "/ZEP/logs/ZEP.appsrv01.000001.metric.log").c_str(), &st), 0);
}

TEST_F(ZepdcsimTest, UsageErrorsAndHelp) {
  EXPECT_EQ(Sim("--dir " + dir_ + " --bogus 1 --count 1").status, 2);
  EXPECT_EQ(Sim("--dir " + dir_).status, 2);  // neither count nor rate
  EXPECT_EQ(Sim("--dir " + dir_ + " --count 1 --fault-ratio 2").status, 2);
  EXPECT_EQ(Sim("--dir " + dir_ + " --count 1 --window-minutes 7").status, 2);
  EXPECT_EQ(Sim("--dir " + dir_ + " --count 1 --locations 2:0").status, 2);
  EXPECT_TRUE(Listing().empty());
  Result help = Sim("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* opt : {"--dir", "--etc-dir", "--servers", "--services", "--clients", "--env",
                          "--locations", "--fault-ratio", "--junk-ratio", "--seed", "--count",
                          "--rate", "--duration", "--time-base", "--step-ms", "--per-file",
                          "--file-seconds", "--expect", "--window-minutes", "--csv",
                          "--verbose"}) {
    EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
  }
}

}  // namespace
