// The accurate computation: its exact comparison beyond 50000, and its
// agreement with the single run's engine where both apply. Accuracy against
// 256-bit arithmetic is checked by accuracy.py and numerics.py.
#include "accurate/pvalues.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>
#include <random>
#include <vector>

#include "accurate/exact_compare.h"
#include "accurate/log_probability.h"
#include "classic/fisher_test.h"

namespace {

using u64 = std::uint64_t;
constexpr u64 kTop = (u64{1} << 63) - 1;

// The two exact comparisons are independent (prime factors; cancelled runs
// multiplied out): they agree on every shift of random tables up to 50000.
TEST(CompareShifted64, AgreesWithPrimeFactorsUpTo50000) {
  std::mt19937 rng(3);
  int compared = 0;
  for (int i = 0; i < 4000; ++i) {
    const int n = static_cast<int>(rng() % 3000);
    const int a = static_cast<int>(rng() % (n + 1)), b = static_cast<int>(rng() % (n - a + 1));
    const int c = static_cast<int>(rng() % (n - a - b + 1)), d = n - a - b - c;
    const int most = b < c ? b : c;
    if (most == 0) continue;
    const int k = 1 + static_cast<int>(rng() % static_cast<unsigned>(most < 400 ? most : 400));
    ASSERT_EQ(CompareShifted64(a, b, c, d, k), CompareShifted(a, b, c, d, k))
        << a << ' ' << b << ' ' << c << ' ' << d << " k " << k;
    ++compared;
  }
  EXPECT_GT(compared, 3000);
}

struct Shift {
  u64 a, b, c, d, k;
  int sign;
};

TEST(CompareShifted64, TiesAndNearTiesBeyond50000) {
  const Shift cases[] = {
      // b c = (a+1)(d+1): the neighbour is exactly as probable, no mirror.
      {1000, 1573, 63637, 100000, 1, 0},
      {1000, 1573, 63638, 100000, 1, +1},
      {1000, 1573, 63636, 100000, 1, -1},
      // Mirror images: equal rows (k = c - a = b - d), equal columns.
      {5, 1000000000007, 1000000000004, 8, 999999999999, 0},
      {kTop / 4 - 10, kTop / 4 + 10, kTop / 4 + 15, kTop / 4 - 5, 20, 0},
      // Runs that cancel but for a few factors near 2^62.
      {u64{1} << 61, (u64{1} << 61) + 3, (u64{1} << 61) + 1, (u64{1} << 61) - 1, 2, +1},
      {u64{1} << 61, (u64{1} << 61) + 2, (u64{1} << 61) + 1, (u64{1} << 61) - 1, 2, 0},
      // Runs too long to multiply out that do not cancel.
      {0, 100000000, 200000000, 300000000, 5000, kUndecided},
  };
  for (const Shift& s : cases) {
    EXPECT_EQ(CompareShifted64(s.a, s.b, s.c, s.d, s.k), s.sign)
        << s.a << ' ' << s.b << ' ' << s.c << ' ' << s.d << " k " << s.k;
  }
}

// The table of ln k! filled block by block from its checkpoints, in an
// order that fills each block from a read in its middle or its end, holds
// every entry of the one chain entry(k - 1) + Log(k), to the bit.
TEST(LogFactorialTable, EveryEntryIsTheChains) {
  std::vector<DD> chain(kMaxTotal + 1, DD(0.0));
  for (int k = 1; k <= kMaxTotal; ++k) chain[k] = dd::Add(chain[k - 1], dd::Log(DD(static_cast<double>(k))));
  for (int start : {kMaxTotal, kLogFactorialBlock / 2 + 1}) {
    for (int k = start; k >= 0; k -= 97) EXPECT_EQ(LogFactorialEntry(k).hi, chain[k].hi) << k;
  }
  for (int k = 0; k <= kMaxTotal; ++k) {
    ASSERT_EQ(LogFactorialEntry(k).hi, chain[k].hi) << k;
    ASSERT_EQ(LogFactorialEntry(k).lo, chain[k].lo) << k;
  }
}

// Up to 50000 both computations follow one convention: the same tables are
// added, so their p-values agree to the engine's accuracy (its log-factorial
// table accumulates one rounding per entry). Every table up to N = 24, with
// all their ties (a tie decided wrongly moves the two-tailed value by a
// whole table's probability), and random ones up to 5000.
TEST(Accurate, FollowsTheEnginesConvention) {
  FillLogFactorial(kMaxTotal);
  auto agree = [](int a, int b, int c, int d) {
    for (int test : {1, 2}) {
      const double engine = FisherTest(a, b, c, d, test);
      const double accurate = PValue(AccurateTest(a, b, c, d, test == 1));
      if (engine < 1e-280) continue;  // the engine's sums lose what underflows
      ASSERT_NEAR(accurate, engine > 1 ? 1.0 : engine, 1e-9 * engine)
          << a << ' ' << b << ' ' << c << ' ' << d << ' ' << test;
    }
  };
  for (int a = 0; a <= 24; ++a) {
    for (int b = 0; a + b <= 24; ++b) {
      for (int c = 0; a + b + c <= 24; ++c) {
        for (int d = 0; a + b + c + d <= 24; ++d) agree(a, b, c, d);
      }
    }
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 1500; ++i) {
    const int n = static_cast<int>(rng() % 5000);
    const int a = static_cast<int>(rng() % (n + 1)), b = static_cast<int>(rng() % (n - a + 1));
    const int c = static_cast<int>(rng() % (n - a - b + 1)), d = n - a - b - c;
    agree(a, b, c, d);
  }
}

struct Known {
  u64 a, b, c, d;
  bool one_tailed;
  bool whole;
};

// Every table is included (p exactly 1) where the observed side is the
// whole range or every table of the opposite tail is less probable.
TEST(Accurate, WholeRangeIsExactlyOne) {
  const Known cases[] = {
      {0, 0, 0, 0, true, true},       {0, 5, 0, 7, false, true},
      {kTop, 0, 0, 0, false, true},   {3, 0, kTop - 3, 0, true, true},
      {100000, 100000, 100000, 100000, false, true},
      {1, 1, 1, 4, false, false},     {100000, 100000, 100000, 100001, true, false},
  };
  for (const Known& t : cases) {
    const AccuratePValue p = AccurateTest(t.a, t.b, t.c, t.d, t.one_tailed);
    EXPECT_EQ(p.whole, t.whole) << t.a << ' ' << t.b << ' ' << t.c << ' ' << t.d;
    if (t.whole) {
      EXPECT_EQ(PValue(p), 1.0);
      EXPECT_EQ(LogPValue(p).hi, 0.0);
    } else {
      EXPECT_LT(PValue(p), 1.0);
    }
  }
}

}  // namespace

