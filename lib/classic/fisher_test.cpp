// The classic engine: table probability and tail sums.
#include "classic/fisher_test.h"

#include <cfloat>
#include <cmath>

// Every double operation must round as a double: no excess precision (x87
// arithmetic on 32-bit x86 needs -msse2 -mfpmath=sse).
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "doubles must be evaluated as doubles (FLT_EVAL_METHOD 0)"
#endif

#include "accurate/exact_compare.h"
#include "arith/extended.h"

namespace {

// The log-probability of a table is a sum of nine table entries, carried in
// Extended in a fixed order and rounded to double once: the four margins are
// added, then the total and the four cells subtracted. The first five terms
// are the same for every table of a walk, and so is their running sum, bit
// for bit; it is formed once per walk.
Extended MarginTerms(int a, int b, int c, int d) {
  const double* const L = LogFactorial;
  Extended x(L[a + b]);
  x += L[c + d];
  x += L[a + c];
  x += L[b + d];
  x -= L[a + b + c + d];
  return x;
}

double CellTerms(Extended x, int a, int b, int c, int d) {
  const double* const L = LogFactorial;
  x -= L[a];
  x -= L[b];
  x -= L[c];
  x -= L[d];
  return static_cast<double>(x);
}

// Tables more than this many nats less probable than the observed one cannot
// change the p-value, and the walks pass over them without exponentials.
//
// The sum S is at least p0 = exp(x0) and starts there. A table with computed
// log-probability x <= x0 - 40 has probability below p0 * e^-40 * (1 + 2^-51)
// < p0 * 2^-54 <= ulp(S) / 2, so adding it rounds back to S exactly; it is
// also strictly below p0, so the opposite walk would not stop there either.
// Skipping it leaves every bit of the result as it was.
//
// The walks also skip whole runs of such tables, which rests on the exact
// probabilities being monotone along them: along the observed-side walk they
// fall, and along the opposite walk they rise from the extreme to the mode.
// A computed log-probability differs from the exact one by less than 3e-5
// (50000 fill roundings of at most 2^-34 each, in nine entries), so a table
// beyond the first negligible one is below x0 - 40 + 6e-5: still negligible
// with a margin of more than two nats.
constexpr double kNegligibleNats = 40.0;

// Below this p0 the products above would reach subnormal numbers, whose
// relative precision is worse; such tables are walked in full.
constexpr double kTrimFloor = 1e-250;

}  // namespace

double LogProbability(int a, int b, int c, int d) {
  return CellTerms(MarginTerms(a, b, c, d), a, b, c, d);
}

double FisherSub(int a, int b, int c, int d) {
  return std::exp(LogProbability(a, b, c, d));
}

double FisherTest(int a, int b, int c, int d, int test) {
  // Products stay below 2^31 for totals up to kMaxTotal.
  Orient(a, b, c, d);
  const int a0 = a;
  const int b0 = b;
  const int c0 = c;
  const int d0 = d;

  const Extended margins = MarginTerms(a0, b0, c0, d0);
  const double x0 = CellTerms(margins, a0, b0, c0, d0);
  const double p0 = std::exp(x0);
  const bool trim = p0 >= kTrimFloor;
  const double negligible = x0 - kNegligibleNats;

  // Observed-side tail: from the observed table towards a = 0, each table
  // less probable than the one before.
  double sum = p0;
  for (int k = 1; k <= a0; ++k) {
    const double x = CellTerms(margins, a0 - k, b0 + k, c0 + k, d0 - k);
    if (trim && x < negligible) break;  // and so are all that follow
    sum += std::exp(x);
  }
  // Nothing is strictly less probable than an observed table whose
  // probability underflows to 0.
  if (test == 1 || p0 == 0.0) return sum;

  // Opposite tail, T(j) = (a0+b0-j, j, c0-b0+j, d0+b0-j) from its extreme
  // (j = 0) inwards, while strictly less probable than the observed table
  // and short of it (T(b0) is the observed table). A leading run of
  // negligible tables is found by bisection and passed over: T(lo) is
  // negligible and T(hi) is not, hi = b0 at worst.
  auto opposite = [&](int j) {
    return CellTerms(margins, a0 + b0 - j, j, c0 - b0 + j, d0 + b0 - j);
  };
  int j = 0;
  if (trim && opposite(0) < negligible) {
    int lo = 0, hi = b0;
    while (hi - lo > 1) {
      const int mid = lo + (hi - lo) / 2;
      if (opposite(mid) < negligible) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    j = hi;
  }
  // "Strictly less probable" is decided by comparing the exponentials, except
  // where the two log-probabilities are too close for their roundings to
  // settle the order: there integer arithmetic decides, and an exact tie
  // stops the walk like a larger table.
  for (; j < b0; ++j) {
    const double x = opposite(j);
    if (std::fabs(x - x0) <= kTieWindow) {
      if (CompareShifted(a0, b0, c0, d0, b0 - j) >= 0) break;
      sum += std::exp(x);
    } else {
      const double q = std::exp(x);
      if (!(q < p0)) break;
      sum += q;
    }
  }
  return sum;
}
