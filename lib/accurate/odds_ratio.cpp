// The odds ratio: the sample ratio in integers, the estimate and the
// confidence bounds as roots in t = ln psi.
//
// Everything is computed in the orientation of Orient, where X runs from 0
// to a0 + b0 (exchanging the columns turns psi into 1/psi and X into r1 - X;
// the other exchanges keep both). At t, the weights w(x) = P(x) e^(t x) are
// summed outward from their mode by the walks of the p-values (tail_sum.h):
//   S0 = sum w / w(m),  Mk = sum (x - m)^k w / w(m),  k = 1, 2, 3:
// the mean m + M1/S0, and its derivatives in t, the variance and the third
// central moment. A tail of a0, P(X >= a0) or P(X <= a0), is summed from a0
// away from the mode, so that it keeps its relative accuracy however small
// it is; where it holds the mode, it is S0 less the other side. Its
// logarithm's derivatives in t are the tail's conditional mean less the
// mean, and its conditional variance less the variance.
//
// Each root is found by Halley's method on t (Solve), the estimate from the
// log odds ratio with a half added to each cell, the bounds from the
// estimate; safeguarded by the bracket that the signs seen so far give
// (bisection where a step would leave it, doubling steps until it closes).
// It stops once a step is below 2^-40, or below 2^-20 with a Newton step's
// predicted successor below 2^-46; the error left is that and the error of
// the sums, whose terms are each within 6e-13 relative: the estimate and
// the bounds, e^t, come out within about 1e-12 relative (measured against
// 256-bit arithmetic: 5e-13 at worst), far inside 1e-10.
#include "accurate/odds_ratio.h"

#include <cmath>
#include <limits>

#include "accurate/root_search.h"
#include "accurate/tail_sum.h"
#include "arith/uint128.h"

