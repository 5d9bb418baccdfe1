// Properties files: lookups on every dispatcher pass, loads of the shared
// configuration file when it changed, and the atomic save of an action.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/zepprops.h"

namespace {

// A configuration-sized file (a few hundred keys) in a fresh directory.
class ConfigFile {
 public:
  explicit ConfigFile(int keys) {
    std::string tmpl = "/tmp/zepbench-XXXXXX";
    dir_ = mkdtemp(tmpl.data());
    path_ = dir_ + "/ZEP.dc.properties";
    std::ofstream out(path_);
    for (int i = 0; i < keys; ++i) out << "zep.bench.key." << i << "=value " << i << "\n";
  }
  ~ConfigFile() { std::filesystem::remove_all(dir_); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string dir_;
  std::string path_;
};

void BM_GetProperty(benchmark::State& state) {
  ConfigFile file(static_cast<int>(state.range(0)));
  ZEPPROPS_properties props(file.path());
  const std::string last = "zep.bench.key." + std::to_string(state.range(0) - 1);
  for (auto _ : state) benchmark::DoNotOptimize(props.getProperty(last.c_str()));
}
BENCHMARK(BM_GetProperty)->Arg(50)->Arg(500)->Arg(5000);

void BM_Load(benchmark::State& state) {
  ConfigFile file(static_cast<int>(state.range(0)));
  ZEPPROPS_properties props;
  for (auto _ : state) benchmark::DoNotOptimize(props.load(file.path()));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Load)->Arg(500);

void BM_SaveAtomically(benchmark::State& state) {
  ConfigFile file(static_cast<int>(state.range(0)));
  ZEPPROPS_properties props(file.path());
  for (auto _ : state) benchmark::DoNotOptimize(props.save("bench"));
}
BENCHMARK(BM_SaveAtomically)->Arg(500);

}  // namespace
