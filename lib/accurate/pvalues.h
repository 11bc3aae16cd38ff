// The accurate computation of Fisher's exact test for tables of every size:
// counts up to 2^63 - 1 in all, every p-value to within 1e-12 relative, and
// its logarithm where the p-value lies below the range of doubles. It uses
// double and double-double arithmetic only, in a fixed order, so that every
// target writes the same bytes.
//
// One orientation (Orient) and one definition of the tails serve every
// p-value: with the margins fixed and the table oriented, X is its cell a,
// from 0 to a0 + b0; the observed side is X <= a0 (P(X = x) rises up to a0
// and beyond, to the mode), the opposite tail X > a0.
#ifndef FISHER2X2_ACCURATE_PVALUES_H
#define FISHER2X2_ACCURATE_PVALUES_H

#include <cstdint>

#include "arith/double_double.h"
#include "accurate/log_probability.h"
#include "accurate/tail_sum.h"

// The observed table, oriented, with its margins and log-probability: the
// table a b / c d, every count >= 0 and a+b+c+d <= 2^63 - 1. With a single
// table for its margins (then b0 = 0, and a0 = 0), log_p0 is 0. Never
// copied (its margins hold only what their size needs).
struct Observed {
  Observed(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d);
  Observed(const Observed&) = delete;
  Observed& operator=(const Observed&) = delete;

  std::uint64_t a0 = 0, b0 = 0, c0 = 0, d0 = 0;
  bool swapped = false;  // the orientation exchanged the columns: X runs against the cell a given
  Margins m;
  DD log_p0 = DD(0.0);
  double log_p0_error = 0;
};

// The sums all p-values of a table are made of, relative to p0.
struct TailSums {
  Sum lower;      // the observed side, X <= a0: at least 1
  Sum both;       // and the tables X > a0 strictly less probable than the observed one
  bool tie;       // and one table X > a0 exactly as probable (it is not in `both`)
  bool all_less;  // every table X > a0 is strictly less probable (`both` not summed)
  DD p0, upper;   // with other_side: p0 and P(X >= a0), as plain values
};

// The observed side; with `opposite` the opposite tail, whose edge is found
// by a search whose every decision is exact (see the .cpp); with
// other_side, P(X >= a0).
TailSums SumTails(const Observed& o, bool opposite, bool other_side);

// A p-value as ln base + ln sum.
struct AccuratePValue {
  DD log_p0;
  DD sum;
  bool whole;  // every table is included: the p-value is exactly 1
};

// Which p-value: the design's two conventions, and the usual ones with
// X the count in the cell a given (before orientation).
enum class PValueKind {
  kObservedSide,  // the tail on the observed side
  kTwoTailed,     // plus the opposite tail's strictly less probable tables
  kLess,          // P(X <= a)
  kGreater,       // P(X >= a)
  kTwoSided,      // the tables at most as probable as the observed one, ties exact
  kCentral,       // twice the smaller of kLess and kGreater, at most 1
  kMidLess,       // P(X < a) + P(X = a) / 2
  kMidGreater,    // P(X > a) + P(X = a) / 2
  kMidTwoSided,   // the tables strictly less probable, and half of those as probable
};

// The alternative hypothesis, for X the count in cell a given all margins;
// kNone: the design's one-tailed (observed side) and two-tailed values,
// chosen by each line's fifth field.
enum class Alternative { kNone, kLess, kGreater, kTwoSided };

// The p-value of the test asked: the alternative's, or without one the
// design's, the observed side where one_tailed.
PValueKind TestKind(Alternative alternative, bool one_tailed);

// The mid-p value of the alternative (two-sided without one).
PValueKind MidKind(Alternative alternative);

// Whether the p-value needs the opposite tail's search, or P(X >= a0).
bool NeedsOpposite(PValueKind kind);
bool NeedsOtherSide(PValueKind kind);

// The p-value from the sums (SumTails with what the kind needs).
AccuratePValue PValueFromTails(const Observed& o, const TailSums& t, PValueKind kind);

// The p-value of the table a b / c d, one-tailed or two-tailed, with the
// convention of FisherTest.
AccuratePValue AccurateTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                            bool one_tailed);

// ln p, at most 0.
DD LogPValue(const AccuratePValue& p);

// p as the nearest double, at most 1 (0 where it lies below the doubles).
double PValue(const AccuratePValue& p);

#endif  // FISHER2X2_ACCURATE_PVALUES_H
