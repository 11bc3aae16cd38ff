// In-process cost of the engine alone over a file of tables, the yardstick
// for batch mode: bench/batch.sh runs it on the same mixes.
//
//   batch_bench FILE... [benchmark flags]
//
// Each file is parsed into memory first and LogFactorial filled to its
// largest total; the benchmark then times FisherTest over every table, and
// reports the time per table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "classic/fisher_test.h"

namespace {

struct Table {
  int a, b, c, d, test;
};

std::vector<Table> Load(const char* path) {
  std::vector<Table> tables;
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return tables;
  Table t;
  while (std::fscanf(f, "%d %d %d %d %d", &t.a, &t.b, &t.c, &t.d, &t.test) == 5) {
    if (t.a >= 0 && t.b >= 0 && t.c >= 0 && t.d >= 0 &&
        static_cast<long>(t.a) + t.b + t.c + t.d <= kMaxTotal) {
      tables.push_back(t);
    }
  }
  std::fclose(f);
  return tables;
}

void EngineOverFile(benchmark::State& state, const std::vector<Table>* tables) {
  FillLogFactorial(kMaxTotal);
  for (auto _ : state) {
    double sum = 0;
    for (const Table& t : *tables) sum += FisherTest(t.a, t.b, t.c, t.d, t.test);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(tables->size()));
  state.counters["ns_per_table"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(tables->size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
      benchmark::Counter::kIs1000);
}

}  // namespace

int main(int argc, char* argv[]) {
  benchmark::Initialize(&argc, argv);
  static std::vector<std::vector<Table>> files;
  files.reserve(static_cast<std::size_t>(argc));
  for (int i = 1; i < argc; ++i) {
    files.push_back(Load(argv[i]));
    benchmark::RegisterBenchmark((std::string("engine/") + argv[i]).c_str(), EngineOverFile,
                                 &files.back())
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
