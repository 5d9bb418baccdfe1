// zepbench scrape: the exposition of every family of GET /metrics (the
// agent's health, the framework's, and the service families at fleet size:
// 100 servers x 20 operations x 4 message locations = 8,000 label sets),
// written by the agent's metrics registry and, for comparison, by the
// Prometheus C++ client's text serializer holding a copy of the same
// families and series in the same process. Prints both times per scrape and
// their ratio.
#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "axo/metrics/metrics.h"
#include "zepbench.h"

namespace zepbench {

namespace {

constexpr int kServers = 100;
constexpr int kOperations = 20;
constexpr int kLocations = 4;

struct Labels {
  std::string subnode, port, operation, msgloc;
};

std::vector<Labels> labelSets() {
  std::vector<Labels> sets;
  for (int s = 0; s < kServers; ++s) {
    for (int o = 0; o < kOperations; ++o) {
      for (int l = 0; l < kLocations; ++l) {
        sets.push_back({"ZP:appsrv" + std::to_string(s) + ":node" + std::to_string(s),
                        "Port" + std::to_string(o % 5), "operation" + std::to_string(o),
                        std::to_string(l)});
      }
    }
  }
  return sets;
}

namespace m = axo::metrics;

// Gives the health families the series a running agent has: every cause and
// reason, the routes of the operator API, two history tables, a pass time.
void touchHealthFamilies() {
  using m::Kind;
  m::Expose(m::Format::kPrometheus);  // defines the framework's scrape-time families
  for (const char* cause : {"field_count", "time", "other"}) {
    m::Define(Kind::kCounter, "zep_records_rejected_total", "", {"cause"}).counter({cause}).Inc();
  }
  for (const char* reason : {"record_limit", "retention"}) {
    m::Define(Kind::kCounter, "zep_records_dropped_total", "", {"reason"}).counter({reason}).Inc();
  }
  m::Family& requests =
      m::Define(Kind::kCounter, "zep_api_requests_total", "", {"method", "route", "status"});
  for (const char* route :
       {"/healthz", "/metrics", "/api/v1/agent", "/api/v1/subnodes", "/api/v1/tables",
        "/api/v1/tables/{table}", "/api/v1/situations", "/api/v1/events"}) {
    requests.counter({"GET", route, "200"}).Inc(1000);
  }
  requests.counter({"POST", "/api/v1/situations", "201"}).Inc(5);
  requests.counter({"GET", "/api/v1/tables/{table}", "404"}).Inc(2);
  for (const char* table : {"ZEPSMT", "ZEPINV"}) {
    m::Define(Kind::kCounter, "zep_history_rows_written_total", "", {"table"})
        .counter({table})
        .Inc(5000);
    m::Define(Kind::kGauge, "zep_history_rows_pending", "", {"table"}).gauge({table}).Set(10);
  }
  m::Define(Kind::kHistogram, "zep_dispatcher_pass_seconds", "", {}, m::LatencyBuckets())
      .histogram()
      .Observe(0.02);
  for (const char* gauge : {"zep_held_metric_lines", "zep_held_metric_lines_limit",
                            "zep_held_buckets", "zep_held_buckets_limit", "zep_lag_seconds"}) {
    m::Define(Kind::kGauge, gauge, "").gauge().Set(100);
  }
}

// Copies every family and series of the registry into `registry`, and the
// process_* metrics the exposition adds, as gauges and a counter.
void mirror(prometheus::Registry& registry) {
  m::ForEachFamily([&](const m::Family& f) {
    using Names = std::vector<std::string>;
    auto labels = [&](const Names& names, const Names& values) {
      prometheus::Labels l;
      for (size_t i = 0; i < values.size(); ++i) l[names[i]] = values[i];
      return l;
    };
    using Series = m::Family::Series;
    if (f.kind() == m::Kind::kCounter) {
      auto& c = prometheus::BuildCounter().Name(f.name()).Help(f.help()).Register(registry);
      f.ForEach([&](const Names& n, const Names& v, const Series& s) {
        c.Add(labels(n, v)).Increment(static_cast<double>(s.counter.Value()));
      });
    } else if (f.kind() == m::Kind::kGauge) {
      auto& g = prometheus::BuildGauge().Name(f.name()).Help(f.help()).Register(registry);
      f.ForEach([&](const Names& n, const Names& v, const Series& s) {
        g.Add(labels(n, v)).Set(s.gauge.Value());
      });
    } else {
      auto& h = prometheus::BuildHistogram().Name(f.name()).Help(f.help()).Register(registry);
      f.ForEach([&](const Names& n, const Names& v, const Series& s) {
        std::vector<double> counts;
        for (size_t i = 0; i <= f.bounds().size(); ++i) {
          counts.push_back(static_cast<double>(s.histogram.BucketCount(i)));
        }
        h.Add(labels(n, v), f.bounds()).ObserveMultiple(counts, s.histogram.Sum());
      });
    }
  });
  prometheus::BuildCounter()
      .Name("process_cpu_seconds_total")
      .Help("CPU.")
      .Register(registry)
      .Add({})
      .Increment(1.5);
  for (const char* gauge : {"process_resident_memory_bytes", "process_virtual_memory_bytes",
                            "process_open_fds", "process_max_fds", "process_start_time_seconds"}) {
    prometheus::BuildGauge().Name(gauge).Help("Process.").Register(registry).Add({}).Set(1e6);
  }
}

}  // namespace

int runScrape(int argc, char** argv) {
  const int scrapes = argc > 0 ? std::atoi(argv[0]) : 20;
  if (scrapes < 1) {
    std::fprintf(stderr, "usage: zepbench scrape [SCRAPES]\n");
    return 2;
  }
  using m::Kind;
  const std::vector<std::string> names = {"subnode", "port", "operation", "msgloc"};
  m::Family& messages = m::Define(Kind::kCounter, "zep_messages_total", "Messages.", names);
  m::Family& faults = m::Define(Kind::kCounter, "zep_faults_total", "Faults.", names);
  m::Family& elapsed =
      m::Define(Kind::kHistogram, "zep_elapsed_seconds", "Elapsed.", names, m::LatencyBuckets());
  m::Family& length =
      m::Define(Kind::kHistogram, "zep_message_length_bytes", "Length.", names, m::SizeBuckets());
  int i = 0;
  for (const Labels& l : labelSets()) {
    const std::vector<std::string> v = {l.subnode, l.port, l.operation, l.msgloc};
    messages.counter(v).Inc(10 + i % 7);
    faults.counter(v).Inc(i % 3);
    elapsed.histogram(v).Observe(0.001 * (1 + i % 700));
    length.histogram(v).Observe(100.0 * (1 + i % 3000));
    ++i;
  }
  touchHealthFamilies();
  auto registry = std::make_shared<prometheus::Registry>();
  mirror(*registry);
  int families = 0;
  m::ForEachFamily([&](const m::Family&) { ++families; });

  size_t ourBytes = 0, theirBytes = 0;
  double t0 = monotonicSeconds();
  for (int s = 0; s < scrapes; ++s) ourBytes = m::Expose(m::Format::kPrometheus).size();
  const double ours = (monotonicSeconds() - t0) / scrapes;
  prometheus::TextSerializer serializer;
  t0 = monotonicSeconds();
  for (int s = 0; s < scrapes; ++s) {
    std::ostringstream out;
    serializer.Serialize(out, registry->Collect());
    theirBytes = out.str().size();
  }
  const double theirs = (monotonicSeconds() - t0) / scrapes;
  std::printf(
      "label_sets=%d families=%d scrapes=%d registry_ms=%.2f registry_bytes=%zu client_ms=%.2f "
      "client_bytes=%zu ratio=%.3f\n",
      i, families + 6, scrapes, ours * 1000, ourBytes, theirs * 1000, theirBytes, ours / theirs);
  return 0;
}

}  // namespace zepbench
