// Bounded families: the label choice sums what it drops, the cap folds new
// label sets into one overflow series without losing a record, and label
// sets leave after the TTL or with their subnode. (Promtool's check of the
// page, overflow and expiry coming back from zero: tests/e2e/prometheus_e2e_test.cc.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "axo/metrics/metrics.h"

namespace {

namespace m = axo::metrics;
using Values = std::vector<std::string>;

const Values kLabels = {"subnode", "port", "operation", "msgloc"};

// Defined at start-up, as the agent's are.
m::Family& counted =
    m::DefineBounded(m::Kind::kCounter, "zep_test_bounded_total", "Records counted.",
                     {"subnode", "port", "operation", "msgloc"});
m::Family& lengths =
    m::DefineBounded(m::Kind::kHistogram, "zep_test_bounded_bytes", "Record lengths.",
                     {"subnode", "port", "operation"}, m::SizeBuckets());
m::Family& Counted() { return counted; }
m::Family& Lengths() { return lengths; }

void Configure(Values labels, size_t maxSeries, int64_t ttl) {
  m::BoundedSettings s;
  s.labels = std::move(labels);
  s.maxSeries = maxSeries;
  s.ttlSeconds = ttl;
  m::ConfigureBounded(s);
}

// The samples of family `name` (with `suffix`, as _count) in the
// exposition: label text -> value.
std::map<std::string, double> Samples(const std::string& family, const std::string& suffix = "") {
  const std::string name = family + suffix;
  std::map<std::string, double> out;
  std::istringstream text(m::Expose(m::Format::kPrometheus, {family}));
  for (std::string line; std::getline(text, line);) {
    if (!line.starts_with(name + "{")) continue;
    const size_t space = line.rfind(' ');
    out[line.substr(name.size(), space - name.size())] = std::atof(line.c_str() + space + 1);
  }
  return out;
}

double Sum(const std::map<std::string, double>& samples) {
  double sum = 0;
  for (const auto& [labels, v] : samples) sum += v;
  return sum;
}

// One writer's cached handles, per label-value list, as an inventory keeps them.
struct Writer {
  std::map<Values, m::Family::Handle> counted, lengths;
  void Record(const Values& v, double length = 100) {
    Counted().Use(&counted[v], [&] { return v; }).counter.IncSerialized();
    Lengths().Use(&lengths[v], [&] { return v; }).histogram.ObserveSerialized(length);
  }
};

TEST(BoundedFamilies, CapFoldsNewLabelSetsIntoOneOverflowSeriesAndEverySumStaysExact) {
  Configure(kLabels, 5000, 0);
  Writer w;
  const double overflowedBefore =
      Samples("zep_metrics_series_overflowed_total")["{family=\"zep_test_bounded_total\"}"];
  // 60 servers x 300 operations, two records each (the second through the
  // cached handle).
  for (int round = 0; round < 2; ++round) {
    for (int s = 0; s < 60; ++s) {
      for (int o = 0; o < 300; ++o) {
        w.Record({"s" + std::to_string(s), "P", "op" + std::to_string(o), "1"});
      }
    }
  }
  EXPECT_EQ(Counted().seriesCount(), 5000u);
  const auto samples = Samples("zep_test_bounded_total");
  EXPECT_EQ(samples.size(), 5001u);
  const std::string overflow =
      "{subnode=\"__overflow__\",port=\"__overflow__\",operation=\"__overflow__\","
      "msgloc=\"__overflow__\"}";
  ASSERT_EQ(samples.count(overflow), 1u);
  EXPECT_EQ(samples.at(overflow), 2.0 * (18000 - 5000));
  EXPECT_EQ(Sum(samples), 2.0 * 18000);
  EXPECT_EQ(Samples("zep_test_bounded_bytes", "_count").size(), 5001u);
  EXPECT_EQ(Sum(Samples("zep_test_bounded_bytes", "_count")), 2.0 * 18000);
  EXPECT_EQ(Samples("zep_metrics_series_overflowed_total")["{family=\"zep_test_bounded_total\"}"] -
                overflowedBefore,
            2.0 * (18000 - 5000));
  EXPECT_EQ(Samples("zep_metrics_series")["{family=\"zep_test_bounded_total\"}"], 5000);
}

TEST(BoundedFamilies, DroppedLabelsAreSummedAndAHistogramKeepsWhatItHas) {
  Configure({"subnode", "operation"}, 20000, 0);
  Writer w;
  std::map<std::string, double> fed;  // records per operation
  for (int s = 0; s < 5; ++s) {
    for (int o = 0; o < 7; ++o) {
      for (const char* port : {"P1", "P2"}) {
        for (int loc = 0; loc < 4; ++loc) {
          const std::string op = "op" + std::to_string(o);
          for (int n = 0; n <= s; ++n) {
            w.Record({"s" + std::to_string(s), port, op, std::to_string(loc)});
            ++fed[op];
          }
        }
      }
    }
  }
  EXPECT_EQ(Counted().seriesCount(), 35u);
  std::map<std::string, double> perOperation;
  for (const auto& [labels, v] : Samples("zep_test_bounded_total")) {
    EXPECT_THAT(labels, ::testing::Not(::testing::HasSubstr("port=")));
    EXPECT_THAT(labels, ::testing::Not(::testing::HasSubstr("msgloc=")));
    perOperation[labels.substr(labels.find("operation="))] += v;
  }
  for (const auto& [op, n] : fed) EXPECT_EQ(perOperation["operation=\"" + op + "\"}"], n) << op;
  EXPECT_EQ(Lengths().seriesCount(), 35u);
}

TEST(BoundedFamilies, SilentLabelSetsLeaveAfterTheTtlOrWithTheirSubnode) {
  Configure(kLabels, 20000, 3600);
  Writer w;
  const Values a = {"s1", "P", "op", "1"}, b = {"s2", "P", "op", "1"};
  m::SweepBounded(1'000'000);
  w.Record(a);
  w.Record(b);
  w.Record(b);
  m::SweepBounded(1'000'000 + 1800);
  w.Record(a);
  m::SweepBounded(1'000'000 + 3600);  // b was updated exactly a TTL ago: it stays
  EXPECT_EQ(Counted().seriesCount(), 2u);
  m::SweepBounded(1'000'000 + 3601);
  auto samples = Samples("zep_test_bounded_total");
  EXPECT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples.count("{subnode=\"s1\",port=\"P\",operation=\"op\",msgloc=\"1\"}"), 1u);
  EXPECT_EQ(Lengths().seriesCount(), 1u);
  // A subnode that leaves takes its series at once, in every family.
  Counted().RemoveWhere("subnode", "s1");
  Lengths().RemoveWhere("subnode", "s1");
  EXPECT_EQ(Samples("zep_test_bounded_total").size(), 0u);
  EXPECT_EQ(Samples("zep_test_bounded_bytes", "_count").size(), 0u);
}

}  // namespace
