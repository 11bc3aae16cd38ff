// The exact stratified test of a common odds ratio over K 2x2 tables.
//
// Stratum k is a table a_k b_k / c_k d_k; X_k its cell a given its
// margins, S = X_1 + ... + X_K and s its observed value. Under a common
// odds ratio psi = e^t the X_k are independent noncentral hypergeometric,
// so P(S = x; psi) is proportional to c(x) psi^x, c the convolution of the
// strata's central weights. The p-values are tails of S at psi = 1; the
// estimate is the psi where the mean of S is s; the bounds are the psi
// where a tail of s takes a level.
//
// The distribution of S is computed at a tilt t: each stratum's weights
// P(X_k = x) e^(t x), relative to their mode, over the window where they
// are at least 2^-80 (or 2^-128) of it (tail_sum's neighbour ratios,
// anchored on the log-probability every 16 tables), convolved in the
// strata's order, the running result trimmed below 2^-100 (or deeper) of
// its largest and rescaled by a power of two (a few small strata are
// convolved whole).
// At the tilt where the mean of S is the point of interest (the observed
// sum; the opposite tail's edge; a bound), the terms that carry a tail are
// the central ones, each within the proven relative error that the walk
// and the convolution's roundings accumulate (Distribution::error), and
// what the windows and the trims leave out is bounded by their edges
// (Missing, in the .cpp) and checked by every sum. A tail at
// psi = 1 is the tilted terms times e^(-t x), summed from the point
// outward: the factor falls along the sum, so the sum keeps its relative
// accuracy however small the tail.
//
// The windows (and Order's weights, where a near tie is ordered) are the
// only memory the library allocates; they are freed before the test
// returns.
#ifndef FISHER2X2_STRATA_STRATIFIED_H
#define FISHER2X2_STRATA_STRATIFIED_H

#include <cstddef>
#include <cstdint>

#include "accurate/log_probability.h"
#include "accurate/odds_ratio.h"
#include "accurate/pvalues.h"

// A stratum whose margins allow more than one table; a is observed.
struct Stratum {
  Margins m;
  std::uint64_t a = 0, lo = 0, hi = 0;
};

// Sets *st to the stratum a b / c d (its total at most 2^63 - 1); false
// where its margins allow a single table.
bool MakeStratum(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, Stratum* st);

// The Mantel-Haenszel estimate sum a d / n over sum b c / n of the k
// tables a b c d in counts (empty tables add nothing): each product exact
// in 128 bits, each quotient and the sums in double-double, within 2^-100
// of the value for any k below 2^40, rounded once; inf where only the
// denominator is 0, nan where both are, as a d / (b c) for one table.
double MantelHaenszel(const std::uint64_t* counts, std::size_t k);

// Whether the strata's distributions, up to shifts, are closed under
// reflection (x -> -x): then S is symmetric about (lo + hi) / 2 exactly.
// `scratch` holds 4 k entries.
bool MirrorClosed(const Stratum* strata, std::size_t k, std::uint64_t* scratch);

enum class StrataStatus {
  kOk,
  kMemory,   // an allocation was refused
  kTooWide,  // the work would pass its bound (kMaxWork, kMaxTerms, kMaxLength)
};

// How the two-sided p-value's tie was decided.
enum class TieRule {
  kNone,         // no two-sided value, or the observed sum is a mode
  kMirror,       // the strata are closed under reflection: exact
  kSeparated,    // the edge's probability is proven different from the observed one
  kWithinError,  // the two lie within the computation's proven error: counted tied
  kOrdered,      // they lie within it, and are ordered in double-double (Order)
};

// The computation's bounds: the convolution's multiply-adds of one test,
// the window terms it walks (each a ratio and its rounding, some tens of
// nanoseconds where the counts are large: 10^7 of them stay within about
// half a second), and the length of one window or running distribution
// (2^24 doubles, 128 MiB; five such buffers at most are held).
inline constexpr double kMaxWork = 8e9;
inline constexpr double kMaxTerms = 1e7;
inline constexpr std::size_t kMaxLength = std::size_t{1} << 24;

// The p-values at psi = 1.
struct StrataTails {
  AccuratePValue less, greater, two_sided, mid_less, mid_greater, mid_two_sided;
  TieRule tie = TieRule::kNone;
};

