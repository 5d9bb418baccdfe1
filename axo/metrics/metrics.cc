// Metrics registry and its exposition writer (Prometheus text 0.0.4 and
// OpenMetrics 1.0).
#include "axo/metrics/metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "axo/base/text.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"

namespace axo::metrics {

std::atomic<bool> g_enabled{true};
void SetEnabled(bool on) { g_enabled.store(on, std::memory_order_relaxed); }

const std::vector<double>& LatencyBuckets() {
  static const std::vector<double> bounds = {.005, .01, .025, .05, .1, .25, .5, 1, 2.5, 5, 10};
  return bounds;
}

const std::vector<double>& SizeBuckets() {
  static const std::vector<double> bounds = {256, 1024, 4096, 16384, 65536, 262144, 1048576};
  return bounds;
}

namespace {

struct Registry {
  std::mutex mu;  // guards families and collectors, never held while collecting
  std::vector<std::unique_ptr<Family>> families;
  std::vector<std::function<void()>> collectors;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: static units refer to it
  return *r;
}

void AppendDouble(std::string* out, double v) {
  if (std::isinf(v)) {
    out->append(v > 0 ? "+Inf" : "-Inf");
    return;
  }
  if (std::isnan(v)) {
    out->append("NaN");
    return;
  }
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof(buf), v);
  out->append(buf, r.ptr);
}

void AppendUint(std::string* out, uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof(buf), v);
  out->append(buf, r.ptr);
}

// Appends `text` escaped for the exposition: backslash and newline always,
// the double quote when `quote` (label values in both formats, help texts
// in OpenMetrics). Bytes that are not UTF-8 become U+FFFD: a scraper
// refuses the whole answer for one bad byte in any series.
void Escape(std::string* out, std::string_view text, bool quote) {
  std::string valid;
  if (std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; })) {
    valid = axo_internal::ValidUtf8(text);
    text = valid;
  }
  for (char c : text) {
    if (c == '\\') {
      out->append("\\\\");
    } else if (c == '\n') {
      out->append("\\n");
    } else if (c == '"' && quote) {
      out->append("\\\"");
    } else {
      out->push_back(c);
    }
  }
}

// l1="v1",...: the labels of one series, escaped once for all its lines.
std::string LabelText(const std::vector<std::string>& labels,
                      const std::vector<std::string>& values) {
  std::string out;
  for (size_t i = 0; i < labels.size(); ++i) {
    if (i > 0) out.push_back(',');
    out.append(labels[i]);
    out.append("=\"");
    AppendEscaped(&out, values[i]);
    out.push_back('"');
  }
  return out;
}

// name{labels,extra} value
void AppendSample(std::string* out, const std::string& name, const char* suffix,
                  const std::string& labels, const char* extraName, const std::string& extraValue) {
  out->append(name);
  out->append(suffix);
  if (!labels.empty() || extraName != nullptr) {
    out->push_back('{');
    out->append(labels);
    if (extraName != nullptr) {
      if (!labels.empty()) out->push_back(',');
      out->append(extraName);
      out->append("=\"");
      out->append(extraValue);
      out->push_back('"');
    }
    out->push_back('}');
  }
  out->push_back(' ');
}

void WriteHeader(std::string* out, const std::string& name, const char* type,
                 const std::string& help, Format format) {
  out->append("# HELP ").append(name).push_back(' ');
  Escape(out, help, format == Format::kOpenMetrics);
  out->append("\n# TYPE ").append(name).push_back(' ');
  out->append(type).push_back('\n');
}

void WriteFamily(std::string* out, const Family& f, Format format) {
  static const char* const kTypes[] = {"counter", "gauge", "histogram"};
  std::string headerName = f.name();
  if (format == Format::kOpenMetrics && f.kind() == Kind::kCounter && headerName.size() > 6 &&
      headerName.ends_with("_total")) {
    headerName.resize(headerName.size() - 6);
  }
  WriteHeader(out, headerName, kTypes[static_cast<int>(f.kind())], f.help(), format);
  // Bucket bounds are formatted once per family, not once per series.
  std::vector<std::string> le;
  for (double b : f.bounds()) {
    le.emplace_back();
    AppendDouble(&le.back(), b);
  }
  le.push_back("+Inf");
  f.ForEach([&](const std::vector<std::string>& values, const Family::Series& s) {
    const std::string labels = LabelText(f.labels(), values);
    switch (f.kind()) {
      case Kind::kCounter:
        AppendSample(out, f.name(), "", labels, nullptr, "");
        AppendUint(out, s.counter.Value());
        break;
      case Kind::kGauge:
        AppendSample(out, f.name(), "", labels, nullptr, "");
        AppendDouble(out, s.gauge.Value());
        break;
      case Kind::kHistogram: {
        uint64_t cumulative = 0;
        for (size_t i = 0; i < le.size(); ++i) {
          cumulative += s.histogram.BucketCount(i);
          AppendSample(out, f.name(), "_bucket", labels, "le", le[i]);
          AppendUint(out, cumulative);
          out->push_back('\n');
        }
        AppendSample(out, f.name(), "_sum", labels, nullptr, "");
        AppendDouble(out, s.histogram.Sum());
        out->push_back('\n');
        AppendSample(out, f.name(), "_count", labels, nullptr, "");
        AppendUint(out, cumulative);
        break;
      }
    }
    out->push_back('\n');
  });
}

