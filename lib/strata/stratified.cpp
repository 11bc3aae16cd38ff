// The stratified test: the strata's windows, their convolution, and the
// tails, estimate and bounds of S from it.
#include "strata/stratified.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "accurate/root_search.h"
#include "accurate/tail_sum.h"
#include "arith/uint128.h"

namespace {

// A window ends where its weights fall below 2^-80 of the mode (2^-128
// where a sum needs more; small strata, below); the running distribution
// is trimmed where it falls below 2^-100 of its largest (2^-128 with more
// than kFewStrata strata, whose many trims add up; 2^-160 beside the
// deeper windows). What they leave out is bounded, not assumed small. The
// weights of a stratum are log-concave in x, and so is a convolution of
// log-concave sequences each cut to an interval (Hoggar's theorem): beyond
// an edge the weights fall at least as fast as a ratio r of neighbours at
// or inside it, also after reweighting by e^(delta x) (r' = r e^(+-delta)
// then). The n weights beyond an edge, the first at most w of a reference
// weight (a stratum's mode, the running distribution's largest), come to
// at most w e^(delta offset) sum_{m<n} r'^m of it, and the reference's
// weight is at most the total of what it was computed from: relative to
// the total of S, so reweighted, the same bound holds (the other strata's
// totals factor out). What is left out of S lies in the union of the
// windows' and the trims' sides: at most the sum of their bounds
// (Missing). Every sum below checks that bound against what it computes,
// and where it could pass 2^-50 of it, the distribution is computed afresh
// (deeper, or at the tilt itself).
constexpr double kShallowCut = 0x1p-80;
constexpr double kDeepCut = 0x1p-128;
constexpr double kTrim = 0x1p-100;
constexpr double kManyTrim = 0x1p-128;
constexpr double kDeepTrim = 0x1p-160;
constexpr double kAccept = 0x1p-50;
// Small strata (at most 11, with 1024 values of their cells in all) are
// convolved whole at first: each window down to 2^-(900/K) of its mode,
// which reaches the support's ends wherever the weights stay above it.
// With up to six strata (windows below 2^-128) the running result is
// trimmed only below 2^-1000 of its largest, and nothing is: every term
// stays above 2^-1000 of the largest (K edges of at least 2^-900
// together, beside a largest at most the product of the lengths, below
// 2^72, times the modes'), a normal double; what no window leaves out
// cannot be missed after any reweighting, so that one distribution serves
// every tail and bound. With seven to eleven it is trimmed as beside deep
// windows, each trim bounded as above.
constexpr std::size_t kWholeStrata = 11;
// Near ties are ordered in double-double within this many multiply-adds
// (Order), about 0.1 s, over at most this many terms at a time.
constexpr double kOrderWork = 2e7;
constexpr std::size_t kOrderLength = 4096;
constexpr std::uint64_t kWholeSupport = 1024;
constexpr double kWholeTrim = 0x1p-1000;
// Up to this many strata the first distribution is built at the
// Mantel-Haenszel estimate and serves the estimate too; beyond, the
// strata's moments give the estimate, and the distribution is built at it
// (a speed setting: with many strata a second distribution, where the
// first one's windows do not serve a bound, costs more than the moments).
constexpr std::size_t kFewStrata = 16;
// The running distribution's floor, relative to its largest, for k strata
// in windows cut at `cut`: shallow, deep (or the whole supports of seven
// to eleven small strata), deeper (the whole supports of up to six).
double TrimBelow(double cut, std::size_t k) {
  if (cut < kDeepCut) return kWholeTrim;
  if (cut < kShallowCut) return kDeepTrim;
  return k <= kFewStrata ? kTrim : kManyTrim;
}
// The estimate's sums need less: the rest below 2^-64, relative.
constexpr double kMomentCut = 0x1p-64;

// Each term of a window is its neighbour times a ratio of cell products
// (at most 8 roundings, tail_sum.cpp) and psi (within 2 ulps, and one
// rounding), and one more rounding for the product: 12 a step. Anchored
// every 16 steps on e^(ln ratio of the weights), itself within 2 ulps and
// the log-probabilities' far smaller bounds, every term of a window is
// within (12 * 16 + 4) 2^-53 of its value, relative.
constexpr int kAnchorSteps = 16;
constexpr double kU = 0x1p-53;
constexpr double kWindowError = (12 * kAnchorSteps + 4) * kU;

double Count(std::uint64_t v) { return static_cast<double>(v); }

// ln(num / den) for positive normal num and den: LogToDouble takes normal
// doubles only, so where the quotient leaves them (a tail beside a whole
// beyond 2^1022 of it), the difference of their logarithms.
double LogQuotient(double num, double den) {
  const double q = num / den;
  return q >= std::numeric_limits<double>::min() && q <= std::numeric_limits<double>::max()
             ? dd::LogToDouble(q)
             : dd::LogToDouble(num) - dd::LogToDouble(den);
}

double Signed(std::uint64_t x, std::uint64_t y) {  // x - y
  return x >= y ? Count(x - y) : -Count(y - x);
}

DD SignedDD(std::uint64_t x, std::uint64_t y) {
  return x >= y ? dd::FromUint64(x - y) : dd::Neg(dd::FromUint64(y - x));
}

Weights WeightsAt(const Margins& m, std::uint64_t ref, DD log_ref, double t) {
  Weights w{&m, ref, log_ref};
  w.log_psi = t;
  w.psi = dd::ExpToDouble(DD(t));
  w.inv_psi = 1 / w.psi;
  return w;
}

// The mode of the weights at t: the first x whose upward ratio is at most
// 1 (the ratios fall along x).
std::uint64_t ModeAt(const Stratum& st, const Weights& w) {
  std::uint64_t lo = st.lo, hi = st.hi;
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (StepRatio(w, mid, +1) <= 1) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// out = a * b, a the shorter: out[i + j] gathers a[i] b[j] in the order of
// i, a fixed order whatever the vector width: each product and each sum
// rounds once, as a double, so the 4-wide AVX2 clone on x86-64 (no FMA: no
// contraction) writes the same bits as the plain loop everywhere. Eight
// rows of a at a time, each output loaded and stored once for the eight
// (the loop was bound by those loads and stores), its sums still in the
// order of i.
// (Not under ThreadSanitizer, whose runtime is not yet up when the clones'
// resolver runs at load time.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define FISHER2X2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define FISHER2X2_CLONES
#endif
FISHER2X2_CLONES void Convolve(const double* __restrict a, std::size_t na, const double* __restrict b, std::size_t nb,
              double* __restrict out) {
  constexpr std::size_t kRows = 8;
  std::memset(out, 0, (na + nb - 1) * sizeof(double));
  std::size_t i = 0;
  // o[j] gathers a[i + r] b[j - r], those that exist, in the order of r.
  auto edge = [&](double* o, std::size_t j) {
    double sum = o[j];
    for (std::size_t r = 0; r < kRows; ++r) {
      if (j >= r && j - r < nb) sum += a[i + r] * b[j - r];
    }
    o[j] = sum;
  };
  if (nb >= kRows) {
    for (; i + kRows <= na; i += kRows) {
      double* o = out + i;
      double ar[kRows];
      for (std::size_t r = 0; r < kRows; ++r) ar[r] = a[i + r];
      for (std::size_t j = 0; j + 1 < kRows; ++j) edge(o, j);
      for (std::size_t j = kRows - 1; j < nb; ++j) {
        double sum = o[j];
        for (std::size_t r = 0; r < kRows; ++r) sum += ar[r] * b[j - r];
        o[j] = sum;
      }
      for (std::size_t j = nb; j + 1 < nb + kRows; ++j) edge(o, j);
    }
  }
  for (; i < na; ++i) {
    const double ai = a[i];
    double* o = out + i;
    for (std::size_t j = 0; j < nb; ++j) o[j] += ai * b[j];
  }
}

// The first i with v[i] the largest of v[0 .. n), n > 0 (no NaN): the
// largest in four running maxima, which the compiler keeps in one vector,
// then the first term equal to it.
std::size_t Largest(const double* v, std::size_t n) {
  double most[4] = {v[0], v[0], v[0], v[0]};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    for (std::size_t l = 0; l < 4; ++l) most[l] = v[i + l] > most[l] ? v[i + l] : most[l];
  }
  for (; i < n; ++i) most[0] = v[i] > most[0] ? v[i] : most[0];
  const double m = std::max(std::max(most[0], most[1]), std::max(most[2], most[3]));
  std::size_t top = 0;
  while (v[top] != m) ++top;
  return top;
}

// ln P(S = x; 1) from a distribution that holds x.
DD LogMass(const Distribution& d, std::uint64_t x) {
  DD r = dd::Log(DD(d.v[x - d.first]));
  r = dd::Add(r, dd::Mul(dd::kLn2, DD(static_cast<double>(d.exponent))));
  r = dd::Sub(r, dd::Mul(DD(d.t), SignedDD(x, d.refs)));
  return dd::Add(r, d.log_base);
}

// x less the mean of S at d's tilt, exact in the integers' part: S may lie
// near 2^63, where a double spaces its values by up to 2,048.
double Deviation(const Distribution& d, std::uint64_t x) { return Signed(x, d.top) - d.mean; }

bool Holds(const Distribution& d, std::uint64_t x) {
  return d.length > 0 && x >= d.first && x - d.first < d.length;
}

constexpr double kLog2E = 1.4426950408889634;  // 1 / ln 2

// A bound on log2 of sum_{m < n} r^m, r >= 0 and n >= 1: below 1/2,
// r / (1 - r) bounds ln 1/(1 - r); up to 1, the lesser of log2 1/(1 - r)
// and log2 n (each term at most 1), each below its double's exponent plus
// one (1 - r is exact, and the quotient rounds across no power of two it
// does not reach); from 1, log2 n + (n - 1) log2 r (each at most the
// last).
double Log2Geometric(double r, double n) {
  if (r < 0.5) return r / (1 - r) * kLog2E;
  const double log_n = dd::Exponent(n) + 1;
  if (r < 1) return std::min(static_cast<double>(dd::Exponent(1 / (1 - r)) + 1), log_n);
  if (!(r <= std::numeric_limits<double>::max())) return std::numeric_limits<double>::infinity();
  return log_n + (n - 1) * dd::LogToDouble(r) * kLog2E;
}

// A bound on the mass the windows and trims leave out of d reweighted by
// e^(delta x), relative to its total (above), in the configurations whose
// sum lies in [from, to]: a stratum's mass cut below its window (or a
// partial sum's below its trim) only reaches sums up to the cut plus the
// others' largest, and above it sums down to the cut plus the others'
// smallest (reach). The sum of the sides' bounds that reach [from, to],
// each rounded up to a power of two: 2^n for a bound b in log2, n =
// ceil(b) + 1, where the roundings in b (a few ulps of terms below 2^11)
// stay far inside the 1 added.
double Missing(const Distribution& d, double delta, std::uint64_t from, std::uint64_t to) {
  double up = 0, down = 0;  // e^(+-delta), where anything is left out
  // reach is two counts rounded to double and their rounded sum, within
  // 3 2^-53 relative of its value, and from and to within 2^-53: a reach
  // below lowest (above highest) is truly below from (above to), and one
  // truly in [from, to] is never passed over.
  const double lowest = static_cast<double>(from) * (1 - 0x1p-50), highest = static_cast<double>(to) * (1 + 0x1p-50);
  double sum = 0;
  for (std::size_t i = 0; i < d.left_outs; ++i) {
    const LeftOut& e = d.left_out[i];
    for (std::size_t side = 0; side < 2; ++side) {
      if (e.count[side] == 0) continue;
      if (side == 0 ? e.reach[0] < lowest : e.reach[1] > highest) continue;  // cannot land in [from, to]
      if (up == 0) up = dd::ExpToDouble(DD(delta)), down = 1 / up;
      const double r = e.ratio[side] * (side == 0 ? down : up);
      const double bound = (e.log_first[side] + delta * e.offset[side]) * kLog2E + Log2Geometric(r, e.count[side]);
      if (!(bound <= 1000)) return std::numeric_limits<double>::infinity();  // NaN too
      // 2^n, n in [-1008, 1002].
      sum += dd::PowerOfTwo(static_cast<int>(std::ceil(bound > -1009 ? bound : -1009.0)) + 1);
    }
  }
  return sum * (1 + 0x1p-40);  // the sum's roundings
}

// Whether d's terms from x to `to` are accurate beside its term at x: the
// mass left out there below kAccept of it (the term's own rounding error is
// d.error).
bool Covers(const Distribution& d, std::uint64_t x, std::uint64_t to) {
  return Holds(d, x) &&
         Missing(d, 0, std::min(x, to), std::max(x, to)) * d.total <= kAccept * d.v[x - d.first];
}

// Sums of g(x) = v(x) / v(x0) e^((t' - t)(x - x0)) on one side of x0, x0
// excluded: sum g and, as asked (kMoments 2 or 3), sum |x - x0| g,
// sum (x - x0)^2 g and sum |x - x0|^3 g.
struct Side {
  Sum total;
  double first = 0, second = 0, third = 0;
  // Its sums are finite. What lies beyond d's terms is what the windows and
  // trims leave out, which every caller bounds (Missing).
  bool finite = false;
};

// The terms in the blocks between the factor's anchors (16 steps), each
// block summed plainly (within 15 2^-53 of its sum, its terms all
// positive) and the blocks compensated: the total within 2^-49 relative;
// each term within 2 ulps and its factor's error, e^(delta j) each from
// the one before, anchored every 16 steps.
template <int kMoments, int kDir>
Side SumSideTowards(const Distribution& d, std::uint64_t x0, double delta) {
  Side side;
  const std::size_t i0 = static_cast<std::size_t>(x0 - d.first);
  const double inverse = 1 / d.v[i0];
  const double step_factor = delta == 0 ? 1.0 : dd::ExpToDouble(DD(kDir * delta));
  const std::size_t steps = kDir > 0 ? d.length - 1 - i0 : i0;
  const double* v = d.v + i0;
  double scale = inverse;  // 1 / v(x0) times e^(delta (x - x0)), x the last term's
  double first = 0, second = 0, third = 0, g = 0;
  double block = 0;
  double kk = 0;  // k as a double, counted on (exact below 2^53)
  auto add = [&](std::size_t k) {
    g = v[kDir > 0 ? static_cast<std::ptrdiff_t>(k) : -static_cast<std::ptrdiff_t>(k)] * scale;
    block += g;
    if (kMoments >= 2) {
      kk += 1;
      const double h = kk * g, h2 = kk * h;
      first += h;
      second += h2;
      if (kMoments >= 3) third += kk * h2;
    }
  };
  for (std::size_t from = 0; from < steps; from += kAnchorSteps) {
    // A whole block's last term on its anchor, the others each from the one before.
    const bool whole = steps - from >= kAnchorSteps;
    const std::size_t to = whole ? from + kAnchorSteps : steps;
    block = 0;
    for (std::size_t k = from + 1; k < to; ++k) {
      scale *= step_factor;
      add(k);
    }
    if (whole) {
      scale = delta == 0 ? inverse : inverse * dd::ExpToDouble(dd::Mul(DD(kDir * delta), dd::FromUint64(to)));
    } else {
      scale *= step_factor;
    }
    add(to);
    side.total.Add(block);
  }
  side.first = first, side.second = second, side.third = third;
  side.finite = std::isfinite(side.total.Value()) && std::isfinite(side.second);
  return side;
}

template <int kMoments = 0>
Side SumSide(const Distribution& d, std::uint64_t x0, int dir, double delta) {
  return dir > 0 ? SumSideTowards<kMoments, +1>(d, x0, delta) : SumSideTowards<kMoments, -1>(d, x0, delta);
}

}  // namespace

