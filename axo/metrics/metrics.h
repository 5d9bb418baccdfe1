// Metrics registry of the framework stand-in: counters, gauges and
// histograms, with or without labels, exposed by the operator API at
// GET /metrics in the Prometheus text format 0.0.4 or OpenMetrics 1.0.
//
// Metrics are defined at namespace scope, as trace units are:
//   AXO_COUNTER(recordsRead, "zep_records_read_total", "Record lines read.");
//   recordsRead.Inc();
// A labelled family hands out one series per label-value list; the lookup
// takes the family's lock, so callers on a hot path look a series up once
// and keep the returned reference (series live as long as the process).
// Updating a series is lock-free (relaxed atomics). A series whose every
// update is made under one lock of the caller's (the agent's per-record
// series, under its metric log list lock) may use the Serialized updates:
// a plain load and store instead of a locked read-modify-write, which on
// a hot path also has to wait for every store still pending. Readers
// (scrapes) need no lock either way.
//
// Bounded families (DefineBounded) are the exception to "series live as
// long as the process": their label sets are chosen by the operator, capped
// and expired (see "Bounded families" below).
#ifndef AXO_METRICS_METRICS_H_
#define AXO_METRICS_METRICS_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace axo::metrics {

// Benchmark-only switch: when off, Inc/Set/Observe do nothing.
extern std::atomic<bool> g_enabled;
inline bool Enabled() { return g_enabled.load(std::memory_order_relaxed); }
void SetEnabled(bool on);

