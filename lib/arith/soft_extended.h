// A 64-bit-significand accumulator in integer arithmetic, for platforms
// whose long double has no 64-bit significand.
#ifndef FISHER2X2_ARITH_SOFT_EXTENDED_H
#define FISHER2X2_ARITH_SOFT_EXTENDED_H

#include <cstdint>

// A binary floating-point accumulator with a 64-bit significand, written with
// integer arithmetic only. Every addition or subtraction of a double rounds
// the exact result once to 64 significant bits, to nearest with ties to even,
// exactly as the x87 unit does under 64-bit precision control; conversion to
// double rounds once more, to nearest even, subnormals and overflow included.
// Operands must be finite. The exponent range is wide enough that sums of a
// few dozen doubles never overflow or underflow inside the accumulator.
class SoftExtended {
 public:
  SoftExtended() = default;  // +0
  explicit SoftExtended(double v);
  SoftExtended& operator+=(double v);
  SoftExtended& operator-=(double v);
  explicit operator double() const;

 private:
  void Add(bool neg, std::int32_t exp, std::uint64_t mant);

  // Value is (-1)^neg_ * mant_ * 2^exp_; mant_ has its top bit set, or is 0
  // for a zero (whose sign neg_ still carries).
  std::uint64_t mant_ = 0;
  std::int32_t exp_ = 0;
  bool neg_ = false;
};

#endif  // FISHER2X2_ARITH_SOFT_EXTENDED_H
