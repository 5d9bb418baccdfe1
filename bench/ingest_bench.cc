// Per-record costs of ingestion: one record line through the server object
// (parse, metric line, inventory, bucket, limits), the time stamp of every
// record, counting a record into 0, 10 or 1,000 situations, and the table
// pattern's AddData of a sample's rows, and the history walk over many
// windows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "axo/tables/vexor.h"
#include "foundation/zepstrut.h"
#include "logs/zepadlst.h"
#include "logs/zepdclog.h"
#include "logs/zepmelem.h"
#include "runtime/zepdisp.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "tables/zepsmt.h"
#include "tables/zeptable.h"

namespace {

const char* const kHeader[] = {
    "#ZEP.servername=server1",
    "#ZEP.env=1",
    "#ZEP.hostname=host1.example",
    "#ZEP.version=1.0",
    "#ZEP.node=n1",
    "#ZEP.cell=c1",
    "#ZEP.cluster=cl1",
    "#ZEP.ipaddress=10.0.0.5",
};

// `n` record lines of `services` operations, one per 3.6 ms, as the peers'
// file has them.
std::vector<std::string> recordLines(int n, int services, int location = 0) {
  std::vector<std::string> out;
  char buf[512];
  for (int i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof(buf),
                  "%d;%lld;worker-%d;%d;Port%03d;operation%02d;0;0;%d;"
                  "e037e5edb8db0672f42d47cc00d4af5974273ca3;;;client%02d.example;10.1.0.%d;;",
                  location, 1765000000123LL + i * 3600LL, i % 32, i % 700, i % services / 10,
                  i % services % 10, 100 + i % 900, i % 20, i % 20);
    out.push_back(buf);
  }
  return out;
}

// One record line through ZEPDCLOG_DCMetricsLogFile::processLine at the
// 30,000-line limit; range(0) service operations.
// The lines are replayed in rounds; each round starts a fresh server
// object (outside the timing) so that every record is newer than the held
// ones, as in a live file.
void BM_ProcessRecordLine(benchmark::State& state) {
  const std::vector<std::string> lines = recordLines(65536, static_cast<int>(state.range(0)));
  auto fresh = [] {
    auto* log = new ZEPDCLOG_DCMetricsLogFile("/nonexistent", "ZEP.bench.metric.log");
    for (const char* h : kHeader) log->processKeyVal(h);
    return log;
  };
  ZEPDCLOG_DCMetricsLogFile* log = fresh();
  size_t i = 0;
  for (auto _ : state) {
    log->processLine("", lines[i].c_str(), 1765003600, 30000, 30000, nullptr);
    if (++i == lines.size()) {
      state.PauseTiming();
      delete log;
      log = fresh();
      i = 0;
      state.ResumeTiming();
    }
  }
  delete log;
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProcessRecordLine)->Arg(10)->Arg(1000);

void BM_SplitRecordLine(benchmark::State& state) {
  const std::vector<std::string> lines = recordLines(1024, 50);
  ZEPSTRUT_stringUtil::STRING_PARSE_INFO fields[16];
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ZEPSTRUT_stringUtil::split(lines[i++ & 1023].c_str(), fields, 16, ';'));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitRecordLine);

// range(0) 1: records in time order (many per second); 0: a new second
// every call.
void BM_FormatTimestamp(benchmark::State& state) {
  const bool inOrder = state.range(0) != 0;
  char buf[17];
  time_t t = 1765000000;
  int i = 0;
  for (auto _ : state) {
    if (!inOrder || (++i & 255) == 0) ++t;
    benchmark::DoNotOptimize(ZEPSTRUT_stringUtil::formatTimestamp(&t, buf, i & 1023, 16));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatTimestamp)->Arg(1)->Arg(0);

uint32_t dropEvents(const zep_zepmatt_data_t*, int) { return 0; }

// A location-2 metric line counted into range(0) registered situations:
// one on (*,*,*), the others on addresses the line does not carry.
void BM_IncrementMetricLine(benchmark::State& state) {
  ZEPDCMC_MessageCounter::setEventSink(&dropEvents);
  {
    ZEPDC_DataComputer dc(false);
    const int k = static_cast<int>(state.range(0));
    if (k > 0) dc.CreateSituation("*", "*", "*", 60, 1000000000, 1, "bench", "All");
    for (int i = 1; i < k; ++i) {
      char address[32];
      std::snprintf(address, sizeof(address), "192.0.%d.%d", i / 256, i % 256);
      dc.CreateSituation(address, "*", "*", 60, 1000000000, 1, "bench", address);
    }
    ZEPMELEM_MetricLine line(1765003600);
    line.metricsRow.msgloc = 2;
    ZEPSTRUT_stringUtil::memcpyWithPad(line.metricsRow.rmipaddr, "10.1.0.7", 8, 64, ' ');
    ZEPSTRUT_stringUtil::memcpyWithPad(line.metricsRow.portname, "Port001", 7, 64, ' ');
    ZEPSTRUT_stringUtil::memcpyWithPad(line.metricsRow.opname, "operation03", 11, 64, ' ');
    for (auto _ : state) benchmark::DoNotOptimize(dc.Increment(&line));
    state.SetItemsProcessed(state.iterations());
  }
  ZEPDCMC_MessageCounter::setEventSink(nullptr);
}
BENCHMARK(BM_IncrementMetricLine)->Arg(0)->Arg(10)->Arg(1000);

// The table pattern's AddData: range(0) ZEPSMT rows into a sampler's
// buffer, without filter terms.
void BM_AddDataRows(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<zep_zepsmt_data_t> rows(n);
  std::memset(rows.data(), ' ', rows.size() * sizeof(rows[0]));
  for (auto _ : state) {
    RequestDetail request;
    ContextInfo context;
    ZEPTABLE_object<zep_zepsmt_agent> sampler(&request, &context, nullptr);
    benchmark::DoNotOptimize(sampler.AddData(rows.data(), n));
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * n * static_cast<int64_t>(sizeof(rows[0])));
}
BENCHMARK(BM_AddDataRows)->Arg(30000);

// One history request over range(0) windows, every second one holding
// data: the walk visits each window and makes the empty ones in between,
// with up to range(0) / 2 newer buckets in the list. The cost per window
// (items) stays flat as the number of windows grows.
void BM_HistoryWalk(benchmark::State& state) {
  const int windows = static_cast<int>(state.range(0));
  const int32_t base = 1765000800;
  const time_t savedStart = ZEPDISP_dispatcher::dcaStartTime;
  ZEPDISP_dispatcher::dcaStartTime = base;
  ZEPMELEM_MetricLine line(base);
  for (auto _ : state) {
    state.PauseTiming();
    ZEPADLST_AggDataList list(5);
    for (int w = 0; w < windows; w += 2) {
      line.timeSeconds = base + w * 300;
      list.add(line);
    }
    state.ResumeTiming();
    const time_t limit = line.timeSeconds;
    for (ZEPAELEM_AggData* b = list.findFirstIntervalForHistory(limit); b != nullptr;
         b = list.findNextIntervalForHistory(b->begin, limit)) {
      list.markStoredInHistory(b);
    }
    benchmark::DoNotOptimize(list.size());
  }
  ZEPDISP_dispatcher::dcaStartTime = savedStart;
  state.SetItemsProcessed(state.iterations() * windows);
}
BENCHMARK(BM_HistoryWalk)->Arg(100)->Arg(10000);

}  // namespace
