// Message-count situations: the cost of counting one record must not grow
// with the number of registered situations, only with the matching ones; a
// timer pass costs a constant amount per counter.
#include <benchmark/benchmark.h>

#include <string>

#include "situations/zepdc.h"
#include "situations/zepdcmc.h"

namespace {

std::string pad(const std::string& text) {
  std::string out = text;
  out.resize(64, ' ');
  return out;
}

// A data computer with `n` situations on distinct client addresses, plus one
// on (*,*,*) so that every record matches something.
void fill(ZEPDC_DataComputer* dc, int n) {
  for (int i = 0; i < n; ++i) {
    const std::string address = pad("10." + std::to_string(i / 65536) + "." +
                                    std::to_string(i / 256 % 256) + "." + std::to_string(i % 256));
    dc->CreateSituation(address.c_str(), pad("OrderPort").c_str(), pad("submitOrder").c_str(), 60,
                        10, 1, "N1", "S");
  }
  dc->CreateSituation("*", "*", "*", 60, 10, 1, "N1", "All");
}

uint32_t dropEvents(const zep_zepmatt_data_t*, int) { return 0; }

void BM_IncrementMatchingRecord(benchmark::State& state) {
  ZEPDCMC_MessageCounter::setEventSink(&dropEvents);
  ZEPDC_DataComputer dc(false);
  fill(&dc, static_cast<int>(state.range(0)));
  const std::string address = pad("10.0.0.7");
  const std::string service = pad("OrderPort");
  const std::string operation = pad("submitOrder");
  for (auto _ : state) {
    benchmark::DoNotOptimize(dc.Increment(address.c_str(), service.c_str(), operation.c_str()));
  }
  state.SetItemsProcessed(state.iterations());
  ZEPDCMC_MessageCounter::setEventSink(nullptr);
}
BENCHMARK(BM_IncrementMatchingRecord)->Arg(1)->Arg(100)->Arg(10000);

void BM_PollPerCounter(benchmark::State& state) {
  ZEPDCMC_MessageCounter::setEventSink(&dropEvents);
  ZEPDC_DataComputer dc(false);
  fill(&dc, static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(dc.Poll());
  state.SetItemsProcessed(state.iterations() * (state.range(0) + 1));
  ZEPDCMC_MessageCounter::setEventSink(nullptr);
}
BENCHMARK(BM_PollPerCounter)->Arg(100)->Arg(10000);

}  // namespace
