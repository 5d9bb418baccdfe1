// Metrics registry and its exposition writer (Prometheus text 0.0.4 and
// OpenMetrics 1.0).
#include "axo/metrics/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "axo/base/text.h"

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
  static const char* const kTypes[] = {"counter", "gauge", "histogram", "counter"};
  const bool counter = f.kind() == Kind::kCounter || f.kind() == Kind::kRealCounter;
  std::string headerName = f.name();
  if (format == Format::kOpenMetrics && counter && headerName.size() > 6 &&
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
  f.ForEach([&](const std::vector<std::string>& names, const std::vector<std::string>& values,
                const Family::Series& s) {
    const std::string labels = LabelText(names, values);
    switch (f.kind()) {
      case Kind::kCounter:
        AppendSample(out, f.name(), "", labels, nullptr, "");
        AppendUint(out, s.counter.Value());
        break;
      case Kind::kGauge:
      case Kind::kRealCounter:
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

}  // namespace

Histogram::Histogram(const std::vector<double>* bounds) : bounds_(bounds), buckets_(inline_) {
  if (bounds->size() + 1 > kInlineBuckets) {
    heap_.reset(new std::atomic<uint64_t>[bounds->size() + 1]);
    for (size_t i = 0; i <= bounds->size(); ++i) heap_[i].store(0, std::memory_order_relaxed);
    buckets_ = heap_.get();
  }
}

size_t Histogram::BucketOf(double v) const {
  // Counted rather than searched: no branch to mispredict, and the same
  // bucket as the first bound v does not exceed, the bounds being ascending.
  size_t i = 0;
  for (const double bound : *bounds_) i += v > bound ? 1 : 0;
  return i;
}

void Histogram::Observe(double v) {
  if (!Enabled()) return;
  buckets_[BucketOf(v)].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(v, std::memory_order_relaxed);
}

void Histogram::ObserveSerialized(double v) {
  if (!Enabled()) return;
  std::atomic<uint64_t>& bucket = buckets_[BucketOf(v)];
  bucket.store(bucket.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  sum_.store(sum_.load(std::memory_order_relaxed) + v, std::memory_order_relaxed);
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
  auto it = series_.find(values);
  if (it == series_.end()) it = series_.insert(std::make_shared<Series>(&bounds_, values)).first;
  return **it;
}

Counter& Family::counter(const std::vector<std::string>& values) { return series(values).counter; }
Gauge& Family::realCounter(const std::vector<std::string>& values) { return series(values).gauge; }
Gauge& Family::gauge(const std::vector<std::string>& values) { return series(values).gauge; }
Histogram& Family::histogram(const std::vector<std::string>& values) {
  return series(values).histogram;
}

void Family::ForEach(
    const std::function<void(const std::vector<std::string>&, const std::vector<std::string>&,
                             const Series&)>& fn) const {
  // Handles, not pointers: a bounded family's series may be removed while
  // `fn` runs.
  std::vector<Handle> listed;
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> lock(mu_);
    names = bounded() ? exposed_ : labels_;
    listed.reserve(series_.size() + 1);
    listed.assign(series_.begin(), series_.end());
    if (overflow_ != nullptr) listed.push_back(overflow_);
  }
  for (const Handle& s : listed) fn(names, s->values, *s);
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
  Registry& r = registry();
  std::vector<std::function<void()>> collectors;
  {
    std::lock_guard<std::mutex> lock(r.mu);
    collectors = r.collectors;
  }
  for (const auto& c : collectors) c();
  std::string out;
  out.reserve(1 << 16);
  // The standard process_* families come after every other, wherever they
  // were defined.
  for (bool process : {false, true}) {
    ForEachFamily([&](const Family& f) {
      if (f.name().starts_with("process_") != process) return;
      if (names.empty() || std::find(names.begin(), names.end(), f.name()) != names.end()) {
        WriteFamily(&out, f, format);
      }
    });
  }
  if (format == Format::kOpenMetrics) out.append("# EOF\n");
  return out;
}

}  // namespace axo::metrics
