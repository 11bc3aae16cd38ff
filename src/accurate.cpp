// The accurate computation for tables of every size.
//
// With the margins fixed, the tables are indexed by their cell a = x, from
// 0 to a0 + b0 once the table is oriented (Orient): the observed-side tail
// is x = 0 .. a0, the opposite tail x = a0+1 .. a0+b0. The probabilities
// are unimodal in x, with the mode at x >= a0.
//
// 1. ln p0, the observed table's log-probability, in double-double: from a
//    table of ln k! in double-double for totals up to kMaxTotal, and beyond
//    from the saddle-point form (Loader), in which no term is larger than
//    the result needs:
//      ln P = -sum over cells of bd0(cell, expected) + sum +- h(n),
//      bd0(x, m) = x ln(x/m) + m - x,  h(n) = ln n! - n ln n + n,
//    the h terms over the four margins (+), the total and the cells (-).
// 2. The opposite tail's tables strictly less probable than the observed
//    one are x = x* + 1 .. a0 + b0; x* is found by a search whose every
//    decision is exact (Less).
// 3. Both tails are summed outward from their largest term, relative to p0,
//    each term from its neighbour by the ratio of their probabilities and
//    anew from its log-probability every few hundred tables (AnchorSteps),
//    until what is left cannot change the sum (kNegligible).
#include "accurate.h"

#include <cmath>

#include "exact_compare.h"
#include "exact_test.h"
#include "uint128.h"

