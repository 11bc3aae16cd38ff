// The engine against exact fractions and exact integer arithmetic.
#include "classic/fisher_test.h"

#include "accurate/exact_compare.h"

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
      // Exact ties that are no mirror images: 1 1 / 1 4 ties with 0 2 / 2 3
      // (10/21 each), which the floating comparison alone would add.
      {0, 2, 2, 3, 10.0 / 21, 11.0 / 21},
      {1, 1, 1, 4, 11.0 / 21, 11.0 / 21},
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
// The walks pass over tables too improbable to change the sum, and leave the
// order of the probabilities to exact arithmetic only within kTieWindow; the
// result must be bit for bit that of plain walks, which visit every table and
// decide exactly within a window a hundred times as wide.

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
  const double x0 = LogProbability(a, b, c, d);
  for (int j = 0;; ++j) {
    const double x = LogProbability(a + b - j, j, c - b + j, d + b - j);
    const double q = std::exp(x);
    const bool smaller = std::fabs(x - x0) <= 100 * kTieWindow
                             ? j < b && CompareShifted(a, b, c, d, b - j) < 0
                             : q < p0;
    if (!smaller || a + b - j == a) break;
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

// The table oriented as the engine orients it: a <= d, b <= c, a*d <= b*c.
struct Oriented {
  int a, b, c, d;
};

Oriented Orient(int a, int b, int c, int d) {
  if (a * d > b * c) {
    std::swap(a, b);
    std::swap(c, d);
  }
  if (a > d) std::swap(a, d);
  if (b > c) std::swap(b, c);
  return {a, b, c, d};
}

// Both p-values of every table against the exact convention: the tail on the
// observed side, plus the tables of the opposite tail whose weight is
// strictly below the observed one's, ties never added. Along the way it
// counts the tables whose walk meets the exact comparison, and the tables of
// the opposite walk that the floating comparison alone would misjudge.
TEST_F(ExactTest, AgreesWithExactArithmeticUpToN60) {
  constexpr int kMaxN = 60;
  std::vector<std::vector<u128>> choose(kMaxN + 1);
  for (int n = 0; n <= kMaxN; ++n)
    for (int k = 0; k <= n; ++k) choose[n].push_back(Binomial(n, k));

  long tables = 0, tied = 0, exact_path = 0, float_adds_tie = 0, float_misorders = 0;
  for (int n = 0; n <= kMaxN; ++n) {
    for (int a = 0; a <= n; ++a)
      for (int b = 0; a + b <= n; ++b)
        for (int c = 0; a + b + c <= n; ++c) {
          const int d = n - a - b - c;
          const Oriented o = Orient(a, b, c, d);
          const int r1 = o.a + o.b, r2 = o.c + o.d, c1 = o.a + o.c;
          // Weight of the table with cell a = x: C(r1, x) C(r2, c1 - x),
          // out of C(n, c1); its log-probability as the engine forms it.
          auto weight = [&](int x) { return choose[r1][x] * choose[r2][c1 - x]; };
          auto log_p = [&](int x) { return LogProbability(x, r1 - x, c1 - x, r2 - c1 + x); };
          const u128 w0 = weight(o.a);
          const double x0 = log_p(o.a);
          u128 one = 0;
          for (int x = 0; x <= o.a; ++x) one += weight(x);
          // The opposite walk, from the extreme x = r1 inwards, stops at the
          // first table at least as probable as the observed one.
          u128 two = one;
          bool near = false, tie = false;
          for (int x = r1; x > o.a; --x) {
            const u128 w = weight(x);
            near = near || std::fabs(log_p(x) - x0) <= kTieWindow;
            const bool float_smaller = std::exp(log_p(x)) < std::exp(x0);
            if (w == w0) tie = true;
            if (w == w0 && float_smaller) ++float_adds_tie;
            if (w != w0 && float_smaller != (w < w0)) ++float_misorders;
            if (w >= w0) break;
            two += w;
          }
          ++tables;
          tied += tie;
          exact_path += near;
          const double total = static_cast<double>(choose[n][c1]);
          const double exact_one = static_cast<double>(one) / total;
          const double exact_two = static_cast<double>(two) / total;
          ASSERT_NEAR(FisherTest(a, b, c, d, 1), exact_one, 1e-12 * exact_one)
              << a << ' ' << b << ' ' << c << ' ' << d;
          ASSERT_NEAR(FisherTest(a, b, c, d, 2), exact_two, 1e-12 * exact_two)
              << a << ' ' << b << ' ' << c << ' ' << d;
        }
  }
  std::printf("%ld tables: %ld meet an exact tie in the opposite walk, %ld take the "
              "exact comparison; the floating comparison alone would add %ld ties "
              "and misorder %ld distinct probabilities\n",
              tables, tied, exact_path, float_adds_tie, float_misorders);
  EXPECT_GT(tied, 0);
  EXPECT_GE(exact_path, tied);
}

// CompareShifted against exact weights: every pair of tables with the same
// margins up to N = 60, and random pairs up to N = 126 (the weights fit in
// 128 bits), where the products to compare are long.
TEST(CompareShifted, AgreesWithBinomials) {
  auto check = [](int a, int b, int c, int d, int k) {
    const int r1 = a + b, r2 = c + d, c1 = a + c;
    const u128 w0 = Binomial(r1, a) * Binomial(r2, c1 - a);
    const u128 w = Binomial(r1, a + k) * Binomial(r2, c1 - a - k);
    const int expected = w < w0 ? -1 : w > w0 ? 1 : 0;
    ASSERT_EQ(CompareShifted(a, b, c, d, k), expected)
        << a << ' ' << b << ' ' << c << ' ' << d << " k " << k;
  };
  for (int n = 0; n <= 60; ++n)
    for (int a = 0; a <= n; ++a)
      for (int b = 1; a + b <= n; ++b)
        for (int c = 1; a + b + c <= n; ++c)
          for (int k = 1; k <= std::min(b, c); ++k) check(a, b, c, n - a - b - c, k);
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    const int n = std::uniform_int_distribution<int>(61, 126)(rng);
    const int b = std::uniform_int_distribution<int>(1, n / 2)(rng);
    const int c = std::uniform_int_distribution<int>(b, n - b)(rng);
    const int a = std::uniform_int_distribution<int>(0, n - b - c)(rng);
    check(a, b, c, n - a - b - c, std::uniform_int_distribution<int>(1, b)(rng));
  }
}

