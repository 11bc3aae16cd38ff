// The outward summation of a distribution's tails: table by table with
// exact neighbour ratios and anchors, or by blocks where it is wide.
#include "accurate/tail_sum.h"

#include <array>
#include <cmath>

namespace {

using dd::FromUint64;
using dd::Mul;
using dd::Sub;

// A term that leaves the rest of a tail below this fraction of the sum
// (which is at least 1, the first term of a walk from the mode or from the
// observed table) cannot change a p-value at the accuracy it is computed
// with (1e-12), and ends the walk.
constexpr double kNegligible = 0x1p-60;

// Between anchors, each term is its neighbour times a ratio of products of
// two counts: one rounding for the division and one for the multiplication,
// two more for the products once they may pass 2^53 (totals above 2^26),
// and four more for the conversions once counts may (totals from 2^53). So
// the steps between anchors, 1024, 512 or 256, keep every term within
// 2048 * 2^-53 < 2.3e-13 of its value, relative. A factor psi adds one
// rounding a step and its own error, at most 2 ulps, the same every step:
// 3072 * 2^-53 < 3.5e-13 more.
int AnchorSteps(std::uint64_t n) {
  if (n <= (std::uint64_t{1} << 26)) return 1024;
  if (n < (std::uint64_t{1} << 53)) return 512;
  return 256;
}

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

// sum_{i=0}^{L-1} i^k e^psi(i) for the cubic psi, k = 0 .. kMoments, as
// above: with g_k(v) = v^k h(v), h = e^psi (and g_3 likewise, below),
//   g_1' = (1 + v p1) h,          g_1''' = (3 (p2 + p1^2) + v h3) h,
//   g_2' = (2 v + v^2 p1) h,      g_2''' = (6 p1 + 6 v (p2 + p1^2) + v^2 h3) h,
// p1, p2, p3 the derivatives of psi and h3 = p3 + 3 p1 p2 + p1^3. On a
// block |p1| <= 1/(2L), so v^k and the derivatives of g_k stand to those of
// h as they do on the whole block, and the omitted terms stay as small
// relative to the moments as to the sum.
template <int kMoments>
void BlockSums(const Cubic& psi, double length, double out[4]) {
  const double lo = -0.5, hi = length - 0.5, mid = (lo + hi) / 2, half = (hi - lo) / 2;
  auto h = [&](double v) { return dd::ExpToDouble(DD(psi.At(v))); };
  double v[8], hv[8];
  for (std::size_t k = 0; k < 4; ++k) {
    v[2 * k] = mid - half * kNodes[k];
    v[2 * k + 1] = mid + half * kNodes[k];
    hv[2 * k] = h(v[2 * k]);
    hv[2 * k + 1] = h(v[2 * k + 1]);
  }
  double integral = 0.0;
  for (std::size_t k = 0; k < 4; ++k) integral += kWeights[k] * (hv[2 * k] + hv[2 * k + 1]);
  integral *= half;
  auto h1 = [&](double u) { return psi.Slope(u) * h(u); };
  auto third = [&](double u) {  // h3
    const double p1 = psi.Slope(u), p2 = psi.Curve(u), p3 = 6 * psi.c3;
    return p3 + 3 * p1 * p2 + p1 * p1 * p1;
  };
  auto h3 = [&](double u) { return third(u) * h(u); };
  out[0] = integral - (h1(hi) - h1(lo)) / 24 + 7 * (h3(hi) - h3(lo)) / 5760;
  if (kMoments == 0) return;
  double first = 0.0, second = 0.0;
  for (std::size_t k = 0; k < 4; ++k) {
    const double l = v[2 * k] * hv[2 * k], r = v[2 * k + 1] * hv[2 * k + 1];
    first += kWeights[k] * (l + r);
    second += kWeights[k] * (v[2 * k] * l + v[2 * k + 1] * r);
  }
  auto d1 = [&](double u, int k) {
    const double p1 = psi.Slope(u);
    return (k == 1 ? 1 + u * p1 : u * (2 + u * p1)) * h(u);
  };
  auto d3 = [&](double u, int k) {
    const double p1 = psi.Slope(u), p2 = psi.Curve(u) + p1 * p1;
    return (k == 1 ? 3 * p2 + u * third(u) : 6 * p1 + u * (6 * p2 + u * third(u))) * h(u);
  };
  out[1] = first * half - (d1(hi, 1) - d1(lo, 1)) / 24 + 7 * (d3(hi, 1) - d3(lo, 1)) / 5760;
  if (kMoments == 1) return;
  out[2] = second * half - (d1(hi, 2) - d1(lo, 2)) / 24 + 7 * (d3(hi, 2) - d3(lo, 2)) / 5760;
  if (kMoments == 2) return;
  // g_3' = (3 v^2 + v^3 p1) h, g_3^(3) = (6 + 18 v p1 + 9 v^2 (p2 + p1^2) + v^3 h3) h.
  double cubed = 0.0;
  for (std::size_t k = 0; k < 4; ++k) {
    const double l = v[2 * k] * v[2 * k] * v[2 * k], r = v[2 * k + 1] * v[2 * k + 1] * v[2 * k + 1];
    cubed += kWeights[k] * (l * hv[2 * k] + r * hv[2 * k + 1]);
  }
  auto e1 = [&](double u) { return u * u * (3 + u * psi.Slope(u)) * h(u); };
  auto e3 = [&](double u) {
    const double p1 = psi.Slope(u), p2 = psi.Curve(u) + p1 * p1;
    return (6 + u * (18 * p1 + u * (9 * p2 + u * third(u)))) * h(u);
  };
  out[3] = cubed * half - (e1(hi) - e1(lo)) / 24 + 7 * (e3(hi) - e3(lo)) / 5760;
}

double Cell(std::uint64_t v) { return static_cast<double>(static_cast<std::int64_t>(v)); }

// The cells at x as doubles.
struct Cells {
  double a, b, c, d;
};
Cells CellsOf(const Margins& m, std::uint64_t x) {
  const std::array<std::uint64_t, 4> v = CellsAt(m, x);
  return {Cell(v[0]), Cell(v[1]), Cell(v[2]), Cell(v[3])};
}

}  // namespace