namespace {

using dd::Add;
using dd::Div;
using dd::FromUint64;
using dd::Log;
using dd::Mul;
using dd::Sub;

// --- Totals up to kMaxTotal: ln k! in double-double ------------------------

// ln k! for k = 0 .. lf_filled, each entry the one before plus Log(k).
DD log_factorial[kMaxTotal + 1];
int lf_filled = 0;

void FillLogFactorials(int n) {
  for (int k = lf_filled + 1; k <= n; ++k) {
    log_factorial[k] = Add(log_factorial[k - 1], Log(DD(static_cast<double>(k))));
  }
  if (n > lf_filled) lf_filled = n;
}

// The error of a log-probability from the table. Log(k) is within
// 2^-100 * ln k (< 2^-96.4 below 50001) of ln k, and each addition adds at
// most 2^-104 * ln k! (< 2^-85.1, ln 50000! < 2^18.91); so entry k is off by
// less than k * (2^-96.4 + 2^-85.1) < 2^-69.4 for k <= 50000. Nine entries
// and eight additions of sums below 2^22.1: less than 2^-66.2 + 2^-81.
constexpr double kTableError = 0x1p-66;

// --- Totals beyond: the saddle-point form ------------------------------------

// h(n) = ln n! - n ln n + n for n < 64, in double-double.
DD small_h[64];
bool small_h_ready = false;

void FillSmallH() {
  DD log_fact(0.0);
  for (int n = 1; n < 64; ++n) {
    const DD log_n = Log(DD(static_cast<double>(n)));
    log_fact = Add(log_fact, log_n);
    small_h[n] = Add(Sub(log_fact, Mul(DD(static_cast<double>(n)), log_n)), DD(static_cast<double>(n)));
  }
  small_h_ready = true;
}

constexpr DD kInv12 = dd::Div(DD(1.0), DD(12.0));
constexpr DD kInv360 = dd::Div(DD(1.0), DD(360.0));
constexpr DD kInv1260 = dd::Div(DD(1.0), DD(1260.0));

// h(n) - ln(2 pi n)/2, Stirling's series, for n >= 64:
//   1/12n - 1/360n^3 + 1/1260n^5 - 1/1680n^7 + 1/1188n^9 - 691/360360n^11
//   + 1/156n^13 - 3617/122400n^15,
// the first omitted term below 2^-104 at n = 64. The terms a double would
// round by more than 2^-100 are double-doubles: the first three below 2^12,
// the first alone from there (1/360n^3 < 2^-44.5, rounded by < 2^-97.5 of
// the first term).
DD StirlingError(std::uint64_t n) {
  // 1/n: the double quotient and one correction, e = 1 - n y0 formed
  // exactly (TwoProd), so y is within 2^-104 of 1/n.
  const DD nd = FromUint64(n);
  const double y0 = 1.0 / nd.hi;
  const DD p = dd::TwoProd(nd.hi, y0);
  const double e = ((1.0 - p.hi) - p.lo) - nd.lo * y0;
  const DD y = dd::QuickTwoSum(y0, y0 * e);
  if (n >= 4096) {
    const double w = y.hi * y.hi;
    const double rest = w * (1.0 / 360 - w * (1.0 / 1260 - w * (1.0 / 1680)));
    return Mul(y, Sub(kInv12, DD(rest)));
  }
  const DD y2 = Mul(y, y);
  const double w = y2.hi;
  const double tail =
      1.0 / 1680 - w * (1.0 / 1188 - w * (691.0 / 360360 - w * (1.0 / 156 - w * (3617.0 / 122400))));
  DD s = Sub(kInv1260, Mul(y2, DD(tail)));
  s = Sub(kInv360, Mul(y2, s));
  s = Sub(kInv12, Mul(y2, s));
  return Mul(y, s);
}

// G(w) = 1/3 + w/5 + w^2/7 + ... for w <= 2^-12: four double-double terms and
// a double tail from w^4/11 (below 2^-51) to w^7/17; the omitted terms are
// below 2^-97 of G.
constexpr DD kInv5 = dd::Div(DD(1.0), DD(5.0));
constexpr DD kInv7 = dd::Div(DD(1.0), DD(7.0));
constexpr DD kInv9 = dd::Div(DD(1.0), DD(9.0));
constexpr DD kInv3 = dd::Div(DD(1.0), DD(3.0));

// bd0(x, m) = x ln(x/m) + m - x >= 0, with delta = x - m given exactly
// enough. With s = x + m and v = delta / s,
//   bd0 = delta v + 2 x v^3 G(v^2),
// summed as it stands where |v| <= 2^-6; otherwise x ln(x/m) - delta, whose
// two terms cancel by at most a factor 2^7 there. (Where a rough v, from
// doubles, already lies beyond 2^-6 by more than its rounding, the far form
// is taken at once; either form holds near the boundary.)
constexpr double kSeriesLimit = 1.0 / 64;                    // |v| for the series
constexpr double kRoughLimit = kSeriesLimit * (1 + 1.0 / 256);  // and its rough form

DD Bd0(std::uint64_t x, DD m, DD delta) {
  if (x == 0) return m;
  const DD xd = FromUint64(x);
  // |v| from doubles first: the far form needs no v.
  const double rough = delta.hi / (xd.hi + m.hi);
  if (rough <= kRoughLimit && rough >= -kRoughLimit) {
    const DD v = Div(delta, Add(xd, m));
    if (v.hi <= kSeriesLimit && v.hi >= -kSeriesLimit) {
      const DD w = Mul(v, v);
      const double h = w.hi;
      const double tail = 1.0 / 11 + h * (1.0 / 13 + h * (1.0 / 15 + h * (1.0 / 17)));
      DD g = Add(kInv9, Mul(w, DD(tail)));
      g = Add(kInv7, Mul(w, g));
      g = Add(kInv5, Mul(w, g));
      g = Add(kInv3, Mul(w, g));
      const DD cubic = Mul(Mul(Mul(xd, v), w), g);
      return Add(Mul(delta, v), Add(cubic, cubic));
    }
  }
  return Sub(Mul(xd, Log(Div(xd, m))), delta);
}

// --- The margins, and the log-probability of any table with them ---------

struct Margins {
  std::uint64_t r1, r2, c1, c2, n;
  bool small;       // n <= kMaxTotal: from the table of ln k!
  DD margin_terms;  // then the margins' entries less the total's
  DD total;         // n
  DD expected[4];   // of the cells a, b, c, d: r1 c1 / n, r1 c2 / n, r2 c1 / n, r2 c2 / n
  U128 r1c1;        // r1 c1
  // The h terms of the margins and the total (see HTerm), the same for
  // every table with these margins.
  DD margin_h, margin_up, margin_down;
  int margin_count;
};

// Adds sign * h(v) to *h: from the table below 64; above, Stirling's series
// into *h, ln v / 2 gathered as a factor of *up (plus) or *down (minus), and
// ln(2 pi)/2 counted in *count.
void HTerm(std::uint64_t v, bool plus, DD* h, DD* up, DD* down, int* count) {
  if (v == 0) return;
  DD term;
  if (v < 64) {
    term = small_h[v];
  } else {
    term = StirlingError(v);
    if (plus) {
      *up = Mul(*up, FromUint64(v));
      ++*count;
    } else {
      *down = Mul(*down, FromUint64(v));
      --*count;
    }
  }
  *h = plus ? Add(*h, term) : Sub(*h, term);
}

Margins MakeMargins(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  Margins m{};
  m.r1 = a + b;
  m.r2 = c + d;
  m.c1 = a + c;
  m.c2 = b + d;
  m.n = m.r1 + m.r2;
  m.small = m.n <= static_cast<std::uint64_t>(kMaxTotal);
  if (m.small) {
    FillLogFactorials(static_cast<int>(m.n));
    const DD* const L = log_factorial;
    m.margin_terms = Sub(Add(Add(Add(L[m.r1], L[m.r2]), L[m.c1]), L[m.c2]), L[m.n]);
    return m;
  }
  if (!small_h_ready) FillSmallH();
  m.total = FromUint64(m.n);
  const std::uint64_t rows[4] = {m.r1, m.r1, m.r2, m.r2};
  const std::uint64_t cols[4] = {m.c1, m.c2, m.c1, m.c2};
  for (int i = 0; i < 4; ++i) {
    const U128 p = Mul64(rows[i], cols[i]);
    m.expected[i] = Div(dd::FromUint128(p.hi, p.lo), m.total);
  }
  m.r1c1 = Mul64(m.r1, m.c1);
  m.margin_h = DD(0.0);
  m.margin_up = m.margin_down = DD(1.0);
  m.margin_count = 0;
  const std::uint64_t values[5] = {m.r1, m.r2, m.c1, m.c2, m.n};
  for (int i = 0; i < 5; ++i) HTerm(values[i], i < 4, &m.margin_h, &m.margin_up, &m.margin_down, &m.margin_count);
  return m;
}

LogProbabilityBound LogProbability(const Margins& m, std::uint64_t x) {
  const std::uint64_t cells[4] = {x, m.r1 - x, m.c1 - x, m.r2 - m.c1 + x};
  if (m.small) {
    DD s = m.margin_terms;
    // cppcheck-suppress useStlAlgorithm ; a fixed order of four subtractions
    for (std::uint64_t cell : cells) s = Sub(s, log_factorial[cell]);
    return {s, kTableError};
  }

  // delta = a - r1 c1 / n = (a d - b c) / n = (x n - r1 c1) / n; the cells
  // b and c differ from their expected values by -delta, d by +delta.
  const U128 xn = Mul64(x, m.n), rc = m.r1c1;
  const bool negative = Compare(xn, rc) < 0;
  const U128 diff = negative ? Minus(rc, xn) : Minus(xn, rc);
  DD delta = Div(dd::FromUint128(diff.hi, diff.lo), m.total);
  if (negative) delta = dd::Neg(delta);
  DD bd(0.0);
  for (int i = 0; i < 4; ++i) {
    bd = Add(bd, Bd0(cells[i], m.expected[i], (i == 0 || i == 3) ? delta : dd::Neg(delta)));
  }

  // The h terms: the margins' and the total's, then the cells'.
  DD h = m.margin_h, up = m.margin_up, down = m.margin_down;
  int count = m.margin_count;
  for (std::uint64_t cell : cells) HTerm(cell, false, &h, &up, &down, &count);
  const DD half_log = Mul(Log(Div(up, down)), DD(0.5));
  h = Add(h, Add(half_log, Mul(dd::kHalfLn2Pi, DD(static_cast<double>(count)))));

  // Each bd0 is within 2^-92 of its value, relative, and every other term
  // (at most 9 of ln(2 pi n)/2 < 23, the ratio's logarithm, Stirling's
  // series) within 2^-96 of its magnitude; the sums add 2^-104 each.
  // The bound below holds with a margin of 2^4.
  const double magnitude = bd.hi + (half_log.hi < 0 ? -half_log.hi : half_log.hi) + 9 * 23.0;
  return {Sub(h, bd), 0x1p-88 * magnitude};
}

// --- The test ------------------------------------------------------------------

// A term that leaves the rest of a tail below this fraction of the sum
// (which is at least 1, the observed table) cannot change the p-value at
// the accuracy it is computed with (1e-12), and ends the walk.
constexpr double kNegligible = 0x1p-60;

// Between anchors, each term is its neighbour times a ratio of products of
// two counts: one rounding for the division and one for the multiplication,
// two more for the products once they may pass 2^53 (totals above 2^26),
// and four more for the conversions once counts may (totals from 2^53). So
// the steps between anchors, 1024, 512 or 256, keep every term within
// 2048 * 2^-53 < 2.3e-13 of its value, relative.
int AnchorSteps(std::uint64_t n) {
  if (n <= (std::uint64_t{1} << 26)) return 1024;
  if (n < (std::uint64_t{1} << 53)) return 512;
  return 256;
}

struct Walk {
  Margins m;
  std::uint64_t a0, b0, c0, d0;
  DD log_p0;
  double log_p0_error;
};

// P(x) / p0 as a double.
DD RelativeLog(const Walk& w, std::uint64_t x) { return Sub(LogProbability(w.m, x).value, w.log_p0); }

// Compensated sum (Neumaier): s + c.
struct Sum {
  double s = 0.0, c = 0.0;
  void Add(double t) {
    const DD e = dd::TwoSum(s, t);
    s = e.hi;
    c += e.lo;
  }
};

// --- Wide distributions: the tails summed by blocks --------------------------

// Where the distribution spreads over more than kWideSpread tables (its
// standard deviation), the tails are summed by blocks of up to an eighth of
// it instead of table by table. On a block of L tables from x outward,
// psi(i) = ln(P(x + i)/P(x)) is smooth: its fourth derivative is at most
// twice the sum of 1/cell^3 (psi is a sum of log-gamma functions of the
// cells), so the cubic through psi at i = 0, L/3, 2L/3 and L (each from the
// log-probability) is within that times L^4 max|t (t - 1/3)(t - 2/3)(t - 1)|
// / 4! < L^4 / 1935 of it on the block.
// The block's sum is then, by the Euler-Maclaurin formula at the midpoints,
//   sum_{i=0}^{L-1} h(i) = int_{-1/2}^{L-1/2} h - [h']/24 + 7 [h^(3)]/5760
//       - 31 [h^(5)]/967680 + ...,   h = e^psi, [g] = g(L-1/2) - g(-1/2),
// with the integral by Gauss-Legendre's rule in 8 points. The block length
// keeps |psi'| L <= 1/2 (psi' is ln q at the start and falls, q the ratio of
// neighbours), the interpolation error below 2^-54 (with a margin of 2 on
// the bound above) and L >= 64: then the omitted Euler-Maclaurin terms are
// below 2^-60 of the block's sum and the rule's error far below. Every term
// of a block is then within 2^-53 of its value, relative; the anchors
// (the log-probabilities at the ends) are as accurate as everywhere else.
constexpr double kWideSpread = 4096;

// Gauss-Legendre nodes and weights on [-1, 1], 8 points (+- each node).
constexpr double kNodes[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267,
                              0.9602898564975363};
constexpr double kWeights[4] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745,
                                0.1012285362903763};

