// Double-double logarithm and exponential, and conversions.
//
// Both reduce the argument with a table of 106-bit constants, and sum a
// short series whose leading terms are carried in double-double and whose
// small tail is a double. The tables are built by the compiler from the
// series alone, in double-double, so the same bits come out on every target.
#include "arith/double_double.h"

#include <cmath>
#include <cstring>

namespace dd {
namespace {

// |v| as a double, for the series' stopping tests.
constexpr double Magnitude(DD v) { return v.hi < 0 ? -v.hi : v.hi; }

// 2 atanh(u) = ln((1 + u) / (1 - u)), by its series, until a term falls
// below 2^-112 of the sum (35 terms for |u| = 1/3).
constexpr DD TwiceAtanh(DD u) {
  const DD u2 = Mul(u, u);
  DD term = u, sum = u;
  for (int n = 1; Magnitude(term) > 0x1p-112 * Magnitude(sum); ++n) {
    term = Mul(term, u2);
    sum = Add(sum, Div(term, DD(2.0 * n + 1)));
  }
  return Add(sum, sum);
}

constexpr DD kPi{3.141592653589793116, 1.2246467991473532e-16};

constexpr DD kLn2Value = TwiceAtanh(kThird);  // ln 2 = 2 atanh(1/3)

// ln 2 in three parts for exact multiples: kLn2A and kLn2B have at most 32
// significant bits, so k * kLn2A and k * kLn2B are exact for |k| < 2^21.
constexpr double kLn2A = static_cast<double>(static_cast<std::int64_t>(kLn2Value.hi * 4294967296.0)) /
                         4294967296.0;
constexpr DD kLn2Rest = Sub(kLn2Value, DD(kLn2A));
constexpr double kLn2B =
    static_cast<double>(static_cast<std::int64_t>(kLn2Rest.hi * 18446744073709551616.0)) /
    18446744073709551616.0;
constexpr double kLn2C = Sub(kLn2Rest, DD(kLn2B)).hi;

// k ln 2, within 2^-104 relative, for |k| < 2^21.
DD MultipleOfLn2(double k) {
  DD r = TwoSum(k * kLn2A, k * kLn2B);
  return Add(r, TwoProd(k, kLn2C));
}

// ln(i / 128) for i = 96 .. 192.
struct LogTable {
  DD v[97];
};
constexpr LogTable MakeLogTable() {
  LogTable t{};
  for (int i = 96; i <= 192; ++i) {
    t.v[i - 96] = TwiceAtanh(Div(DD(i - 128.0), DD(i + 128.0)));
  }
  return t;
}
constexpr LogTable kLogTable = MakeLogTable();

// e^(j / 128) for j = -48 .. 48, by the Taylor series, until a term falls
// below 2^-112 of the sum.
struct ExpTable {
  DD v[97];
};
constexpr ExpTable MakeExpTable() {
  ExpTable t{};
  for (int j = -48; j <= 48; ++j) {
    const DD x = DD(j / 128.0);
    DD term = DD(1.0), sum = DD(1.0);
    for (int n = 1; Magnitude(term) > 0x1p-112 * Magnitude(sum); ++n) {
      term = Div(Mul(term, x), DD(static_cast<double>(n)));
      sum = Add(sum, term);
    }
    t.v[j + 48] = sum;
  }
  return t;
}
constexpr ExpTable kExpTable = MakeExpTable();

constexpr DD kInv6 = Div(DD(1.0), DD(6.0));
constexpr DD kInv24 = Div(DD(1.0), DD(24.0));
constexpr DD kInv120 = Div(DD(1.0), DD(120.0));

// The nearest integer to t, |t| < 2^62 (halves away from 0): t + 1/2 or
// t - 1/2 truncated, the sign taken without a branch.
std::int64_t Nearest(double t) { return static_cast<std::int64_t>(t + std::copysign(0.5, t)); }

}  // namespace

// ln 10 = 3 ln 2 + 2 atanh(1/9); ln pi = ln 3 + 2 atanh((pi - 3) / (pi + 3)),
// ln 3 = 2 ln 2 + 2 atanh(-1/7).
namespace {
constexpr DD kLn10Value = Add(Mul(kLn2Value, DD(3.0)), TwiceAtanh(Div(DD(1.0), DD(9.0))));
constexpr DD kHalfLn2PiValue = Mul(
    Add(Add(Mul(kLn2Value, DD(3.0)), TwiceAtanh(Div(DD(-1.0), DD(7.0)))),
        TwiceAtanh(Div(Sub(kPi, DD(3.0)), Add(kPi, DD(3.0))))),
    DD(0.5));
}  // namespace
constexpr DD kLn2 = kLn2Value;
constexpr DD kLn10 = kLn10Value;
constexpr DD kHalfLn2Pi = kHalfLn2PiValue;

DD Scale(DD a, int k) {
  while (k > 1023) {
    a = {a.hi * PowerOfTwo(1023), a.lo * PowerOfTwo(1023)};
    k -= 1023;
  }
  while (k < -1022) {
    a = {a.hi * PowerOfTwo(-1022), a.lo * PowerOfTwo(-1022)};
    k += 1022;
  }
  const double f = PowerOfTwo(k);
  return {a.hi * f, a.lo * f};
}

DD FromUint64(std::uint64_t n) {
  // Two 32-bit halves are exact doubles, and so is their sum as a pair.
  return TwoSum(static_cast<double>(n >> 32) * 4294967296.0,
                static_cast<double>(n & 0xffffffffU));
}

DD FromUint128(std::uint64_t hi, std::uint64_t lo) {
  if (hi == 0) return FromUint64(lo);
  int bits = 0;  // of hi, 1 .. 64
  while (bits < 64 && (hi >> bits) != 0) ++bits;
  if (bits == 64) return Add(Scale(FromUint64(hi), 64), FromUint64(lo));
  // The top 64 bits exactly, then the remaining low bits: one rounding.
  const std::uint64_t top = (hi << (64 - bits)) | (lo >> bits);
  const std::uint64_t rest = lo & ((std::uint64_t{1} << bits) - 1);
  return Add(Scale(FromUint64(top), bits), FromUint64(rest));
}

std::int64_t Floor(DD a) {
  auto f = static_cast<std::int64_t>(a.hi);  // towards zero
  if (static_cast<double>(f) != a.hi) {
    // |a.hi| < 2^52 and not an integer: a.hi - f is exact, in (-1, 1).
    if (a.hi < 0) --f;
    const double rest = (a.hi - static_cast<double>(f)) + a.lo;  // in (-0.5, 1.5)
    if (rest < 0) --f;
    if (rest >= 1) ++f;
    return f;
  }
  // a.hi is an integer; |a.lo| is below 2^10 for |a| < 2^62.
  auto g = static_cast<std::int64_t>(a.lo);
  if (static_cast<double>(g) > a.lo) --g;
  return f + g;
}

// x = 2^e * m with m in [0.75, 1.5), and m = c (1 + u) / (1 - u) with
// c = i/128 the nearest table point: |m - c| <= 1/256, m + c >= 1.5, so
// |u| <= 1/384 and u^2 <= 2^-17.1. Then
//   ln x = e ln 2 + ln c + 2u (1 + u^2/3 + u^4/5 + u^6/7 + u^8/9 + u^10/11),
// the omitted terms below 2^-102 of the first. The first three terms of the
// bracket are double-doubles; the rest, below 2^-54, a double.
DD Log(DD x) {
  int e = Exponent(x.hi);
  DD m = Scale(x, -e);
  if (m.hi >= 1.5) {
    m = Scale(m, -1);
    ++e;
  }
  // The nearest table point, or its neighbour where m.hi * 128 + 0.5 rounds
  // up: either keeps |m - c| within the bound below.
  const auto i = static_cast<int>(m.hi * 128.0 + 0.5);  // NOLINT(bugprone-incorrect-roundings)
  const double c = i / 128.0;
  const DD u = Div(TwoSum(m.hi - c, m.lo), Add(m, DD(c)));  // m.hi - c is exact
  const DD u2 = Mul(u, u);
  const double w = u2.hi;
  const double tail = w * w * w * (1.0 / 7 + w * (1.0 / 9 + w * (1.0 / 11)));
  const DD bracket = Add(DD(1.0), Add(Mul(u2, kThird), Add(Mul(Mul(u2, u2), kFifth), DD(tail))));
  const DD series = Mul(Add(u, u), bracket);
  return Add(Add(MultipleOfLn2(e), kLogTable.v[i - 96]), series);
}

// As Log: u = (m - c) / (m + c) rounded once, |u| <= 1/384, and
//   ln(1 + u) - ln(1 - u) = 2u (1 + u^2/3 + u^4/5 + u^6/7),
// the omitted terms below 2^-70 of the first; the series is a double added
// to e ln 2 + ln c in double-double.
double MinusLog10(DD x) {
  const double v = -Div(x, kLn10).hi;
  return v > 0 ? v : 0.0;
}

double LogToDouble(double x) {
  int e = Exponent(x);
  double m = x * PowerOfTwo(-e);
  if (m >= 1.5) {
    m *= 0.5;
    ++e;
  }
  const auto i = static_cast<int>(m * 128.0 + 0.5);  // NOLINT(bugprone-incorrect-roundings)
  const double c = i / 128.0;
  const double u = (m - c) / (m + c);  // m - c is exact
  const double w = u * u;
  const double series = 2 * u * (1 + w * (1.0 / 3 + w * (1.0 / 5 + w * (1.0 / 7))));
  const DD r = Add(MultipleOfLn2(e), kLogTable.v[i - 96]);
  return r.hi + (r.lo + series);
}

// x = k ln 2 + j/128 + s with |s| <= 1/256 (plus rounding), so
//   e^x = 2^k e^(j/128) (1 + s + s^2/2 + ... + s^11/11!),
// the omitted terms below 2^-110. Up to s^5/5! the polynomial is a
// double-double; the rest, below 2^-57, a double.
DD Exp(DD x) {
  if (x.hi < -800) return DD(0.0);  // below the doubles
  const double k = static_cast<double>(Nearest(x.hi * 1.4426950408889634));
  DD r = TwoSum(x.hi - k * kLn2A, x.lo);  // x.hi - k kLn2A is exact (Sterbenz)
  r = Sub(r, DD(k * kLn2B));  // exact product
  r = Sub(r, TwoProd(k, kLn2C));
  const auto j = static_cast<int>(Nearest(r.hi * 128.0));  // -45 .. 45
  const DD s = Sub(r, DD(j / 128.0));
  const double h = s.hi;
  const double tail =
      1.0 / 720 + h * (1.0 / 5040 + h * (1.0 / 40320 + h * (1.0 / 362880 + h * (1.0 / 3628800 + h * (1.0 / 39916800)))));
  DD q = Add(kInv120, Mul(s, DD(tail)));
  q = Add(kInv24, Mul(s, q));
  q = Add(kInv6, Mul(s, q));
  q = Add(DD(0.5), Mul(s, q));
  q = Add(DD(1.0), Mul(s, q));
  q = Add(DD(1.0), Mul(s, q));
  return Scale(Mul(kExpTable.v[j + 48], q), static_cast<int>(k));
}

}  // namespace dd

namespace dd {

// As Exp, with s = x - k ln 2 - j/128 carried as one double (within 2^-60
// of the exact difference for |x| <= 750), and
//   e^s - 1 = s + s^2/2 + ... + s^7/7!,
// the omitted terms below 2^-66; the sum is rounded a few times near
// 2^-8 relative to the result, the table entry and the final scaling once.
double ExpToDouble(DD x) {
  if (x.hi < -800) return 0.0;
  const double k = static_cast<double>(Nearest(x.hi * 1.4426950408889634));
  const double r = (x.hi - k * kLn2A) + (x.lo - k * kLn2B - k * kLn2C);
  const auto j = static_cast<int>(Nearest(r * 128.0));
  const double s = r - j / 128.0;
  const double p =
      s * (1 + s * (0.5 + s * (1.0 / 6 + s * (1.0 / 24 + s * (1.0 / 120 + s * (1.0 / 720 + s * (1.0 / 5040)))))));
  const DD t = kExpTable.v[j + 48];
  return Scale(DD(t.hi + (t.lo + t.hi * p)), static_cast<int>(k)).hi;
}

}  // namespace dd
