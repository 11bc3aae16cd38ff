// The odds ratio of a 2x2 table a b / c d: the sample odds ratio, and, from
// Fisher's noncentral hypergeometric distribution of X (the count in cell
// a given all margins, P(X = x; psi) proportional to P(X = x) psi^x), the
// conditional maximum-likelihood estimate and the exact conditional
// confidence bounds.
#ifndef FISHER2X2_ACCURATE_ODDS_RATIO_H
#define FISHER2X2_ACCURATE_ODDS_RATIO_H

#include <cstdint>

#include "accurate/pvalues.h"

// (a d) / (b c), correctly rounded from the exact 128-bit products; inf
// where only b c is 0, nan where both are.
double SampleOddsRatio(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d);

// The estimate in the orientation (EstimateOddsRatio): ln psi where the
// mean of X is a0, and the variance of X there; the bounds start from it.
struct Estimate {
  double log_psi, variance;
  bool interior;  // a0 is neither end of its support (else the rest is unset)
};
Estimate EstimateOddsRatio(const Observed& o);

// The psi at which the mean of X equals the observed count: 0 where that
// is the smallest count the margins allow, inf where it is the largest,
// nan where they allow a single table.
double ConditionalOddsRatio(const Observed& o, const Estimate& e);

// kLower: the psi where P(X >= a; psi) = alpha, 0 where a is the smallest
// count the margins allow. kUpper: the psi where P(X <= a; psi) = alpha,
// inf where a is the largest. 0 < alpha < 1.
enum class Bound { kLower, kUpper };
double OddsRatioBound(const Observed& o, const Estimate& e, Bound which, double alpha);

// A bound of the interval at level L: two-sided, each tail at (1 - L) / 2;
// one-sided, the open end (0 or inf) and the other bound at 1 - L.
enum class Interval { kTwoSided, kLowerOnly, kUpperOnly };
double IntervalBound(const Observed& o, const Estimate& e, Bound which, Interval interval, double level);

// The interval that goes with an alternative: one-sided for less and
// greater, two-sided otherwise.
Interval IntervalOf(Alternative alternative);

// The p-values under the null hypothesis psi = null_or (> 0, not 1): X
// noncentral hypergeometric at null_or. In the orientation, the tail of a0
// away from the mode of the weights and the mode's side of a0 (a0 in both),
// each as ln of a base and a factor; the two-sided sum, the tables at most
// as probable as a0 (a table within the proven error of a0's log-weight
// counted as tied), and the tied mass, in units of P(X = a0) = e^log_unit.
struct NullTails {
  DD log_unit;
  int away;        // +1: the away tail is X >= a0; -1: X <= a0
  DD away_tail;    // in units of P(X = a0), at least 1
  DD log_mode_side, mode_side;
  double r;        // P(X = a0) in the mode side's units
  DD two_sided, tied;
  bool away_whole, mode_side_whole, two_sided_whole;  // the sum is every table: exactly 1
};
NullTails NullTailSums(const Observed& o, double null_or);

// The p-value of the kind (less, greater, two-sided, central and their
// mid-p values) from those sums.
AccuratePValue NullPValue(const Observed& o, const NullTails& n, PValueKind kind);

// The same, estimating on the way.
double ConditionalOddsRatio(const Observed& o);
double OddsRatioBound(const Observed& o, Bound which, double alpha);

#endif  // FISHER2X2_ACCURATE_ODDS_RATIO_H
