// Expiry of a bounded family racing its writers and a scrape: no record is
// counted into a series that has left, and every series a writer still
// counts into is one the exposition lists.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "axo/metrics/metrics.h"
#include "logs/zepshared.h"

namespace {

namespace m = axo::metrics;

TEST(BoundedFamilyRace, ExpiryOverflowAndScrapesNeverLoseARecord) {
  static m::Family& f = m::DefineBounded(m::Kind::kCounter, "zep_test_race_total", "Records.",
                                         {"subnode", "operation"});
  OSB1_Lock* writers = &ZEPSHARED_agentData::metricsLogListLock;
  // The agent's rule: every update, and the sweep's removals, under its lock.
  m::SetBoundedWritersLock([writers](const std::function<void()>& fn) {
    OSB1_ScopedLock lock(writers);
    fn();
    return true;
  });
  m::BoundedSettings settings;
  settings.labels = {"subnode"};
  m::ConfigureBounded(settings);  // other labels: the family starts empty
  settings.labels = {"subnode", "operation"};
  settings.maxSeries = 40;  // below the 64 label sets: some records overflow
  settings.ttlSeconds = 1;  // a label set left alone for a tick goes
  m::ConfigureBounded(settings);

  constexpr int kWriters = 2, kRecords = 200000, kLabelSets = 64;
  std::atomic<bool> done{false};
  std::atomic<long> written{0};
  std::set<m::Family::Handle> used;  // guarded by the writers' lock
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      std::vector<m::Family::Handle> handles(kLabelSets);
      for (int i = 0; i < kRecords; ++i) {
        // Writer w favours its own half, so the other half goes silent now and then.
        const int set =
            (i % 5 == 0 ? i * 7 : w * kLabelSets / 2 + i % (kLabelSets / 2)) % kLabelSets;
        OSB1_ScopedLock lock(writers);
        m::Family::Series& s = f.Use(&handles[set], [set] {
          return std::vector<std::string>{"s" + std::to_string(set % 8),
                                          "op" + std::to_string(set)};
        });
        ASSERT_FALSE(s.removed.load());
        s.counter.IncSerialized();
        used.insert(handles[set]);
        written.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  std::thread sweeper([&] {
    for (int64_t now = 1; !done.load(); ++now) m::SweepBounded(now);
  });
  std::thread scraper([&] {
    while (!done.load()) m::Expose(m::Format::kPrometheus, {"zep_test_race_total"});
  });
  for (std::thread& t : threads) t.join();
  done = true;
  sweeper.join();
  scraper.join();

  std::set<const m::Family::Series*> listed;
  f.ForEach([&](const auto&, const auto&, const m::Family::Series& s) { listed.insert(&s); });
  long total = 0;
  for (const m::Family::Handle& s : used) {
    total += static_cast<long>(s->counter.Value());
    // A series not removed is one the scrape shows: none counts unseen.
    if (!s->removed.load()) {
      EXPECT_TRUE(listed.count(s.get())) << s->values[0] << s->values[1];
    }
  }
  EXPECT_EQ(total, written.load());
  EXPECT_EQ(written.load(), long{kWriters} * kRecords);
}

}  // namespace
