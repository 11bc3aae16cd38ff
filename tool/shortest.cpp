// The shortest decimal of a double: Giulietti's Schubfach method ("The
// Schubfach way to render doubles", 2020; OpenJDK's Double.toString since
// 19), in integers only, with C++'s rule of the shortest decimal (one digit
// where one will do) and std::to_chars's text.
//
// A positive double is v = c 2^q, c < 2^53. Every decimal in its rounding
// interval R_v reads back as v: R_v runs from halfway to the double below,
// (c - 1/2) 2^q (or (c - 1/4) 2^q where c = 2^52 and the double below lies
// a binade lower), to halfway to the double above, (c + 1/2) 2^q; its ends
// belong to it where c is even (a tie reads as the even double). In units of
// 2^(q-2) its ends and v are the integers cbl, cbr and cb = 4c.
//
// With k = floor(log10 2^q) (floor(log10 3/4 2^q) for the short interval),
// 10^k is at most the width of R_v and 10^(k+1) more than it. So R_v holds
// at most one multiple of 10^(k+1), and at least one of s 10^k and
// (s + 1) 10^k, s = floor(v 10^-k). The shortest decimal is then:
//  - the multiple of 10^(k+1) if R_v holds one (a shorter decimal in R_v
//    would be such a multiple too);
//  - otherwise s 10^k or (s + 1) 10^k, whichever R_v holds, or where it
//    holds both the nearer to v, and s where v lies halfway (s and s + 1
//    cannot both be even; printf's and to_chars's tie goes to even).
// Every decision compares 4 v 10^-k, and the ends likewise scaled, with an
// even integer. The method computes them as vb = rop(cb 2^q 10^-k) (and vbl,
// vbr), rop(x) = floor(x) where x is an integer and floor(x) | 1 otherwise,
// which compares with an even integer as x does. With g from the table
// (within 1 of 10^-k 2^-r, above it), rop of g cp 2^-127, cp = cb 2^h, taken
// from the top 64 bits of the product and whether the next 63 are zero, is
// exactly rop(x): the paper (section 9) proves that over every c and q of a
// double the fraction of x is 0 or further from 0 and 1 than the errors of
// g and of the dropped bits (below 2^-63). The tests compare the text with
// std::to_chars over millions of doubles, the hard cases among them.
#include "shortest.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "shortest_table.h"
#include "arith/uint128.h"

const char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

