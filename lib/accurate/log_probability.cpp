// The log-probability of any table, for totals of every size:
//
//  - up to kMaxTotal, from a table of ln k! in double-double;
//  - beyond, from the saddle-point form (Loader), in which no term is
//    larger than the result needs:
//      ln P = -sum over cells of bd0(cell, expected) + sum +- h(n),
//      bd0(x, m) = x ln(x/m) + m - x,  h(n) = ln n! - n ln n + n,
//    the h terms over the four margins (+), the total and the cells (-).
#include "accurate/log_probability.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "classic/log_factorial.h"
#include "common/growing.h"

namespace {

using dd::Add;
using dd::Div;
using dd::FromUint64;
using dd::Log;
using dd::Mul;
using dd::Sub;

// --- Totals up to kMaxTotal: ln k! in double-double ------------------------

// ln k! for k = 0 .. kMaxTotal, each entry the one before plus Log(k): a
// fixed chain of roundings. A run's tables read a few entries (a one-table
// test at a total of 40000 some twenty, a window of a stratum one every 16
// tables), so the chain is kept at every kLogFactorialBlock-th entry
// (checkpoints.inc, written from this chain by numerics_probe) and each
// block is filled from its first entry where it is first read, to the same
// bits as the whole chain: 64 logarithms a block, where filling up to the
// total took one for every k (some 5 ms at 40000). Totals up to
// kFillWhole have every block up to theirs filled at once (no more than
// the blocks a walk reads there), and their tables then read the entries
// without a check a cell. Threads share the blocks: one is filled under
// the lock, its flag (released) set after its entries, and `whole` (the
// entries up to it all set) grows after the flags it covers, so that a
// reader who acquired either needs no lock.
constexpr int kBlocks = kMaxTotal / kLogFactorialBlock + 1;
constexpr DD kCheckpoints[kBlocks] = {
#include "accurate/log_factorial_checkpoints.inc"
};
constexpr int kFillWhole = 1024;
DD log_factorial[kMaxTotal + 1];
std::atomic<bool> block_filled[kBlocks];
Growing whole(-1);
pthread_mutex_t block_mutex = PTHREAD_MUTEX_INITIALIZER;

__attribute__((noinline)) void FillBlock(std::size_t b) {
  const Lock lock(block_mutex);
  if (block_filled[b].load(std::memory_order_relaxed)) return;
  const std::size_t first = b * kLogFactorialBlock;
  const std::size_t last = std::min(first + kLogFactorialBlock - 1, static_cast<std::size_t>(kMaxTotal));
  log_factorial[first] = kCheckpoints[b];
  for (std::size_t k = first + 1; k <= last; ++k) {
    log_factorial[k] = Add(log_factorial[k - 1], Log(DD(static_cast<double>(k))));
  }
  block_filled[b].store(true, std::memory_order_release);
}

// Has the entry k set.
inline void Ensure(std::uint64_t k) {
  const std::size_t b = k / kLogFactorialBlock;
  if (!block_filled[b].load(std::memory_order_acquire)) FillBlock(b);
}

// Whether the entries 0 .. n are all set, n <= kMaxTotal: made so where n
// is at most kFillWhole.
bool Whole(int n) {
  if (n > kFillWhole) return false;
  whole.Reach(n, [](int have, int to) {
    for (int k = (have + 1) / kLogFactorialBlock * kLogFactorialBlock; k <= to; k += kLogFactorialBlock) {
      Ensure(static_cast<std::uint64_t>(k));
    }
  });
  return true;
}

// The error of a log-probability from the table. Log(k) is within
// 2^-100 * ln k (< 2^-96.4 below 50001) of ln k, and each addition adds at
// most 2^-104 * ln k! (< 2^-85.1, ln 50000! < 2^18.91); so entry k is off by
// less than k * (2^-96.4 + 2^-85.1) < 2^-69.4 for k <= 50000. Nine entries
// and eight additions of sums below 2^22.1: less than 2^-66.2 + 2^-81.
constexpr double kTableError = 0x1p-66;

// --- Totals beyond: the saddle-point form ------------------------------------

// h(n) = ln n! - n ln n + n for n < 64, in double-double; filled once, by
// the first thread that needs it.
struct SmallH {
  DD h[64];
} small_h;
pthread_once_t small_h_once = PTHREAD_ONCE_INIT;

void FillSmallH() {
  DD log_fact(0.0);
  for (int n = 1; n < 64; ++n) {
    const DD log_n = Log(DD(static_cast<double>(n)));
    log_fact = Add(log_fact, log_n);
    small_h.h[n] = Add(Sub(log_fact, Mul(DD(static_cast<double>(n)), log_n)), DD(static_cast<double>(n)));
  }
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
constexpr DD kInv7 = dd::Div(DD(1.0), DD(7.0));
constexpr DD kInv9 = dd::Div(DD(1.0), DD(9.0));

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
      g = Add(dd::kFifth, Mul(w, g));
      g = Add(dd::kThird, Mul(w, g));
      const DD cubic = Mul(Mul(Mul(xd, v), w), g);
      return Add(Mul(delta, v), Add(cubic, cubic));
    }
  }
  return Sub(Mul(xd, Log(Div(xd, m))), delta);
}

