// Fisher's exact test: log-factorial table, table probability, tail sums.
#include "exact_test.h"

#include <cmath>
#include <cstring>

#include "exact_compare.h"

double LogFactorial[kMaxTotal + 1];

namespace {

// Scratch for the orienting exchanges.
int temp;

__extension__ using u128 = unsigned __int128;

int CountLeadingZeros128(u128 x) {
  const auto hi = static_cast<std::uint64_t>(x >> 64);
  if (hi != 0) return __builtin_clzll(hi);
  return 64 + __builtin_clzll(static_cast<std::uint64_t>(x));
}

}  // namespace

// ---------------------------------------------------------------------------
// SoftExtended

namespace {

// A finite double as sign, exponent and a significand with its top bit set
// (0 for zeros): value = (-1)^neg * mant * 2^exp.
struct Unpacked {
  bool neg;
  std::int32_t exp;
  std::uint64_t mant;
};

Unpacked Unpack(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const bool neg = (bits >> 63) != 0;
  const auto field = static_cast<std::int32_t>((bits >> 52) & 0x7ff);
  const std::uint64_t frac = bits & ((std::uint64_t{1} << 52) - 1);
  if (field == 0) {
    if (frac == 0) return {neg, 0, 0};
    // Subnormal: frac * 2^-1074.
    const int shift = __builtin_clzll(frac);
    return {neg, -1074 - shift, frac << shift};
  }
  return {neg, field - 1075 - 11, (frac | std::uint64_t{1} << 52) << 11};
}

}  // namespace

SoftExtended::SoftExtended(double v) {
  const Unpacked u = Unpack(v);
  mant_ = u.mant;
  exp_ = u.exp;
  neg_ = u.neg;
}

SoftExtended& SoftExtended::operator+=(double v) {
  const Unpacked u = Unpack(v);
  Add(u.neg, u.exp, u.mant);
  return *this;
}

SoftExtended& SoftExtended::operator-=(double v) {
  const Unpacked u = Unpack(v);
  Add(!u.neg, u.exp, u.mant);
  return *this;
}

// Adds (-1)^neg * mant * 2^exp, mant normalised or 0, and rounds once.
void SoftExtended::Add(bool neg, std::int32_t exp, std::uint64_t mant) {
  if (mant == 0) {
    // x + 0 is x; the sum of two zeros is -0 only when both are -0.
    if (mant_ == 0) neg_ = neg_ && neg;
    return;
  }
  if (mant_ == 0) {
    mant_ = mant;
    exp_ = exp;
    neg_ = neg;
    return;
  }
  // Order the operands by magnitude: x is the larger. With normalised
  // significands the larger exponent means the larger magnitude.
  bool x_neg = neg_, y_neg = neg;
  std::int32_t x_exp = exp_, y_exp = exp;
  std::uint64_t x_mant = mant_, y_mant = mant;
  if (y_exp > x_exp || (y_exp == x_exp && y_mant > x_mant)) {
    x_neg = neg;
    y_neg = neg_;
    x_exp = exp;
    y_exp = exp_;
    x_mant = mant;
    y_mant = mant_;
  }

  // Work with 64 bits below each significand: x at bits 127..64, y shifted
  // right by the exponent gap. Bits of y that fall off go into `sticky`:
  // they only ever sit below the rounding position.
  const std::int32_t gap = x_exp - y_exp;
  const u128 x_wide = static_cast<u128>(x_mant) << 64;
  u128 y_wide = static_cast<u128>(y_mant) << 64;
  bool sticky = false;
  if (gap >= 128) {
    y_wide = 0;
    sticky = true;
  } else if (gap > 0) {
    sticky = (y_wide & ((static_cast<u128>(1) << gap) - 1)) != 0;
    y_wide >>= gap;
  }

  u128 r;
  std::int32_t r_exp = x_exp;  // exponent of bit 64 of r
  if (x_neg == y_neg) {
    r = x_wide + y_wide;
    if (r < x_wide) {  // carry out of bit 127
      sticky = sticky || (r & 1) != 0;
      r = (r >> 1) | (static_cast<u128>(1) << 127);
      ++r_exp;
    }
  } else {
    r = x_wide - y_wide;
    // A nonzero fraction of y below bit 0 is taken as one unit borrowed plus
    // a positive remainder, which stays sticky.
    if (sticky) --r;
    if (r == 0 && !sticky) {  // exact cancellation gives +0
      mant_ = 0;
      exp_ = 0;
      neg_ = false;
      return;
    }
    // A gap of 2 or more leaves at least 127 bits, so the shift below moves
    // sticky bits no higher than bit 0; smaller gaps are exact.
    const int lz = CountLeadingZeros128(r);
    r <<= lz;
    r_exp -= lz;
  }

  auto hi = static_cast<std::uint64_t>(r >> 64);
  const auto lo = static_cast<std::uint64_t>(r);
  const bool round_bit = (lo >> 63) != 0;
  const bool below = (lo << 1) != 0 || sticky;
  if (round_bit && (below || (hi & 1) != 0)) {
    ++hi;
    // hi wraps to 0 when it was all ones (cppcheck misses the wrap).
    // cppcheck-suppress knownConditionTrueFalse
    if (hi == 0) {  // rounded up to the next power of two
      hi = std::uint64_t{1} << 63;
      ++r_exp;
    }
  }
  mant_ = hi;
  exp_ = r_exp;
  neg_ = x_neg;
}

SoftExtended::operator double() const {
  std::uint64_t bits = 0;
  if (mant_ != 0) {
    // Leading bit has weight 2^(exp_ + 63); doubles keep 53 bits when normal
    // and fewer below 2^-1022.
    const std::int32_t lead = exp_ + 63;
    int drop = 11;
    if (lead < -1022) drop += -1022 - lead;
    if (drop > 64) {
      bits = 0;  // below half the smallest subnormal
    } else {
      std::uint64_t kept = drop == 64 ? 0 : mant_ >> drop;
      const bool round_bit = ((mant_ >> (drop - 1)) & 1) != 0;
      const std::uint64_t below_mask = (std::uint64_t{1} << (drop - 1)) - 1;
      const bool below = (mant_ & below_mask) != 0;
      if (round_bit && (below || (kept & 1) != 0)) ++kept;
      if (lead < -1022) {
        bits = kept;  // subnormal; a carry to 2^52 is the smallest normal
      } else if (lead > 1023) {
        bits = std::uint64_t{0x7ff} << 52;  // infinity
      } else {
        // kept holds the hidden bit, so a carry to 2^53 bumps the exponent,
        // up to infinity.
        const std::int32_t biased = lead + 1023;  // 1 .. 2046
        bits = (static_cast<std::uint64_t>(biased - 1) << 52) + kept;
      }
    }
  }
  if (neg_) bits |= std::uint64_t{1} << 63;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// ---------------------------------------------------------------------------
// The test

void FillLogFactorial(int n) {
  LogFactorial[0] = 0.0;
  for (int i = 1; i <= n; ++i) {
    Extended sum(std::log(static_cast<double>(i)));
    sum += LogFactorial[i - 1];
    LogFactorial[i] = static_cast<double>(sum);
  }
}

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
  // Orient the table so that the observed-side tail runs towards a = 0:
  // afterwards a <= d, b <= c and a*d <= b*c. No exchange changes the
  // probability. Products stay below 2^31 for totals up to kMaxTotal.
  if (a * d > b * c) {
    temp = a; a = b; b = temp;
    temp = c; c = d; d = temp;
  }
  if (a > d) {
    temp = a; a = d; d = temp;
  }
  if (b > c) {
    temp = b; b = c; c = temp;
  }
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
