// The whole test's fields in process, table by table: reads lines "a b c d"
// and reports the mean and the largest time a table took, and that table.
//
//   whole_bench [ALTERNATIVE] < tables
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "field_text.h"

int main(int argc, char* argv[]) {
  Request r;
  r.format = BatchFormat::kPrecise;
  if (!ParseAlternative(argc > 1 ? argv[1] : "two-sided", &r.alternative)) return 2;
  const char* bad;
  std::size_t bad_length;
  if (!ParseFieldList("p,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high", &r, &bad, &bad_length)) {
    return 2;
  }
  unsigned long long v[4];
  double total = 0, worst = 0;
  unsigned long long worst_table[4] = {0, 0, 0, 0};
  long count = 0;
  static char out[kFieldsTextMax];
  while (std::scanf("%llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3]) == 4) {
    const std::uint64_t counts[4] = {v[0], v[1], v[2], v[3]};
    const auto start = std::chrono::steady_clock::now();
    WriteFields(r, counts, false, out);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    total += seconds;
    ++count;
    if (seconds > worst) {
      worst = seconds;
      std::memcpy(worst_table, v, sizeof v);
    }
  }
  std::printf("%ld tables: mean %.2f us, worst %.2f ms (%llu %llu %llu %llu)\n", count,
              count > 0 ? total / static_cast<double>(count) * 1e6 : 0.0, worst * 1e3, worst_table[0],
              worst_table[1], worst_table[2], worst_table[3]);
}
