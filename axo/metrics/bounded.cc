// Bounded families: the operator's label choice, the cap with its overflow
// series, expiry and removal (see metrics.h, "Bounded families").
#include <algorithm>
#include <optional>

#include "axo/base/clock.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"

TRK1_UNIT(axometrics_unit, "AXOMETRICS");

namespace axo::metrics {

namespace {

struct BoundedState {
  std::mutex mu;  // guards families, ttlSeconds and lock
  std::vector<Family*> families;
  int64_t ttlSeconds = 3600;
  std::optional<BoundedSettings> settings;  // the last configured, for families defined later
  WritersLock lock;
  std::mutex ownLock;  // the default writers' lock
};

BoundedState& bounded() {
  static BoundedState* s = new BoundedState;  // never destroyed, as the registry
  return *s;
}

std::vector<Family*> BoundedFamilies() {
  BoundedState& b = bounded();
  std::lock_guard<std::mutex> lock(b.mu);
  return b.families;
}

// Runs `fn` under the writers' lock; false when it was busy.
bool UnderWritersLock(const std::function<void()>& fn) {
  BoundedState& b = bounded();
  WritersLock lock;
  {
    std::lock_guard<std::mutex> guard(b.mu);
    lock = b.lock;
  }
  if (lock) return lock(fn);
  std::lock_guard<std::mutex> guard(b.ownLock);
  fn();
  return true;
}

}  // namespace

// The parts of a bounded family that only this file changes.
struct BoundedAccess {
  // Requires: the writers' lock.
  static void Configure(Family& f, const BoundedSettings& settings) {
    std::vector<std::string> exposed;
    std::vector<size_t> keep;
    for (size_t i = 0; i < f.labels_.size(); ++i) {
      if (std::find(settings.labels.begin(), settings.labels.end(), f.labels_[i]) !=
          settings.labels.end()) {
        exposed.push_back(f.labels_[i]);
        keep.push_back(i);
      }
    }
    std::lock_guard<std::mutex> lock(f.mu_);
    f.maxSeries_.store(settings.maxSeries, std::memory_order_relaxed);
    if (exposed == f.exposed_) return;
    // Other labels: other label sets. Every handle takes a new series.
    while (!f.series_.empty()) f.RemoveLocked(f.series_.begin());
    if (f.overflow_ != nullptr) f.overflow_->removed.store(true, std::memory_order_relaxed);
    f.overflow_.reset();
    f.warned_ = false;
    f.exposed_ = std::move(exposed);
    f.keep_ = std::move(keep);
  }

  // Removes the series of `f` not updated since `cutoff`, kSweepBatch at a
  // time under the writers' lock (re-checked there: an update in between
  // keeps its series).
  static void Expire(Family& f, int64_t cutoff) {
    auto stale = [cutoff](const Family::Handle& s) {
      return s->stamp.load(std::memory_order_relaxed) < cutoff;
    };
    std::vector<Family::Handle> candidates;
    {
      std::lock_guard<std::mutex> lock(f.mu_);
      for (const Family::Handle& s : f.series_) {
        if (stale(s)) candidates.push_back(s);
      }
      if (f.overflow_ != nullptr && stale(f.overflow_)) candidates.push_back(f.overflow_);
    }
    for (size_t begin = 0; begin < candidates.size(); begin += kSweepBatch) {
      const size_t end = std::min(candidates.size(), begin + kSweepBatch);
      UnderWritersLock([&] {
        std::lock_guard<std::mutex> lock(f.mu_);
        for (size_t i = begin; i < end; ++i) {
          const Family::Handle& s = candidates[i];
          if (!stale(s) || s->removed.load(std::memory_order_relaxed)) continue;
          if (s == f.overflow_) {
            s->removed.store(true, std::memory_order_relaxed);
            f.overflow_.reset();
          } else if (auto it = f.series_.find(s->values); it != f.series_.end() && *it == s) {
            f.RemoveLocked(it);
          }
        }
      });
    }
  }

  static void SetTick(Family& f, int64_t now) { f.tick_.store(now, std::memory_order_relaxed); }

  static void Bind(Family& f, Counter* overflowed) {
    std::lock_guard<std::mutex> lock(f.mu_);
    if (f.overflowed_ != nullptr) return;
    f.exposed_ = f.labels_;
    for (size_t i = 0; i < f.labels_.size(); ++i) f.keep_.push_back(i);
    f.tick_.store(AXO_Now(), std::memory_order_relaxed);
    f.overflowed_ = overflowed;
  }
};

Family::Series* Family::Acquire(Handle* handle, const std::vector<std::string>& values) {
  std::vector<std::string> key;
  key.reserve(keep_.size());
  bool warn = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (size_t i : keep_) key.push_back(i < values.size() ? values[i] : std::string());
    auto it = series_.find(key);
    if (it != series_.end()) {
      *handle = *it;
    } else if (count_.load(std::memory_order_relaxed) <
               maxSeries_.load(std::memory_order_relaxed)) {
      *handle = *series_.insert(std::make_shared<Series>(&bounds_, std::move(key))).first;
      count_.fetch_add(1, std::memory_order_relaxed);
    } else {
      if (overflow_ == nullptr) {
        overflow_ = std::make_shared<Series>(
            &bounds_, std::vector<std::string>(exposed_.size(), "__overflow__"));
        overflow_->overflow = true;
      }
      *handle = overflow_;
      warn = !warned_;
      warned_ = true;
    }
  }
  if (warn) {
    TRK1_Printf(&axometrics_unit, __LINE__,
                "AXO0501W Metric %s reached its limit of %zu label sets: the records of new "
                "ones are counted in its __overflow__ series (raise --metrics-max-series, or "
                "carry fewer labels with --metrics-labels)",
                name_.c_str(), maxSeries_.load(std::memory_order_relaxed));
  }
  return handle->get();
}