// What a window of a stratum's weights, or a trim of the running
// distribution, leaves out on each side (0 below, 1 above), the weights
// log-concave in x: ln of a bound on the first weight left out, relative to
// a reference weight (the stratum's mode; the running distribution's
// largest), its offset from the reference, a bound on the ratio of each
// weight beyond to the one before it, and how many there are (0: none,
// and the side's other members unset); then the largest sum of S with it
// below, the smallest with it above.
struct LeftOut {
  double log_first[2], offset[2], ratio[2], count[2];
  double reach[2];
};

// The distribution of S at tilt t over a window: S = first + i has
//   ln P(S = first + i; 1) = ln v[i] + exponent ln 2 - t (first + i - refs) + log_base,
// each v[i] within `error` of its value, relative.
struct Distribution {
  double* v = nullptr;
  std::size_t capacity = 0, length = 0;
  std::uint64_t first = 0, refs = 0;  // refs: the sum of the strata's modes at t
  double t = 0;
  int exponent = 0;
  DD log_base = DD(0.0);  // the sum of ln P(X_k = mode_k)
  double error = 0;
  std::uint64_t top = 0;    // S at the largest term
  double mean = 0, sd = 0;  // of S at t, the mean less top (Deviation)
  double total = 0;         // the sum of v
  // What the windows and the running distribution's trims leave out, a
  // record each (Missing, in the .cpp).
  LeftOut* left_out = nullptr;
  std::size_t left_outs = 0, left_out_capacity = 0;
};

// The computation for one set of strata (at least two of them): the
// estimate first, then the tails and bounds, which start from it.
class Stratified {
 public:
  Stratified(const Stratum* strata, std::size_t k, bool mirror);
  ~Stratified();
  Stratified(const Stratified&) = delete;
  Stratified& operator=(const Stratified&) = delete;

  // kOk, or why a value could not be computed (the values are then unset).
  StrataStatus status() const { return status_; }

  // The conditional maximum-likelihood estimate psi: 0 and inf at the ends
  // of the support of S.
  double Estimate();
  void Tails(bool two_sided, StrataTails* out);
  // As OddsRatioBound for one table, S in place of X.
  double OddsRatioBound(Bound which, double alpha);

 private:
  struct Buffer {
    double* p = nullptr;
    std::size_t size = 0;
  };
  template <typename T>
  bool Grow(T** p, std::size_t* size, std::size_t n);
  bool Window(const Stratum& st, double t, double cut, std::uint64_t* first, std::size_t* length,
              std::uint64_t* ref, DD* log_ref, double beyond[2] = nullptr);
  void Moments(double t, double* mean, double* variance, double* third);
  double TiltFor(std::uint64_t target, double frac, double start);
  bool Serves(const Distribution& d, std::uint64_t x, std::uint64_t to);
  bool EstimateFrom(const Distribution& d);
  Distribution* Centred(std::uint64_t x, std::uint64_t to, const Distribution& from);
  bool Build(double t, Distribution* d, double cut);
  void Start();
  int Order(std::uint64_t x, std::uint64_t y);

  const Stratum* strata_;
  std::size_t k_;
  bool mirror_;
  std::uint64_t s_ = 0, lo_ = 0, hi_ = 0;
  StrataStatus status_ = StrataStatus::kOk;
  double work_ = 0;   // multiply-adds so far
  double terms_ = 0;  // window terms so far (kMaxTerms)
  Buffer window_, spare_;
  Distribution d0_;      // near the estimate (or near the end)
  // Elsewhere, as needed: each value starts from d0_ alone, whatever was
  // computed before it, so that no value depends on what else is asked.
  Distribution other_;   // the p-values' deeper windows; a bound's own
  Distribution far_;     // the opposite tail's edge
  bool estimated_ = false, started_ = false;
  bool from_first_ = false;  // the estimate came from d0_, built for it
  double log_psi_ = 0;  // the estimate's ln psi, where interior
  double estimate_variance_ = 0;  // S's variance there, where known
  double first_cut_ = 0x1p-80;  // d0_'s windows' edge (deeper for small strata)
  std::uint64_t moment_refs_ = 0;  // the strata's modes in the last Moments
  // Order's weights of S: exact_first_ + i at exact_[i], what they leave
  // out at most exact_missing_ anywhere.
  DD* exact_ = nullptr;
  std::uint64_t exact_first_ = 0;
  std::size_t exact_length_ = 0;
  double exact_missing_ = 0;
  int exact_state_ = 0;  // 0 not yet computed, 1 computed, -1 out of reach
};

#endif  // FISHER2X2_STRATA_STRATIFIED_H