DD RelativeLog(const Weights& w, std::uint64_t x) {
  return RelativeLog(w, x, LogProbability(*w.m, x).value);
}

DD RelativeLog(const Weights& w, std::uint64_t x, DD log_probability) {
  DD r = Sub(log_probability, w.log_ref);
  if (w.log_psi != 0) {
    const bool below = x < w.ref;
    const DD shift = Mul(FromUint64(below ? w.ref - x : x - w.ref), DD(w.log_psi, w.log_psi_lo));
    r = below ? Sub(r, shift) : dd::Add(r, shift);
  }
  return r;
}

double StepRatio(const Weights& w, std::uint64_t x, int step) {
  return NeighboursAt(*w.m, x, step).Ratio() * (step < 0 ? w.inv_psi : w.psi);
}

// Each term moves away from the mode, so that each ratio of neighbours is
// below 1 (once past the mode) and below the one before: once t / (1 - q)
// is negligible, so is all that follows. The k-th moment's remainder is
// below t / (1 - q) (i + 1 / (1 - q))^k k!, i the steps so far: negligible
// beside the moments, which are the mean and derivatives of the weights'
// distribution, wherever they matter.
//
// kNarrow: the walk of almost every table, compiled on its own so that its
// loop holds nothing else: exact cells (n < 2^53) and no blocks; kPlain
// also hypergeometric weights (psi = 1), the walk of almost every p-value.
// The arithmetic is the same either way.
template <int kMoments, int step, bool kNarrow, bool kPlain>
void Walk(const Weights& w, std::uint64_t from, std::uint64_t last, double t, WalkSums* out,
          double variance) {
  const Margins& m = *w.m;
  WalkSums sums = *out;  // in registers, written back at the end
  const int anchor_steps = AnchorSteps(m.n);
  // Below 2^53 the cells are exact doubles and step by one exactly; beyond,
  // each is converted afresh (as signed: every target converts those fast).
  const bool exact = kNarrow || m.n < (std::uint64_t{1} << 53);
  const bool wide = !kNarrow && variance > kWideSpread * kWideSpread;
  const double longest = wide ? std::floor(std::sqrt(variance) / 8) : 0;
  const bool central = kPlain || w.log_psi == 0;
  const double factor = step < 0 ? w.inv_psi : w.psi;
  std::uint64_t x = from;
  Neighbours next = NeighboursAt(m, x, step);
  auto ratio = [&]() {
    const double q = next.Ratio();
    return central ? q : q * factor;
  };
  double i = 0;  // steps from `from`
  auto add = [&](double term) {
    sums.total.Add(term);
    if (kMoments >= 1) sums.first += i * term;
    if (kMoments >= 2) sums.second += i * i * term;
    if (kMoments >= 3) sums.third += i * i * i * term;
  };
  // Any ratio is at least 0, so the bound is at most kNegligible (a power of
  // two scales exactly): a term above it needs no more.
  auto negligible = [&](double term, double q) { return term < kNegligible && term < kNegligible * (1 - q); };
  DD fx;               // ln(w(x)/w(ref)), where known
  bool known = false;  // after a block
  for (int since = 0;;) {
    if (x == last) {
      add(t);
      break;
    }
    const double q = ratio();
    if (wide) {
      // The block: as long as the slope and the cells allow, short of last.
      const double slope = 1 - q;  // |psi'| is about this at x, and grows
      double most = longest;
      if (slope * most > 0.5) most = std::floor(0.5 / slope);
      const std::uint64_t room = step < 0 ? x - last : last - x;
      std::uint64_t len = most < static_cast<double>(room) ? static_cast<std::uint64_t>(most) : room;
      const Cells at = CellsOf(m, x);
      for (; len >= 64; len /= 2) {
        // The cells at the far end, the smallest along the block.
        const auto length = static_cast<double>(len);
        const double fa = step < 0 ? at.a - length : at.a, fd = step < 0 ? at.d - length : at.d;
        const double fb = step < 0 ? at.b : at.b - length, fc = step < 0 ? at.c : at.c - length;
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
        double block[4];
        BlockSums<kMoments>(psi, length, block);
        const double scale = dd::ExpToDouble(f0);
        sums.total.Add(scale * block[0]);
        if (kMoments >= 1) sums.first += scale * (i * block[0] + block[1]);
        if (kMoments >= 2) sums.second += scale * (i * i * block[0] + (2 * i * block[1] + block[2]));
        if (kMoments >= 3) {
          sums.third += scale * (i * i * i * block[0] + (3 * i * i * block[1] + (3 * i * block[2] + block[3])));
        }
        x = step < 0 ? x - len : x + len;
        i += length;
        t = dd::ExpToDouble(fx);
        next = NeighboursAt(m, x, step);
        since = 0;
        if (negligible(t, ratio())) break;
        continue;
      }
    }
    add(t);
    known = false;
    x = step < 0 ? x - 1 : x + 1;
    i += 1;
    if (exact) {
      next.Next();
    } else {
      next = NeighboursAt(m, x, step);
    }
    if (++since == anchor_steps) {
      t = dd::ExpToDouble(RelativeLog(w, x));
      since = 0;
    } else {
      t *= q;
    }
    if (negligible(t, q)) break;
  }
  *out = sums;
}