namespace {

using dd::LogToDouble;

// --- The sample odds ratio -------------------------------------------------

// num / den rounded to nearest, ties to even, for 0 < num, den < 2^127:
// the quotient's first 54 bits by long division, the rest as a sticky bit.
double Quotient(U128 num, U128 den) {
  const int e = BitLength(num) - BitLength(den);
  U128 n = e < 0 ? ShiftLeft(num, -e) : num;
  const U128 d = e > 0 ? ShiftLeft(den, e) : den;
  int exponent = e;  // num / den = n / d * 2^exponent
  if (Compare(n, d) < 0) {
    n = ShiftLeft(n, 1);  // n < d < 2^127
    --exponent;
  }
  std::uint64_t q = 0;  // 1 <= n / d < 2, bit by bit
  for (int i = 0; i < 54; ++i) {
    q <<= 1;
    if (Compare(n, d) >= 0) {
      n = Minus(n, d);
      q |= 1;
    }
    n = ShiftLeft(n, 1);
  }
  std::uint64_t m = q >> 1;  // 53 bits, the round bit in q & 1
  if ((q & 1) != 0 && (!IsZero(n) || (m & 1) != 0)) ++m;
  return dd::Scale(DD(static_cast<double>(m)), exponent - 52).hi;
}

// --- The noncentral sums ---------------------------------------------------

double Signed(std::uint64_t x, std::uint64_t y) {  // x - y
  return x >= y ? static_cast<double>(x - y) : -static_cast<double>(y - x);
}

double Count(std::uint64_t v) { return static_cast<double>(v); }

// The weights at t, relative to the observed table.
Weights WeightsAt(const Observed& o, double t) {
  Weights w{&o.m, o.a0, o.log_p0};
  w.log_psi = t;
  w.psi = dd::ExpToDouble(DD(t));
  w.inv_psi = 1 / w.psi;
  return w;
}

// The mode of the weights, or a table next to it: where the ratio
// w(x+1)/w(x) = psi (r1 - x)(c1 - x) / ((x + 1)(x + 1 + r2 - c1)) passes 1,
// the root of a quadratic (taken in the form that does not cancel), then
// moved while a neighbour is heavier.
std::uint64_t Mode(const Observed& o, const Weights& w) {
  const std::uint64_t last = o.a0 + o.b0;
  const double r1 = Count(o.m.r1), c1 = Count(o.m.c1), e = Count(o.d0 - o.a0) + 1;
  double qa, qb, qc;  // qa x^2 + qb x + qc = 0, qb < 0
  if (w.psi <= 1) {
    qa = w.psi - 1, qb = -(w.psi * (r1 + c1) + e + 1), qc = w.psi * r1 * c1 - e;
  } else {
    qa = 1 - w.inv_psi, qb = -((r1 + c1) + (e + 1) * w.inv_psi), qc = r1 * c1 - e * w.inv_psi;
  }
  const double disc = qb * qb - 4 * qa * qc;
  const double root = 2 * qc / (-qb + std::sqrt(disc > 0 ? disc : 0));
  std::uint64_t m = o.a0;
  if (root == root) {  // not NaN
    const double above = std::floor(root) + 1;
    m = above <= 0 ? 0 : above >= Count(last) ? last : static_cast<std::uint64_t>(above);
  }
  for (int i = 0; i < 2 && m < last && StepRatio(w, m, +1) > 1; ++i) ++m;
  for (int i = 0; i < 2 && m > 0 && StepRatio(w, m, -1) > 1; ++i) --m;
  return m;
}

// The sums over all tables at t, in three walks away from the mode m: from
// a0, in the direction `away` (relative to w(a0)); from m towards a0, short
// of it; from m's other neighbour to the other end (relative to w(m)). A
// tail of a0 so keeps its relative accuracy however small it is.
struct AtPsi {
  std::uint64_t m;
  int away;
  DD log_mode;        // ln(w(m) / w(a0))
  double r;           // w(a0) / w(m)
  double s0, m1, m2, m3;  // as above, and the third moment, about m
  double t0, t1, t2;  // the walk from a0: sum i^k w / w(a0), i = |x - a0|
  double u;           // the other two walks' sum w / w(m): the mode's side, short of a0
};

// `side`: the walk from a0 goes that way where the mode allows, else the
// other; 0 for the way away from the mode.
template <int kMoments>
AtPsi SumAt(const Observed& o, const Weights& w, int side) {
  AtPsi r{};
  r.m = Mode(o, w);
  const std::uint64_t m = r.m, a0 = o.a0, last = o.a0 + o.b0;
  if (side == 0) side = a0 >= m ? +1 : -1;
  r.away = (side > 0 ? m <= a0 : m >= a0) ? side : -side;
  const int away = r.away;
  const Weights at_mode{w.m, m, LogProbability(o.m, m).value, w.log_psi, w.psi, w.inv_psi, w.log_psi_lo};
  r.log_mode = RelativeLog(w, m, at_mode.log_ref);
  r.r = dd::ExpToDouble(dd::Neg(r.log_mode));
  auto end = [&](int direction) { return direction > 0 ? last : std::uint64_t{0}; };
  WalkSums from_a0, towards, other;
  AddTail<kMoments>(w, a0, away, end(away), 1.0, &from_a0);
  if (m != a0) AddTail<kMoments>(at_mode, m, away, away > 0 ? a0 - 1 : a0 + 1, 1.0, &towards);
  if (m != end(-away)) {
    const std::uint64_t next = away > 0 ? m - 1 : m + 1;
    AddTail<kMoments>(at_mode, next, -away, end(-away), StepRatio(at_mode, m, -away), &other);
  }
  double v[3][4];
  const WalkSums* const walks[3] = {&from_a0, &towards, &other};
  for (int j = 0; j < 3; ++j) {
    v[j][0] = walks[j]->total.Value(), v[j][1] = walks[j]->first, v[j][2] = walks[j]->second;
    v[j][3] = walks[j]->third;
  }
  // x - m: away i on the walk towards a0, -away (i + 1) on the other,
  // (a0 - m) + away i on the walk from a0.
  const double shift = Signed(a0, m);
  r.s0 = (v[1][0] + v[2][0]) + r.r * v[0][0];
  r.m1 = away * (v[1][1] - (v[2][1] + v[2][0])) + r.r * (shift * v[0][0] + away * v[0][1]);
  r.m2 = (v[1][2] + (v[2][2] + (2 * v[2][1] + v[2][0]))) +
         r.r * (shift * (shift * v[0][0] + 2 * away * v[0][1]) + v[0][2]);
  r.m3 = away * (v[1][3] - (v[2][3] + 3 * (v[2][2] + v[2][1]) + v[2][0])) +
         r.r * (shift * (shift * (shift * v[0][0] + 3 * away * v[0][1]) + 3 * v[0][2]) + away * v[0][3]);
  r.t0 = v[0][0];
  r.t1 = v[0][1];
  r.t2 = v[0][2];
  r.u = v[1][0] + v[2][0];
  return r;
}

// f(t) = mean - a0, and its first two derivatives: the variance and the
// third central moment.
void MeanEquation(const Observed& o, double t, double* value, double* slope, double* curve) {
  const Weights w = WeightsAt(o, t);
  const AtPsi s = SumAt<3>(o, w, 0);
  const double mean = s.m1 / s.s0, second = s.m2 / s.s0;  // about m
  *value = Signed(s.m, o.a0) + mean;
  *slope = second - mean * mean;
  *curve = s.m3 / s.s0 - mean * (3 * second - 2 * mean * mean);
}

// ln P(X >= a0) (side +1) or ln P(X <= a0) (side -1) at t, and its first
// two derivatives: the tail's conditional mean less the mean, and its
// conditional variance less the variance.
void TailEquation(const Observed& o, int side, double t, double* value, double* slope, double* curve) {
  const Weights w = WeightsAt(o, t);
  const AtPsi s = SumAt<2>(o, w, side);
  const double shift = Signed(o.a0, s.m), mean = s.m1 / s.s0;  // means less m
  const double variance = s.m2 / s.s0 - mean * mean;
  if (s.away == side) {  // the walk from a0 is the tail
    const double first = s.t1 / s.t0;  // steps from a0
    *value = LogToDouble(s.t0 / s.s0) - (s.log_mode.hi + s.log_mode.lo);
    *slope = shift + side * first - mean;
    *curve = (s.t2 / s.t0 - first * first) - variance;
    return;
  }
  // The tail holds the mode: all less the walk from a0 beyond a0.
  const double mass = s.s0 - s.r * (s.t0 - 1);
  const double first = s.m1 - s.r * (shift * (s.t0 - 1) + s.away * s.t1);
  const double second = s.m2 - s.r * (shift * (shift * (s.t0 - 1) + 2 * s.away * s.t1) + s.t2);
  *value = LogToDouble(mass / s.s0);
  *slope = first / mass - mean;
  *curve = (second / mass - (first / mass) * (first / mass)) - variance;
}

// Starting points: the log odds ratio with a half added to each cell, and
// its usual standard error.
double LogOddsStart(const Observed& o) {
  const double a = Count(o.a0) + 0.5, b = Count(o.b0) + 0.5, c = Count(o.c0) + 0.5, d = Count(o.d0) + 0.5;
  return LogToDouble(a * d / (b * c));
}

double StandardError(const Observed& o) {
  return std::sqrt(1 / (Count(o.a0) + 0.5) + 1 / (Count(o.b0) + 0.5) + 1 / (Count(o.c0) + 0.5) +
                   1 / (Count(o.d0) + 0.5));
}

double PsiOf(const Observed& o, double t) { return dd::ExpToDouble(DD(o.swapped ? -t : t)); }

}  // namespace

