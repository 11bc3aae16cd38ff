// The C library per call against the batch engine's in-process cost for
// the same field, on the same tables (random, cells up to 60):
//
//   library_bench [benchmark flags]
//
//   library/p          fisher2x2_test(two-sided, FISHER2X2_PVALUE)
//   engine/p           WriteFields for -pa two-sided -f p (the computation
//                      batch mode does per line, and the p-value's text)
//   library/classic    fisher2x2_classic
//   engine/classic     WriteFields for the design's six decimals
//   library/interval   fisher2x2_test(two-sided, FISHER2X2_INTERVAL)
//   engine/interval    WriteFields for -pa two-sided -f ci-low,ci-high
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "field_text.h"
#include "fisher2x2.h"

namespace {

struct Table {
  std::uint64_t c[4];
};

const std::vector<Table>& Tables() {
  static const std::vector<Table> tables = [] {
    std::vector<Table> t(4096);
    std::mt19937_64 rng(1);
    for (Table& x : t) {
      for (std::uint64_t& v : x.c) v = rng() % 61;
    }
    return t;
  }();
  return tables;
}

void Rate(benchmark::State& state) {
  state.counters["ns_per_table"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(Tables().size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

void Library(benchmark::State& state, unsigned want) {
  for (auto _ : state) {
    for (const Table& t : Tables()) {
      fisher2x2_result r;
      fisher2x2_test(t.c[0], t.c[1], t.c[2], t.c[3], FISHER2X2_TWO_SIDED, want, 0.95, &r);
      benchmark::DoNotOptimize(r);
    }
  }
  Rate(state);
}

void Classic(benchmark::State& state) {
  for (auto _ : state) {
    for (const Table& t : Tables()) {
      benchmark::DoNotOptimize(fisher2x2_classic(static_cast<int>(t.c[0]), static_cast<int>(t.c[1]),
                                                 static_cast<int>(t.c[2]), static_cast<int>(t.c[3]), 2));
    }
  }
  Rate(state);
}

void Engine(benchmark::State& state, const char* fields, Alternative alternative, BatchFormat format) {
  Request r;
  r.alternative = alternative;
  r.format = format;
  const char* bad;
  std::size_t bad_length;
  ParseFieldList(fields, &r, &bad, &bad_length);
  char text[kFieldsTextMax];
  for (auto _ : state) {
    for (const Table& t : Tables()) {
      benchmark::DoNotOptimize(WriteFields(r, t.c, false, text));
      benchmark::ClobberMemory();
    }
  }
  Rate(state);
}

}  // namespace

BENCHMARK_CAPTURE(Library, p, FISHER2X2_PVALUE);
BENCHMARK_CAPTURE(Engine, p, "p", Alternative::kTwoSided, BatchFormat::kPrecise);
BENCHMARK(Classic)->Name("library/classic");
BENCHMARK_CAPTURE(Engine, classic, "p", Alternative::kNone, BatchFormat::kSixDecimals);
BENCHMARK_CAPTURE(Library, interval, FISHER2X2_INTERVAL);
BENCHMARK_CAPTURE(Engine, interval, "ci-low,ci-high", Alternative::kTwoSided, BatchFormat::kPrecise);
BENCHMARK_MAIN();