struct Cubic {  // c1 s + c2 s^2 + c3 s^3
  double c1, c2, c3;
  double At(double v) const { return v * (c1 + v * (c2 + v * c3)); }
  double Slope(double v) const { return c1 + v * (2 * c2 + v * 3 * c3); }
  double Curve(double v) const { return 2 * c2 + 6 * c3 * v; }
};

// The cubic through (0, 0), (s1, y1), (s2, y2), (s3, y3), by divided
// differences:
//   y = d01 s + d012 s (s - s1) + d0123 s (s - s1)(s - s2).
Cubic Through(double s1, double y1, double s2, double y2, double s3, double y3) {
  const double d01 = y1 / s1, d12 = (y2 - y1) / (s2 - s1), d23 = (y3 - y2) / (s3 - s2);
  const double d012 = (d12 - d01) / s2, d123 = (d23 - d12) / (s3 - s1);
  const double d0123 = (d123 - d012) / s3;
  return {d01 - d012 * s1 + d0123 * s1 * s2, d012 - d0123 * (s1 + s2), d0123};
}

// sum_{i=0}^{L-1} e^psi(i) for the cubic psi, as above.
double BlockSum(const Cubic& psi, double length) {
  const double lo = -0.5, hi = length - 0.5, mid = (lo + hi) / 2, half = (hi - lo) / 2;
  auto h = [&](double v) { return dd::ExpToDouble(DD(psi.At(v))); };
  double integral = 0.0;
  for (int k = 0; k < 4; ++k) {
    integral += kWeights[k] * (h(mid - half * kNodes[k]) + h(mid + half * kNodes[k]));
  }
  integral *= half;
  auto h1 = [&](double v) { return psi.Slope(v) * h(v); };
  auto h3 = [&](double v) {
    const double p1 = psi.Slope(v), p2 = psi.Curve(v), p3 = 6 * psi.c3;
    return (p3 + 3 * p1 * p2 + p1 * p1 * p1) * h(v);
  };
  return integral - (h1(hi) - h1(lo)) / 24 + 7 * (h3(hi) - h3(lo)) / 5760;
}

