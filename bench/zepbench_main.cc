// The one entry point of the zepbench executable; every bench/*.cc file only
// registers its benchmarks.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