double SampleOddsRatio(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  const U128 num = Mul64(a, d), den = Mul64(b, c);
  const bool zero_num = num.hi == 0 && num.lo == 0, zero_den = den.hi == 0 && den.lo == 0;
  if (zero_den) return zero_num ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
  if (zero_num) return 0.0;
  // Products below 2^53 are exact doubles, and their quotient is rounded once.
  constexpr std::uint64_t kExact = std::uint64_t{1} << 53;
  if (num.hi == 0 && den.hi == 0 && num.lo <= kExact && den.lo <= kExact) {
    return static_cast<double>(num.lo) / static_cast<double>(den.lo);
  }
  return Quotient(num, den);
}

Estimate EstimateOddsRatio(const Observed& o) {
  Estimate e{};
  // a0 <= d0 and b0 > 0: only a0 can sit at an end, the smallest.
  e.interior = o.b0 > 0 && o.a0 > 0;
  if (!e.interior) return e;
  e.log_psi = Solve([&](double u, double* v, double* s, double* c) { MeanEquation(o, u, v, s, c); },
                    LogOddsStart(o), &e.variance);
  return e;
}

double ConditionalOddsRatio(const Observed& o, const Estimate& e) {
  if (o.b0 == 0) return std::numeric_limits<double>::quiet_NaN();
  if (!e.interior) return o.swapped ? std::numeric_limits<double>::infinity() : 0.0;
  return PsiOf(o, e.log_psi);
}

