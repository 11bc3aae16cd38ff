// Double-double arithmetic: a value hi + lo carried in two doubles, about
// 106 significant bits, from IEEE double operations only (+, -, *, / rounded
// to nearest, no fused multiply-add), so that every target computes the
// same bits. With its own logarithm and exponential, for the accurate
// computation of tables of every size.
//
// Error bounds, with u = 2^-53 (all values finite, well inside the normal
// range: magnitudes between 2^-900 and 2^900):
//  - TwoSum, QuickTwoSum, TwoProd are exact (Knuth, Dekker);
//  - Add and Sub are within 2^-104 of the exact result, relative;
//  - Mul and Div are within 2^-102, relative;
//  - Log(x) is within 2^-100 * max(1, |ln x|) of ln x, absolute;
//  - Exp(x) is within 2^-96 of e^x, relative, for -650 <= x <= 700 (the
//    representation of x itself, 2^-106 |x|, is most of it); below, where
//    e^x nears the subnormals, its low part loses bits.
// Log and Exp are checked against 256-bit arithmetic in the tests
// (numerics.py), which see a twentieth of the first bound and a third of
// the second.
#ifndef FISHER2X2_ARITH_DOUBLE_DOUBLE_H
#define FISHER2X2_ARITH_DOUBLE_DOUBLE_H

#include <cstdint>
#include <cstring>

// Like a double, a DD declared without a value has none: the tables
// that hold many (Margins) are not cleared for every table tested.
struct DD {
  double hi, lo;
  // cppcheck-suppress uninitMemberVar ; left without a value on purpose
  DD() = default;
  // cppcheck-suppress noExplicitConstructor ; a double is a double-double
  constexpr DD(double h) : hi(h), lo(0.0) {}  // NOLINT(google-explicit-constructor)
  constexpr DD(double h, double l) : hi(h), lo(l) {}
};

namespace dd {

// s + e = a + b exactly.
constexpr DD TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

// The same, when |a| >= |b| or a = 0.
constexpr DD QuickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// Dekker's split: a = h + l with h and l of at most 26 significant bits.
constexpr void Split(double a, double& h, double& l) {
  const double big = 134217729.0 * a;  // 2^27 + 1
  h = big - (big - a);
  l = a - h;
}

// p + e = a * b exactly.
constexpr DD TwoProd(double a, double b) {
  const double p = a * b;
  double ah = 0, al = 0, bh = 0, bl = 0;
  Split(a, ah, al);
  Split(b, bh, bl);
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

// The sum of the high parts s and of the low parts t, exact each, to a
// double-double.
constexpr DD Gather(DD s, DD t) {
  s.lo += t.hi;
  s = QuickTwoSum(s.hi, s.lo);
  s.lo += t.lo;
  return QuickTwoSum(s.hi, s.lo);
}

constexpr DD Add(DD a, DD b) { return Gather(TwoSum(a.hi, b.hi), TwoSum(a.lo, b.lo)); }

constexpr DD Neg(DD a) { return {-a.hi, -a.lo}; }

// s + e = a - b exactly: TwoSum(a, -b), the negation folded in (rounding
// is symmetric, so -b - bb rounds to -(b + bb)).
constexpr DD TwoDiff(double a, double b) {
  const double s = a - b;
  const double bb = s - a;
  return {s, (a - (s - bb)) - (b + bb)};
}

// Add(a, Neg(b)), step for step.
constexpr DD Sub(DD a, DD b) { return Gather(TwoDiff(a.hi, b.hi), TwoDiff(a.lo, b.lo)); }

constexpr DD Mul(DD a, DD b) {
  DD p = TwoProd(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return QuickTwoSum(p.hi, p.lo);
}

// One quotient digit and one correction: a.hi - q1 b.hi is exact (q1 b.hi
// is within an ulp of a.hi), and the remainder is rounded three times, each
// within 2^-53 of it, so the correction is within 2^-104 of the quotient.
constexpr DD Div(DD a, DD b) {
  const double q1 = a.hi / b.hi;
  const DD p = TwoProd(q1, b.hi);
  const double r = (((a.hi - p.hi) - p.lo) + a.lo) - q1 * b.lo;
  return QuickTwoSum(q1, r / b.hi);
}

// 1/3 and 1/5, the first coefficients of the atanh series that the
// logarithm and the saddle-point deviance both sum.
inline constexpr DD kThird = Div(DD(1.0), DD(3.0));
inline constexpr DD kFifth = Div(DD(1.0), DD(5.0));

// Multiplies by 2^k exactly (no overflow or underflow in range).
DD Scale(DD a, int k);

// An unsigned 64-bit integer, exactly.
DD FromUint64(std::uint64_t n);

// The 128-bit integer hi * 2^64 + lo, to within 2^-105 relative.
DD FromUint128(std::uint64_t hi, std::uint64_t lo);

// The largest integer not above a.hi + a.lo, for |a| < 2^62.
std::int64_t Floor(DD a);

// ln 2, ln 10 and ln(2 pi)/2, to 106 bits.
extern const DD kLn2, kLn10, kHalfLn2Pi;  // defined constexpr

// 2^k for -1022 <= k <= 1023, made from its exponent's bits.
inline double PowerOfTwo(int k) {
  const std::uint64_t bits = static_cast<std::uint64_t>(k + 1023) << 52;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The exponent e of a positive normal double x: 2^e <= x < 2^(e + 1).
inline int Exponent(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return static_cast<int>((bits >> 52) & 0x7ff) - 1023;
}

// ln x for x > 0.
DD Log(DD x);

// e^x.
DD Exp(DD x);

// ln x for a positive normal double x, as a double within 2 ulps (of
// max(1, |ln x|)): the same reduction as Log with a series in doubles.
double LogToDouble(double x);

// e^x rounded to a double, within 2 ulps where it is a normal double: the
// same reduction as Exp with a polynomial in doubles.
double ExpToDouble(DD x);

// -log10 of e^x for x = ln p <= 0, as a double: the high part of
// -x / ln 10, and +0 where that is not positive (p = 1).
double MinusLog10(DD x);

}  // namespace dd

#endif  // FISHER2X2_ARITH_DOUBLE_DOUBLE_H
