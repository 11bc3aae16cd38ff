// The accurate computation's p-values.
//
// 1. ln p0, the observed table's log-probability, in double-double, with a
//    proved error bound (log_probability.h).
// 2. The opposite tail's tables strictly less probable than the observed
//    one are x = x* + 1 .. a0 + b0; x* is found by a search whose every
//    decision is exact (Order). At most one table of the opposite tail can
//    be exactly as probable as the observed one: the ratio of neighbours
//    falls strictly along the tables, so equal probabilities come at most
//    in pairs, one on each side of the mode; on the observed side every
//    table is strictly less probable (the ratio into a0 is above 1).
// 3. Both tails are summed outward from their largest term, relative to p0
//    (tail_sum.h).
// 4. The other side, X >= a0, is 1 - P(X <= a0) + p0 in double-double: it
//    contains the median (a0 <= the mean, as a0 d0 <= b0 c0), so it is at
//    least about 1/2, and the absolute error of P(X <= a0) is relative to it.
#include "accurate/pvalues.h"

#include "accurate/exact_compare.h"
#include "common/orientation.h"
#include "classic/log_factorial.h"
#include "accurate/tail_sum.h"

namespace {

using dd::Add;
using dd::Sub;

// The order of the probability of table x of the opposite tail
// (a0 < x <= a0 + b0) against the observed one's: -1 below, 0 as probable,
// +1 above; its log-probability in *log where it was computed (*computed).
// Floating point decides outside the bounds of the two errors; inside,
// exact integer arithmetic, and a ratio too long to multiply out counts as a
// tie. Up to kMaxTotal a double decides first, most tables being far from a
// tie: the rough difference is within kRoughError + 2^-32 (log_p0's low
// part, |log_p0| < 2^21) + 2^-31 (its rounding) < 2^-27 of the accurate
// one, which is within 2^-65 of the true one, so beyond 2^-26 it decides as
// the accurate one would.
int OrderAgainstObserved(const Observed& o, std::uint64_t x, LogProbabilityBound* log, bool* computed) {
  *computed = false;
  if (o.m.small) {
    const double rough = RoughLogProbability(o.m, x) - o.log_p0.hi;
    if (rough < -0x1p-26) return -1;
    if (rough > 0x1p-26) return +1;
  }
  *computed = true;
  *log = LogProbability(o.m, x);
  const DD diff = Sub(log->value, o.log_p0);
  const double bound = log->error + o.log_p0_error;
  if (diff.hi < -bound) return -1;
  if (diff.hi > bound) return +1;
  const std::uint64_t k = x - o.a0;
  const int sign = o.m.small
                       ? CompareShifted(static_cast<int>(o.a0), static_cast<int>(o.b0),
                                        static_cast<int>(o.c0), static_cast<int>(o.d0), static_cast<int>(k))
                       : CompareShifted64(o.a0, o.b0, o.c0, o.d0, k);
  return sign == kUndecided ? 0 : sign;
}

}  // namespace

Observed::Observed(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  swapped = ProductGreater(a, d, b, c);
  Orient(a, b, c, d);
  a0 = a, b0 = b, c0 = c, d0 = d;
  // b0 = 0 leaves a0 d0 <= 0 with a0 <= d0: a0 = 0 too, and the first row
  // is empty. Its single table has probability 1.
  if (b == 0) return;
  MakeMargins(a, b, c, d, &m);
  const LogProbabilityBound l0 = LogProbability(m, a);
  log_p0 = l0.value;
  log_p0_error = l0.error;
}

TailSums SumTails(const Observed& o, bool opposite, bool other_side) {
  TailSums t{};
  if (o.b0 == 0) {
    t.lower.Add(1.0);
    t.both = t.lower;
    return t;
  }
  const std::uint64_t a = o.a0, b = o.b0;
  const Weights w{&o.m, a, o.log_p0};
  WalkSums sums;
  auto observed_side = [&]() {
    AddTail<0>(w, a, -1, 0, 1.0, &sums);
    t.lower = sums.total;
    t.both = t.lower;
    if (other_side) {
      t.p0 = dd::Exp(o.log_p0);
      t.upper = Add(Sub(DD(1.0), dd::Mul(t.p0, t.lower.Pair())), t.p0);
    }
  };
  if (!opposite) {
    observed_side();
    return t;
  }

  // x* = lo: not less (the observed table a0 to begin with); hi: less, or
  // one past the end. The probabilities are unimodal, so the tables less
  // probable than the observed one are those above x*. The search starts
  // from the mirror image of a0 about the mean and gallops, then bisects.
  std::uint64_t lo = a, hi = a + b + 1;
  int lo_order = 0;
  struct Probe {
    LogProbabilityBound log;
    bool computed;
  } at_hi{}, probe{};
  auto less = [&](std::uint64_t x) {
    const int order = OrderAgainstObserved(o, x, &probe.log, &probe.computed);
    if (order < 0) return true;
    lo_order = order;
    return false;
  };
  const double mean =
      static_cast<double>(o.m.r1) * static_cast<double>(o.m.c1) / static_cast<double>(o.m.n);
  const double guess = 2 * mean - static_cast<double>(a);
  std::uint64_t g = a + 1;
  if (guess >= static_cast<double>(a + b)) {
    g = a + b;
  } else if (guess > static_cast<double>(a + 1)) {
    g = static_cast<std::uint64_t>(guess);  // a starting point: any nearby table does
  }
  if (less(g)) {
    hi = g;
    at_hi = probe;
    for (std::uint64_t step = 1; step < g - lo; step *= 2) {
      const std::uint64_t y = g - step;
      if (!less(y)) {
        lo = y;
        break;
      }
      hi = y;
      at_hi = probe;
    }
  } else {
    lo = g;
    for (std::uint64_t step = 1; step < hi - g; step *= 2) {
      const std::uint64_t y = g + step;
      if (less(y)) {
        hi = y;
        at_hi = probe;
        break;
      }
      lo = y;
    }
  }
  // lo_order is the order of the last table found not less: lo's.
  int order_at_lo = lo > a ? lo_order : 1;
  while (hi - lo > 1) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (less(mid)) {
      hi = mid;
      at_hi = probe;
    } else {
      lo = mid;
      order_at_lo = lo_order;
    }
  }
  // The observed side's walk after the search, whose log-probabilities
  // need nothing from it: the processor computes them side by side.
  observed_side();
  t.tie = lo > a && order_at_lo == 0;
  if (hi == a + 1) {  // every table is included
    t.all_less = true;
    return t;
  }
  if (hi <= a + b) {
    sums.total = t.both;
    const DD log_hi = at_hi.computed ? at_hi.log.value : LogProbability(o.m, hi).value;
    AddTail<0>(w, hi, +1, a + b, dd::ExpToDouble(Sub(log_hi, o.log_p0)), &sums);
    t.both = sums.total;
  }
  return t;
}

