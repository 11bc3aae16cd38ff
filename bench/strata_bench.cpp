// The stratified test in process, test by test: reads lines of 4 K counts
// and reports the mean and largest time a test took (every field, two-sided)
// and how the two-sided ties were decided.
//
//   strata_bench < tests
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "plan/whole_test.h"

int main() {
  Ask ask;
  ask.alternative = Alternative::kTwoSided;
  ask.want = kWantP | kWantMidP | kWantLess | kWantGreater | kWantTwoSided | kWantCentral | kWantOddsRatio |
             kWantCiLow | kWantCiHigh | kWantMhOddsRatio;
  long decided[5] = {0, 0, 0, 0, 0}, refused = 0, count = 0;
  double total = 0, worst = 0;
  std::string line;
  std::vector<std::uint64_t> counts;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    counts.clear();
    for (unsigned long long v; in >> v;) counts.push_back(v);
    if (counts.empty() || counts.size() % 4 != 0) continue;
    TestValues values;
    TieRule tie;
    const auto start = std::chrono::steady_clock::now();
    const StrataStatus status = StrataTest(counts.data(), counts.size() / 4, ask, &values, &tie);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    total += seconds;
    worst = seconds > worst ? seconds : worst;
    ++count;
    if (status != StrataStatus::kOk) ++refused;
    ++decided[static_cast<int>(tie)];
  }
  std::printf("%ld tests: mean %.1f us, worst %.2f ms; refused %ld; two-sided ties: %ld no tie to decide (s a "
              "mode, or one table), %ld exact mirror, %ld proven apart, %ld ordered in double-double, %ld counted "
              "within the proven error\n",
              count, count > 0 ? total / static_cast<double>(count) * 1e6 : 0.0, worst * 1e3, refused, decided[0],
              decided[1], decided[2], decided[4], decided[3]);
}