bool MakeStratum(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, Stratum* st) {
  const std::uint64_t r1 = a + b, r2 = c + d, c1 = a + c;
  st->a = a;
  st->lo = c1 > r2 ? c1 - r2 : 0;
  st->hi = r1 < c1 ? r1 : c1;
  if (st->lo == st->hi) return false;
  MakeMargins(a, b, c, d, &st->m);
  return true;
}

// The distribution of X, up to a shift, depends on the margins r1 r2 / c1
// c2 only up to transposition and exchanging both rows and both columns;
// exchanging the rows alone (or the columns) reflects it. Each stratum's
// margins are brought to r1 <= r2, then c1 <= c2 (a reflection where it
// exchanges them), then the pair of pairs in order: a key and whether it is
// reflected. Strata with r1 = r2 or c1 = c2 are their own reflection.
bool MirrorClosed(const Stratum* strata, std::size_t k, std::uint64_t* scratch) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < k; ++i) {
    const Margins& m = strata[i].m;
    std::uint64_t r1 = m.r1, r2 = m.r2, c1 = m.c1, c2 = m.c2;
    if (r1 == r2 || c1 == c2) continue;
    if (r1 > r2) std::swap(r1, r2), std::swap(c1, c2);
    bool reflected = false;
    if (c1 > c2) std::swap(c1, c2), reflected = true;
    if (c1 < r1 || (c1 == r1 && c2 < r2)) std::swap(r1, c1), std::swap(r2, c2);
    // Two keys, reflected or not, as four words: r1, r2, c1, c2 * 2 + flag
    // cannot overflow c2 (below 2^63).
    scratch[4 * n] = r1, scratch[4 * n + 1] = r2, scratch[4 * n + 2] = c1;
    scratch[4 * n + 3] = c2 * 2 + (reflected ? 1 : 0);
    ++n;
  }
  // Sorted, each key's reflected entries follow its others: closed when
  // they pair off.
  struct Key {
    std::uint64_t w[4];
  };
  Key* keys = reinterpret_cast<Key*>(scratch);
  std::sort(keys, keys + n, [](const Key& x, const Key& y) {
    return std::lexicographical_compare(x.w, x.w + 4, y.w, y.w + 4);
  });
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i, plain = 0, mirrored = 0;
    while (j < n && keys[j].w[0] == keys[i].w[0] && keys[j].w[1] == keys[i].w[1] && keys[j].w[2] == keys[i].w[2] &&
           keys[j].w[3] / 2 == keys[i].w[3] / 2) {
      ((keys[j].w[3] & 1) != 0 ? mirrored : plain) += 1;
      ++j;
    }
    if (plain != mirrored) return false;
    i = j;
  }
  return true;
}

