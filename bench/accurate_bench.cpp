// In-process cost of the accurate computation: a table near the mode with
// balanced margins, at totals of 10^6 to 10^18 (table by table the walks
// grow with the spread of the distribution, about the square root of the
// total; beyond a spread of 16384 the tails are summed by blocks), and one
// log-probability of a large table, the anchor of the walks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "accurate/pvalues.h"

namespace {

// a b / c d with all margins n/2 and a one standard deviation (sqrt(n)/4)
// above its mean: the two-tailed walk covers the whole spread.
void NearTheMode(benchmark::State& state) {
  const auto n = static_cast<std::uint64_t>(std::pow(10.0, static_cast<double>(state.range(0))));
  const std::uint64_t q = n / 4, s = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(n)) / 4);
  const bool one_tailed = state.range(1) == 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(PValue(AccurateTest(q + s, q - s, q - s, q + s, one_tailed)));
  }
}
BENCHMARK(NearTheMode)->ArgsProduct({{6, 8, 9, 10, 12, 14, 16, 18}, {1, 2}})->Unit(benchmark::kMicrosecond);

void LogProbabilityAt(benchmark::State& state) {
  const std::uint64_t big = std::uint64_t{1} << state.range(0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(AccurateLogProbability(big + 12345, big - 777, big / 3, big).value.hi);
  }
}
BENCHMARK(LogProbabilityAt)->Arg(20)->Arg(40)->Arg(60);

}  // namespace

BENCHMARK_MAIN();
