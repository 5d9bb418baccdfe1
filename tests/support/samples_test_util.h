// Shared set-up of the sample tests: a private install tree in a real
// temporary directory, a clock the test drives, metric log files written
// into the log directory and read by dispatcher passes, and samplers of the
// tables driven directly.
#ifndef ZEP_TESTS_SUPPORT_SAMPLES_TEST_UTIL_H_
#define ZEP_TESTS_SUPPORT_SAMPLES_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "axo/base/osb1.h"
#include "axo/tables/vexor.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepdisp.h"
#include "tables/zeptable.h"

namespace samples_test {

// 2006-03-28 13:40:00 UTC, a boundary of every window length.
constexpr time_t kT0 = 1143553200;

using zeptest::fakeTime;

// One location-2 record line of port OrderPort: message time in seconds,
// elapsed time, operation, message length and fault code.
inline std::string rec(time_t sec, int elapsed, const std::string& op = "submitOrder",
                       int length = 100, const std::string& fault = "") {
  return zeplogs_test::record(2, sec * 1000LL, elapsed, "OrderPort", op, length, fault);
}

// A text without its trailing blanks; a fixed-width column as its text.
inline std::string trim(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}
template <size_t N>
std::string text(const char (&column)[N]) {
  return trim(std::string(column, N));
}

// `s` blank-padded to `width`, as a table column holds it.
inline std::string pad(const std::string& s, size_t width = 64) {
  std::string out = s.substr(0, width);
  out.resize(width, ' ');
  return out;
}

// What one request asks for.
struct Request {
  Request(std::vector<std::string> names = {}, bool hist = false, std::string second = "")
      : subnodes(std::move(names)), history(hist), secondName(std::move(second)) {}
  std::vector<std::string> subnodes;
  bool history;
  std::string secondName;
};

// Runs one sample of table `Agent` as the framework does and returns the
// rows it inserted, in order.
template <class Agent>
std::vector<typename Agent::RowType> sample(const Request& r) {
  RequestDetail request;
  request.subnodes = r.subnodes;
  request.history = r.history;
  snprintf(request.secondName, sizeof(request.secondName), "%s", r.secondName.c_str());
  ContextInfo context;
  ZEPTABLE_object<Agent> sampler(&request, &context, nullptr);
  EXPECT_EQ(sampler.TakeSample(), 0u);
  std::vector<typename Agent::RowType> rows(sampler.count);
  for (int i = 0; i < sampler.count; ++i) {
    std::memcpy(&rows[i], sampler.GetRow(i), sizeof(typename Agent::RowType));
  }
  return rows;
}

// A private install tree whose dispatcher is initialised without its
// thread; the test feeds files and runs passes itself.
class SamplesTest : public zeptest::InstallTreeTest {
 protected:
  SamplesTest() : InstallTreeTest(kT0) {}

  // Writes `config` as the configuration file and initialises the
  // dispatcher at the current fake time; the agent's start time becomes
  // `startTime`.
  void start(const std::string& config = "", time_t startTime = kT0) {
    tmp_.write("install/ZEP/config/ZEP.dc.properties", config);
    ASSERT_EQ(ZEPDISP_dispatcher::initWithoutThread(), 0);
    ZEPDISP_dispatcher::dcaStartTime = startTime;
  }

  // Writes one metric log file of `server` and reads it with one pass.
  void feed(const std::string& server, const std::vector<std::string>& records) {
    tmp_.write("install/ZEP/logs/ZEP." + server + "." + std::to_string(++files_) + ".metric.log",
               zeplogs_test::header(server) + zeplogs_test::lines(records));
    ZEPDISP_dispatcher::runOnePass();
  }

  // The 32-character subnode name of `server` ("" when it is unknown).
  static std::string subnode(const std::string& server) {
    OSB1_ScopedLock listLock(&ZEPDISP_dispatcher::metricsLogListLock);
    const ZEPDCLOG_DCMetricsLogFile* log =
        ZEPDISP_dispatcher::metricsLogList.findServerLog(server.c_str(), "1");
    return log != nullptr ? std::string(log->getSubnodeName()) : std::string();
  }

  int files_ = 0;
};

}  // namespace samples_test

#endif  // ZEP_TESTS_SUPPORT_SAMPLES_TEST_UTIL_H_