Stratified::Stratified(const Stratum* strata, std::size_t k, bool mirror)
    : strata_(strata), k_(k), mirror_(mirror) {
  std::uint64_t support = 0;  // the values of the strata's cells, counted to past kWholeSupport
  for (std::size_t i = 0; i < k; ++i) {
    s_ += strata[i].a;
    lo_ += strata[i].lo;
    hi_ += strata[i].hi;
    if (support <= kWholeSupport) {
      const std::uint64_t values = strata[i].hi - strata[i].lo + 1;
      support = values <= kWholeSupport - support ? support + values : kWholeSupport + 1;
    }
  }
  if (k >= 2 && k <= kWholeStrata && support <= kWholeSupport) {
    first_cut_ = std::ldexp(1.0, -static_cast<int>(900 / k));
  }
}

Stratified::~Stratified() {
  std::free(window_.p);
  std::free(spare_.p);
  std::free(d0_.v);
  std::free(other_.v);
  std::free(far_.v);
  std::free(far_.left_out);
  std::free(d0_.left_out);
  std::free(other_.left_out);
  std::free(exact_);
}

// Room for n entries at *p, *size of them now: at most kMaxLength doubles'
// worth.
template <typename T>
bool Stratified::Grow(T** p, std::size_t* size, std::size_t n) {
  constexpr std::size_t kMaxBytes = kMaxLength * sizeof(double);
  if (n <= *size) return true;
  if (n > kMaxBytes / sizeof(T)) {
    status_ = StrataStatus::kTooWide;
    return false;
  }
  void* q = std::realloc(*p, n * sizeof(T));
  if (q == nullptr) {
    status_ = StrataStatus::kMemory;
    return false;
  }
  *p = static_cast<T*>(q);
  *size = n;
  return true;
}

// The weights of a stratum at t relative to its mode, from the mode
// outward until they fall below `cut`, into window_.
bool Stratified::Window(const Stratum& st, double t, double cut, std::uint64_t* first,
                        std::size_t* length, std::uint64_t* ref, DD* log_ref, double beyond[2]) {
  Weights w = WeightsAt(st.m, st.lo, DD(0.0), t);
  const std::uint64_t mode = ModeAt(st, w);
  w.ref = mode;
  w.log_ref = LogProbability(st.m, mode).value;
  *ref = mode;
  *log_ref = w.log_ref;
  std::size_t n = 0;
  // Each term into window_, counted against the test's bound on them (the
  // count held here along the walk, where no store of a term can touch it).
  double terms = terms_;
  auto push = [&](double term) {
    if (n == window_.size && !Grow(&window_.p, &window_.size, 2 * n + 64)) return false;
    window_.p[n++] = term;
    if (++terms > kMaxTerms) {
      status_ = StrataStatus::kTooWide;
      return false;
    }
    return true;
  };
  // Each ratio StepRatio's, its cells stepped on exactly below 2^53.
  const bool exact = st.m.n < (std::uint64_t{1} << 53);
  auto walk = [&](int dir) {
    std::uint64_t x = mode;
    double term = 1;
    int since = 0;
    if (beyond != nullptr) beyond[dir > 0 ? 1 : 0] = 0;
    const double factor = dir < 0 ? w.inv_psi : w.psi;
    Neighbours next = NeighboursAt(st.m, x, dir);
    while (dir < 0 ? x > st.lo : x < st.hi) {
      const double q = next.Ratio() * factor;
      x = dir < 0 ? x - 1 : x + 1;
      if (exact) {
        next.Next();
      } else {
        next = NeighboursAt(st.m, x, dir);
      }
      if (++since == kAnchorSteps) {
        term = dd::ExpToDouble(RelativeLog(w, x));
        since = 0;
      } else {
        term *= q;
      }
      if (!(term >= cut)) {
        // The first weight cut, its rounding error (below 2^-40 of it,
        // kWindowError) covered.
        if (beyond != nullptr) beyond[dir > 0 ? 1 : 0] = (term > 0x1p-1000 ? term : 0x1p-1000) * (1 + 0x1p-40);
        break;
      }
      if (!push(term)) return false;
    }
    return true;
  };
  bool ok = walk(-1);
  const std::size_t down = n;
  if (ok) {
    std::reverse(window_.p, window_.p + down);
    ok = push(1.0) && walk(+1);
  }
  terms_ = terms;
  if (!ok) return false;
  *first = mode - down;
  *length = n;
  return true;
}

