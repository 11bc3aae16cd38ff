// The whole test's p-values and odds ratios: the relations that tie them
// together, and the defining equations checked by a plain summation on
// small tables. Accuracy against 256-bit arithmetic is whole_test.py's.
#include "accurate/odds_ratio.h"
#include "accurate/root_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using u64 = std::uint64_t;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Table {
  u64 a, b, c, d;
};

// Small tables of every shape and large ones at every size.
std::vector<Table> Tables() {
  std::vector<Table> t;
  std::mt19937_64 rng(17);
  for (int i = 0; i < 300; ++i) t.push_back({rng() % 40, rng() % 40, rng() % 40, rng() % 40});
  for (int bits = 20; bits <= 61; bits += 7) {
    const u64 q = u64{1} << bits;
    t.push_back({q + rng() % 1000, q - rng() % 1000, q / 3 + rng() % 1000, q / 2});
    t.push_back({rng() % 5, q, q / 7, q});
  }
  return t;
}

double P(const Observed& o, const TailSums& s, PValueKind kind) { return PValue(PValueFromTails(o, s, kind)); }

TEST(WholeTest, PValuesAgreeWithEachOther) {
  for (const Table& t : Tables()) {
    SCOPED_TRACE(::testing::Message() << t.a << ' ' << t.b << ' ' << t.c << ' ' << t.d);
    const Observed o(t.a, t.b, t.c, t.d);
    const TailSums s = SumTails(o, true, true);
    const double p0 = std::exp(o.log_p0.hi);
    const double less = P(o, s, PValueKind::kLess), greater = P(o, s, PValueKind::kGreater);
    const double two = P(o, s, PValueKind::kTwoSided), two_tailed = P(o, s, PValueKind::kTwoTailed);
    // The two tails overlap in the observed table and cover all.
    EXPECT_NEAR(less + greater - p0, 1.0, 1e-14);
    EXPECT_NEAR(P(o, s, PValueKind::kMidLess), less - p0 / 2, 1e-15);
    EXPECT_NEAR(P(o, s, PValueKind::kMidGreater), greater - p0 / 2, 1e-15);
    EXPECT_EQ(P(o, s, PValueKind::kCentral), std::fmin(1.0, 2 * std::fmin(less, greater)));
    // The observed side is one of the two; ties add to the usual value only.
    EXPECT_EQ(P(o, s, PValueKind::kObservedSide), o.swapped ? greater : less);
    EXPECT_GE(two, two_tailed);
    if (!s.tie) {
      EXPECT_EQ(two, two_tailed);
    }
    if (s.tie) {
      EXPECT_NEAR(two, two_tailed + p0, 1e-15);
    }
    EXPECT_NEAR(P(o, s, PValueKind::kMidTwoSided), two - (s.tie ? 1.0 : 0.5) * p0, 1e-15);
  }
}

// The tail of X at or beyond a, at psi, by plain summation (doubles: the
// tables are small, the bound loose).
double Tail(const Table& t, double psi, int side) {
  const long long r1 = static_cast<long long>(t.a + t.b), c1 = static_cast<long long>(t.a + t.c),
                  r2 = static_cast<long long>(t.c + t.d);
  const long long lo = c1 > r2 ? c1 - r2 : 0, hi = r1 < c1 ? r1 : c1;
  auto log_choose = [](long long n, long long k) {
    return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0);
  };
  double all = 0, part = 0;
  for (long long x = lo; x <= hi; ++x) {
    const double w = std::exp(log_choose(r1, x) + log_choose(r2, c1 - x) + static_cast<double>(x) * std::log(psi) - 200);
    all += w;
    if (side > 0 ? x >= static_cast<long long>(t.a) : x <= static_cast<long long>(t.a)) part += w;
  }
  return part / all;
}

TEST(OddsRatio, BoundsSolveTheirEquations) {
  const Table tables[] = {{1, 19, 6, 14}, {56, 1, 8, 41}, {10, 20, 30, 40}, {3, 1, 1, 3}, {0, 9, 4, 3},
                          {7, 2, 2, 7}, {25, 3, 4, 30}};
  for (const Table& t : tables) {
    SCOPED_TRACE(::testing::Message() << t.a << ' ' << t.b << ' ' << t.c << ' ' << t.d);
    const Observed o(t.a, t.b, t.c, t.d);
    for (double alpha : {0.025, 0.05, 0.005, 0.4}) {
      const double low = OddsRatioBound(o, Bound::kLower, alpha), high = OddsRatioBound(o, Bound::kUpper, alpha);
      if (low > 0) {
        EXPECT_NEAR(Tail(t, low, +1) / alpha, 1.0, 1e-9);
      }
      if (high < kInf) {
        EXPECT_NEAR(Tail(t, high, -1) / alpha, 1.0, 1e-9);
      }
      const double estimate = ConditionalOddsRatio(o);
      EXPECT_LE(low, estimate);
      EXPECT_LE(estimate, high);
    }
  }
}