double OddsRatioBound(const Observed& o, const Estimate& e, Bound which, double alpha) {
  // In the orientation, the bound's tail of a0 and its end of the support.
  const int side = (which == Bound::kLower) != o.swapped ? +1 : -1;
  const bool at_end = side > 0 ? o.a0 == 0 : o.a0 == o.a0 + o.b0;
  if (at_end) return which == Bound::kLower ? 0.0 : std::numeric_limits<double>::infinity();
  const double log_alpha = LogToDouble(alpha);
  // P(X >= a0) rises with t, P(X <= a0) falls. From the estimate, where X
  // has mean a0 and variance V, the bound moves the mean by z sqrt(V) and a
  // half (the continuity correction), about (z sqrt(V) + 1/2) / V in t;
  // without it, from the log odds ratio and its usual standard error.
  const double z = NormalQuantile(alpha);
  const double start = e.interior && e.variance > 0
                           ? e.log_psi - side * (z * std::sqrt(e.variance) + 0.5) / e.variance
                           : LogOddsStart(o) - side * z * StandardError(o);
  const double t = Solve(
      [&](double u, double* v, double* s, double* c) {
        TailEquation(o, side, u, v, s, c);
        *v = side * (*v - log_alpha);
        *s *= side;
        *c *= side;
      },
      start);
  return PsiOf(o, t);
}

double ConditionalOddsRatio(const Observed& o) { return ConditionalOddsRatio(o, EstimateOddsRatio(o)); }

double OddsRatioBound(const Observed& o, Bound which, double alpha) {
  return OddsRatioBound(o, EstimateOddsRatio(o), which, alpha);
}

Interval IntervalOf(Alternative alternative) {
  return alternative == Alternative::kLess      ? Interval::kUpperOnly
         : alternative == Alternative::kGreater ? Interval::kLowerOnly
                                                : Interval::kTwoSided;
}

double IntervalBound(const Observed& o, const Estimate& e, Bound which, Interval interval, double level) {
  const double alpha = 1 - level;
  switch (interval) {
    case Interval::kUpperOnly:
      return which == Bound::kLower ? 0.0 : OddsRatioBound(o, e, which, alpha);
    case Interval::kLowerOnly:
      return which == Bound::kUpper ? std::numeric_limits<double>::infinity() : OddsRatioBound(o, e, which, alpha);
    case Interval::kTwoSided:
      break;
  }
  return OddsRatioBound(o, e, which, alpha / 2);
}