// Sum over the strata of the mean at t, less `target`, its variance and
// third central moment: the equation of the tilt that puts the mean of S
// at a point, and its derivatives.
void Stratified::Moments(double t, double* value, double* variance, double* third) {
  double rel = 0, var = 0, cube = 0;
  std::uint64_t refs = 0;
  for (std::size_t k = 0; k < k_ && status_ == StrataStatus::kOk; ++k) {
    std::uint64_t first, ref;
    std::size_t length;
    DD log_ref;
    if (!Window(strata_[k], t, kMomentCut, &first, &length, &ref, &log_ref)) break;
    Sum s0;
    double m1 = 0, m2 = 0, m3 = 0;
    const double offset = Signed(first, ref);
    for (std::size_t i = 0; i < length; ++i) {
      const double v = window_.p[i], u = offset + static_cast<double>(i);
      s0.Add(v);
      m1 += u * v;
      m2 += u * u * v;
      m3 += u * u * u * v;
    }
    const double total = s0.Value(), mean = m1 / total, second = m2 / total;
    refs += ref;
    rel += mean;
    var += second - mean * mean;
    cube += m3 / total - mean * (3 * second - 2 * mean * mean);
  }
  *value = rel;
  *variance = var;
  *third = cube;
  moment_refs_ = refs;
}

// The t at which the mean of S is target + frac, from start.
double Stratified::TiltFor(std::uint64_t target, double frac, double start) {
  return Solve(
      [&](double u, double* v, double* s, double* c) {
        Moments(u, v, s, c);
        *v += Signed(moment_refs_, target) - frac;
        if (status_ != StrataStatus::kOk) *v = 0;  // stop
      },
      start);
}

// The estimate: from the Mantel-Haenszel estimate with a half added to
// each cell, on the reweightings of the distribution built there (few
// strata); where that distribution does not serve it, or with many strata,
// from the strata's own moments (no distribution needed).
double Stratified::Estimate() {
  if (s_ == lo_) return 0.0;
  if (s_ == hi_) return std::numeric_limits<double>::infinity();
  if (!estimated_) {
    estimated_ = true;
    double num = 0, den = 0;
    for (std::size_t k = 0; k < k_; ++k) {
      const Stratum& st = strata_[k];
      const std::array<std::uint64_t, 4> c = CellsAt(st.m, st.a);
      const double n = Count(st.m.n) + 2;
      num += (Count(c[0]) + 0.5) * (Count(c[3]) + 0.5) / n;
      den += (Count(c[1]) + 0.5) * (Count(c[2]) + 0.5) / n;
    }
    const double guess = dd::LogToDouble(num / den);
    if (k_ <= kFewStrata && Build(guess, &d0_, first_cut_) && EstimateFrom(d0_)) {
      from_first_ = true;
    } else if (status_ == StrataStatus::kOk) {
      log_psi_ = TiltFor(s_, 0, guess);
      estimate_variance_ = 0;
    }
  }
  return dd::ExpToDouble(DD(log_psi_));
}

// The estimate from d's reweightings, where they serve it: the mean of S
// at t less s, and its variance, from the sums about s; the mass the
// windows leave out moves the mean by at most that mass (relative) times
// the span of S, kept below kAccept of the variance, so t within about
// 2^-50. Halley's steps, as for the strata's own moments.
bool Stratified::EstimateFrom(const Distribution& d) {
  if (!Holds(d, s_)) return false;
  bool serves = true;
  const double span = Count(hi_ - lo_);
  auto equation = [&](double t, double* value, double* slope, double* curve) {
    const double delta = t - d.t;
    const Side below = SumSide<3>(d, s_, -1, delta);
    const Side above = SumSide<3>(d, s_, +1, delta);
    const double whole = 1 + below.total.Value() + above.total.Value();
    const double mean = (above.first - below.first) / whole, second = (above.second + below.second) / whole;
    const double variance = second - mean * mean;
    *curve = (above.third - below.third) / whole - mean * (3 * second - 2 * mean * mean);
    if (!below.finite || !above.finite || !std::isfinite(whole) || !(variance > 0) ||
        !(Missing(d, delta, lo_, hi_) * span <= kAccept * variance)) {
      serves = false;
      *value = 0, *slope = 1;  // stops the search
      return;
    }
    *value = mean, *slope = variance;
  };
  double variance = 0;
  const double t = Solve(equation, d.t, &variance);
  if (!serves) return false;
  log_psi_ = t;
  estimate_variance_ = variance;
  return true;
}