class Counter {
 public:
  void Inc(uint64_t n = 1) {
    if (Enabled()) value_.fetch_add(n, std::memory_order_relaxed);
  }
  // Inc for a caller that serialises every update of this series (above).
  void IncSerialized(uint64_t n = 1) {
    if (Enabled()) {
      value_.store(value_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }
  }
  uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

class Gauge {
 public:
  void Set(double v) { value_.store(v, std::memory_order_relaxed); }
  void Add(double v) { value_.fetch_add(v, std::memory_order_relaxed); }
  double Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<double> value_{0};
};

// Buckets by upper bound (le), stored non-cumulative; the writer sums them.
// The bounds are ascending. Up to kInlineBuckets buckets are kept in the
// object itself, beside the sum: an observation touches one or two cache
// lines, not also a separate array.
class Histogram {
 public:
  static constexpr size_t kInlineBuckets = 16;

  explicit Histogram(const std::vector<double>* bounds);
  Histogram(const Histogram&) = delete;
  Histogram& operator=(const Histogram&) = delete;
  void Observe(double v);
  // Observe for a caller that serialises every update of this series (above).
  void ObserveSerialized(double v);
  const std::vector<double>& Bounds() const { return *bounds_; }
  // Count of bucket i (i == Bounds().size() is the +Inf bucket), not cumulative.
  uint64_t BucketCount(size_t i) const { return buckets_[i].load(std::memory_order_relaxed); }
  double Sum() const { return sum_.load(std::memory_order_relaxed); }

 private:
  // The bucket of `v`: the number of bounds below it (0 for NaN).
  size_t BucketOf(double v) const;

  const std::vector<double>* bounds_;
  std::atomic<double> sum_{0};
  std::atomic<uint64_t>* buckets_;  // inline_, or heap_ for more buckets
  std::unique_ptr<std::atomic<uint64_t>[]> heap_;
  std::atomic<uint64_t> inline_[kInlineBuckets] = {};
};

// kRealCounter: a counter whose running total is kept elsewhere and set at
// each scrape (CPU seconds read from the system), written as a counter with
// a real value.
enum class Kind { kCounter, kGauge, kHistogram, kRealCounter };

// A metric family: one name, help text, kind and label names; its series.
// Thread-safety: every member may be called from any thread.
class Family {
 public:
  Family(Kind kind, std::string name, std::string help, std::vector<std::string> labels,
         std::vector<double> bounds);
  Family(const Family&) = delete;
  Family& operator=(const Family&) = delete;

  // The series of `values` (one per label name), created on first use.
  // Requires: the family's kind matches and values.size() == label count.
  // Returns a reference valid for the life of the process.
  Counter& counter(const std::vector<std::string>& values = {});
  // Of a kRealCounter family: its total, set (Gauge::Set) from the source.
  Gauge& realCounter(const std::vector<std::string>& values = {});
  Gauge& gauge(const std::vector<std::string>& values = {});
  Histogram& histogram(const std::vector<std::string>& values = {});

  Kind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  const std::string& help() const { return help_; }
  const std::vector<std::string>& labels() const { return labels_; }
  const std::vector<double>& bounds() const { return bounds_; }

  // What an update touches comes first, in the object's first cache line:
  // the bounded family's marks, the counter, the histogram's sum and first
  // buckets.
  struct Series {
    Series(const std::vector<double>* bounds, std::vector<std::string> v)
        : histogram(bounds), values(std::move(v)) {}
    // Of a bounded family only: the sweep tick of the last update, and
    // whether the series has left the family. Written and read under the
    // writers' lock (relaxed atomics only so that a scrape may list them).
    std::atomic<int64_t> stamp{0};
    std::atomic<bool> removed{false};
    bool overflow = false;  // the family's __overflow__ series; fixed at creation
    Counter counter;
    Gauge gauge;
    Histogram histogram;
    const std::vector<std::string> values;  // one per label carried
  };
  // Calls `fn` for every series in label order with the label names it
  // carries (a bounded family's may change at a reload; the names and the
  // values are listed together). The family's lock is held only to list the
  // series, not while `fn` runs, so a scrape keeps a new series' lookup
  // waiting for one short hold; a series removed meanwhile stays readable.
  void ForEach(
      const std::function<void(const std::vector<std::string>& labels,
                               const std::vector<std::string>& values, const Series&)>& fn) const;

  // --- bounded families (DefineBounded) ---
  //
  // A writer caches a Handle per label-value list and calls Use for every
  // update. Every update of a bounded family runs under one lock of the
  // writers' (SetBoundedWritersLock), and so do expiry and removal: a series
  // is removed only while no writer is inside it, it is never written after
  // it is gone (Use finds it removed and takes the new one), and a scrape
  // that still lists a series shows every record counted into it. Removal
  // frees nothing a handle still holds.
  using Handle = std::shared_ptr<Series>;

  // The series of `*handle` for one update, re-looked-up (with values(),
  // one per label given to DefineBounded) when the handle is empty, its
  // series was removed, or it is folded into the overflow series while the
  // family has room again. Counts a record folded into the overflow series.
  // Cost per call: a few loads and at most one store (a lookup when the
  // handle changes). Requires: the writers' lock is held.
  template <class Values>
  Series& Use(Handle* handle, Values&& values) {
    Series* s = handle->get();
    if (s == nullptr || s->removed.load(std::memory_order_relaxed) ||
        (s->overflow && count_.load(std::memory_order_relaxed) <
                            maxSeries_.load(std::memory_order_relaxed))) [[unlikely]] {
      s = Acquire(handle, values());
    }
    const int64_t tick = tick_.load(std::memory_order_relaxed);
    if (s->stamp.load(std::memory_order_relaxed) != tick)
      s->stamp.store(tick, std::memory_order_relaxed);
    if (s->overflow) [[unlikely]]
      overflowed_->IncSerialized();
    return *s;
  }
  // Removes every series whose label `label` reads `value` (nothing when
  // the family does not carry `label`: its series hold other values too).
  // Requires: the writers' lock is held.
  void RemoveWhere(const std::string& label, const std::string& value);
  // Label sets present, the overflow series not included.
  size_t seriesCount() const { return count_.load(std::memory_order_relaxed); }
  bool bounded() const { return overflowed_ != nullptr; }

 private:
  friend struct BoundedAccess;
  Series& series(const std::vector<std::string>& values);
  Series* Acquire(Handle* handle, const std::vector<std::string>& values);
  // Series ordered by their values; looked up by a value list too.
  struct ByValues {
    using is_transparent = void;
    static const std::vector<std::string>& V(const Handle& h) { return h->values; }
    static const std::vector<std::string>& V(const std::vector<std::string>& v) { return v; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return V(a) < V(b);
    }
  };
  using SeriesSet = std::set<Handle, ByValues>;
  // Marks the series removed and drops it. Requires: mu_ and the writers' lock.
  void RemoveLocked(SeriesSet::iterator it);

  const Kind kind_;
  const std::string name_;
  const std::string help_;
  const std::vector<std::string> labels_;
  const std::vector<double> bounds_;
  mutable std::mutex mu_;
  SeriesSet series_;
  // Bounded families only. exposed_/keep_: the labels carried and their
  // indexes in labels_ (guarded by mu_; changed under the writers' lock).
  std::vector<std::string> exposed_;
  std::vector<size_t> keep_;
  Handle overflow_;      // guarded by mu_
  bool warned_ = false;  // the first overflow was traced; guarded by mu_
  std::atomic<size_t> count_{0};
  std::atomic<size_t> maxSeries_{SIZE_MAX};
  std::atomic<int64_t> tick_{0};
  Counter* overflowed_ = nullptr;
};

// Registers a family for exposition; the registry owns it. Registering an
// existing name returns the existing family.
Family& Define(Kind kind, const char* name, const char* help, std::vector<std::string> labels = {},
               std::vector<double> bounds = {});

// --- bounded families ---
//
// A family whose label sets come from what is watched (servers,
// operations) and so could grow without end. The operator chooses which of
// its labels it carries (the counts of the others are summed), caps its
// label sets (past the cap a new label set's records count into one series
// whose labels all read "__overflow__", so every sum over the family still
// equals what was counted; zep_metrics_series_overflowed_total{family}
// counts them and the first overflow is traced once as AXO0501W), and lets
// a label set that no update touched for the TTL leave (it starts from zero
// when it comes back, which Prometheus reads as a counter reset).
// zep_metrics_series{family} shows the label sets present.
Family& DefineBounded(Kind kind, const char* name, const char* help,
                      std::vector<std::string> labels, std::vector<double> bounds = {});

struct BoundedSettings {
  std::vector<std::string> labels;  // carried by every bounded family that has them
  size_t maxSeries = 20000;         // label sets per family, above 0
  int64_t ttlSeconds = 3600;        // 0: never expire
};
// Checks `labels` (a comma-separated list) against the labels of the
// bounded families; on success fills settings->labels. Returns false with
// `*error` for an empty list, a label no bounded family has, or a repeat.
bool ParseBoundedLabels(const std::string& labels, BoundedSettings* settings, std::string* error);
// Applies `settings` to every bounded family: new labels drop the family's
// series (its handles take new ones), a new cap or TTL applies from the next
// update or sweep. Takes the writers' lock.
void ConfigureBounded(const BoundedSettings& settings);
// Runs `fn` under the lock every update of a bounded family holds; returns
// false when the lock could not be taken (busy: the sweep tries again). The
// default runs `fn` under a lock of its own, for writers that update from
// one thread at a time. Set before the first sweep.
using WritersLock = std::function<bool(const std::function<void()>& fn)>;
void SetBoundedWritersLock(WritersLock lock);
// One expiry round at time `now` (seconds, the framework clock): every
// bounded family's tick becomes `now` and the label sets not updated for the
// TTL leave. Takes the writers' lock for at most kSweepBatch removals at a
// time, never the registry's, and never runs on the scrape path.
void SweepBounded(int64_t now);
constexpr size_t kSweepBatch = 64;

// Calls `fn` for every registered family, in registration order (the
// registry's lock is not held while `fn` runs).
void ForEachFamily(const std::function<void(const Family&)>& fn);

// The collector interface: a function run at the start of every scrape,
// in registration order, to set series that are read rather than counted
// (process figures, subnodes, situations, held lines). Every part that
// produces such metrics registers one; only this part writes the wire
// formats. It may take the caller's locks, never the registry's.
void AddCollector(std::function<void()> collect);

// Bucket bounds of web-service latency (seconds) and message size (bytes).
// Functions, not globals: families defined at namespace scope in other
// files are initialised in no fixed order with respect to a global.
const std::vector<double>& LatencyBuckets();
const std::vector<double>& SizeBuckets();

enum class Format { kPrometheus, kOpenMetrics };
// The Content-Type that answers an Accept header, and its format.
Format NegotiateFormat(const std::string& accept, std::string* contentType);
// Runs the collectors and writes every family in registration order, the
// process_* families last; with `names`, only the families of those names (a page that shows a few
// series need not receive every service's histograms).
std::string Expose(Format format, const std::vector<std::string>& names = {});
// Escapes a label value: backslash, double quote and newline; bytes that
// are not UTF-8 become U+FFFD.
void AppendEscaped(std::string* out, const std::string& value);

}  // namespace axo::metrics

#define AXO_COUNTER(var, name, help)    \
  static ::axo::metrics::Counter& var = \
      ::axo::metrics::Define(::axo::metrics::Kind::kCounter, name, help).counter()
#define AXO_GAUGE(var, name, help)    \
  static ::axo::metrics::Gauge& var = \
      ::axo::metrics::Define(::axo::metrics::Kind::kGauge, name, help).gauge()
// Labelled families: AXO_COUNTER_FAMILY(rejected, "zep_x_total", "help", {"cause"}).
#define AXO_COUNTER_FAMILY(var, name, help, ...) \
  static ::axo::metrics::Family& var =           \
      ::axo::metrics::Define(::axo::metrics::Kind::kCounter, name, help, __VA_ARGS__)
#define AXO_GAUGE_FAMILY(var, name, help, ...) \
  static ::axo::metrics::Family& var =         \
      ::axo::metrics::Define(::axo::metrics::Kind::kGauge, name, help, __VA_ARGS__)
// AXO_HISTOGRAM_FAMILY(var, name, help, {labels}, bounds)
#define AXO_HISTOGRAM_FAMILY(var, name, help, labels, bounds) \
  static ::axo::metrics::Family& var =                        \
      ::axo::metrics::Define(::axo::metrics::Kind::kHistogram, name, help, labels, bounds)

#endif  // AXO_METRICS_METRICS_H_