// The standard process_* metrics, read from /proc/self at scrape time.
void WriteProcess(std::string* out, Format format) {
  const long page = sysconf(_SC_PAGESIZE);
  const long ticks = sysconf(_SC_CLK_TCK);
  unsigned long long vsize = 0;
  long long rss = 0;
  unsigned long utime = 0, stime = 0;
  unsigned long long startTicks = 0;
  if (FILE* f = std::fopen("/proc/self/stat", "r")) {
    char buf[1024];
    size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // Fields after the command name, which may contain blanks: from ") ".
    const char* p = std::strrchr(buf, ')');
    if (p != nullptr) {
      std::sscanf(p + 2,
                  "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %*d %*d %*d %*d %*d %*d "
                  "%llu %llu %lld",
                  &utime, &stime, &startTicks, &vsize, &rss);
    }
  }
  double bootTime = 0;
  if (FILE* f = std::fopen("/proc/stat", "r")) {
    char line[256];
    while (std::fgets(line, sizeof(line), f) != nullptr) {
      if (std::strncmp(line, "btime ", 6) == 0) bootTime = std::atof(line + 6);
    }
    std::fclose(f);
  }
  int fds = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++fds;
    }
    closedir(d);
    --fds;  // the descriptor of the listing itself
  }
  struct rlimit lim {};
  getrlimit(RLIMIT_NOFILE, &lim);

  auto gauge = [&](const char* name, const char* help, double v) {
    WriteHeader(out, name, "gauge", help, format);
    out->append(name).push_back(' ');
    AppendDouble(out, v);
    out->push_back('\n');
  };
  WriteHeader(out,
              format == Format::kOpenMetrics ? "process_cpu_seconds" : "process_cpu_seconds_total",
              "counter", "Total user and system CPU time spent in seconds.", format);
  out->append("process_cpu_seconds_total ");
  AppendDouble(out, static_cast<double>(utime + stime) / static_cast<double>(ticks));
  out->push_back('\n');
  gauge("process_resident_memory_bytes", "Resident memory size in bytes.",
        static_cast<double>(rss) * static_cast<double>(page));
  gauge("process_virtual_memory_bytes", "Virtual memory size in bytes.",
        static_cast<double>(vsize));
  gauge("process_open_fds", "Number of open file descriptors.", fds);
  gauge("process_max_fds", "Maximum number of open file descriptors.",
        lim.rlim_cur == RLIM_INFINITY ? -1.0 : static_cast<double>(lim.rlim_cur));
  gauge("process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
        bootTime + static_cast<double>(startTicks) / static_cast<double>(ticks));
}

// Framework-level gauges read at scrape time: build, subnodes, situations.
void CollectFramework() {
  AXO_GAUGE_FAMILY(buildInfo, "zep_build_info",
                   "The agent's product and version; the value is always 1.",
                   {"product", "version"});
  AXO_GAUGE(subnodes, "zep_subnodes", "Subnodes registered with the framework.");
  AXO_GAUGE_FAMILY(situations, "zep_situations", "Situations by state.", {"state"});
  AXO_Identity id = AXO_GetIdentity();
  if (!id.version.empty()) buildInfo.gauge({id.product, id.version}).Set(1);
  subnodes.Set(static_cast<double>(AXO_ListSubnodes().size()));
  int raised = 0, cleared = 0;
  for (const SituationInfo& s : listSituations()) ++(s.raised ? raised : cleared);
  situations.gauge({"raised"}).Set(raised);
  situations.gauge({"cleared"}).Set(cleared);
}

}  // namespace

Histogram::Histogram(const std::vector<double>* bounds)
    : bounds_(bounds), buckets_(new std::atomic<uint64_t>[bounds->size() + 1]) {
  for (size_t i = 0; i <= bounds->size(); ++i) buckets_[i].store(0, std::memory_order_relaxed);
}

void Histogram::Observe(double v) {
  if (!Enabled()) return;
  const std::vector<double>& b = *bounds_;
  size_t i = 0;
  while (i < b.size() && v > b[i]) ++i;
  buckets_[i].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(v, std::memory_order_relaxed);
}