// The distribution of S at t into *d.
bool Stratified::Build(double t, Distribution* d, double cut) {
  d->length = 0;
  d->t = t;
  d->exponent = 0;
  d->error = 0;
  d->refs = 0;
  d->log_base = DD(0.0);
  d->left_outs = 0;
  if (!Grow(&d->left_out, &d->left_out_capacity, 2 * k_)) return false;
  std::uint64_t lo_so_far = 0, hi_so_far = 0;  // the strata's supports so far
  for (std::size_t k = 0; k < k_; ++k) {
    std::uint64_t first, ref;
    std::size_t length;
    DD log_ref;
    double beyond[2];
    if (!Window(strata_[k], t, cut, &first, &length, &ref, &log_ref, beyond)) return false;
    const Stratum& st = strata_[k];
    lo_so_far += st.lo, hi_so_far += st.hi;
    LeftOut& out = d->left_out[d->left_outs++];
    // The largest sum with this stratum below its window, the smallest with
    // it above (the others at their ends).
    out.reach[0] = first > st.lo ? Count(first - 1) + Count(hi_ - st.hi) : -1;
    out.reach[1] = first + length <= st.hi ? Count(first + length) + Count(lo_ - st.lo) : 0x1p64;
    const double edge[2] = {window_.p[0], window_.p[length - 1]};
    const double offset[2] = {Signed(first, ref) - 1, Signed(first, ref) + static_cast<double>(length)};
    const double count[2] = {Count(first - st.lo), Count(st.hi - (first + length - 1))};
    for (std::size_t side = 0; side < 2; ++side) {
      const bool none = beyond[side] == 0;  // the window reaches the support's end
      out.count[side] = none ? 0 : count[side];
      if (none) continue;  // the rest is read only where something is left out
      out.log_first[side] = dd::LogToDouble(beyond[side]);
      out.offset[side] = offset[side];
      out.ratio[side] = beyond[side] / edge[side];
    }
    d->refs += ref;
    d->log_base = dd::Add(d->log_base, log_ref);
    if (k == 0) {
      if (!Grow(&d->v, &d->capacity, length)) return false;
      std::memcpy(d->v, window_.p, length * sizeof(double));
      d->length = length;
      d->first = first;
      d->error = kWindowError;
      continue;
    }
    d->first += first;
    if (length == 1) continue;  // a shift alone
    const std::size_t na = std::min(length, d->length), nb = std::max(length, d->length);
    work_ += static_cast<double>(na) * static_cast<double>(nb);
    if (work_ > kMaxWork) {
      status_ = StrataStatus::kTooWide;
      return false;
    }
    const std::size_t need = na + nb - 1;
    if (!Grow(&spare_.p, &spare_.size, need)) return false;
    if (length <= d->length) {
      Convolve(window_.p, length, d->v, d->length, spare_.p);
    } else {
      Convolve(d->v, d->length, window_.p, length, spare_.p);
    }
    std::swap(d->v, spare_.p);
    std::swap(d->capacity, spare_.size);
    d->length = need;
    d->error += kWindowError + static_cast<double>(na + 1) * kU;
    // Trimmed below TrimBelow(cut) of the largest, which is scaled into [1, 2).
    const std::size_t top = Largest(d->v, d->length);
    const double floor = d->v[top] * TrimBelow(cut, k_);
    std::size_t from = 0, to = d->length;
    while (d->v[from] < floor) ++from;
    while (d->v[to - 1] < floor) --to;
    if (from > 0 || to < d->length) {
      // What the trim leaves out, from the terms it keeps: each computed
      // term within d->error (e) of the exact convolution of what was kept
      // before, itself log-concave, so that each ratio of neighbours beyond
      // the trim is at most the last kept ratio that way, within
      // (1 + e) / (1 - e) <= 1 + 4 e of the computed one, and the first
      // term beyond at most the kept edge's times it; the terms kept are
      // at least 2^-1001 of the largest, and the products that underflow
      // in them add below 2^-50 of them. The quotients' and products'
      // roundings are within the 2^-38 added.
      const double slack = (1 + 4 * d->error) * (1 + 0x1p-38);
      LeftOut& trim = d->left_out[d->left_outs++];
      const std::size_t kept[2] = {from, to - 1};  // the kept edges
      const bool pair = to - from >= 2;  // each with a kept neighbour inside
      const double cut_off[2] = {static_cast<double>(from), static_cast<double>(d->length - to)};
      trim.reach[0] = from > 0 ? Count(d->first + from - 1) + Count(hi_ - hi_so_far) : -1;
      trim.reach[1] = Count(d->first + to) + Count(lo_ - lo_so_far);
      trim.offset[0] = -static_cast<double>(top - from) - 1;
      trim.offset[1] = static_cast<double>(to - top);
      for (std::size_t side = 0; side < 2; ++side) {
        trim.count[side] = cut_off[side];
        if (cut_off[side] == 0) continue;
        const std::size_t inside = side == 0 ? kept[0] + 1 : kept[1] - 1;
        const double ratio = pair ? d->v[kept[side]] / d->v[inside] * slack : 1.0;
        trim.ratio[side] = ratio;
        const double lead = d->v[kept[side]] / d->v[top] * slack;
        const double product = lead * ratio;
        trim.log_first[side] = product >= std::numeric_limits<double>::min()
                                   ? dd::LogToDouble(product)
                                   : dd::LogToDouble(lead) + dd::LogToDouble(ratio);
      }
    }
    int e = 0;
    std::frexp(d->v[top], &e);
    const double scale = std::ldexp(1.0, 1 - e);
    for (std::size_t i = from; i < to; ++i) d->v[i - from] = d->v[i] * scale;
    d->exponent += e - 1;
    d->first += from;
    d->length = to - from;
  }
  // Its mean and sd, about the largest term.
  const std::size_t top = Largest(d->v, d->length);
  double s0 = 0, m1 = 0, m2 = 0;
  double u = -static_cast<double>(top);  // i - top, counted on exactly
  for (std::size_t i = 0; i < d->length; ++i) {
    const double v = d->v[i];
    s0 += v, m1 += u * v, m2 += u * u * v;
    u += 1;
  }
  const double mean = m1 / s0;
  d->total = s0;
  d->top = d->first + top;
  d->mean = mean;
  const double var = m2 / s0 - mean * mean;
  d->sd = var > 0 ? std::sqrt(var) : 0;
  return true;
}

// The distribution near the estimate (the one the estimate came from, or
// one at it), or where s is an end of the support, at the t where the mean
// is half a table inside it.
void Stratified::Start() {
  if (started_) return;
  started_ = true;
  double t;
  if (s_ == lo_) {
    t = TiltFor(lo_, 0.5, -1);
  } else if (s_ == hi_) {
    t = TiltFor(hi_, -0.5, 1);
  } else {
    Estimate();
    if (from_first_) return;
    t = log_psi_;
  }
  if (status_ == StrataStatus::kOk) Build(t, &d0_, first_cut_);
}

// Whether P(S = x) is above (+1) or below (-1) P(S = y), where the
// doubles' error leaves it open: 0 where it stays open. Where the work
// stays within kOrderWork multiply-adds (each window, and the running
// result, at most kOrderLength terms: 192 KiB in all), the weights of S at
// psi = 1, relative to the strata's modes, in
// double-double: each weight its neighbour times the ratio of cell
// products (three operations within 2^-102 each, and the product), within
// 2047 2^-100 < 2^-89 of its value, relative; each term of the convolution
// a sum of at most 4096 positive products, so that each stratum adds at
// most 2^-89 + 2^-102 + 4096 2^-104 < 2^-88.4 to its error: K of them,
// below K 2^-88.4.
// Each window runs from the mode until its weights fall below 2^-200;
// beyond, they fall at least as fast as the last ratio q, so what a window
// leaves out is at most the first weight cut over 1 - q. The running
// result is scaled by a power of two to a largest term in [1, 2) and its
// terms below 2^-400 dropped, so that every product stays within the
// double-doubles' range (2^-900 up). What the windows and the dropping
// leave out, at any sum, is at most `missing`: carried through each
// convolution as its bound times the stratum's total, plus the total so
// far times what the stratum's window leaves out. Two values then differ
// where they are more than K 2^-87 of their sum (beyond both errors) and
// twice `missing` apart.
int Stratified::Order(std::uint64_t x, std::uint64_t y) {
  if (exact_state_ == 0) {
    exact_state_ = -1;
    DD* buffer = static_cast<DD*>(std::malloc(3 * kOrderLength * sizeof(DD)));
    if (buffer == nullptr) return 0;
    exact_ = buffer;
    DD *total = buffer, *next = buffer + kOrderLength, *w = buffer + 2 * kOrderLength;
    std::size_t have = 1;
    std::uint64_t first = 0;
    total[0] = DD(1.0);
    double mass = 1, missing = 0;  // at least the total so far, and what it leaves out
    double work = 0;
    for (std::size_t k = 0; k < k_; ++k) {
      const Stratum& st = strata_[k];
      const std::uint64_t mode = ModeAt(st, WeightsAt(st.m, st.lo, DD(0.0), 0));
      double beyond = 0;  // what the window leaves out, relative to the mode
      std::size_t n = 1, at = kOrderLength / 2;  // w[at] is the mode's weight; the window w[from .. from + n)
      std::size_t from = at;
      w[at] = DD(1.0);
      for (int dir : {-1, +1}) {
        DD weight(1.0);
        for (std::uint64_t v = mode; dir < 0 ? v > st.lo : v < st.hi; v = dir < 0 ? v - 1 : v + 1) {
          const StepCells f = StepCellsAt(st.m, v, dir);  // P(v + dir) / P(v)
          const DD q = dd::Div(dd::Mul(dd::FromUint64(f.n1), dd::FromUint64(f.n2)),
                               dd::Mul(dd::FromUint64(f.e1 + 1), dd::FromUint64(f.e2 + 1)));
          weight = dd::Mul(weight, q);
          if (!(weight.hi >= 0x1p-200)) {
            if (!(q.hi < 1)) return 0;
            beyond += weight.hi / (1 - q.hi) * (1 + 0x1p-40);
            break;
          }
          if (n == kOrderLength / 2 || have + n > kOrderLength) return 0;
          if (dir < 0) {
            w[--from] = weight;
          } else {
            w[from + n] = weight;
          }
          ++n;
        }
      }
      double sum = 0;
      for (std::size_t j = 0; j < n; ++j) sum += w[from + j].hi;
      sum = sum * (1 + 0x1p-40) + beyond;
      missing = missing * sum + mass * beyond;
      mass *= sum;
      first += mode - (at - from);
      work += static_cast<double>(have) * static_cast<double>(n);
      if (work > kOrderWork) return 0;
      for (std::size_t i = 0; i < have + n - 1; ++i) next[i] = DD(0.0);
      for (std::size_t i = 0; i < have; ++i) {
        for (std::size_t j = 0; j < n; ++j) next[i + j] = dd::Add(next[i + j], dd::Mul(total[i], w[from + j]));
      }
      std::swap(total, next);
      have += n - 1;
      // Scaled to a largest term in [1, 2) (mass and missing with it), the
      // terms below 2^-400 of it dropped into missing.
      double top = 0;
      for (std::size_t i = 0; i < have; ++i) top = std::max(top, total[i].hi);
      int e = 0;
      std::frexp(top, &e);
      const double floor = std::ldexp(top, -400);
      std::size_t lo = 0, hi = have;
      while (total[lo].hi < floor) missing += total[lo++].hi * (1 + 0x1p-40);
      while (total[hi - 1].hi < floor) missing += total[--hi].hi * (1 + 0x1p-40);
      for (std::size_t i = lo; i < hi; ++i) total[i - lo] = dd::Scale(total[i], 1 - e);
      first += lo;
      have = hi - lo;
      mass = std::ldexp(mass, 1 - e), missing = std::ldexp(missing, 1 - e);
    }
    if (total != exact_) std::memcpy(exact_, total, have * sizeof(DD));
    exact_first_ = first, exact_length_ = have, exact_missing_ = missing;
    exact_state_ = 1;
  }
  if (exact_state_ < 0 || x < exact_first_ || y < exact_first_ || x - exact_first_ >= exact_length_ ||
      y - exact_first_ >= exact_length_) {
    return 0;
  }
  const DD px = exact_[x - exact_first_], py = exact_[y - exact_first_];
  const double apart = static_cast<double>(k_) * 0x1p-87 * (px.hi + py.hi) + 2 * exact_missing_;
  const double diff = dd::Sub(px, py).hi;
  return diff > apart ? +1 : -diff > apart ? -1 : 0;
}

