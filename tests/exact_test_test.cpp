// The engine against exact fractions and exact integer arithmetic.
#include "exact_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::uint64_t Bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

class ExactTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FillLogFactorial(kMaxTotal); }
};

struct Case {
  int a, b, c, d;
  double one, two;  // exact p-values as fractions
};

TEST_F(ExactTest, KnownTablesMatchExactFractions) {
  const Case cases[] = {
      {0, 0, 0, 0, 1.0, 1.0},
      {3, 1, 1, 3, 17.0 / 70, 18.0 / 70},
      {1, 3, 3, 1, 17.0 / 70, 18.0 / 70},
      {1, 9, 11, 3, 41.0 / 29716, 21.0 / 14858},
      {2, 7, 8, 2, 1711.0 / 92378, 1063.0 / 46189},
      {7, 2, 2, 7, 53.0 / 1870, 73.0 / 2431},
      {10, 0, 0, 10, 1.0 / 184756, 1.0 / 184756},
      {2, 8, 8, 2, 1063.0 / 92378, 131.0 / 10868},
      {5, 0, 1, 4, 1.0 / 42, 1.0 / 42},
      {2, 2, 2, 2, 53.0 / 70, 1.0},
      {1, 2, 3, 4, 2.0 / 3, 1.0},
      {4, 3, 2, 1, 2.0 / 3, 1.0},
      {0, 1, 2, 3, 2.0 / 3, 1.0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(::testing::Message() << t.a << ' ' << t.b << ' ' << t.c
                                      << ' ' << t.d);
    EXPECT_NEAR(FisherTest(t.a, t.b, t.c, t.d, 1), t.one, 1e-12 * t.one);
    for (int selector : {2, 0, -1, 7}) {
      EXPECT_NEAR(FisherTest(t.a, t.b, t.c, t.d, selector), t.two,
                  1e-12 * t.two);
    }
  }
}

TEST_F(ExactTest, MirrorTablesAreBitIdentical) {
  // The second pair differs in the last bit unless the log-probability is
  // carried with a 64-bit significand.
  EXPECT_EQ(Bits(FisherSub(1, 3, 3, 1)), Bits(FisherSub(3, 1, 1, 3)));
  EXPECT_EQ(Bits(FisherSub(2, 8, 8, 2)), Bits(FisherSub(8, 2, 2, 8)));
  EXPECT_NEAR(FisherSub(1, 3, 3, 1), 16.0 / 70, 1e-15);
}

TEST_F(ExactTest, TableBoundariesAndUnderflow) {
  EXPECT_EQ(FisherSub(0, 0, 0, 0), 1.0);
  EXPECT_EQ(LogFactorial[0], 0.0);
  EXPECT_EQ(LogFactorial[1], 0.0);
  // Entry 50000 is filled; Stirling puts ln(50000!) near 490995.24.
  EXPECT_NEAR(LogFactorial[kMaxTotal], 490995.24, 0.01);
  EXPECT_EQ(FisherSub(0, 25000, 25000, 0), 0.0);
  // p0 underflows: nothing of the opposite tail is strictly smaller.
  EXPECT_EQ(FisherTest(0, 25000, 25000, 0, 2), FisherTest(0, 25000, 25000, 0, 1));
  // The whole distribution at the limit sums to 1, up to the few 1e-9 that
  // 50000 roundings of the cumulative fill leave in the log-factorials.
  EXPECT_NEAR(FisherTest(12500, 12500, 12500, 12500, 2), 1.0, 1e-7);
}

// ---------------------------------------------------------------------------
// The walks pass over tables too improbable to change the sum; the result must
// be bit for bit that of the plain walks, which visit every table.

double PlainWalks(int a, int b, int c, int d, int test) {
  int t;
  if (a * d > b * c) {
    t = a; a = b; b = t;
    t = c; c = d; d = t;
  }
  if (a > d) { t = a; a = d; d = t; }
  if (b > c) { t = b; b = c; c = t; }
  const double p0 = FisherSub(a, b, c, d);
  double s = 0.0;
  for (int k = 0; k <= a; ++k) s += FisherSub(a - k, b + k, c + k, d - k);
  if (test == 1) return s;
  for (int j = 0;; ++j) {
    const double q = FisherSub(a + b - j, j, c - b + j, d + b - j);
    if (!(q < p0) || a + b - j == a) break;
    s += q;
  }
  return s;
}

TEST_F(ExactTest, SkippingNegligibleTablesChangesNoBit) {
  auto check = [](int a, int b, int c, int d) {
    for (int test : {1, 2}) {
      ASSERT_EQ(Bits(FisherTest(a, b, c, d, test)), Bits(PlainWalks(a, b, c, d, test)))
          << a << ' ' << b << ' ' << c << ' ' << d << ' ' << test;
    }
  };
  for (int n = 0; n <= 40; n += 1)
    for (int a = 0; a <= n; ++a)
      for (int b = 0; a + b <= n; ++b)
        for (int c = 0; a + b + c <= n; ++c) check(a, b, c, n - a - b - c);
  // Large tables: any cell a for the margins (deep tails, p0 down to
  // underflow, across the floor below which nothing is skipped), and cells
  // near the expected value (long walks, sums near 1).
  std::mt19937 rng(7);
  auto uniform = [&rng](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  for (int i = 0; i < 1500; ++i) {
    const int n = uniform(1000, kMaxTotal);
    const int r1 = uniform(0, n), c1 = uniform(0, n);
    const int lo = std::max(0, c1 - (n - r1)), hi = std::min(r1, c1);
    int a = uniform(lo, hi);
    if (i % 2 == 0) {
      a = std::clamp(static_cast<int>(static_cast<long>(r1) * c1 / n) + uniform(-300, 300), lo, hi);
    }
    check(a, r1 - a, c1 - a, n - r1 - c1 + a);
  }
  check(12500, 12500, 12500, 12500);
  check(0, 25000, 25000, 0);
}

// ---------------------------------------------------------------------------
// Exact cross-check: every table with N <= 60 against integer arithmetic.

__extension__ using u128 = unsigned __int128;

u128 Binomial(int n, int k) {
  if (k < 0 || k > n) return 0;
  if (k > n - k) k = n - k;
  u128 r = 1;
  for (int i = 1; i <= k; ++i) r = r * static_cast<u128>(n - k + i) / i;
  return r;
}

TEST_F(ExactTest, AgreesWithExactArithmeticUpToN60) {
  constexpr int kMaxN = 60;
  std::vector<std::vector<u128>> choose(kMaxN + 1);
  for (int n = 0; n <= kMaxN; ++n)
    for (int k = 0; k <= n; ++k) choose[n].push_back(Binomial(n, k));

  long tables = 0, skipped = 0, mirror_ties = 0;
  for (int n = 0; n <= kMaxN; ++n) {
    for (int a = 0; a <= n; ++a)
      for (int b = 0; a + b <= n; ++b)
        for (int c = 0; a + b + c <= n; ++c) {
          const int d = n - a - b - c;
          const int r1 = a + b, r2 = c + d, c1 = a + c;
          // Weight of the table with cell a = x: C(r1, x) C(r2, c1 - x),
          // out of C(n, c1).
          const int lo = c1 - r2 > 0 ? c1 - r2 : 0;
          const int hi = c1 < r1 ? c1 : r1;
          auto weight = [&](int x) { return choose[r1][x] * choose[r2][c1 - x]; };
          const u128 w0 = weight(a);
          // The observed side runs down in a unless a*d > b*c.
          const bool down = static_cast<long>(a) * d <= static_cast<long>(b) * c;
          u128 one = 0, two = 0;
          bool tie = false;
          for (int x = lo; x <= hi; ++x) {
            const u128 w = weight(x);
            const bool observed_side = down ? x <= a : x >= a;
            if (observed_side) {
              one += w;
              two += w;
            } else if (w < w0) {
              two += w;
            } else if (w == w0) {
              // A mirror image has the same cells, in another order.
              int t[4] = {x, r1 - x, c1 - x, r2 - c1 + x};
              int o[4] = {a, b, c, d};
              std::sort(t, t + 4);
              std::sort(o, o + 4);
              if (std::equal(t, t + 4, o)) {
                ++mirror_ties;
              } else {
                tie = true;
              }
            }
          }
          ++tables;
          const double total = static_cast<double>(choose[n][c1]);
          const double exact_one = static_cast<double>(one) / total;
          const double exact_two = static_cast<double>(two) / total;
          ASSERT_NEAR(FisherTest(a, b, c, d, 1), exact_one, 1e-12 * exact_one)
              << a << ' ' << b << ' ' << c << ' ' << d;
          if (tie) {
            ++skipped;
            continue;
          }
          ASSERT_NEAR(FisherTest(a, b, c, d, 2), exact_two, 1e-12 * exact_two)
              << a << ' ' << b << ' ' << c << ' ' << d;
        }
  }
  std::printf("%ld tables, %ld mirror ties not added, %ld two-tailed values "
              "skipped for a non-mirror exact tie\n",
              tables, mirror_ties, skipped);
  EXPECT_GT(mirror_ties, 0);
}

}  // namespace