Family::Family(Kind kind, std::string name, std::string help, std::vector<std::string> labels,
               std::vector<double> bounds)
    : kind_(kind),
      name_(std::move(name)),
      help_(std::move(help)),
      labels_(std::move(labels)),
      bounds_(std::move(bounds)) {}

Family::Series& Family::series(const std::vector<std::string>& values) {
  std::lock_guard<std::mutex> lock(mu_);
  std::unique_ptr<Series>& s = series_[values];
  if (!s) s = std::make_unique<Series>(&bounds_);
  return *s;
}

Counter& Family::counter(const std::vector<std::string>& values) { return series(values).counter; }
Gauge& Family::gauge(const std::vector<std::string>& values) { return series(values).gauge; }
Histogram& Family::histogram(const std::vector<std::string>& values) {
  return series(values).histogram;
}

void Family::ForEach(
    const std::function<void(const std::vector<std::string>&, const Series&)>& fn) const {
  std::vector<std::pair<const std::vector<std::string>*, const Series*>> listed;
  {
    std::lock_guard<std::mutex> lock(mu_);
    listed.reserve(series_.size());
    for (const auto& [values, s] : series_) listed.emplace_back(&values, s.get());
  }
  for (const auto& [values, s] : listed) fn(*values, *s);
}

Family& Define(Kind kind, const char* name, const char* help, std::vector<std::string> labels,
               std::vector<double> bounds) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mu);
  for (const auto& f : r.families) {
    if (f->name() == name) return *f;
  }
  r.families.push_back(
      std::make_unique<Family>(kind, name, help, std::move(labels), std::move(bounds)));
  return *r.families.back();
}

void ForEachFamily(const std::function<void(const Family&)>& fn) {
  std::vector<const Family*> families;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    for (const auto& f : r.families) families.push_back(f.get());
  }
  for (const Family* f : families) fn(*f);
}

void AddCollector(std::function<void()> collect) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.collectors.push_back(std::move(collect));
}

void AppendEscaped(std::string* out, const std::string& value) { Escape(out, value, true); }

HistorySeries HistoryTable(const std::string& table) {
  AXO_COUNTER_FAMILY(written, "zep_history_rows_written_total", "History rows written, by table.",
                     {"table"});
  AXO_COUNTER_FAMILY(failed, "zep_history_rows_failed_total",
                     "History rows whose write failed, by table.", {"table"});
  AXO_GAUGE_FAMILY(pending, "zep_history_rows_pending", "History rows waiting to be written.",
                   {"table"});
  return {written.counter({table}), failed.counter({table}), pending.gauge({table})};
}

namespace {

// The highest quality value (q, 0 to 1, default 1) that `accept` gives the
// media type `type`; 0 when it names it nowhere.
double AcceptQuality(const std::string& accept, std::string_view type) {
  double best = 0;
  size_t begin = 0;
  while (begin <= accept.size()) {
    size_t end = std::min(accept.find(',', begin), accept.size());
    std::string_view range(accept.data() + begin, end - begin);
    begin = end + 1;
    size_t semi = std::min(range.find(';'), range.size());
    const std::string_view media = axo_internal::TrimSpace(range.substr(0, semi));
    if (media != type) continue;
    double q = 1;
    size_t at = range.find("q=", semi);
    if (at != std::string_view::npos && (range[at - 1] == ';' || range[at - 1] == ' ')) {
      q = std::atof(std::string(range.substr(at + 2)).c_str());
    }
    best = std::max(best, q);
  }
  return best;
}

}  // namespace

Format NegotiateFormat(const std::string& accept, std::string* contentType) {
  // OpenMetrics when asked for with a quality above zero and not below text's.
  const double openMetrics = AcceptQuality(accept, "application/openmetrics-text");
  if (openMetrics > 0 && openMetrics >= AcceptQuality(accept, "text/plain")) {
    *contentType = "application/openmetrics-text; version=1.0.0; charset=utf-8";
    return Format::kOpenMetrics;
  }
  *contentType = "text/plain; version=0.0.4; charset=utf-8";
  return Format::kPrometheus;
}

std::string Expose(Format format, const std::vector<std::string>& names) {
  CollectFramework();
  Registry& r = registry();
  std::vector<std::function<void()>> collectors;
  {
    std::lock_guard<std::mutex> lock(r.mu);
    collectors = r.collectors;
  }
  for (const auto& c : collectors) c();
  std::string out;
  out.reserve(1 << 16);
  ForEachFamily([&](const Family& f) {
    if (names.empty() || std::find(names.begin(), names.end(), f.name()) != names.end()) {
      WriteFamily(&out, f, format);
    }
  });
  if (names.empty()) WriteProcess(&out, format);
  if (format == Format::kOpenMetrics) out.append("# EOF\n");
  return out;
}

}  // namespace axo::metrics
