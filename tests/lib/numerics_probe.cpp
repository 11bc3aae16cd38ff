// Prints the double-double functions and log-probabilities on a fixed set of
// arguments, as hexadecimal doubles, for numerics.py to check against
// 256-bit arithmetic:
//   log X_HI X_LO Y_HI Y_LO                 Y = Log(X)
//   exp X_HI X_LO Y_HI Y_LO D               Y = Exp(X), D = ExpToDouble(X)
//   lp A B C D V_HI V_LO BOUND              the log-probability and its bound
// With the argument "tables", reads lines "a b c d test" instead and prints
// for each the single run's p-value (FisherTest, up to 50000; else 0) and the
// accurate one, both as hexadecimal doubles (bench/accuracy_table.py). With
// "checkpoints", prints lib/accurate/log_factorial_checkpoints.inc: every
// kLogFactorialBlock-th entry of the chain of ln k! in double-double.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "accurate/log_probability.h"
#include "accurate/pvalues.h"
#include "arith/double_double.h"
#include "classic/fisher_test.h"
#include "classic/log_factorial.h"

namespace {

std::mt19937_64 rng(20261209);

double Uniform(double lo, double hi) {
  return lo + (hi - lo) * static_cast<double>(rng() >> 11) * 0x1p-53;
}

// A double-double with a random low part.
DD Perturbed(double v) {
  return dd::Add(DD(v), DD(v * Uniform(-0x1p-54, 0x1p-54)));
}

void PrintLp(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  const LogProbabilityBound l = AccurateLogProbability(a, b, c, d);
  std::printf("lp %llu %llu %llu %llu %a %a %a\n", static_cast<unsigned long long>(a),
              static_cast<unsigned long long>(b), static_cast<unsigned long long>(c),
              static_cast<unsigned long long>(d), l.value.hi, l.value.lo, l.error);
}

std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : rng() % (n + 1); }

}  // namespace

int Tables() {
  FillLogFactorial(kMaxTotal);
  unsigned long long v[5];
  while (std::scanf("%llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4]) == 5) {
    const unsigned long long n = v[0] + v[1] + v[2] + v[3];
    const double engine =
        n <= kMaxTotal ? FisherTest(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                                    static_cast<int>(v[3]), v[4] == 1 ? 1 : 2)
                       : 0.0;
    std::printf("%a %a\n", engine, PValue(AccurateTest(v[0], v[1], v[2], v[3], v[4] == 1)));
  }
  return 0;
}

// ln k!, each entry the one before plus Log(k), as the library's table.
int Checkpoints() {
  std::printf("// ln k! in double-double for k = 0, %d, %d, ... %d: the chain\n"
              "// entry(k) = entry(k - 1) + Log(k) of log_probability.cpp. Written by\n"
              "// tests/lib/numerics_probe checkpoints; the engine tests check every entry.\n",
              kLogFactorialBlock, 2 * kLogFactorialBlock, kMaxTotal / kLogFactorialBlock * kLogFactorialBlock);
  DD entry(0.0);
  for (int k = 0; k <= kMaxTotal; ++k) {
    if (k > 0) entry = dd::Add(entry, dd::Log(DD(static_cast<double>(k))));
    if (k % kLogFactorialBlock == 0) std::printf("DD(%a, %a),\n", entry.hi, entry.lo);
  }
  return 0;
}

int main(int argc, char* argv[]) {
  if (argc > 1 && std::strcmp(argv[1], "tables") == 0) return Tables();
  if (argc > 1 && std::strcmp(argv[1], "checkpoints") == 0) return Checkpoints();
  for (int i = 0; i < 20000; ++i) {
    double x;
    switch (i % 4) {
      case 0: x = std::ldexp(Uniform(1, 2), static_cast<int>(rng() % 600) - 300); break;
      case 1: x = 1 + Uniform(-0x1p-20, 0x1p-20); break;       // near 1
      case 2: x = static_cast<double>(rng() >> 1); break;      // counts
      default: x = std::ldexp(Uniform(1, 2), static_cast<int>(rng() % 260)); break;  // products
    }
    const DD X = Perturbed(x), Y = dd::Log(X);
    std::printf("log %a %a %a %a\n", X.hi, X.lo, Y.hi, Y.lo);
  }
  for (int i = 0; i < 20000; ++i) {
    const double x = i % 3 == 0 ? Uniform(-1, 1) : Uniform(-650, 700);
    const DD X = Perturbed(x), Y = dd::Exp(X);
    std::printf("exp %a %a %a %a %a\n", X.hi, X.lo, Y.hi, Y.lo, dd::ExpToDouble(X));
  }
  // Every total's log-factorial through the tables k 1 / 1 1, and random
  // tables up to 50000.
  for (std::uint64_t k = 0; k + 3 <= 50000; ++k) PrintLp(k, 1, 1, 1);
  for (int i = 0; i < 3000; ++i) {
    const std::uint64_t n = Below(50000), a = Below(n), b = Below(n - a), c = Below(n - a - b);
    PrintLp(a, b, c, n - a - b - c);
  }
  // Tables of every size beyond, near and far from independence.
  for (int i = 0; i < 6000; ++i) {
    const auto n = static_cast<std::uint64_t>(std::pow(10.0, Uniform(4.7, 18.96)));
    const std::uint64_t r1 = 1 + Below(n - 2), c1 = 1 + Below(n - 2);
    const std::uint64_t r2 = n - r1;
    const std::uint64_t lo = c1 > r2 ? c1 - r2 : 0, hi = r1 < c1 ? r1 : c1;
    std::uint64_t a;
    if (i % 2 == 0) {
      a = lo + Below(hi - lo);
    } else {  // near the mean
      const double mean = static_cast<double>(r1) * static_cast<double>(c1) / static_cast<double>(n);
      const double spread = std::sqrt(mean) * Uniform(-20, 20);
      const double v = mean + spread;
      a = v <= static_cast<double>(lo) ? lo : v >= static_cast<double>(hi) ? hi : static_cast<std::uint64_t>(v);
    }
    PrintLp(a, r1 - a, c1 - a, r2 - c1 + a);
  }
  return 0;
}