bool NeedsOpposite(PValueKind kind) {
  return kind == PValueKind::kTwoTailed || kind == PValueKind::kTwoSided ||
         kind == PValueKind::kMidTwoSided;
}

PValueKind TestKind(Alternative alternative, bool one_tailed) {
  switch (alternative) {
    case Alternative::kLess:
      return PValueKind::kLess;
    case Alternative::kGreater:
      return PValueKind::kGreater;
    case Alternative::kTwoSided:
      return PValueKind::kTwoSided;
    case Alternative::kNone:
      break;
  }
  return one_tailed ? PValueKind::kObservedSide : PValueKind::kTwoTailed;
}

PValueKind MidKind(Alternative alternative) {
  return alternative == Alternative::kLess      ? PValueKind::kMidLess
         : alternative == Alternative::kGreater ? PValueKind::kMidGreater
                                                : PValueKind::kMidTwoSided;
}

bool NeedsOtherSide(PValueKind kind) {
  return !(kind == PValueKind::kObservedSide || kind == PValueKind::kTwoTailed ||
           kind == PValueKind::kTwoSided);
}

AccuratePValue PValueFromTails(const Observed& o, const TailSums& t, PValueKind kind) {
  using K = PValueKind;
  const bool mid = kind == K::kMidLess || kind == K::kMidGreater || kind == K::kMidTwoSided;
  if (o.b0 == 0) return mid ? AccuratePValue{DD(0.0), DD(0.5), false} : AccuratePValue{DD(0.0), DD(1.0), true};
  auto relative = [&](DD sum) { return AccuratePValue{o.log_p0, sum, false}; };
  auto absolute = [](DD value) { return AccuratePValue{DD(0.0), value, false}; };
  const DD lower = t.lower.Pair();
  const bool lower_is_less = !o.swapped;
  switch (kind) {
    case K::kObservedSide:
      return relative(lower);
    case K::kTwoTailed:
      return t.all_less ? AccuratePValue{DD(0.0), DD(1.0), true} : relative(t.both.Pair());
    case K::kLess:
    case K::kGreater:
      return (kind == K::kLess) == lower_is_less ? relative(lower) : absolute(t.upper);
    case K::kTwoSided:
      if (t.all_less) return {DD(0.0), DD(1.0), true};
      return relative(t.tie ? Add(t.both.Pair(), DD(1.0)) : t.both.Pair());
    case K::kCentral:
      if (Sub(dd::Mul(t.p0, lower), t.upper).hi <= 0) return relative(Add(lower, lower));
      return absolute(Add(t.upper, t.upper));
    case K::kMidLess:
    case K::kMidGreater:
      if ((kind == K::kMidLess) == lower_is_less) return relative(Sub(lower, DD(0.5)));
      return absolute(Sub(t.upper, dd::Mul(t.p0, DD(0.5))));
    case K::kMidTwoSided:
      if (t.all_less) return absolute(Sub(DD(1.0), dd::Mul(t.p0, DD(0.5))));
      return relative(Sub(t.both.Pair(), DD(t.tie ? 0.0 : 0.5)));
  }
  return relative(lower);
}

AccuratePValue AccurateTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                            bool one_tailed) {
  const Observed o(a, b, c, d);
  const PValueKind kind = one_tailed ? PValueKind::kObservedSide : PValueKind::kTwoTailed;
  return PValueFromTails(o, SumTails(o, !one_tailed, false), kind);
}

DD LogPValue(const AccuratePValue& p) {
  if (p.whole) return DD(0.0);
  const DD l = Add(p.log_p0, dd::Log(p.sum));
  return l.hi > 0 ? DD(0.0) : l;
}

double PValue(const AccuratePValue& p) {
  if (p.whole) return 1.0;
  double v;
  if (p.log_p0.hi > -650) {
    v = dd::ExpToDouble(p.log_p0) * (p.sum.hi + p.sum.lo);
  } else if (p.log_p0.hi < -800) {
    v = 0.0;  // the sum is below 2^64: p < e^-755
  } else {
    v = dd::ExpToDouble(LogPValue(p));
  }
  return v > 1.0 ? 1.0 : v;
}