// Whether d's term at x is accurate, and with it d's terms from x to `to`
// at psi = 1, e^(-t (y - x)) times their own: where those weights fall,
// as Covers; where they grow, the mass left out there, so reweighted,
// below kAccept of their sum.
bool Stratified::Serves(const Distribution& d, std::uint64_t x, std::uint64_t to) {
  if (!Covers(d, x, to)) return false;
  const int dir = to > x ? +1 : -1;
  const double delta = -d.t;
  if (to == x || delta * dir <= 0) return true;
  const Side ahead = SumSide(d, x, dir, delta);
  const Side behind = SumSide(d, x, -dir, delta);
  const double tail = 1 + ahead.total.Value(), whole = tail + behind.total.Value();
  return ahead.finite && std::isfinite(whole) &&
         Missing(d, delta, std::min(x, to), std::max(x, to)) * whole <= kAccept * tail;
}

// A distribution that serves x to `to`: d0_ or far_ where one does, else far_
// rebuilt at the tilt where the mean of S is x (half a table inside the
// support at its ends), found by the estimate's safeguarded search from
// `from`'s tilt.
Distribution* Stratified::Centred(std::uint64_t x, std::uint64_t to, const Distribution& from) {
  if (Serves(d0_, x, to)) return &d0_;
  if (Serves(far_, x, to)) return &far_;
  // First where `from`'s mean and variance put the mean at x (a window
  // needs it only near x), then at the tilt that does.
  const double var = from.sd * from.sd;
  if (x != lo_ && x != hi_ && var > 0) {
    const double guess = from.t + Deviation(from, x) / var;
    if (status_ != StrataStatus::kOk || !Build(guess, &far_, kShallowCut)) return nullptr;
    if (Serves(far_, x, to)) return &far_;
  }
  const double frac = x == lo_ ? 0.5 : x == hi_ ? -0.5 : 0;
  const double t = TiltFor(x, frac, from.t);
  for (const double cut : {kShallowCut, kDeepCut}) {
    if (status_ != StrataStatus::kOk || !Build(t, &far_, cut)) return nullptr;
    if (Serves(far_, x, to)) return &far_;
  }
  return nullptr;
}