// One walk, compiled for each direction, and plain or not.
template <int kMoments, int step>
void Walk(const Weights& w, std::uint64_t from, std::uint64_t last, double t, WalkSums* sums) {
  const Margins& m = *w.m;
  // The variance r1 r2 c1 c2 / n^3 is at most n / 16: no table up to 2^28
  // is wide.
  const double nd = Cell(m.n);
  const double variance =
      m.n <= (std::uint64_t{1} << 28)
          ? 0
          : Cell(m.r1) / nd * (Cell(m.r2) / nd) * (Cell(m.c1) / nd) * (Cell(m.c2) / nd) * nd;
  if (m.n < (std::uint64_t{1} << 53) && !(variance > kWideSpread * kWideSpread)) {
    if (w.log_psi == 0) {
      Walk<kMoments, step, true, true>(w, from, last, t, sums, variance);
    } else {
      Walk<kMoments, step, true, false>(w, from, last, t, sums, variance);
    }
  } else {
    Walk<kMoments, step, false, false>(w, from, last, t, sums, variance);
  }
}

template <int kMoments>
void AddTail(const Weights& w, std::uint64_t from, int step, std::uint64_t last, double t,
             WalkSums* sums) {
  if (step < 0) {
    Walk<kMoments, -1>(w, from, last, t, sums);
  } else {
    Walk<kMoments, +1>(w, from, last, t, sums);
  }
}

template void AddTail<0>(const Weights&, std::uint64_t, int, std::uint64_t, double, WalkSums*);
template void AddTail<1>(const Weights&, std::uint64_t, int, std::uint64_t, double, WalkSums*);
template void AddTail<2>(const Weights&, std::uint64_t, int, std::uint64_t, double, WalkSums*);
template void AddTail<3>(const Weights&, std::uint64_t, int, std::uint64_t, double, WalkSums*);