// --- The p-values under a null odds ratio ----------------------------------
//
// At psi0 the weights w(x) = P(x) psi0^x are summed in the three walks of
// SumAt, away from their mode m: from a0 away from m (the tail of a0 on that
// side, `away`), and the mode's side short of a0. Each tail is a sum of
// terms that are all positive, relative to its largest, so none cancels:
//   P(away tail) = A P(a0), A = sum w / w(a0) from a0 outward,
//   P(mode's side, a0 included) = (u + r) / S,
// with S = u + r A = sum w / w(m), r = w(a0) / w(m) and P(a0) = r / S,
// carried as logarithms (r may underflow). The distribution is unimodal
// (the ratio of neighbours falls strictly), so the tables at most as
// probable as a0 are the away tail and the far tail beyond the mode, from
// the first table there whose weight is at most w(a0); that edge is found
// by a search whose decisions count a table as tied with a0 where the two
// log-weights lie within their proven error E (NullTie below).

namespace {

// The error of ln(w(x)/w(a0)) as RelativeLog forms it: the two
// log-probabilities' proven bounds, and the shift (x - a0) ln psi0, whose
// logarithm is within 2^-100 max(1, |ln psi0|) and whose product and sum
// round within 2^-102 and 2^-104 relative: below 2^-96 (1 + k (1 + |t|))
// with k = |x - a0|, t = ln psi0, for all k below 2^63.
double NullTie(const Observed& o, const LogProbabilityBound& lp, std::uint64_t k, double t) {
  return lp.error + o.log_p0_error + 0x1p-96 * (1 + static_cast<double>(k) * (1 + std::fabs(t)));
}

}  // namespace

