// In-process costs of the engine: the fill and whole tests.
#include <benchmark/benchmark.h>

#include "classic/fisher_test.h"

namespace {

void BM_Fill(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    FillLogFactorial(n);
    benchmark::DoNotOptimize(LogFactorial[n]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Fill)->Arg(1000)->Arg(50000);

void BM_FisherTest(benchmark::State& state, int a, int b, int c, int d, int test) {
  FillLogFactorial(a + b + c + d);
  for (auto _ : state) {
    benchmark::DoNotOptimize(FisherTest(a, b, c, d, test));
  }
}
BENCHMARK_CAPTURE(BM_FisherTest, small_3_1_1_3, 3, 1, 1, 3, 2);
BENCHMARK_CAPTURE(BM_FisherTest, medium_120_80_95_140, 120, 80, 95, 140, 2);
BENCHMARK_CAPTURE(BM_FisherTest, worst_12500x4, 12500, 12500, 12500, 12500, 2);
BENCHMARK_CAPTURE(BM_FisherTest, extreme_0_25000_25000_0, 0, 25000, 25000, 0, 2);

// A whole run as the tool makes it: fill for N, then the test.
void BM_Run(benchmark::State& state, int a, int b, int c, int d, int test) {
  for (auto _ : state) {
    FillLogFactorial(a + b + c + d);
    benchmark::DoNotOptimize(FisherTest(a, b, c, d, test));
  }
}
BENCHMARK_CAPTURE(BM_Run, small_3_1_1_3, 3, 1, 1, 3, 2);
BENCHMARK_CAPTURE(BM_Run, worst_12500x4, 12500, 12500, 12500, 12500, 2);

}  // namespace

BENCHMARK_MAIN();