// Adds P(x)/p0 for x = from, from + step, ... up to `last`, t = P(from)/p0,
// moving away from the mode, so that each ratio of neighbours is below 1
// and below the one before: once t / (1 - q) is negligible, so is all that
// follows.
void AddTail(const Walk& w, std::uint64_t from, int step, std::uint64_t last, double t, Sum& sum) {
  const Margins& m = w.m;
  const int anchor_steps = AnchorSteps(m.n);
  // Below 2^53 the cells are exact doubles and step by one exactly; beyond,
  // each is converted afresh (as signed: every target converts those fast).
  const bool exact = m.n < (std::uint64_t{1} << 53);
  const double unit = step < 0 ? -1.0 : 1.0;
  auto cell = [](std::uint64_t v) { return static_cast<double>(static_cast<std::int64_t>(v)); };
  const double nd = cell(m.n);
  const double variance = cell(m.r1) / nd * (cell(m.r2) / nd) * (cell(m.c1) / nd) * (cell(m.c2) / nd) * nd;
  const bool wide = variance > kWideSpread * kWideSpread;
  const double longest = wide ? std::floor(std::sqrt(variance) / 8) : 0;
  std::uint64_t x = from;
  double a, b, c, d;
  auto load = [&]() { a = cell(x), b = cell(m.r1 - x), c = cell(m.c1 - x), d = cell(m.r2 - m.c1 + x); };
  load();
  auto ratio = [&]() { return step < 0 ? (a * d) / ((b + 1) * (c + 1)) : (b * c) / ((a + 1) * (d + 1)); };
  DD fx;               // ln(P(x)/p0), where known
  bool known = false;  // after a block
  for (int since = 0;;) {
    if (x == last) {
      sum.Add(t);
      return;
    }
    const double q = ratio();
    if (wide) {
      // The block: as long as the slope and the cells allow, short of last.
      const double slope = 1 - q;  // |psi'| is about this at x, and grows
      double most = longest;
      if (slope * most > 0.5) most = std::floor(0.5 / slope);
      const std::uint64_t room = step < 0 ? x - last : last - x;
      std::uint64_t len = most < static_cast<double>(room) ? static_cast<std::uint64_t>(most) : room;
      for (; len >= 64; len /= 2) {
        // The cells at the far end, the smallest along the block.
        const auto length = static_cast<double>(len);
        const double fa = step < 0 ? a - length : a, fd = step < 0 ? d - length : d;
        const double fb = step < 0 ? b : b - length, fc = step < 0 ? c : c - length;
        if (fa <= 0 || fb <= 0 || fc <= 0 || fd <= 0) continue;
        const double fourth = 2 * (1 / (fa * fa * fa) + 1 / (fb * fb * fb) + 1 / (fc * fc * fc) + 1 / (fd * fd * fd));
        const double l2 = length * length;
        if (fourth * l2 * l2 / 1024 < 0x1p-54) break;
      }
      if (len >= 64) {
        const auto length = static_cast<double>(len);
        const std::uint64_t k1 = len / 3, k2 = 2 * len / 3;
        const DD f0 = known ? fx : RelativeLog(w, x);
        auto rel = [&](std::uint64_t k) { return RelativeLog(w, step < 0 ? x - k : x + k); };
        auto off = [&](DD f) {
          const DD v = Sub(f, f0);
          return v.hi + v.lo;
        };
        fx = rel(len);
        known = true;
        const Cubic psi = Through(static_cast<double>(k1), off(rel(k1)), static_cast<double>(k2),
                                  off(rel(k2)), length, off(fx));
        sum.Add(dd::ExpToDouble(f0) * BlockSum(psi, length));
        x = step < 0 ? x - len : x + len;
        t = dd::ExpToDouble(fx);
        load();
        since = 0;
        if (t < kNegligible * (1 - ratio())) return;
        continue;
      }
    }
    sum.Add(t);
    known = false;
    x = step < 0 ? x - 1 : x + 1;
    if (exact) {
      a += unit, d += unit, b -= unit, c -= unit;
    } else {
      load();
    }
    if (++since == anchor_steps) {
      t = dd::ExpToDouble(RelativeLog(w, x));
      since = 0;
    } else {
      t *= q;
    }
    if (t < kNegligible * (1 - q)) return;
  }
}

