// The outward summation of a distribution's tails, shared by the p-values
// (the hypergeometric distribution of cell a given the margins) and the
// odds ratio (Fisher's noncentral hypergeometric distribution, whose
// weights are P(x) psi^x).
//
// A walk starts at a table and moves away from the mode one table at a
// time, each term from its neighbour by the exact ratio of their weights,
// anew from its logarithm every few hundred tables, and by blocks where the
// distribution is wide, until what is left cannot change the sums. It
// gathers sum t, and where asked sum i^k t for k up to 3, i the number of
// steps from the start.
#ifndef FISHER2X2_ACCURATE_TAIL_SUM_H
#define FISHER2X2_ACCURATE_TAIL_SUM_H

#include <cstdint>

#include "arith/double_double.h"
#include "accurate/log_probability.h"

// The weights w(x) = P(x) psi^x of the tables with the margins *m, taken
// relative to w(ref).
struct Weights {
  const Margins* m;
  std::uint64_t ref;
  DD log_ref;           // ln P(ref)
  double log_psi = 0;   // ln psi; 0 for the hypergeometric distribution
  double psi = 1;       // psi and 1/psi as doubles, within 2 ulps of e^(+-log_psi)
  double inv_psi = 1;
  double log_psi_lo = 0;  // where ln psi is given to more than a double: its low part
};

// ln(w(x) / w(ref)); the second form from ln P(x).
DD RelativeLog(const Weights& w, std::uint64_t x);
DD RelativeLog(const Weights& w, std::uint64_t x, DD log_probability);

// Compensated sum (Neumaier): s + c.
struct Sum {
  double s = 0.0, c = 0.0;
  void Add(double t) {
    const DD e = dd::TwoSum(s, t);
    s = e.hi;
    c += e.lo;
  }
  double Value() const { return s + c; }
  DD Pair() const { return dd::QuickTwoSum(s, c); }
};

// sum t (compensated), and sum i^k t for k = 1 .. kMoments (at most 3; the
// others stay 0), in plain sums: they serve as means and derivatives.
struct WalkSums {
  Sum total;
  double first = 0.0, second = 0.0, third = 0.0;
};

// Adds w(x)/w(ref) for x = from, from + step, ... up to `last` to *sums,
// where t = w(from)/w(ref) and step is +1 or -1, moving away from the mode
// of the weights (or from any table past which the neighbour ratios only
// fall), until the rest of sum t is below 2^-60 of a sum that is at least
// 1; with kMoments, the moments in steps from the start too (their
// remainders below 2^-60 times the k-th power of the steps to where the
// walk stops, plus a few standard deviations).
template <int kMoments>
void AddTail(const Weights& w, std::uint64_t from, int step, std::uint64_t last, double t,
             WalkSums* sums);

// P(x + step) / P(x), the hypergeometric ratio of neighbours (psi aside),
// as doubles: n1 n2 / (d1 d2), d1 = e1 + 1 and d2 = e2 + 1 (StepCellsAt).
// Below 2^53 the cells are exact doubles, and a step on in the same
// direction is Next(): exact too.
struct Neighbours {
  double n1, n2, d1, d2;
  double Ratio() const { return (n1 * n2) / (d1 * d2); }
  void Next() { n1 -= 1, n2 -= 1, d1 += 1, d2 += 1; }
};

inline Neighbours NeighboursAt(const Margins& m, std::uint64_t x, int step) {
  // As signed: every target converts those fast.
  auto cell = [](std::uint64_t v) { return static_cast<double>(static_cast<std::int64_t>(v)); };
  const StepCells s = StepCellsAt(m, x, step);
  return {cell(s.n1), cell(s.n2), cell(s.e1) + 1, cell(s.e2) + 1};
}

// w(x + step) / w(x) as a double.
double StepRatio(const Weights& w, std::uint64_t x, int step);

#endif  // FISHER2X2_ACCURATE_TAIL_SUM_H
