// The entry point of the zepbench executable: the two end-to-end runs by
// name, every other argument list to Google Benchmark (bench/*_bench.cc
// only register their benchmarks).
#include <benchmark/benchmark.h>

#include <cstring>

#include "runtime/zepdisp.h"
#include "zepbench.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "ingest") == 0) {
    return zepbench::runIngest(argc - 2, argv + 2);
  }
  if (argc >= 2 && std::strcmp(argv[1], "scrape") == 0) {
    return zepbench::runScrape(argc - 2, argv + 2);
  }
  if (argc >= 2 && std::strcmp(argv[1], "history") == 0) {
    return zepbench::runHistory(argc - 2, argv + 2);
  }
  if (argc >= 2 && std::strcmp(argv[1], "tls") == 0) {
    return zepbench::runTls(argc - 2, argv + 2);
  }
  if (argc >= 2 && std::strcmp(argv[1], "sample") == 0) {
    return zepbench::runSample(argc - 2, argv + 2);
  }
  // The micro-benchmarks read records as the agent does: through its sinks.
  ZEPDISP_dispatcher::attachSinks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