void Stratified::Tails(bool two_sided, StrataTails* out) {
  Start();
  if (status_ != StrataStatus::kOk) return;
  other_.length = far_.length = 0;  // from d0_ alone
  const AccuratePValue kOne{DD(0.0), DD(1.0), true};
  // The sides of s at psi = 1 from the distribution near the estimate,
  // centred near s. The side away from its tilt falls faster than
  // the distribution there, its terms weighted by at most 1: the mass left
  // out bounds its error. The other grows, and serves where the mass left
  // out at psi = 1 is small beside it; where it is not, the complement.
  const Distribution* d = &d0_;
  Side down, up;
  bool down_ok = false, up_ok = false;
  auto sides = [&](const Distribution& dist) {
    const double delta = -dist.t;
    down = SumSide(dist, s_, -1, delta);
    up = SumSide(dist, s_, +1, delta);
    const double down_sum = 1 + down.total.Value(), up_sum = 1 + up.total.Value();
    const double at_s = dist.v[s_ - dist.first];
    const double whole = down_sum + up_sum - 1;
    // The error of a side: what is left out of its sums (at d's own tilt
    // for the side that falls, its weights at most 1), beside it.
    auto error = [&](std::uint64_t from, std::uint64_t to, bool falls) {
      if (falls) return Missing(dist, 0, from, to) * dist.total / at_s;
      return std::isfinite(whole) ? Missing(dist, delta, from, to) * whole : 0x1p1000;
    };
    down_ok = down.finite && error(lo_, s_, delta >= 0) <= kAccept * down_sum;
    up_ok = up.finite && error(s_, hi_, delta <= 0) <= kAccept * up_sum;
  };
  // The side that falls is the one that matters (the smaller tail).
  auto delta_side_ok = [](bool down_good, bool up_good, double t) {
    return t > 0 ? up_good : t < 0 ? down_good : (up_good || down_good);
  };
  sides(*d);
  if (!(delta_side_ok(down_ok, up_ok, d->t))) {
    // Deeper windows at the same tilt, then at psi = 1 itself.
    if (!Build(d0_.t, &other_, kDeepCut)) return;
    d = &other_;
    sides(*d);
    if (!delta_side_ok(down_ok, up_ok, d->t)) {
      if (!Build(0, &other_, kDeepCut)) return;
      d = &other_;
      if (!Holds(*d, s_)) {
        status_ = StrataStatus::kTooWide;
        return;
      }
      sides(*d);
    }
  }
  const DD lp = LogMass(*d, s_);
  const DD p0 = dd::Exp(lp);
  const DD down_sum = dd::Add(DD(1.0), down.total.Pair()), up_sum = dd::Add(DD(1.0), up.total.Pair());
  auto tail = [&](bool ok, const DD& own, const DD& other, double half) {
    if (ok) return AccuratePValue{lp, dd::Sub(own, DD(half)), false};
    // 1 - P(the other side beyond s) - half P(s)
    return AccuratePValue{DD(0.0), dd::Sub(DD(1.0), dd::Mul(p0, dd::Sub(other, DD(1.0 - half)))), false};
  };
  out->less = s_ == hi_ ? kOne : tail(down_ok, down_sum, up_sum, 0);
  out->greater = s_ == lo_ ? kOne : tail(up_ok, up_sum, down_sum, 0);
  out->mid_less = tail(down_ok, down_sum, up_sum, 0.5);
  out->mid_greater = tail(up_ok, up_sum, down_sum, 0.5);
  if (!two_sided) return;

  // Which side of the mode s lies on, from its neighbours' ratios at psi = 1.
  const std::size_t i0 = static_cast<std::size_t>(s_ - d->first);
  const double near_error = 2 * d->error + 4 * kU * (1 + std::fabs(d->t));
  auto log_ratio = [&](int dir) {  // ln P(s + dir) / P(s)
    const std::size_t j = dir > 0 ? i0 + 1 : i0 - 1;
    return dd::LogToDouble(d->v[j] / d->v[i0]) - dir * d->t;
  };
  const bool has_up = s_ < hi_ && i0 + 1 < d->length, has_down = s_ > lo_ && i0 > 0;
  const double r_up = has_up ? log_ratio(+1) : -1, r_down = has_down ? log_ratio(-1) : -1;
  // A neighbour within the error: more probable, less, or still tied (0).
  const int up_order = has_up && std::fabs(r_up) <= near_error ? Order(s_ + 1, s_) : r_up > 0 ? +1 : -1;
  const int down_order = has_down && std::fabs(r_down) <= near_error ? Order(s_ - 1, s_) : r_down > 0 ? +1 : -1;
  int far;  // the direction of the opposite tail
  if (up_order > 0) {
    far = +1;
  } else if (down_order > 0) {
    far = -1;
  } else {
    // s is a mode: every table is at most as probable; a neighbour within
    // the error, and not ordered, is tied.
    out->two_sided = kOne;
    double tied = 1;
    if (has_up && up_order == 0) tied += dd::ExpToDouble(DD(r_up));
    if (has_down && down_order == 0) tied += dd::ExpToDouble(DD(r_down));
    out->mid_two_sided = AccuratePValue{DD(0.0), dd::Sub(DD(1.0), dd::Mul(p0, DD(tied / 2))), false};
    out->tie = TieRule::kNone;
    return;
  }
  const bool own_ok = far > 0 ? down_ok : up_ok;
  if (!own_ok) {
    status_ = StrataStatus::kTooWide;  // not met: the own side falls at the estimate
    return;
  }
  const DD own = far > 0 ? down_sum : up_sum;
  if (mirror_) {
    // S is symmetric: the opposite tail mirrors the observed one, tied at
    // its edge lo + hi - s exactly.
    out->two_sided = AccuratePValue{lp, dd::Add(own, own), false};
    out->mid_two_sided = AccuratePValue{lp, dd::Sub(dd::Add(own, own), DD(1.0)), false};
    out->tie = TieRule::kMirror;
    return;
  }
  // The opposite tail's edge: the first x beyond s towards `far` with
  // ln P(x) - ln P(s) at most the error. That difference is concave in x
  // and positive at s + far, so Newton's steps on it from either side land
  // at or beyond the edge and close on it; each probe from a distribution
  // centred near it.
  const std::uint64_t end = far > 0 ? hi_ : lo_;
  auto beyond = [&](std::uint64_t x, std::uint64_t y) { return far > 0 ? x > y : x < y; };
  struct Probe {
    DD ell;
    double tol;
    const Distribution* dist;
    int order;  // P(x) above (+1) or below (-1) P(s), 0 tied within the error
    bool counted;
  };
  const Distribution* last = d;
  // x's term (and the tail from it to `to`)
  auto probe = [&](std::uint64_t x, std::uint64_t to, Probe* p) {
    const Distribution* dist = Centred(x, to, *last);
    if (dist == nullptr) {
      if (status_ == StrataStatus::kOk) status_ = StrataStatus::kTooWide;
      return false;
    }
    last = dist;
    p->ell = dd::Sub(LogMass(*dist, x), lp);
    p->tol = d->error + dist->error + 0x1p-90 * (1 + std::fabs(lp.hi));
    p->dist = dist;
    p->order = std::fabs(p->ell.hi) <= p->tol ? Order(x, s_) : p->ell.hi > 0 ? +1 : -1;
    p->counted = p->order <= 0;
    return true;
  };
  // From the Gaussian picture at d's tilt t, mean mu and variance V:
  // ln P(x) - ln P(s) is about -t (x - s) - ((x - mu)^2 - (s - mu)^2) / 2V,
  // zero again at 2 mu - s - 2 t V.
  std::uint64_t not_counted = far > 0 ? s_ + 1 : s_ - 1;  // known more probable (up_order, down_order)
  // from + by, rounded towards `far`, strictly beyond not_counted and at
  // most the end: in distances from not_counted, so that a step of a few
  // tables moves S near 2^63 too.
  auto clamp_to = [&](std::uint64_t from, double by) {
    const std::uint64_t room = far > 0 ? end - not_counted : not_counted - end;
    const double ahead = far * (Signed(from, not_counted) + by);
    std::uint64_t k = 1;
    if (room == 0 || ahead >= Count(room)) {
      k = room;
    } else if (ahead > 1) {
      k = std::min(room, static_cast<std::uint64_t>(std::ceil(ahead)));
    }
    return far > 0 ? not_counted + k : not_counted - k;
  };
  Probe p{};
  if (not_counted == end) {  // s + far is the end, and not counted
    out->two_sided = AccuratePValue{lp, own, false};
    out->mid_two_sided = AccuratePValue{lp, dd::Sub(own, DD(0.5)), false};
    out->tie = TieRule::kSeparated;
    return;
  }
  std::uint64_t x = clamp_to(s_, -2 * Deviation(*d, s_) - 2 * d->t * d->sd * d->sd);
  std::uint64_t counted_at = 0;
  bool found = false;
  double stride = 0;  // the last step short of the mode
  for (int iteration = 0; iteration < 200; ++iteration) {
    if (!probe(x, x, &p)) return;
    if (!p.counted) {
      not_counted = x;
      if (x == end) break;  // none counted
    } else {
      counted_at = x;
      found = true;
    }
    // The next: Newton's step on the log-mass from x (its slope at x is
    // -t - (x - mean) / V at the distribution's tilt), or the neighbour of
    // the counted edge where the step would not move. Short of the mode,
    // where the log-mass still rises towards `far`, a standard deviation
    // on, doubled at each such step after the first: the mode may lie
    // thousands of them on (s far in its tail, the variance at its tilt
    // far below the one at psi = 1).
    const Distribution& dist = *p.dist;
    const double var = dist.sd * dist.sd > 0 ? dist.sd * dist.sd : 1;
    const double slope = -dist.t - Deviation(dist, x) / var;
    const double ell = p.ell.hi - p.tol;
    std::uint64_t nx;
    if (slope != 0 && far * slope < 0) {
      nx = clamp_to(x, -ell / slope);
      stride = 0;
    } else {
      stride = stride > 0 ? 2 * stride : dist.sd;
      nx = clamp_to(x, far * stride);
    }
    if (found && !beyond(counted_at, nx)) nx = far > 0 ? counted_at - 1 : counted_at + 1;
    if (found && nx == not_counted) break;  // counted_at is the edge
    if (found && beyond(nx, counted_at)) nx = far > 0 ? counted_at - 1 : counted_at + 1;
    if (nx == not_counted) break;
    x = nx;
  }
  // Closed: the counted edge next to a table not counted, or none counted
  // up to the end. Otherwise no value rather than a wrong one.
  if (found ? counted_at != (far > 0 ? not_counted + 1 : not_counted - 1) : not_counted != end) {
    status_ = StrataStatus::kTooWide;
    return;
  }
  if (!found) {  // no table beyond the mode is as improbable
    out->two_sided = AccuratePValue{lp, own, false};
    out->mid_two_sided = AccuratePValue{lp, dd::Sub(own, DD(0.5)), false};
    out->tie = TieRule::kSeparated;
    return;
  }
  if (!probe(counted_at, end, &p)) return;
  const Distribution& edge = *p.dist;
  const Side far_side = SumSide(edge, counted_at, far, -edge.t);
  const bool tied = p.order == 0;
  const DD scale = dd::Exp(p.ell);
  const DD far_sum = dd::Add(DD(1.0), far_side.total.Pair());
  out->two_sided = AccuratePValue{lp, dd::Add(own, dd::Mul(scale, far_sum)), false};
  out->mid_two_sided =
      AccuratePValue{lp, dd::Add(dd::Sub(own, DD(0.5)), dd::Mul(scale, dd::Sub(far_sum, DD(tied ? 0.5 : 0.0)))), false};
  out->tie = tied ? TieRule::kWithinError : std::fabs(p.ell.hi) <= p.tol ? TieRule::kOrdered : TieRule::kSeparated;
}