// Whether the table x of the opposite tail (a0 < x <= a0 + b0) is strictly
// less probable than the observed table; its log-probability in *log.
// Floating point decides outside the bounds of the two errors; inside,
// exact integer arithmetic, and a ratio too long to multiply out counts as a
// tie (not less).
bool Less(const Walk& w, std::uint64_t x, LogProbabilityBound* log) {
  *log = LogProbability(w.m, x);
  const DD diff = Sub(log->value, w.log_p0);
  const double bound = log->error + w.log_p0_error;
  if (diff.hi < -bound) return true;
  if (diff.hi > bound) return false;
  const std::uint64_t k = x - w.a0;
  const int sign = w.m.small
                       ? CompareShifted(static_cast<int>(w.a0), static_cast<int>(w.b0),
                                        static_cast<int>(w.c0), static_cast<int>(w.d0), static_cast<int>(k))
                       : CompareShifted64(w.a0, w.b0, w.c0, w.d0, k);
  return sign < 0;
}

}  // namespace

LogProbabilityBound AccurateLogProbability(std::uint64_t a, std::uint64_t b, std::uint64_t c,
                                           std::uint64_t d) {
  if (a + b == 0 || c + d == 0 || a + c == 0 || b + d == 0) return {DD(0.0), 0.0};
  return LogProbability(MakeMargins(a, b, c, d), a);
}