// Ties and near-ties at the limit, where the products run to thousands of
// factors. With equal row totals, a b / c d and its row swap c d / a b have
// the same cells and so the same probability, k = c - a steps apart; the
// walk's probabilities rise to the mode and fall again, so one step nearer
// the observed table is more probable and one step further is less.
TEST(CompareShifted, LongProductsAtTheLimit) {
  struct Mirror {
    int a, b, c, d;
  };
  const Mirror mirrors[] = {
      {100, 20000, 19000, 1100}, {0, 25000, 25000, 0}, {1, 24999, 24999, 1},
      {3, 7, 7, 3}, {12000, 13000, 12999, 12001}, {0, 1, 1, 0},
  };
  for (const Mirror& m : mirrors) {
    SCOPED_TRACE(::testing::Message() << m.a << ' ' << m.b << ' ' << m.c << ' ' << m.d);
    const int k = m.c - m.a;
    EXPECT_EQ(CompareShifted(m.a, m.b, m.c, m.d, k), 0);
    if (k > 1) {
      EXPECT_EQ(CompareShifted(m.a, m.b, m.c, m.d, k - 1), 1);
    }
    if (k < std::min(m.b, m.c)) {
      EXPECT_EQ(CompareShifted(m.a, m.b, m.c, m.d, k + 1), -1);
    }
  }
  // A tie that is no mirror image: with margins 2, 5 / 2, 5 the tables
  // 0 2 / 2 3 and 1 1 / 1 4 both have weight 10 of 21, 2 0 / 0 5 weight 1.
  EXPECT_EQ(CompareShifted(0, 2, 2, 3, 1), 0);
  EXPECT_EQ(CompareShifted(0, 2, 2, 3, 2), -1);
}

}  // namespace