NullTails NullTailSums(const Observed& o, double null_or) {
  NullTails n{};
  DD t = dd::Log(DD(null_or));
  if (o.swapped) t = dd::Neg(t);
  Weights w = WeightsAt(o, t.hi);
  w.log_psi_lo = t.lo;
  const AtPsi s = SumAt<0>(o, w, 0);
  const std::uint64_t a0 = o.a0, last = o.a0 + o.b0, m = s.m;
  const int away = s.away;
  const DD log_s = dd::Log(DD(s.s0));
  n.log_unit = dd::Neg(dd::Add(s.log_mode, log_s));
  n.away = away;
  n.away_tail = DD(s.t0);
  n.log_mode_side = dd::Neg(log_s);
  n.mode_side = dd::Add(DD(s.u), DD(s.r));
  n.r = s.r;
  // The tail away from the mode is all there is past a0, or nothing.
  const std::uint64_t away_end = away > 0 ? last : 0;
  n.mode_side_whole = a0 == away_end;
  // The far tail: from the mode (or past it, where it is a0) away from a0.
  const int dir = -away;
  const std::uint64_t far_end = dir > 0 ? last : 0;
  n.away_whole = m == a0 && a0 == far_end;
  n.two_sided = n.away_tail;
  n.tied = DD(1.0);
  // Where a0 is a mode, its neighbour away from the far side may be one
  // too, exactly as probable: in the away tail, and tied.
  if (m == a0 && a0 != away_end) {
    const std::uint64_t x = away > 0 ? a0 + 1 : a0 - 1;
    const LogProbabilityBound lp = LogProbability(o.m, x);
    const DD rel = RelativeLog(w, x, lp.value);
    const double error = NullTie(o, lp, 1, t.hi);
    if (rel.hi >= -error && rel.hi <= error) n.tied = dd::Add(n.tied, DD(dd::ExpToDouble(rel)));
  }
  if (m == a0 && a0 == far_end) {
    n.two_sided_whole = true;
    return n;
  }
  const std::uint64_t start = m == a0 ? (dir > 0 ? m + 1 : m - 1) : m;
  const std::uint64_t length = dir > 0 ? far_end - start : start - far_end;  // tables after start
  auto at = [&](std::uint64_t j) { return dir > 0 ? start + j : start - j; };
  struct Probe {
    DD rel;
    bool counted, tied;
  };
  auto probe = [&](std::uint64_t j) {
    const std::uint64_t x = at(j);
    const LogProbabilityBound lp = LogProbability(o.m, x);
    const DD rel = RelativeLog(w, x, lp.value);
    const double error = NullTie(o, lp, x > a0 ? x - a0 : a0 - x, t.hi);
    return Probe{rel, rel.hi <= error, rel.hi >= -error && rel.hi <= error};
  };
  // The first j whose table is counted: galloping from the start, then
  // bisecting; the weights fall along j.
  Probe edge = probe(0);
  std::uint64_t j = 0;
  if (!edge.counted) {
    std::uint64_t lo = 0, hi = length + 1;  // lo not counted; hi counted, or past the end
    for (std::uint64_t step = 1; step <= length; step *= 2) {
      if (probe(step).counted) {
        hi = step;
        break;
      }
      lo = step;
      if (step > length / 2) break;
    }
    while (hi - lo > 1) {
      const std::uint64_t mid = lo + (hi - lo) / 2;
      if (probe(mid).counted) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    j = hi;
    if (j > length) return n;  // no table past the mode is as improbable
    edge = probe(j);
  }
  const double first = dd::ExpToDouble(edge.rel);
  WalkSums far;
  AddTail<0>(w, at(j), dir, far_end, first, &far);
  n.two_sided = dd::Add(n.away_tail, far.total.Pair());
  if (edge.tied) n.tied = dd::Add(n.tied, DD(first));
  // Every table counted: none lies between a0 and the edge.
  n.two_sided_whole = j == 0 && (m == a0 || (a0 > m ? a0 - m : m - a0) == 1);
  return n;
}

AccuratePValue NullPValue(const Observed& o, const NullTails& n, PValueKind kind) {
  using K = PValueKind;
  const AccuratePValue kOne{DD(0.0), DD(1.0), true};
  if (o.b0 == 0) return kind == K::kMidLess || kind == K::kMidGreater || kind == K::kMidTwoSided
                            ? AccuratePValue{DD(0.0), DD(0.5), false}
                            : kOne;
  const AccuratePValue away{n.log_unit, n.away_tail, n.away_whole};
  const AccuratePValue mode_side{n.log_mode_side, n.mode_side, n.mode_side_whole};
  // In the orientation the lower tail is X <= a0; it is P(X <= a) of the
  // table given unless the columns were exchanged.
  const bool away_is_lower = n.away < 0;
  const bool away_is_less = away_is_lower != o.swapped;
  // A tail less half the observed table's probability.
  auto half_off = [&](bool is_away) {
    if (is_away) return AccuratePValue{n.log_unit, dd::Sub(n.away_tail, DD(0.5)), false};
    return AccuratePValue{n.log_mode_side, dd::Sub(n.mode_side, DD(0.5 * n.r)), false};
  };
  switch (kind) {
    case K::kLess:
      return away_is_less ? away : mode_side;
    case K::kGreater:
      return away_is_less ? mode_side : away;
    case K::kTwoSided:
      return n.two_sided_whole ? kOne : AccuratePValue{n.log_unit, n.two_sided, false};
    case K::kCentral: {
      const bool away_smaller = dd::Sub(LogPValue(away), LogPValue(mode_side)).hi <= 0;
      const AccuratePValue& smaller = away_smaller ? away : mode_side;
      if (smaller.whole) return kOne;
      return AccuratePValue{smaller.log_p0, dd::Add(smaller.sum, smaller.sum), false};
    }
    case K::kMidLess:
      return half_off(away_is_less);
    case K::kMidGreater:
      return half_off(!away_is_less);
    case K::kMidTwoSided:
      return AccuratePValue{n.log_unit, dd::Sub(n.two_sided, dd::Mul(n.tied, DD(0.5))), false};
    default:
      break;
  }
  return away;
}
