// `zepbench sample`: samples of a filled agent through the framework.
//
//   zepbench sample [--lines N] [--servers S] [--services V] [--runs R]
//                   [--api 0|1]
//
// Fills N metric lines (default 30000) over S servers (default 10) and V
// service operations in all (default 1000) through a dispatcher pass, then
// times, as the framework runs them, real-time and history samples of
// ZEPSMT, ZEPFLCT and ZEPINV (a sampler per request, TakeSample, the rows in
// the sampler's buffer), the copy of the same number of ZEPSMT rows with
// memcpy into a fresh buffer (the floor), and the ZEPSMT query as JSON over
// the operator API on a loopback port. Each figure is the median of R runs,
// in processor seconds.
// Prints one "name=value" line per figure.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "axo/api/http_api.h"
#include "axo/tables/vexor.h"
#include "logs/zepdclst.h"
#include "runtime/zepdisp.h"
#include "tables/zepflct.h"
#include "tables/zepinv.h"
#include "tables/zepsmt.h"
#include "tables/zeptable.h"
#include "zepbench.h"

namespace zepbench {
namespace {

using D = ZEPDISP_dispatcher;

struct Options {
  int lines = 30000;
  int servers = 10;
  int services = 1000;
  int runs = 7;
  bool api = true;
};

bool parse(int argc, char** argv, Options* o) {
  for (int i = 0; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--lines") {
      o->lines = v;
    } else if (a == "--servers") {
      o->servers = v;
    } else if (a == "--services") {
      o->services = v;
    } else if (a == "--runs") {
      o->runs = v;
    } else if (a == "--api") {
      o->api = v != 0;
    } else {
      return false;
    }
  }
  return argc % 2 == 0 && o->lines > 0 && o->servers > 0 && o->services >= o->servers &&
         o->runs > 0;
}

// The median processor seconds (of the whole process, so that the operator
// API's threads count) of `runs` calls of `fn`. A busy machine stretches
// wall time far more than processor time.
double median(int runs, const std::function<void()>& fn) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const double start = cpuSeconds();
    fn();
    t.push_back(cpuSeconds() - start);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

// Every registered subnode, as a request names them.
std::vector<std::string> subnodes() {
  std::vector<std::string> out;
  OSB1_ScopedLock lock(&D::metricsLogListLock);
  for (auto* log = D::metricsLogList.front(); log != nullptr; log = D::metricsLogList.next(log)) {
    out.push_back(log->getSubnodeName());
  }
  return out;
}

// One sample of table `Agent` over every subnode; returns the row count.
template <class Agent>
int sampleOnce(const std::vector<std::string>& names, bool history) {
  RequestDetail request;
  request.subnodes = names;
  request.history = history;
  ContextInfo context;
  ZEPTABLE_object<Agent> sampler(&request, &context, nullptr);
  sampler.TakeSample();
  return sampler.count;
}

// A history sample marks what it reported, so only its first run is timed.
template <class Agent>
void timeSample(const char* name, const Options& o, const std::vector<std::string>& names,
                bool history) {
  int rows = 0;
  const double s = median(history ? 1 : o.runs, [&] { rows = sampleOnce<Agent>(names, history); });
  std::printf("%s_%s_rows=%d %s_%s_seconds=%.6f\n", name, history ? "history" : "realtime", rows,
              name, history ? "history" : "realtime", s);
}

void timeOperatorApi(const Options& o) {
  axo::api::OperatorApi api;
  axo::api::OperatorApiOptions options;
  options.port = 0;
  if (axo::Status s = api.Start(options); !s.ok()) {
    std::printf("api_json=unavailable (%s)\n", s.message().c_str());
    return;
  }
  long long bytes = 0;
  const double s = median(o.runs, [&] { bytes = httpGet(api.port(), "/api/v1/tables/ZEPSMT"); });
  api.Stop();
  std::printf("api_json_bytes=%lld api_json_seconds=%.6f api_json_mb_per_second=%.1f\n", bytes, s,
              s > 0 ? bytes / s / 1e6 : 0.0);
}

}  // namespace

int runSample(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: zepbench sample [--lines N] [--servers S] [--services V] [--runs R] "
                 "[--api 0|1]\n");
    return 2;
  }
  InstallDir install;
  if (!install.ok()) {
    std::fprintf(stderr, "zepbench: cannot create a temporary install directory\n");
    return 1;
  }
  // Four minutes of messages ending ten seconds before now: every line is
  // inside the real-time look-back, and read "now", so retention keeps it.
  const long long firstMillis = 1765000000123LL;
  setFixedClock(static_cast<time_t>(firstMillis / 1000 + 250));
  for (int s = 0; s < o.servers; ++s) {
    const int n = o.lines / o.servers + (s < o.lines % o.servers ? 1 : 0);
    const std::string path = install.logDir() + "/ZEP.bench" + std::to_string(s) + ".metric.log";
    if (!writeMetricLog(path, s, o.services / o.servers, n, firstMillis, 240000 / n)) {
      std::fprintf(stderr, "zepbench: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  if (D::initWithoutThread() != 0) {
    std::fprintf(stderr, "zepbench: dispatcher init failed\n");
    return 1;
  }
  D::runOnePass();
  zep_zepsmt_init();
  zep_zepflct_init();
  zep_zepinv_init();
  const std::vector<std::string> names = subnodes();
  int lines;
  {
    OSB1_ScopedLock lock(&D::metricsLogListLock);
    lines = D::metricsLogList.getNumMetricsRecords();
  }
  std::printf("lines=%d servers=%zu\n", lines, names.size());

  // The floor: the same number of ZEPSMT rows copied into a fresh buffer.
  std::vector<zep_zepsmt_data_t> source(lines);
  std::memset(source.data(), ' ', source.size() * sizeof(zep_zepsmt_data_t));
  const double copy = median(o.runs, [&] {
    std::unique_ptr<zep_zepsmt_data_t[]> target(new zep_zepsmt_data_t[lines]);
    for (int i = 0; i < lines; ++i) std::memcpy(&target[i], &source[i], sizeof(source[i]));
    asm volatile("" : : "r"(target.get()) : "memory");
  });
  std::printf("memcpy_rows=%d memcpy_seconds=%.6f\n", lines, copy);

  timeSample<zep_zepsmt_agent>("zepsmt", o, names, false);
  timeSample<zep_zepflct_agent>("zepflct", o, names, false);
  timeSample<zep_zepinv_agent>("zepinv", o, names, false);
  if (o.api) timeOperatorApi(o);
  // History last: it marks the lines and buckets it reports. The windows
  // end before now, so that the inventory's are complete.
  setFixedClock(static_cast<time_t>(firstMillis / 1000 + 900));
  timeSample<zep_zepsmt_agent>("zepsmt", o, names, true);
  timeSample<zep_zepflct_agent>("zepflct", o, names, true);
  timeSample<zep_zepinv_agent>("zepinv", o, names, true);
  D::resetForTesting();
  return 0;
}

}  // namespace zepbench