void Family::RemoveLocked(SeriesSet::iterator it) {
  (*it)->removed.store(true, std::memory_order_relaxed);
  series_.erase(it);
  count_.fetch_sub(1, std::memory_order_relaxed);
}

void Family::RemoveWhere(const std::string& label, const std::string& value) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto at = std::find(exposed_.begin(), exposed_.end(), label);
  if (at == exposed_.end()) return;
  const size_t index = static_cast<size_t>(at - exposed_.begin());
  for (auto it = series_.begin(); it != series_.end();) {
    auto next = std::next(it);
    if ((*it)->values[index] == value) RemoveLocked(it);
    it = next;
  }
}

Family& DefineBounded(Kind kind, const char* name, const char* help,
                      std::vector<std::string> labels, std::vector<double> bounds) {
  static Family& overflowed =
      Define(Kind::kCounter, "zep_metrics_series_overflowed_total",
             "Records counted in a metric's __overflow__ series because it had reached "
             "--metrics-max-series label sets, by metric.",
             {"family"});
  static Family& present =
      Define(Kind::kGauge, "zep_metrics_series",
             "Label sets of a metric whose labels are bounded (the __overflow__ series not "
             "included), by metric.",
             {"family"});
  static const bool collecting = [] {
    AddCollector([] {
      for (Family* f : BoundedFamilies()) {
        present.gauge({f->name()}).Set(static_cast<double>(f->seriesCount()));
      }
    });
    return true;
  }();
  (void)collecting;
  Family& f = Define(kind, name, help, std::move(labels), std::move(bounds));
  BoundedState& b = bounded();
  std::lock_guard<std::mutex> lock(b.mu);
  if (!f.bounded()) {
    BoundedAccess::Bind(f, &overflowed.counter({f.name()}));
    if (b.settings) BoundedAccess::Configure(f, *b.settings);  // no writer has it yet
    b.families.push_back(&f);
  }
  return f;
}

bool ParseBoundedLabels(const std::string& labels, BoundedSettings* settings, std::string* error) {
  std::vector<std::string> known;
  for (const Family* f : BoundedFamilies()) {
    for (const std::string& l : f->labels()) {
      if (std::find(known.begin(), known.end(), l) == known.end()) known.push_back(l);
    }
  }
  std::string knownText;
  for (const std::string& l : known) knownText += (knownText.empty() ? "" : ",") + l;
  std::vector<std::string> chosen;
  size_t begin = 0;
  while (begin <= labels.size()) {
    const size_t end = std::min(labels.find(',', begin), labels.size());
    const std::string label(
        axo_internal::TrimSpace(std::string_view(labels).substr(begin, end - begin)));
    begin = end + 1;
    if (label.empty()) {
      *error =
          labels + " (an empty label name; expected a comma-separated list of " + knownText + ")";
      return false;
    }
    if (std::find(known.begin(), known.end(), label) == known.end()) {
      *error = labels + " (unknown label " + label + "; expected some of " + knownText + ")";
      return false;
    }
    if (std::find(chosen.begin(), chosen.end(), label) != chosen.end()) {
      *error = labels + " (label " + label + " named twice)";
      return false;
    }
    chosen.push_back(label);
  }
  settings->labels = std::move(chosen);
  return true;
}

void ConfigureBounded(const BoundedSettings& settings) {
  {
    BoundedState& b = bounded();
    std::lock_guard<std::mutex> lock(b.mu);
    b.ttlSeconds = settings.ttlSeconds;
    b.settings = settings;
  }
  for (Family* f : BoundedFamilies()) {
    // Waits as long as it takes: a reload must not be half applied.
    while (!UnderWritersLock([&] { BoundedAccess::Configure(*f, settings); })) {
    }
  }
}

void SetBoundedWritersLock(WritersLock lock) {
  BoundedState& b = bounded();
  std::lock_guard<std::mutex> guard(b.mu);
  b.lock = std::move(lock);
}

void SweepBounded(int64_t now) {
  int64_t ttl;
  {
    BoundedState& b = bounded();
    std::lock_guard<std::mutex> lock(b.mu);
    ttl = b.ttlSeconds;
  }
  for (Family* f : BoundedFamilies()) {
    BoundedAccess::SetTick(*f, now);
    if (ttl > 0) BoundedAccess::Expire(*f, now - ttl);
  }
}

}  // namespace axo::metrics
