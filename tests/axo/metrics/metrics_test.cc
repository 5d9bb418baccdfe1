// The exposition writer of the metrics registry.
#include "axo/metrics/metrics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using axo::metrics::Expose;
using axo::metrics::Format;
using ::testing::HasSubstr;
using ::testing::Not;

// Each format's escapes (bytes that are not UTF-8: the hostile-input test).
TEST(MetricsExposition, LabelValuesEscapedAndCountersTyped) {
  AXO_COUNTER_FAMILY(odd, "zep_test_odd_total", "Help with \\ and\nnewline, \"quoted\".",
                     {"service"});
  odd.counter({"a\"b\\c\nd"}).Inc(3);
  odd.counter({"Bestellung\xC3\xBC"}).Inc();
  const std::string text = Expose(Format::kPrometheus);
  EXPECT_THAT(text,
              HasSubstr("# HELP zep_test_odd_total Help with \\\\ and\\nnewline, \"quoted\".\n"));
  EXPECT_THAT(Expose(Format::kOpenMetrics),
              HasSubstr("# HELP zep_test_odd Help with \\\\ and\\nnewline, \\\"quoted\\\".\n"));
  EXPECT_THAT(text, HasSubstr("# TYPE zep_test_odd_total counter\n"));
  EXPECT_THAT(text, HasSubstr("zep_test_odd_total{service=\"a\\\"b\\\\c\\nd\"} 3\n"));
  EXPECT_THAT(text, HasSubstr("zep_test_odd_total{service=\"Bestellung\xC3\xBC\"} 1\n"));
  EXPECT_THAT(text, Not(HasSubstr("# EOF")));
}

TEST(MetricsExposition, HistogramBucketsCumulativeWithInfSumAndCount) {
  static const std::vector<double> kBounds = {0.5, 2};
  AXO_HISTOGRAM_FAMILY(h, "zep_test_latency_seconds", "Latency.", (std::vector<std::string>{"op"}),
                       kBounds);
  axo::metrics::Histogram& s = h.histogram({"x"});
  s.Observe(0.25);
  s.Observe(0.5);  // on the bound: counted in le="0.5"
  s.Observe(1);
  s.Observe(7);
  const std::string text = Expose(Format::kPrometheus);
  EXPECT_THAT(text, HasSubstr("zep_test_latency_seconds_bucket{op=\"x\",le=\"0.5\"} 2\n"
                              "zep_test_latency_seconds_bucket{op=\"x\",le=\"2\"} 3\n"
                              "zep_test_latency_seconds_bucket{op=\"x\",le=\"+Inf\"} 4\n"
                              "zep_test_latency_seconds_sum{op=\"x\"} 8.75\n"
                              "zep_test_latency_seconds_count{op=\"x\"} 4\n"));
}

// A bucket is the first bound a value does not exceed, through both updates
// and with the buckets inline (up to 16) or on the heap: values on and
// beside every bound, negative, infinite and NaN (which no bound exceeds).
TEST(MetricsHistogram, BucketIsTheFirstBoundNotExceeded) {
  std::vector<double> many;
  for (int i = 0; i < 20; ++i) many.push_back(i * 1.5);
  for (const std::vector<double>* bounds :
       {&axo::metrics::LatencyBuckets(), static_cast<const std::vector<double>*>(&many)}) {
    std::vector<double> values = {-1.0, 0.0, INFINITY, -INFINITY, NAN, 1e300};
    for (double b : *bounds) {
      for (double v : {b, std::nextafter(b, -1e9), std::nextafter(b, 1e9)}) values.push_back(v);
    }
    for (double v : values) {
      axo::metrics::Histogram plain(bounds), serialized(bounds);
      plain.Observe(v);
      serialized.ObserveSerialized(v);
      size_t want = 0;
      while (want < bounds->size() && v > (*bounds)[want]) ++want;  // the search
      for (size_t i = 0; i <= bounds->size(); ++i) {
        ASSERT_EQ(plain.BucketCount(i), i == want ? 1u : 0u) << v << " bucket " << i;
        ASSERT_EQ(serialized.BucketCount(i), i == want ? 1u : 0u) << v << " bucket " << i;
      }
    }
  }
}

TEST(MetricsExposition, OpenMetricsNegotiatedWithEofAndCounterFamilyNames) {
  std::string type;
  EXPECT_EQ(axo::metrics::NegotiateFormat("", &type), Format::kPrometheus);
  EXPECT_EQ(type, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(axo::metrics::NegotiateFormat(
                "application/openmetrics-text;version=1.0.0,text/plain;q=0.5", &type),
            Format::kOpenMetrics);
  EXPECT_TRUE(type.starts_with("application/openmetrics-text; version=1.0.0"));

  AXO_COUNTER(plain, "zep_test_plain_total", "Plain.");
  plain.Inc();
  const std::string text = Expose(Format::kOpenMetrics);
  EXPECT_THAT(text, HasSubstr("# TYPE zep_test_plain counter\nzep_test_plain_total 1\n"));
  EXPECT_TRUE(text.ends_with("\n# EOF\n"));
}

}  // namespace
