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
#include <zlib.h>

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
    if (f.name().starts_with("process_")) return;  // added below
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

// The size of `text` gzip-compressed at zlib's default level, as the
// operator API sends it to a scraper that accepts gzip.
size_t gzipSize(const std::string& text) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return 0;
  }
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  const size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

}  // namespace

ScrapeFigures compareScrape(int scrapes) {
  ScrapeFigures f;
  auto registry = std::make_shared<prometheus::Registry>();
  mirror(*registry);
  m::ForEachFamily(
      [&](const m::Family& family) { f.families += !family.name().starts_with("process_"); });
  f.families += 6;  // the process_* families the exposition adds
  std::string text;
  double t0 = monotonicSeconds();
  for (int s = 0; s < scrapes; ++s) text = m::Expose(m::Format::kPrometheus);
  f.registryMs = (monotonicSeconds() - t0) / scrapes * 1000;
  f.registryBytes = text.size();
  f.gzipBytes = gzipSize(text);
  prometheus::TextSerializer serializer;
  t0 = monotonicSeconds();
  for (int s = 0; s < scrapes; ++s) {
    std::ostringstream out;
    serializer.Serialize(out, registry->Collect());
    f.clientBytes = out.str().size();
  }
  f.clientMs = (monotonicSeconds() - t0) / scrapes * 1000;
  return f;
}

int defineServiceFamilies() {
  using m::Kind;
  const std::vector<std::string> names = {"subnode", "port", "operation", "msgloc"};
  // The agent's families, carrying every label (the histograms never carry
  // msgloc), as the agent feeds them: through cached handles.
  m::Family& messages = m::DefineBounded(Kind::kCounter, "zep_messages_total", "Messages.", names);
  m::Family& faults = m::DefineBounded(Kind::kCounter, "zep_faults_total", "Faults.", names);
  m::Family& elapsed = m::DefineBounded(Kind::kHistogram, "zep_elapsed_seconds", "Elapsed.",
                                        {"subnode", "port", "operation"}, m::LatencyBuckets());
  m::Family& length = m::DefineBounded(Kind::kHistogram, "zep_message_length_bytes", "Length.",
                                       {"subnode", "port", "operation"}, m::SizeBuckets());
  m::BoundedSettings all;
  all.labels = names;
  all.maxSeries = 1000000;
  m::ConfigureBounded(all);
  int i = 0;
  for (const Labels& l : labelSets()) {
    const std::vector<std::string> v = {l.subnode, l.port, l.operation, l.msgloc};
    auto values = [&] { return v; };
    m::Family::Handle h[4];
    messages.Use(&h[0], values).counter.Inc(10 + i % 7);
    faults.Use(&h[1], values).counter.Inc(i % 3);
    elapsed.Use(&h[2], values).histogram.Observe(0.001 * (1 + i % 700));
    length.Use(&h[3], values).histogram.Observe(100.0 * (1 + i % 3000));
    ++i;
  }
  return i;
}

int runScrape(int argc, char** argv) {
  const int scrapes = argc > 0 ? std::atoi(argv[0]) : 20;
  if (scrapes < 1) {
    std::fprintf(stderr, "usage: zepbench scrape [SCRAPES]\n");
    return 2;
  }
  const int i = defineServiceFamilies();
  touchHealthFamilies();
  const ScrapeFigures f = compareScrape(scrapes);
  const double ours = f.registryMs, theirs = f.clientMs;
  const int families = f.families;
  const size_t ourBytes = f.registryBytes, theirBytes = f.clientBytes;
  std::printf(
      "label_sets=%d families=%d scrapes=%d registry_ms=%.2f registry_bytes=%zu client_ms=%.2f "
      "client_bytes=%zu ratio=%.3f\n",
      i, families, scrapes, ours, ourBytes, theirs, theirBytes, ours / theirs);
  return 0;
}

}  // namespace zepbench