namespace {

// All four margins N/2: the distribution is symmetric about a = N/4, so the
// one-tailed value at the centre is (1 + p0)/2, and off the centre the
// mirror image ties, the two-tailed value being twice the one-tailed less
// p0. At every size, where the tails are summed by blocks (spreads above
// 4096 tables) as where table by table.
TEST(Accurate, SymmetricDistributionsAtEverySize) {
  for (int bits = 16; bits <= 60; bits += 4) {
    const u64 q = u64{1} << bits;
    const u64 sd = static_cast<u64>(std::sqrt(static_cast<double>(q)) / 2);
    const double p0 = std::exp(AccurateLogProbability(q, q, q, q).value.hi);
    EXPECT_NEAR(PValue(AccurateTest(q, q, q, q, true)), (1 + p0) / 2, 1e-12) << "2^" << bits;
    for (u64 k : {u64{1}, sd, 3 * sd}) {
      const double pk = std::exp(AccurateLogProbability(q - k, q + k, q + k, q - k).value.hi);
      const double one = PValue(AccurateTest(q - k, q + k, q + k, q - k, true));
      const double two = PValue(AccurateTest(q - k, q + k, q + k, q - k, false));
      EXPECT_NEAR(two, 2 * one - pk, 1e-12 * two) << "2^" << bits << " k " << k;
      EXPECT_LT(one, 0.5 + 1e-12);
    }
  }
}

}  // namespace
