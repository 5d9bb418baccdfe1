// The framework's per-row costs: filling a sampler's row buffer (a metrics
// sample of 30000 rows must grow linearly, not quadratically) and evaluating
// a request's filter terms on every offered row.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "axo/tables/vexor.h"

namespace {

struct BenchRow {
  char name[64];
  int16_t small;
  int32_t big;
  char rest[928];  // the size of a metrics row
};

class BenchVexor : public vexor {
 public:
  BenchVexor(RequestDetail* request, ContextInfo* context)
      : vexor(request, context, nullptr, sizeof(BenchRow), 500) {}
  unsigned int TakeSample() override { return 0; }
  unsigned int ColumnIsException(const void* row, const char* attribute, _IntfOper oper,
                                 const char* value) override {
    const BenchRow* r = static_cast<const BenchRow*>(row);
    if (strcmp(attribute, "NAME") == 0) return IsException(oper, r->name, value, 64);
    if (strcmp(attribute, "SMALL") == 0) return IsException(oper, r->small, value);
    return IsException(oper, r->big, value);
  }
};

BenchRow MakeRow(int i) {
  BenchRow row;
  memset(&row, ' ', sizeof(row));
  memcpy(row.name, "OrderPort", 9);
  row.small = static_cast<int16_t>(i % 3);
  row.big = i;
  return row;
}

void BM_InsertRows(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  BenchRow row = MakeRow(1);
  for (auto _ : state) {
    RequestDetail request;
    ContextInfo context;
    BenchVexor v(&request, &context);
    for (int i = 0; i < rows; ++i) v.InsertRow(&row);
    benchmark::DoNotOptimize(v.data);
  }
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_InsertRows)->Arg(3000)->Arg(30000);

void BM_CheckThreeTerms(benchmark::State& state) {
  RequestDetail request;
  int32_t limit = 10;
  int16_t small = 1;
  request.AddFilterTerm(FQX1_AND, FQX1_EQ, "NAME", FQX1_CSTRING, "OrderPort", 9);
  request.AddFilterTerm(FQX1_AND, FQX1_GE, "BIG", FQX1_INTEGER, &limit, 4);
  request.AddFilterTerm(FQX1_OR, FQX1_EQ, "SMALL", FQX1_SMALL, &small, 2);
  ContextInfo context;
  BenchVexor v(&request, &context);
  BenchRow rows[64];
  for (int i = 0; i < 64; ++i) rows[i] = MakeRow(i);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v.CheckForException(&rows[i++ & 63]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CheckThreeTerms);

}  // namespace
