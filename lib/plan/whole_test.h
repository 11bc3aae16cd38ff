// The one planner: from a table and what is asked of it, which sums and
// roots to run, each run once, and the values. The C interface and the
// tool's fields both ask here; they only convert and format.
#ifndef FISHER2X2_PLAN_WHOLE_TEST_H
#define FISHER2X2_PLAN_WHOLE_TEST_H

#include <cstdint>

#include "accurate/pvalues.h"
#include "classic/classic_pvalue.h"
#include "classic/log_factorial.h"
#include "strata/stratified.h"

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
  kWantMhOddsRatio = 1u << 11,   // strata: the Mantel-Haenszel estimate
};

struct Ask {
  Alternative alternative = Alternative::kNone;  // kNone: the design's test, by one_tailed
  bool one_tailed = false;
  unsigned want = kWantP;
  double conf_level = 0.95;  // read for the interval alone
  double null_or = 1;        // the p-values' null odds ratio, > 0; other than 1 with an alternative only
};

// The design's p-value alone (PValueAlone), the most common ask by far: the
// single run's double where it applies, the accurate value otherwise.
struct TestPValue {
  bool single_run;      // the value is single_run_p, not p
  double single_run_p;  // FisherTest's: for the design's test, totals up to kMaxTotal
  AccuratePValue p;
};

inline bool PValueAlone(const Ask& ask) {
  return ask.alternative == Alternative::kNone && (ask.want & ~kWantSingleRunP) == kWantP;
}
// (A null odds ratio goes with an alternative, so never with the design's
// p-value.)

// Whether the test's p-value is the single run's double: asked so, for
// the design's test, at a total up to kMaxTotal (the total cannot wrap,
// being at most 2^63 - 1).
inline bool SingleRunApplies(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask) {
  return (ask.want & kWantSingleRunP) != 0 && ask.alternative == Alternative::kNone &&
         a + b + c + d <= static_cast<std::uint64_t>(kMaxTotal);
}

// Sets the single run's double where it applies; false where it does not.
inline bool SingleRunPValue(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask,
                            TestPValue* value) {
  const bool applies = SingleRunApplies(a, b, c, d, ask);
  value->single_run = applies;
  if (!applies) return false;
  value->single_run_p = ClassicPValue(static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                                      static_cast<int>(d), ask.one_tailed ? 1 : 2);
  return true;
}

// The p-value of a PValueAlone ask, for a table as WholeTest takes it.
inline void DesignPValue(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask,
                         TestPValue* value) {
  if (!SingleRunPValue(a, b, c, d, ask, value)) value->p = AccurateTest(a, b, c, d, ask.one_tailed);
}

// The values of one table; only the p-values asked for are set (they are
// left without a value otherwise, like the observed table, so that nothing
// is cleared for every table), the ratios NaN where not asked. The p-values
// are accurate values with their logarithms (never 0 where they lie below
// the doubles).
struct TestValues {
  TestPValue test;  // the test's p-value
  AccuratePValue mid_p, less, greater, two_sided, central;
  double odds_ratio = kNotAsked, sample_odds_ratio = kNotAsked, ci_low = kNotAsked, ci_high = kNotAsked;
  double mh_odds_ratio = kNotAsked;
  static constexpr double kNotAsked = __builtin_nan("");
};

// Fisher's exact test on a b / c d, every count >= 0 and a+b+c+d at most
// 2^63 - 1: sets in *values what ask.want names. The design's p-value
// alone goes to DesignPValue; otherwise the sample odds ratio needs nothing
// else, every p-value comes from one summation of the tails, with the
// opposite tail's search and the other side only where a value asked needs
// them, and the estimate is found once for itself and both bounds.
void WholeTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask,
               TestValues* values);

// The stratified test over the k >= 1 tables a b c d in counts (4 k of
// them, the total at most 2^63 - 1), with an alternative (not kNone) and
// null_or 1: sets what ask.want names, as WholeTest does, the p-values of
// S = the sum of the cells a, the estimate and bounds of the common odds
// ratio (kWantSampleOddsRatio is not asked). Where at most one stratum's
// margins allow more than one table, that stratum is the test: WholeTest's
// values, to the bit. Returns kOk, or why the values could not be computed;
// *tie, where given, how the two-sided tie was decided.
StrataStatus StrataTest(const std::uint64_t* counts, std::size_t k, const Ask& ask, TestValues* values,
                        TieRule* tie = nullptr);

#endif  // FISHER2X2_PLAN_WHOLE_TEST_H
