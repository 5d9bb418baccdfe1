// zepbench scrape: the exposition of the service families at fleet size
// (100 servers x 20 operations x 4 message locations = 8,000 label sets),
// written by the agent's metrics registry and, for comparison, by the
// Prometheus C++ client's text serializer holding the same families in the
// same process. Prints both times per scrape and their ratio.
#include <prometheus/counter.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "axo/metrics.h"
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

}  // namespace

int runScrape(int argc, char** argv) {
  const int scrapes = argc > 0 ? std::atoi(argv[0]) : 20;
  if (scrapes < 1) {
    std::fprintf(stderr, "usage: zepbench scrape [SCRAPES]\n");
    return 2;
  }
  namespace m = axo::metrics;
  using m::Kind;
  const std::vector<std::string> names = {"subnode", "port", "operation", "msgloc"};
  m::Family& messages = m::Define(Kind::kCounter, "zep_messages_total", "Messages.", names);
  m::Family& faults = m::Define(Kind::kCounter, "zep_faults_total", "Faults.", names);
  m::Family& elapsed =
      m::Define(Kind::kHistogram, "zep_elapsed_seconds", "Elapsed.", names, m::LatencyBuckets());
  m::Family& length =
      m::Define(Kind::kHistogram, "zep_message_length_bytes", "Length.", names, m::SizeBuckets());

  auto registry = std::make_shared<prometheus::Registry>();
  auto& pMessages =
      prometheus::BuildCounter().Name("zep_messages_total").Help("Messages.").Register(*registry);
  auto& pFaults =
      prometheus::BuildCounter().Name("zep_faults_total").Help("Faults.").Register(*registry);
  auto& pElapsed =
      prometheus::BuildHistogram().Name("zep_elapsed_seconds").Help("Elapsed.").Register(*registry);
  auto& pLength = prometheus::BuildHistogram()
                      .Name("zep_message_length_bytes")
                      .Help("Length.")
                      .Register(*registry);

  int i = 0;
  for (const Labels& l : labelSets()) {
    const std::vector<std::string> v = {l.subnode, l.port, l.operation, l.msgloc};
    const prometheus::Labels pl = {
        {"subnode", l.subnode}, {"port", l.port}, {"operation", l.operation}, {"msgloc", l.msgloc}};
    const double e = 0.001 * (1 + i % 700);
    const double n = 100.0 * (1 + i % 3000);
    messages.counter(v).Inc(10 + i % 7);
    faults.counter(v).Inc(i % 3);
    elapsed.histogram(v).Observe(e);
    length.histogram(v).Observe(n);
    pMessages.Add(pl).Increment(10 + i % 7);
    pFaults.Add(pl).Increment(i % 3);
    pElapsed.Add(pl, m::LatencyBuckets()).Observe(e);
    pLength.Add(pl, m::SizeBuckets()).Observe(n);
    ++i;
  }

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
      "label_sets=%d scrapes=%d registry_ms=%.2f registry_bytes=%zu client_ms=%.2f "
      "client_bytes=%zu ratio=%.3f\n",
      i, scrapes, ours * 1000, ourBytes, theirs * 1000, theirBytes, ours / theirs);
  return 0;
}

}  // namespace zepbench
