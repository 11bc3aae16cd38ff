// The one planner: from a table and what is asked of it, which sums and
// roots to run, each run once, and the values. The C interface and the
// tool's fields both ask here; they only convert and format.
#ifndef FISHER2X2_PLAN_WHOLE_TEST_H
#define FISHER2X2_PLAN_WHOLE_TEST_H

#include <cstdint>

#include "accurate/pvalues.h"
#include "classic/classic_pvalue.h"
#include "classic/log_factorial.h"

// What is asked: bits of Ask::want.
enum Want : unsigned {
  kWantP = 1u << 0,              // the test's p-value
  kWantSingleRunP = 1u << 1,     // with kWantP: the single run's double where it applies
  kWantMidP = 1u << 2,           // the alternative's mid-p value (needs an alternative)
  kWantLess = 1u << 3,           // P(X <= a)
  kWantGreater = 1u << 4,        // P(X >= a)
  kWantTwoSided = 1u << 5,       // the tables at most as probable, ties exact
  kWantCentral = 1u << 6,        // twice the smaller tail, at most 1
  kWantOddsRatio = 1u << 7,      // the conditional maximum-likelihood estimate
  kWantSampleOddsRatio = 1u << 8,  // a d / (b c)
  kWantCiLow = 1u << 9,          // the exact conditional interval's bounds
  kWantCiHigh = 1u << 10,
};

struct Ask {
  Alternative alternative = Alternative::kNone;  // kNone: the design's test, by one_tailed
  bool one_tailed = false;
  unsigned want = kWantP;
  double conf_level = 0.95;  // read for the interval alone
};

// The values of one table; only those asked for are set. The p-values are
// accurate values with their logarithms (never 0 where they lie below the
// doubles).
struct TestValues {
  AccuratePValue p, mid_p, less, greater, two_sided, central;
  bool single_run;      // p is the single run's double, single_run_p, not p
  double single_run_p;  // FisherTest's: for the design's test, totals up to kMaxTotal
  double odds_ratio, sample_odds_ratio, ci_low, ci_high;
};

// The general case of WholeTest, below.
void PlanWholeTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask,
                   TestValues* values);

// Fisher's exact test on a b / c d, every count >= 0 and a+b+c+d at most
// 2^63 - 1: sets in *values what ask.want names. The design's p-value
// alone, the most common ask by far, goes straight to its computation;
// otherwise the sample odds ratio needs nothing else, every p-value comes
// from one summation of the tails, with the opposite tail's search and the
// other side only where a value asked needs them, and the estimate is
// found once for itself and both bounds.
inline void WholeTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask,
                      TestValues* values) {
  if (ask.alternative == Alternative::kNone && (ask.want & ~kWantSingleRunP) == kWantP) {
    // The total cannot wrap, being at most 2^63 - 1.
    if ((ask.want & kWantSingleRunP) != 0 && a + b + c + d <= static_cast<std::uint64_t>(kMaxTotal)) {
      values->single_run = true;
      values->single_run_p = ClassicPValue(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                                           static_cast<int>(d), ask.one_tailed ? 1 : 2);
    } else {
      values->single_run = false;
      values->p = AccurateTest(a, b, c, d, ask.one_tailed);
    }
    return;
  }
  PlanWholeTest(a, b, c, d, ask, values);
}

#endif  // FISHER2X2_PLAN_WHOLE_TEST_H