AccuratePValue AccurateTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                            bool one_tailed) {
  Orient(a, b, c, d);
  // b = 0 leaves a single table on the opposite side, the observed one:
  // every table is in the one-tailed sum (this covers empty margins too).
  if (b == 0) return {DD(0.0), DD(1.0), true};
  Walk w{MakeMargins(a, b, c, d), a, b, c, d, DD(0.0), 0.0};
  const LogProbabilityBound l0 = LogProbability(w.m, a);
  w.log_p0 = l0.value;
  w.log_p0_error = l0.error;

  Sum sum;
  AddTail(w, a, -1, 0, 1.0, sum);
  if (one_tailed) return {w.log_p0, dd::QuickTwoSum(sum.s, sum.c), false};

  // x* = lo: not less (the observed table a0 to begin with); hi: less, or
  // one past the end. The probabilities are unimodal, so the tables less
  // probable than the observed one are those above x*. The search starts
  // from the mirror image of a0 about the mean and gallops, then bisects.
  std::uint64_t lo = a, hi = a + b + 1;
  LogProbabilityBound at_hi{}, probe{};
  const double mean =
      static_cast<double>(w.m.r1) * static_cast<double>(w.m.c1) / static_cast<double>(w.m.n);
  const double guess = 2 * mean - static_cast<double>(a);
  std::uint64_t g = a + 1;
  if (guess >= static_cast<double>(a + b)) {
    g = a + b;
  } else if (guess > static_cast<double>(a + 1)) {
    g = static_cast<std::uint64_t>(guess);  // a starting point: any nearby table does
  }
  if (Less(w, g, &probe)) {
    hi = g;
    at_hi = probe;
    for (std::uint64_t step = 1; step < g - lo; step *= 2) {
      const std::uint64_t y = g - step;
      if (!Less(w, y, &probe)) {
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
      if (Less(w, y, &probe)) {
        hi = y;
        at_hi = probe;
        break;
      }
      lo = y;
    }
  }
  while (hi - lo > 1) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (Less(w, mid, &probe)) {
      hi = mid;
      at_hi = probe;
    } else {
      lo = mid;
    }
  }
  if (hi == a + 1) return {DD(0.0), DD(1.0), true};  // every table is included
  if (hi <= a + b) {
    AddTail(w, hi, +1, a + b, dd::ExpToDouble(Sub(at_hi.value, w.log_p0)), sum);
  }
  return {w.log_p0, dd::QuickTwoSum(sum.s, sum.c), false};
}

DD LogPValue(const AccuratePValue& p) {
  if (p.whole) return DD(0.0);
  const DD l = Add(p.log_p0, Log(p.sum));
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
