// Shared set-up of the ingestion tests: a private install tree (etc
// directory, configuration directory, log directory) in a real temporary
// directory, a clock the test drives, and builders for metric log files.
#ifndef ZEP_TESTS_LOGS_ZEPLOGS_TEST_UTIL_H_
#define ZEP_TESTS_LOGS_ZEPLOGS_TEST_UTIL_H_

#include <algorithm>
#include <vector>

#include "support/zepinstall_fixture.h"  // gtest, the temporary tree, the seams

namespace zeplogs_test {

// 2006-03-28 13:46:09 UTC.
constexpr time_t kBaseTime = 1143553569;
// A record time well before kBaseTime, in milliseconds and seconds: 10:00:00
// UTC the same day, a boundary of every window. (Record times before 2000
// are refused.)
constexpr long long kOldMillis = 1143540000LL * 1000;
constexpr int32_t kOldSeconds = 1143540000;

using zeptest::fakeNow;
using zeptest::fakeTime;

// One record line: location, time in milliseconds, elapsed time, port,
// operation, message length, fault code and fault string; the other fields
// carry fixed values.
inline std::string record(int loc, long long millis, int elapsed = 10,
                          const std::string& port = "OrderPort",
                          const std::string& op = "submitOrder", int length = 100,
                          const std::string& faultCode = "", const std::string& faultStr = "") {
  return std::to_string(loc) + ";" + std::to_string(millis) + ";thread-1;" +
         std::to_string(elapsed) + ";" + port + ";" + op + ";0;0;" + std::to_string(length) +
         ";corr-1;unused;prev-1;client.example;10.0.0.9;" + faultCode + ";" + faultStr;
}

// The header block of a server.
inline std::string header(const std::string& server, const std::string& env = "1",
                          const std::string& host = "host1.example.com") {
  return "#ZEP.version=01.01.00\n#ZEP.env=" + env + "\n#ZEP.node=node1\n#ZEP.cell=cell1\n" +
         "#ZEP.servername=" + server + "\n#ZEP.cluster=cluster1\n#ZEP.hostname=" + host +
         "\n#ZEP.ipaddress=10.0.0.1\n";
}

inline std::string lines(const std::vector<std::string>& records) {
  std::string out;
  for (const std::string& r : records) out += r + "\n";
  return out;
}

// A private install tree: <tmp>/etc holds the base-directory file naming
// <tmp>/install; logs go to <tmp>/install/ZEP/logs. Resets the dispatcher
// and the seams around each test.
class ZepLogsTest : public zeptest::InstallTreeTest {
 protected:
  ZepLogsTest() : InstallTreeTest(kBaseTime) {}

  void SetUp() override {
    InstallTreeTest::SetUp();
    ZEPDISP_dispatcher::dcaStartTime = kBaseTime - 3600;
  }

  std::string cacheDir() const { return logDir() + "/ZEP.DCA.CACHE"; }
  std::string archiveDir() const { return cacheDir() + "/archive"; }

  // Writes a metric log file into the log directory.
  void writeLog(const std::string& name, const std::string& content) {
    tmp_.write("install/ZEP/logs/" + name, content);
  }
  // The names of the plain files of a directory, sorted.
  static std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

}  // namespace zeplogs_test

#endif  // ZEP_TESTS_LOGS_ZEPLOGS_TEST_UTIL_H_
