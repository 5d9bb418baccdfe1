// Integration test of the metrics, fault and service inventory samples: the
// simulator writes metric log files into a real log directory, dispatcher
// passes read them, and the framework's request API queries the three
// tables. Expected rows are computed here from the simulator's record list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "axo/request.h"
#include "tables/samples_test_util.h"
#include "tables/zepflct.h"
#include "tables/zepinv.h"
#include "tables/zepsmt.h"

namespace {

using namespace samples_test;

// One record as the simulator lists it.
struct SimRecord {
  std::string server;
  int location = 0;
  time_t seconds = 0;
  long elapsed = 0;
  std::string port, operation;
  long length = 0;
  bool fault = false;
};

// Splits one CSV line; fields may be quoted with doubled quotes inside.
std::vector<std::string> csvFields(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        out.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

std::vector<SimRecord> readRecords(const std::string& path) {
  std::vector<SimRecord> out;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    const std::vector<std::string> f = csvFields(line);
    EXPECT_EQ(f.size(), 17u) << line;
    if (f.size() != 17) continue;
    SimRecord r;
    r.server = f[0];
    r.location = std::stoi(f[2]);
    r.seconds = static_cast<time_t>(std::stoll(f[3]) / 1000);
    r.elapsed = std::stol(f[5]);
    r.port = f[6];
    r.operation = f[7];
    r.length = std::stol(f[10]);
    r.fault = !f[15].empty() || !f[16].empty();
    out.push_back(r);
  }
  return out;
}

// The SVCOPERTYP text of a record's service operation.
std::string serviceOf(const SimRecord& r) {
  return r.port + ":" + r.operation + ":" + (r.location <= 1 ? "R" : "P");
}

// The order of a server's inventory: port, operation, then requests (R)
// before responses (P).
struct InventoryOrder {
  static std::tuple<std::string, std::string, int> key(const std::string& service) {
    const size_t first = service.find(':');
    const size_t last = service.rfind(':');
    return {service.substr(0, first), service.substr(first + 1, last - first - 1),
            service.back() == 'R' ? 0 : 1};
  }
  bool operator()(const std::string& a, const std::string& b) const { return key(a) < key(b); }
};

// The 16-character time stamp of a window begin.
std::string stamp(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  snprintf(buf, sizeof(buf), "%d%02d%02d%02d%02d%02d%02d000", tm.tm_year >= 100 ? 1 : 0,
           tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

// Statistics of one quantity, as the inventory rows show them.
struct Stats {
  long n = 0;
  double sum = 0, sumSq = 0;
  long min = -1, max = -1;
  void add(long v) {
    if (v < 0) return;
    min = n == 0 ? v : std::min(min, v);
    max = n == 0 ? v : std::max(max, v);
    ++n;
    sum += v;
    sumSq += static_cast<double>(v) * v;
  }
  long avg() const { return n < 1 ? -1 : static_cast<long>(sum / n); }
  long sd() const {
    if (n < 1) return -1;
    if (n == 1) return 0;
    return static_cast<long>(std::sqrt(std::max(0.0, (sumSq - sum * sum / n) / (n - 1))));
  }
};

struct Window {
  Stats length, elapsed;
  long faults = 0;
};

long num(const axo::Row& row, const std::string& attribute) {
  for (const auto& [name, value] : row) {
    if (name == attribute) return static_cast<long>(value.number);
  }
  ADD_FAILURE() << "no " << attribute;
  return 0;
}

std::string str(const axo::Row& row, const std::string& attribute) {
  for (const auto& [name, value] : row) {
    if (name == attribute) return value.text;
  }
  ADD_FAILURE() << "no " << attribute;
  return "";
}

class SamplesIntegrationTest : public SamplesTest {
 protected:
  void SetUp() override {
    SamplesTest::SetUp();
    zep_zepsmt_init();
    zep_zepflct_init();
    zep_zepinv_init();
  }

  // Runs the simulator: two servers, three operations each, 40 records per
  // server 15 seconds apart from 13:40:00.
  void simulate() {
    const std::string cmd = std::string("'") + ZEP_BUILD_DIR + "/zepdcsim' --dir '" + logDir() +
                            "' --servers 2 --services 3 --count 40 --step-ms 15000 "
                            "--time-base " + std::to_string(kT0) +
                            " --per-file 16 --fault-ratio 0.3 --seed 11 --csv '" +
                            tmp_.path("records.csv") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    records_ = readRecords(tmp_.path("records.csv"));
    ASSERT_EQ(records_.size(), 80u);
  }

  // Server name -> subnode name (32 characters), from the agent's logs.
  static std::map<std::string, std::string> subnodes() {
    std::map<std::string, std::string> out;
    OSB1_ScopedLock listLock(&ZEPDISP_dispatcher::metricsLogListLock);
    const ZEPDCLST_DCMetricsLogList& logs = ZEPDISP_dispatcher::metricsLogList;
    for (const ZEPDCLOG_DCMetricsLogFile* l = logs.front(); l != nullptr; l = logs.next(l)) {
      out[l->getServerName()] = l->getSubnodeName();
    }
    return out;
  }

  static std::vector<axo::Row> query(const std::string& table,
                                     const std::vector<std::string>& names, bool history) {
    axo::Query q;
    q.table = table;
    q.subnodes = names;
    q.history = history;
    std::vector<axo::Row> rows;
    std::string error;
    EXPECT_EQ(axo::runQuery(q, &rows, &error), axo::kOk) << error;
    return rows;
  }

  // The windows of `server` (all servers when empty), keyed by operation
  // and window begin.
  std::map<std::pair<std::string, time_t>, Window> windows(const std::string& server) const {
    std::map<std::pair<std::string, time_t>, Window> out;
    for (const SimRecord& r : records_) {
      if (!server.empty() && r.server != server) continue;
      Window& w = out[{r.server + "/" + serviceOf(r), r.seconds - r.seconds % 300}];
      w.length.add(r.length);
      w.elapsed.add(r.elapsed);
      if (r.fault) ++w.faults;
    }
    return out;
  }

  // Checks one inventory row against the expected window (empty when the
  // window had no records).
  static void expectWindow(const axo::Row& row, const Window& w) {
    const std::string what = str(row, "SVCOPERTYP") + " " + str(row, "INTBEGTIME");
    EXPECT_EQ(num(row, "MSGCOUNT"), w.length.n) << what;
    EXPECT_EQ(num(row, "AVGMSGLEN"), w.length.avg()) << what;
    EXPECT_NEAR(num(row, "SDMSGLEN"), w.length.sd(), 1) << what;
    EXPECT_EQ(num(row, "MINMSGLEN"), w.length.min) << what;
    EXPECT_EQ(num(row, "MAXMSGLEN"), w.length.max) << what;
    EXPECT_EQ(num(row, "ETMSGCOUNT"), w.elapsed.n) << what;
    EXPECT_EQ(num(row, "AVGETIME"), w.elapsed.avg()) << what;
    EXPECT_EQ(num(row, "MAXETIME"), w.elapsed.max) << what;
    EXPECT_EQ(num(row, "FLTCOUNT"), w.faults) << what;
    EXPECT_EQ(num(row, "INTLENGTH"), 5) << what;
  }

  std::vector<SimRecord> records_;
};

TEST_F(SamplesIntegrationTest, SimulatedTrafficThroughTheRequestApi) {
  fakeTime() = kT0 - 60;  // the agent starts at 13:39
  start("", kT0 - 60);
  simulate();
  fakeTime() = kT0 + 630;  // 13:50:30: one pass reads every file
  ZEPDISP_dispatcher::runOnePass();
  const std::map<std::string, std::string> names = subnodes();
  ASSERT_EQ(names.size(), 2u);
  const std::string server = names.begin()->first;
  const std::string node = names.begin()->second;
  std::string trimmed = node;
  trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  const time_t now = fakeTime();

  // ZEPSMT real time: the last five minutes of one server, newest first.
  {
    long count = 0, lengthSum = 0;
    for (const SimRecord& r : records_) {
      if (r.server == server && now - r.seconds <= 300) {
        ++count;
        lengthSum += r.length;
      }
    }
    const std::vector<axo::Row> rows = query("ZEPSMT", {trimmed}, false);
    ASSERT_EQ(static_cast<long>(rows.size()), count);
    long sum = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(str(rows[i], "ORIGINNODE"), trimmed);
      EXPECT_EQ(str(rows[i], "APPSRVNM"), server);
      sum += num(rows[i], "MSGLENGTH");
      if (i > 0) {
        EXPECT_GT(str(rows[i - 1], "MSGTIME"), str(rows[i], "MSGTIME"));
      }
    }
    EXPECT_EQ(sum, lengthSum);
  }

  // ZEPFLCT: every fault of both servers, whatever its age.
  {
    const long faults = std::count_if(records_.begin(), records_.end(),
                                      [](const SimRecord& r) { return r.fault; });
    ASSERT_GT(faults, 0);
    std::vector<std::string> both;
    for (const auto& [s, n] : names) both.push_back(n);
    EXPECT_EQ(static_cast<long>(query("ZEPFLCT", both, false).size()), faults);
  }

  // ZEPINV real time: for each operation of the server, the complete 13:45
  // window, then the running 13:50 window (empty).
  const auto expected = windows(server);
  std::set<std::string, InventoryOrder> services;
  for (const auto& [key, w] : expected) services.insert(key.first.substr(server.size() + 1));
  {
    const std::vector<axo::Row> rows = query("ZEPINV", {trimmed}, false);
    ASSERT_EQ(rows.size(), 2 * services.size());
    size_t i = 0;
    for (const std::string& service : services) {  // inventory order is key order
      const axo::Row& complete = rows[i++];
      const axo::Row& running = rows[i++];
      EXPECT_EQ(str(complete, "SVCOPERTYP"), service);
      EXPECT_EQ(num(complete, "INTSTATUS"), 2);
      EXPECT_EQ(str(complete, "INTBEGTIME"), stamp(kT0 + 300));
      const auto it = expected.find({server + "/" + service, kT0 + 300});
      expectWindow(complete, it != expected.end() ? it->second : Window());
      EXPECT_EQ(str(running, "SVCOPERTYP"), service);
      EXPECT_EQ(num(running, "INTSTATUS"), 1);
      EXPECT_EQ(str(running, "INTBEGTIME"), stamp(kT0 + 600));
      expectWindow(running, Window());
    }
  }

  // ZEPINV history, naming one server, covers both: at 13:50:30 only the
  // 13:40 windows ended a minute ago.
  const auto all = windows("");
  const auto expectHistory = [&](const std::vector<axo::Row>& rows,
                                 const std::set<time_t>& begins) {
    size_t matched = 0;
    for (const axo::Row& row : rows) {
      EXPECT_EQ(num(row, "INTSTATUS"), 2);
      const std::string key = str(row, "APPSRVNM") + "/" + str(row, "SVCOPERTYP");
      time_t begin = 0;
      for (time_t b : begins) {
        if (stamp(b) == str(row, "INTBEGTIME")) begin = b;
      }
      ASSERT_NE(begin, 0) << str(row, "INTBEGTIME");
      const auto it = all.find({key, begin});
      expectWindow(row, it != all.end() ? it->second : Window());
      if (it != all.end()) ++matched;
    }
    size_t windowsWithData = 0;
    for (const auto& [key, w] : all) windowsWithData += begins.count(key.second);
    EXPECT_EQ(matched, windowsWithData);
  };
  expectHistory(query("ZEPINV", {trimmed}, true), {kT0});

  // 13:56: the 13:45 and 13:50 windows follow, each once.
  fakeTime() = kT0 + 960;
  ZEPDISP_dispatcher::runOnePass();
  const std::vector<axo::Row> later = query("ZEPINV", {}, true);
  std::set<std::string> allServices;
  for (const auto& [key, w] : all) allServices.insert(key.first);
  EXPECT_EQ(later.size(), 2 * allServices.size());
  expectHistory(later, {kT0 + 300, kT0 + 600});
  EXPECT_TRUE(query("ZEPINV", {}, true).empty());

  // ZEPSMT history: every line of both servers once.
  {
    long lengthSum = 0;
    for (const SimRecord& r : records_) lengthSum += r.length;
    const std::vector<axo::Row> rows = query("ZEPSMT", {trimmed}, true);
    ASSERT_EQ(rows.size(), records_.size());
    long sum = 0;
    for (const axo::Row& row : rows) sum += num(row, "MSGLENGTH");
    EXPECT_EQ(sum, lengthSum);
    EXPECT_TRUE(query("ZEPSMT", {}, true).empty());
  }
}

}  // namespace