// ln P(S >= s; t) (side +1) or ln P(S <= s; t) (side -1) and its first two
// derivatives, from a distribution that serves t.
double Stratified::OddsRatioBound(Bound which, double alpha) {
  const int side = which == Bound::kLower ? +1 : -1;
  if (side > 0 && s_ == lo_) return 0.0;
  if (side < 0 && s_ == hi_) return std::numeric_limits<double>::infinity();
  Start();
  if (status_ != StrataStatus::kOk) return 0;
  other_.length = 0;  // from d0_ alone
  const double log_alpha = dd::LogToDouble(alpha);
  auto equation = [&](double t, double* value, double* slope, double* curve) {
    const Distribution* d = nullptr;
    Side below, above;
    // A distribution serves t where its sums are finite and the mass its
    // windows and trims leave out at t is below kAccept of the tail. Far
    // from the root it may serve for the sign alone (all the search needs
    // there): the tail's value, even with all that is left out added to it
    // or to the whole, a factor e beyond alpha.
    auto tries = [&](const Distribution& dist) {
      if (dist.length == 0 || !Holds(dist, s_)) return false;
      const double delta = t - dist.t;
      below = SumSide<2>(dist, s_, -1, delta);
      above = SumSide<2>(dist, s_, +1, delta);
      if (!(below.finite && above.finite)) return false;
      const double b0 = below.total.Value(), a0 = above.total.Value();
      const double tail = side > 0 ? 1 + a0 : 1 + b0, whole = 1 + a0 + b0;
      if (!std::isfinite(whole)) return false;
      // The tail's relative error: what is left out of it, beside it, and
      // of the whole, beside the whole.
      const double in_tail = (side > 0 ? Missing(dist, delta, s_, hi_) : Missing(dist, delta, lo_, s_)) * whole;
      const double in_whole = Missing(dist, delta, lo_, hi_);
      if (in_tail + in_whole * tail <= kAccept * tail) return true;
      // Unbounded (a window's edge does not fall), no sign either.
      const double most_tail = tail + in_tail, least_whole = whole * (1 + in_whole);
      if (!(most_tail <= std::numeric_limits<double>::max() && least_whole <= std::numeric_limits<double>::max())) {
        return false;
      }
      return LogQuotient(most_tail, whole) < log_alpha - 1 || LogQuotient(tail, least_whole) > log_alpha + 1;
    };
    if (tries(d0_)) {
      d = &d0_;
    } else if (tries(other_) || (Build(t, &other_, kShallowCut) && tries(other_)) ||
               (status_ == StrataStatus::kOk && Build(t, &other_, kDeepCut) && tries(other_))) {
      d = &other_;
    }
    if (d == nullptr && status_ == StrataStatus::kOk && other_.length > 0 && !Holds(other_, s_)) {
      // Far from the root the distribution at t may not reach s at all:
      // the tail is then all of it or nothing to within 2^-80, a sign (a
      // flat slope sends the search to its bracket).
      const bool beyond_all = side > 0 ? s_ > other_.first : s_ < other_.first;
      const double log_tail = beyond_all ? -1000.0 : 0.0;
      *value = side * (log_tail - log_alpha), *slope = 0x1p-900, *curve = 0;
      return;
    }
    if (d == nullptr) {
      if (status_ == StrataStatus::kOk) status_ = StrataStatus::kTooWide;
      *value = 0, *slope = 1, *curve = 0;
      return;
    }
    // Moments about s: the tail's (s included, at 1) and the whole's.
    const double b0 = below.total.Value(), a0 = above.total.Value();
    const double t0 = 1 + (a0 + b0), t1 = above.first - below.first, t2 = above.second + below.second;
    double c0, c1, c2;
    if (side > 0) {
      c0 = 1 + a0, c1 = above.first, c2 = above.second;
    } else {
      c0 = 1 + b0, c1 = -below.first, c2 = below.second;
    }
    const double mean_all = t1 / t0, mean_tail = c1 / c0;
    const double g = LogQuotient(c0, t0);
    const double dg = mean_tail - mean_all;
    const double d2g = (c2 / c0 - mean_tail * mean_tail) - (t2 / t0 - mean_all * mean_all);
    *value = side * (g - log_alpha);
    *slope = side * dg;
    *curve = side * d2g;
  };
  // From the estimate (d0_'s tilt at an end of the support), where S has
  // mean s and variance V, the bound moves the mean by z sqrt(V) and a half.
  const bool interior = s_ != lo_ && s_ != hi_;
  const double centre = interior ? log_psi_ : d0_.t;
  const double var = interior && estimate_variance_ > 0 ? estimate_variance_ : d0_.sd * d0_.sd;
  const double z = NormalQuantile(alpha);
  const double start = var > 0 ? centre - side * (z * std::sqrt(var) + 0.5) / var : centre - side;
  const double t = Solve(equation, start);
  if (status_ != StrataStatus::kOk) return 0;
  return dd::ExpToDouble(DD(t));
}

double MantelHaenszel(const std::uint64_t* counts, std::size_t k) {
  if (k == 1) return SampleOddsRatio(counts[0], counts[1], counts[2], counts[3]);
  DD num(0.0), den(0.0);
  bool num_zero = true, den_zero = true;
  for (std::size_t i = 0; i < k; ++i) {
    const std::uint64_t* c = counts + 4 * i;
    const std::uint64_t n = c[0] + c[1] + c[2] + c[3];
    if (n == 0) continue;
    const U128 ad = Mul64(c[0], c[3]), bc = Mul64(c[1], c[2]);
    const DD total = dd::FromUint64(n);
    if (!IsZero(ad)) num = dd::Add(num, dd::Div(dd::FromUint128(ad.hi, ad.lo), total)), num_zero = false;
    if (!IsZero(bc)) den = dd::Add(den, dd::Div(dd::FromUint128(bc.hi, bc.lo), total)), den_zero = false;
  }
  if (den_zero) return num_zero ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
  if (num_zero) return 0.0;
  const DD q = dd::Div(num, den);
  return q.hi + q.lo;
}