namespace {

// floor(x / 2^s) for negative x too, without shifting a negative number.
std::int64_t FloorShift(std::int64_t x, int s) { return x >= 0 ? x >> s : -((-x - 1) >> s) - 1; }

// floor(log10 2^q), floor(log10 3/4 2^q) for -1074 <= q <= 971 and
// floor(log2 10^e) for -292 <= e <= 324: checked over those ranges against
// exact integers by tests/tool/pow10_table.py.
int FloorLog10Pow2(int q) { return static_cast<int>(FloorShift(q * std::int64_t{661971961083}, 41)); }
int FloorLog10ThreeQuartersPow2(int q) {
  return static_cast<int>(FloorShift(q * std::int64_t{661971961083} - 274743187321, 41));
}
int FloorLog2Pow10(int e) { return static_cast<int>(FloorShift(e * std::int64_t{913124641741}, 38)); }

constexpr std::uint64_t kMask63 = (std::uint64_t{1} << 63) - 1;

// rop(g cp 2^-127), g = g1 2^63 + g0: the product's integer part, with its
// last bit set where the 63 bits below are not all zero. cp < 2^60 and
// g1, g0 < 2^63, so nothing overflows.
std::uint64_t RoundToOdd(std::uint64_t g1, std::uint64_t g0, std::uint64_t cp) {
  const std::uint64_t x1 = Mul64(g0, cp).hi;
  const U128 y = Mul64(g1, cp);
  const std::uint64_t z = (y.lo >> 1) + x1;
  const std::uint64_t integer = y.hi + (z >> 63);
  return integer | (((z & kMask63) + kMask63) >> 63);
}

struct Decimal {
  std::uint64_t digits;  // below 10^17
  int exponent;          // the value is digits 10^exponent
};

// v = c 2^q > 0.
Decimal Shortest(std::uint64_t c, int q, bool short_below) {
  const std::uint64_t open = c & 1;  // the ends of R_v do not belong to it
  const std::uint64_t cb = c << 2, cbr = cb + 2, cbl = short_below ? cb - 1 : cb - 2;
  const int k = short_below ? FloorLog10ThreeQuartersPow2(q) : FloorLog10Pow2(q);
  const int h = q + FloorLog2Pow10(-k) + 2;  // 2 .. 5: cp < 2^60
  const std::uint64_t* const g = kPow10[k - kPow10Min];
  const std::uint64_t vb = RoundToOdd(g[0], g[1], cb << h);
  const std::uint64_t vbl = RoundToOdd(g[0], g[1], cbl << h);
  const std::uint64_t vbr = RoundToOdd(g[0], g[1], cbr << h);
  const std::uint64_t s = vb >> 2, t = s + 1;
  // Every candidate, then one choice without branches (which the digits of
  // v would decide at random): the multiple of 10^(k+1) where exactly one of
  // those next to v, sp and sp + 1 times 10^(k+1), lies in R_v (s >= 10,
  // else sp = 0 is none); otherwise s or t times 10^k.
  const std::uint64_t sp = s / 10;
  const bool sp_in = vbl + open <= sp * 40;
  const bool tp_in = sp * 40 + 40 + open <= vbr;
  const bool s_in = vbl + open <= s << 2;
  const bool t_in = (t << 2) + open <= vbr;
  const std::uint64_t middle = (s + t) << 1;
  auto bit = [](bool b) { return static_cast<std::uint64_t>(b); };
  const std::uint64_t nearer_t = bit(vb > middle) | (bit(vb == middle) & s);
  const std::uint64_t one = bit(s_in) ^ bit(t_in);  // exactly one of s and t in R_v
  const std::uint64_t near = s + ((one & bit(t_in)) | (~one & nearer_t & 1));
  const std::uint64_t shorter = bit(s >= 10) & (bit(sp_in) ^ bit(tp_in));
  const std::uint64_t mask = 0 - shorter;
  return {((sp + bit(tp_in)) & mask) | (near & ~mask), k + static_cast<int>(shorter)};
}

constexpr std::uint64_t kPowersOf10[] = {
    1U,           10U,           100U,           1000U,           10000U,           100000U,
    1000000U,     10000000U,     100000000U,     1000000000U,     10000000000U,     100000000000U,
    1000000000000U, 10000000000000U, 100000000000000U, 1000000000000000U, 10000000000000000U,
    100000000000000000U};

// The number of digits of 1 <= f < 10^17: from its bit length b,
// floor(log10 f) is floor(b log10 2) = b 1233 / 4096 or one less.
int DigitCount(std::uint64_t f) {
  const int b = 64 - __builtin_clzll(f);
  const int t = (b * 1233) >> 12;
  return t + (f >= kPowersOf10[t] ? 1 : 0);
}

void WritePair(std::uint32_t v, char* p) { std::memcpy(p, kDigitPairs + 2 * static_cast<std::size_t>(v), 2); }

void WriteEight(std::uint32_t v, char* p) {
  const std::uint32_t high = v / 10000, low = v % 10000;
  WritePair(high / 100, p);
  WritePair(high % 100, p + 2);
  WritePair(low / 100, p + 4);
  WritePair(low % 100, p + 6);
}

// digits 10^exponent as to_chars writes it: plain or with an exponent,
// whichever is shorter, plain on a tie. The plain form has at most five
// zeros after the digits, or three between the point and the digits (x >=
// -4); beyond, the exponent is shorter.
//
// The digits are scaled to seventeen, f = lead 10^16 + high 10^8 + low, and
// written where they belong in eight-digit words straight from f (the
// trailing zeros only set the length), so that the text's bytes are stored
// once and never read back; past the text's end out holds garbage, within
// kShortestMax.
std::size_t WriteDecimal(Decimal d, char* out) {
  const int count = DigitCount(d.digits);
  int zeros = 0;  // trailing zeros: rarely any
  for (std::uint64_t g = d.digits; g % 10 == 0; g /= 10) ++zeros;
  const int n = count - zeros;             // significant digits
  const int x = d.exponent + count - 1;    // the exponent of the leading digit
  const int e = x - n + 1;                 // and of the last
  const std::uint64_t f = d.digits * kPowersOf10[17 - count];
  const std::uint64_t rest = f % 10000000000000000U;
  const auto lead = static_cast<char>('0' + f / 10000000000000000U);
  const auto high = static_cast<std::uint32_t>(rest / 100000000U);
  const auto low = static_cast<std::uint32_t>(rest % 100000000U);
  auto seventeen = [&](char* p) {
    p[0] = lead;
    WriteEight(high, p + 1);
    WriteEight(low, p + 9);
  };
  const int magnitude = x < 0 ? -x : x;
  const int with_exponent = n + (n > 1 ? 1 : 0) + (magnitude >= 100 ? 5 : 4);
  const int plain = e >= 0 ? n + e : x >= 0 ? n + 1 : n + 1 - x;
  if (plain <= with_exponent) {
    if (e >= 0) {  // an integer: e <= 5
      seventeen(out);
      std::memset(out + 17, '0', 5);
    } else if (x >= 0) {  // the point inside the digits: x <= 15
      seventeen(out);
      std::memmove(out + x + 2, out + x + 1, 16);
      out[x + 1] = '.';
    } else {  // 0.ddd to 0.000ddd
      out[0] = '0';
      out[1] = '.';
      std::memset(out + 2, '0', 3);
      seventeen(out + 1 - x);
    }
    return static_cast<std::size_t>(plain);
  }
  out[0] = lead;
  out[1] = '.';
  WriteEight(high, out + 2);
  WriteEight(low, out + 10);
  std::size_t length = n > 1 ? static_cast<std::size_t>(n) + 1 : 1;
  out[length++] = 'e';
  out[length++] = x < 0 ? '-' : '+';
  if (magnitude >= 100) out[length++] = static_cast<char>('0' + magnitude / 100);
  WritePair(static_cast<std::uint32_t>(magnitude % 100), out + length);
  return length + 2;
}

}  // namespace

std::size_t WriteShortest(double v, char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const auto field = static_cast<int>(bits >> 52 & 2047);
  // to_chars's own words for infinities and NaNs; and its own digits for
  // the integers from 2^53 whose plain form is the shorter (below 10^22):
  // it writes their exact value, not the shortest digits and zeros.
  const double magnitude = v < 0 ? -v : v;
  if (field == 2047 || (magnitude >= 0x1p53 && magnitude < 1e23)) {
    return static_cast<std::size_t>(std::to_chars(out, out + kShortestMax, v).ptr - out);
  }
  std::size_t sign = 0;
  if (bits >> 63 != 0) {
    out[sign++] = '-';
    bits &= kMask63;
  }
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (bits == 0) {
    out[sign] = '0';
    return sign + 1;
  }
  const Decimal d = field != 0 ? Shortest(fraction | (std::uint64_t{1} << 52), field - 1075,
                                          fraction == 0 && field > 1)
                               : Shortest(fraction, -1074, false);
  return sign + WriteDecimal(d, out + sign);
}