// --- The margins, and the log-probability of any table with them ---------


// Adds sign * h(v) to *h: from the table below 64; above, Stirling's series
// into *h, ln v / 2 gathered as a factor of *up (plus) or *down (minus), and
// ln(2 pi)/2 counted in *count.
void HTerm(std::uint64_t v, bool plus, DD* h, DD* up, DD* down, int* count) {
  if (v == 0) return;
  DD term;
  if (v < 64) {
    term = small_h.h[v];
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

}  // namespace

void MakeMargins(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, Margins* margins) {
  Margins& m = *margins;
  m.r1 = a + b;
  m.r2 = c + d;
  m.c1 = a + c;
  m.c2 = b + d;
  m.n = m.r1 + m.r2;
  m.small = m.n <= static_cast<std::uint64_t>(kMaxTotal);
  if (m.small) {
    m.whole = Whole(static_cast<int>(m.n));
    if (!m.whole) {
      for (const std::uint64_t k : {m.r1, m.r2, m.c1, m.c2, m.n}) Ensure(k);
    }
    const DD* const L = log_factorial;
    m.margin_terms = Sub(Add(Add(Add(L[m.r1], L[m.r2]), L[m.c1]), L[m.c2]), L[m.n]);
    return;
  }
  pthread_once(&small_h_once, FillSmallH);
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
}

namespace {

// Beyond kMaxTotal: the saddle-point form. Apart, so that the table's few
// subtractions below do not pay for its frame.
__attribute__((noinline)) LogProbabilityBound SaddlePoint(const Margins& m, std::uint64_t x) {
  const std::array<std::uint64_t, 4> cells = CellsAt(m, x);
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

}  // namespace

const DD& LogFactorialEntry(std::uint64_t k) {
  Ensure(k);
  return log_factorial[k];
}

namespace {

// From the table, its entries up to the total all set (m.whole) or not.
LogProbabilityBound FromTable(const Margins& m, std::uint64_t x) {
  const std::array<std::uint64_t, 4> cells = CellsAt(m, x);
  DD s = m.margin_terms;
  // cppcheck-suppress useStlAlgorithm ; a fixed order of four subtractions
  for (std::uint64_t cell : cells) s = Sub(s, log_factorial[cell]);
  return {s, kTableError};
}

// Has the entries of the table with cell a = x set.
__attribute__((noinline)) void EnsureCells(const Margins& m, std::uint64_t x) {
  for (std::uint64_t cell : CellsAt(m, x)) Ensure(cell);
}

// Beyond the entries all set: the blocks the table reads, or beyond
// kMaxTotal the saddle-point form. Apart, so that the table's path saves
// no registers for it.
__attribute__((noinline)) LogProbabilityBound Unfilled(const Margins& m, std::uint64_t x) {
  if (!m.small) return SaddlePoint(m, x);
  EnsureCells(m, x);
  return FromTable(m, x);
}

}  // namespace

LogProbabilityBound LogProbability(const Margins& m, std::uint64_t x) {
  return m.whole ? FromTable(m, x) : Unfilled(m, x);
}

double RoughLogProbability(const Margins& m, std::uint64_t x) {
  if (!m.whole) EnsureCells(m, x);
  const std::array<std::uint64_t, 4> cells = CellsAt(m, x);
  double s = m.margin_terms.hi;
  // cppcheck-suppress useStlAlgorithm ; a fixed order of four subtractions
  for (std::uint64_t cell : cells) s -= log_factorial[cell].hi;
  return s;
}

LogProbabilityBound AccurateLogProbability(std::uint64_t a, std::uint64_t b, std::uint64_t c,
                                           std::uint64_t d) {
  if (a + b == 0 || c + d == 0 || a + c == 0 || b + d == 0) return {DD(0.0), 0.0};
  Margins m;
  MakeMargins(a, b, c, d, &m);
  return LogProbability(m, a);
}
