// Shared set-up of the sample tests: a private install tree in a real
// temporary directory, a clock the test drives, metric log files written
// into the log directory and read by dispatcher passes, and samplers of the
// three metric-log tables driven directly.
#ifndef ZEP_TESTS_TABLES_SAMPLES_TEST_UTIL_H_
#define ZEP_TESTS_TABLES_SAMPLES_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "axo/osb1.h"
#include "axo/trk1.h"
#include "axo/vexor.h"
#include "foundation/zepinstall_fixture.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zeptestdir.h"
#include "foundation/zeputil.h"
#include "logs/zepdclst.h"
#include "runtime/zepdisp.h"
#include "tables/zeptable.h"

namespace samples_test {

// 2006-03-28 13:40:00 UTC, a boundary of every window length.
constexpr time_t kT0 = 1143553200;

using zeptest::fakeNow;
using zeptest::fakeTime;

// One record of a data collector: message time in seconds, elapsed time,
// operation and message length; the other fields carry fixed values.
struct Rec {
  Rec(time_t s, int e, std::string o = "submitOrder", int len = 100)
      : sec(s), elapsed(e), op(std::move(o)), length(len) {}
  time_t sec;
  int elapsed;
  std::string op;
  int length;
  int loc = 2;
  std::string faultCode;
  std::string faultString;
  std::string port = "OrderPort";
};

inline std::string recordLine(const Rec& r) {
  return std::to_string(r.loc) + ";" + std::to_string(static_cast<long long>(r.sec) * 1000) +
         ";thread-1;" + std::to_string(r.elapsed) + ";" + r.port + ";" + r.op + ";0;0;" +
         std::to_string(r.length) + ";corr-1;unused;prev-1;client.example;10.0.0.9;" +
         r.faultCode + ";" + r.faultString + "\n";
}

inline std::string headerBlock(const std::string& server) {
  return "#ZEP.version=01.01.00\n#ZEP.env=1\n#ZEP.node=node1\n#ZEP.cell=cell1\n"
         "#ZEP.servername=" + server + "\n#ZEP.cluster=cluster1\n"
         "#ZEP.hostname=host1.example.com\n#ZEP.ipaddress=10.0.0.1\n";
}

// Trailing blanks of a fixed-width text column removed.
template <size_t N>
std::string text(const char (&column)[N]) {
  std::string s(column, N);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// What one request asks for.
struct Request {
  Request(std::vector<std::string> names = {}, bool hist = false, std::string second = "")
      : subnodes(std::move(names)), history(hist), secondName(std::move(second)) {}
  std::vector<std::string> subnodes;
  bool history;
  std::string secondName;
  // One optional equality term on a text column.
  std::string termAttribute;
  std::string termValue;
};

// Runs one sample of table `Agent` as the framework does and returns the
// rows it inserted, in order.
template <class Agent>
std::vector<typename Agent::RowType> sample(const Request& r) {
  RequestDetail request;
  for (const std::string& s : r.subnodes) request.AddSubnode(s);
  request.history = r.history;
  snprintf(request.secondName, sizeof(request.secondName), "%s", r.secondName.c_str());
  if (!r.termAttribute.empty()) {
    request.AddFilterTerm(FQX1_AND, FQX1_EQ, r.termAttribute.c_str(), FQX1_CSTRING,
                          r.termValue.c_str(), static_cast<int>(r.termValue.size()));
  }
  ContextInfo context;
  ZEPTABLE_object<Agent> sampler(&request, &context, nullptr);
  EXPECT_EQ(sampler.TakeSample(), 0u);
  std::vector<typename Agent::RowType> rows(sampler.count);
  for (int i = 0; i < sampler.count; ++i) {
    std::memcpy(&rows[i], sampler.GetRow(i), sizeof(typename Agent::RowType));
  }
  return rows;
}

// A private install tree: <tmp>/etc names <tmp>/install, whose ZEP/logs is
// the log directory. The dispatcher is initialised without its thread; the
// test feeds files and runs passes itself.
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
  void feed(const std::string& server, const std::vector<Rec>& records) {
    std::string content = headerBlock(server);
    for (const Rec& r : records) content += recordLine(r);
    tmp_.write("install/ZEP/logs/ZEP." + server + "." + std::to_string(++files_) + ".metric.log",
               content);
    ZEPDISP_dispatcher::runOnePass();
  }

  // The 32-character subnode name of `server` ("" when it is unknown).
  static std::string subnode(const std::string& server) {
    OSB1_ScopedLock listLock(&ZEPDISP_dispatcher::metricsLogListLock);
    const ZEPDCLOG_DCMetricsLogFile* log =
        ZEPDISP_dispatcher::metricsLogList.findServerLog(server.c_str(), "1");
    return log != nullptr ? std::string(log->getSubnodeName()) : std::string();
  }

  // Changes one setting in memory, as a reload of the file would.
  static void setProperty(const char* key, int value) {
    OSB1_ScopedLock configLock(&ZEPDISP_dispatcher::configPropertiesLock);
    ZEPDISP_dispatcher::configProperties.setProperty(key, value);
  }

  int files_ = 0;
};

}  // namespace samples_test

#endif  // ZEP_TESTS_TABLES_SAMPLES_TEST_UTIL_H_
