// The p-value's text.
#include "pvalue_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "arith/uint128.h"
#include "shortest.h"

static_assert(kPValueTextMax >= kShortestMax, "the shortest decimal's room");

// "%10.6f" of a double 0 <= p < 2, in integer arithmetic.
//
// Write p = m * 2^e, m an integer below 2^53: the significand with its
// hidden bit and e = field - 1075, or for subnormals the fraction and
// e = -1074. As p < 2, e <= -52. Then
//
//   p * 10^6 = m * 5^6 * 2^(e+6) = V / 2^s,   V = 15625 m < 2^67,  s = -(e+6) >= 46,
//
// exactly. printf rounds this exact value to an integer R, to nearest with
// ties to even: with I = floor(V / 2^s), the round bit r = bit s-1 of V and
// the sticky bit t = (V mod 2^(s-1) != 0),
//
//   R = I + (r and (t or I odd)).
//
// V has at most 67 bits, so for s >= 68 the quotient and the round bit are
// both 0 and R = 0. Otherwise V is held in two 64-bit words. R <= 2 * 10^6,
// so the text is the digit R / 10^6, a point and the six digits of
// R mod 10^6, after two blanks that fill the ten columns.
//
// Anything else (a sign bit, 2 or more, NaN) is not a p-value of this tool
// and goes to snprintf.
std::size_t FormatFixed6(double p, char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &p, sizeof bits);
  const auto field = static_cast<unsigned>(bits >> 52);  // sign and exponent
  if (field >= 1024) {  // a sign bit, or 2 and above, infinities and NaNs
    const int n = std::snprintf(out, kPValueTextMax, "%10.6f", p);
    if (n < 0) return 0;
    // Values of 10^32 and more are cut short; no p-value comes near.
    return static_cast<std::size_t>(n) < kPValueTextMax ? static_cast<std::size_t>(n)
                                                        : kPValueTextMax - 1;
  }
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  if (field != 0) m |= std::uint64_t{1} << 52;
  // s = -(e + 6) with e = field - 1075, or -1074 for subnormals: 46 .. 1068.
  const unsigned s = 1069 - (field == 0 ? 1 : field);

  std::uint64_t r = 0;
  if (s >= 46 && s < 68) {  // (s >= 46 always holds; stated for the analyser)
    const U128 v = Mul64(m, 15625);  // V, below 2^67
    const std::uint64_t quotient = ShiftRight(v, static_cast<int>(s)).lo;
    const int rb = static_cast<int>(s) - 1;  // 45 .. 66
    const bool round = BitAt(v, rb);
    const bool sticky = AnyBelow(v, rb);
    r = quotient + ((round && (sticky || (quotient & 1) != 0)) ? 1 : 0);
  }

  const auto fraction = static_cast<std::size_t>(r % 1000000);
  out[0] = ' ';
  out[1] = ' ';
  out[2] = static_cast<char>('0' + r / 1000000);
  out[3] = '.';
  std::memcpy(out + 4, kDigitPairs + 2 * (fraction / 10000), 2);
  std::memcpy(out + 6, kDigitPairs + 2 * (fraction / 100 % 100), 2);
  std::memcpy(out + 8, kDigitPairs + 2 * (fraction % 100), 2);
  return 10;
}

std::size_t FormatShortest(double p, char* out) {
  // The rounded sums can pass 1 by a few ulps; a probability does not.
  if (p > 1.0) p = 1.0;
  return WriteShortest(p, out);
}

std::size_t FormatDouble(double v, char* out) { return WriteShortest(v, out); }

namespace {

std::size_t WriteDigits(std::uint64_t v, char* out) {
  char tmp[20];
  std::size_t n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  return n;
}

DD FromInt64(std::int64_t v) {
  const DD magnitude = dd::FromUint64(v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v));
  return v < 0 ? dd::Neg(magnitude) : magnitude;
}

}  // namespace

// log10 p = e + f with e an integer and 0 <= f < 1; p = 10^f 10^e, and the
// 17 digits are 10^f * 10^16 rounded to an integer (10^16 <= it <= 10^17:
// a carry to 10^17 moves to the exponent).
std::size_t FormatFromLog(DD log_p, char* out) {
  const DD l10 = dd::Div(log_p, dd::kLn10);
  std::int64_t e = dd::Floor(l10);
  const DD f = dd::Sub(l10, FromInt64(e));
  const DD scaled = dd::Mul(dd::Exp(dd::Mul(f, dd::kLn10)), DD(1e16));
  auto digits = static_cast<std::uint64_t>(dd::Floor(dd::Add(scaled, DD(0.5))));
  constexpr std::uint64_t kLow = 10000000000000000U, kHigh = 100000000000000000U;
  if (digits >= kHigh) {
    digits = (digits + 5) / 10;
    ++e;
  } else if (digits < kLow) {  // f a rounding below 0
    digits *= 10;
    --e;
  }
  char text[20];
  WriteDigits(digits, text);  // 17 digits
  std::size_t n = 0;
  out[n++] = text[0];
  out[n++] = '.';
  std::memcpy(out + n, text + 1, 16);
  n += 16;
  out[n++] = 'e';
  out[n++] = e < 0 ? '-' : '+';
  return n + WriteDigits(e < 0 ? 0 - static_cast<std::uint64_t>(e) : static_cast<std::uint64_t>(e), out + n);
}

std::size_t FormatLog10(DD log_p, char* out) {
  const double v = dd::MinusLog10(log_p);
  if (v == 0) {
    out[0] = '0';
    return 1;
  }
  return WriteShortest(v, out);
}
