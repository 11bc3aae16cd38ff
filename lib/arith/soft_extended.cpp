// SoftExtended: x87-style extended-precision addition in integer arithmetic,
// on 64-bit words only, so that it builds on every target.
#include "arith/soft_extended.h"

#include <cstring>

#include "arith/uint128.h"

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

  // Work with 64 bits below each significand: x is {x_mant, 0}, y is
  // {y_mant, 0} shifted right by the exponent gap. Bits of y that fall off
  // go into `sticky`: they only ever sit below the rounding position.
  const std::int32_t gap = x_exp - y_exp;
  U128 y{y_mant, 0};
  bool sticky = false;
  if (gap >= 128) {
    y = {0, 0};
    sticky = true;
  } else if (gap > 0) {  // below a gap of 64 only zero bits fall off
    sticky = AnyBelow(y, gap);
    y = ShiftRight(y, gap);
  }

  U128 r;
  std::int32_t r_exp = x_exp;  // exponent of bit 64 of r
  if (x_neg == y_neg) {
    r.lo = y.lo;
    r.hi = x_mant + y.hi;
    if (r.hi < x_mant) {  // carry out of bit 127
      sticky = sticky || (r.lo & 1) != 0;
      r.lo = (r.lo >> 1) | (r.hi << 63);
      r.hi = (r.hi >> 1) | (std::uint64_t{1} << 63);
      ++r_exp;
    }
  } else {
    r = Minus(U128{x_mant, 0}, y);
    // A nonzero fraction of y below bit 0 is taken as one unit borrowed plus
    // a positive remainder, which stays sticky.
    if (sticky) {
      if (r.lo == 0) --r.hi;
      --r.lo;
    }
    if (IsZero(r) && !sticky) {  // exact cancellation gives +0
      mant_ = 0;
      exp_ = 0;
      neg_ = false;
      return;
    }
    // A gap of 2 or more leaves at least 127 bits, so the shift below moves
    // sticky bits no higher than bit 0; smaller gaps are exact.
    const int lz = CountLeadingZeros(r);
    r = ShiftLeft(r, lz);
    r_exp -= lz;
  }

  std::uint64_t hi = r.hi;
  const bool round_bit = (r.lo >> 63) != 0;
  const bool below = (r.lo << 1) != 0 || sticky;
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