// The root search ends at the root whatever its equation's derivatives
// say: slopes that overstate (Halley's steps crawl), that vanish (no step)
// or that point the wrong way, from either side of roots near and far.
TEST(OddsRatio, RootSearchEndsAtTheRoot) {
  struct Case {
    double root, start, slope;  // f(t) = t - root, reported slope
  };
  const Case cases[] = {{1, 0, 1e3}, {-2, 3, 1e6}, {600, 0, 1e4}, {0.5, -650, 0}, {-3, 0, -1}, {0.25, 0.5, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.root << " from " << c.start << ", slope " << c.slope);
    const double t = Solve(
        [&](double u, double* value, double* slope, double* curve) {
          *value = u - c.root, *slope = c.slope, *curve = 0;
        },
        c.start);
    EXPECT_NEAR(t, c.root, 0x1p-39);
  }
}

// Exchanging the columns (or the rows) turns psi into 1/psi and the bounds
// into each other's reciprocals; transposing changes nothing.
TEST(OddsRatio, FollowsTheTableSymmetries) {
  for (const Table& t : Tables()) {
    SCOPED_TRACE(::testing::Message() << t.a << ' ' << t.b << ' ' << t.c << ' ' << t.d);
    const Observed o(t.a, t.b, t.c, t.d), swapped(t.b, t.a, t.d, t.c),
                   transposed(t.a, t.c, t.b, t.d);
    const double psi = ConditionalOddsRatio(o);
    const double low = OddsRatioBound(o, Bound::kLower, 0.025), high = OddsRatioBound(o, Bound::kUpper, 0.025);
    EXPECT_EQ(ConditionalOddsRatio(transposed), psi);
    EXPECT_EQ(OddsRatioBound(transposed, Bound::kLower, 0.025), low);
    if (std::isnan(psi)) continue;
    auto inverse_near = [](double x, double y) {
      if (x == 0 || x == kInf) return y == (x == 0 ? kInf : 0.0);
      return std::fabs(x * y - 1) < 1e-13;
    };
    EXPECT_TRUE(inverse_near(psi, ConditionalOddsRatio(swapped)));
    EXPECT_TRUE(inverse_near(low, OddsRatioBound(swapped, Bound::kUpper, 0.025)));
    EXPECT_TRUE(inverse_near(high, OddsRatioBound(swapped, Bound::kLower, 0.025)));
  }
}

TEST(OddsRatio, EndsOfTheSupport) {
  const struct {
    Table t;
    double estimate, low, high;
  } cases[] = {
      {{0, 5, 5, 0}, 0, 0, -1},          // a at its smallest
      {{5, 0, 0, 5}, kInf, -1, kInf},    // at its largest
      {{0, 1000, 200, 18800}, 0, 0, -1},
      {{7, 0, 0, 0}, NAN, 0, kInf},      // a single table
      {{0, 0, 3, 9}, NAN, 0, kInf},
  };
  for (const auto& c : cases) {
    const Observed o(c.t.a, c.t.b, c.t.c, c.t.d);
    const double estimate = ConditionalOddsRatio(o);
    if (std::isnan(c.estimate)) {
      EXPECT_TRUE(std::isnan(estimate));
    } else {
      EXPECT_EQ(estimate, c.estimate);
    }
    if (c.low >= 0) {
      EXPECT_EQ(OddsRatioBound(o, Bound::kLower, 0.025), c.low);
    }
    if (c.high >= 0) {
      EXPECT_EQ(OddsRatioBound(o, Bound::kUpper, 0.025), c.high);
    }
  }
}

TEST(SampleOddsRatio, IsTheCorrectlyRoundedQuotient) {
  constexpr u64 kTop = (u64{1} << 63) - 1;
  const struct {
    Table t;
    double want;
  } cases[] = {
      {{3, 1, 1, 3}, 9},
      {{1, 3, 3, 1}, 1.0 / 9},
      {{0, 1, 1, 0}, 0},
      {{1, 0, 1, 1}, kInf},
      // 2^62 (2^62 + 1) / (2^62 - 1)^2 = 1 + 3 / 2^62 + ...: rounds to 1.
      {{u64{1} << 62, (u64{1} << 62) - 1, (u64{1} << 62) - 1, (u64{1} << 62) + 1}, 1},
      // (2^63 - 1)^2 / (2^63 - 2)^2, just above 1 + 2^-62: rounds to 1.
      {{kTop, kTop - 1, kTop - 1, kTop}, 1},
      // 3 (2^53 + 1) / 3: an odd significand one bit too long, ties to even.
      {{3, 3, 1, (u64{1} << 53) + 1}, 9007199254740992.0},
      {{3, 3, 1, (u64{1} << 53) + 3}, 9007199254740996.0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SampleOddsRatio(c.t.a, c.t.b, c.t.c, c.t.d), c.want)
        << c.t.a << ' ' << c.t.b << ' ' << c.t.c << ' ' << c.t.d;
  }
  EXPECT_TRUE(std::isnan(SampleOddsRatio(0, 0, 3, 4)));
}

}  // namespace
