// The accurate computation of Fisher's exact test for tables of every size:
// counts up to 2^63 - 1 in all, the p-value to within 1e-12 relative, and
// its logarithm where the p-value lies below the range of doubles. It uses
// double and double-double arithmetic only, in a fixed order, so that every
// target writes the same bytes.
#ifndef FISHER2X2_ACCURATE_H
#define FISHER2X2_ACCURATE_H

#include <cstdint>

#include "double_double.h"

// A p-value as ln p0 + ln sum: p0 the probability of the observed table,
// sum the included tables' probabilities divided by p0 (at least 1).
struct AccuratePValue {
  DD log_p0;
  DD sum;
  bool whole;  // every table is included: the p-value is exactly 1
};

// The p-value of the table a b / c d, one-tailed or two-tailed, with the
// convention of FisherTest: the table is oriented alike, the one-tailed
// value is the tail on the observed side, and the two-tailed value adds
// the tables of the opposite tail that are strictly less probable than the
// observed one, decided exactly (see the .cpp). Requires every count >= 0
// and a+b+c+d <= 2^63 - 1.
AccuratePValue AccurateTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                            bool one_tailed);

// ln p, at most 0.
DD LogPValue(const AccuratePValue& p);

// p as the nearest double, at most 1 (0 where it lies below the doubles).
double PValue(const AccuratePValue& p);

// The log-probability of the table a b / c d among the tables with its
// margins, and a bound on its error. For the tests and benchmarks.
struct LogProbabilityBound {
  DD value;
  double error;
};
LogProbabilityBound AccurateLogProbability(std::uint64_t a, std::uint64_t b, std::uint64_t c,
                                           std::uint64_t d);

#endif  // FISHER2X2_ACCURATE_H
