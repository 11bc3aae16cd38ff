// Fisher's exact test on one 2x2 table: the log-factorial table, the
// probability of one table with fixed margins, and the tail sums.
//
// Cells are always passed in the order a, b, c, d: a b is the first row and
// c d the second.
#ifndef FISHER2X2_EXACT_TEST_H
#define FISHER2X2_EXACT_TEST_H

#include <cfloat>
#include <cstdint>

#include "soft_extended.h"
#include "uint128.h"

// The orientation that every computation of the tool shares: three
// exchanges, tested in this order, each on what the one before left.
//  1. If a*d > b*c, the columns trade places (a with b, c with d).
//  2. If a > d, a and d trade places.
//  3. If b > c, b and c trade places.
// None changes the table's probability among the tables with its margins.
// Afterwards a <= d, b <= c and a*d <= b*c: the tail on the observed side
// runs towards a = 0, the opposite tail from a = a+b inwards.
inline bool ProductGreater(int a, int d, int b, int c) { return a * d > b * c; }
inline bool ProductGreater(std::uint64_t a, std::uint64_t d, std::uint64_t b, std::uint64_t c) {
  return Greater(Mul64(a, d), Mul64(b, c));
}
// Written with masks rather than branches, which the counts would decide at
// random: Exchange(x, y, true) trades x and y.
template <typename Count>
void Exchange(Count& x, Count& y, bool trade) {
  const Count all = Count{0} - static_cast<Count>(trade);  // all ones, or 0
  const Count difference = (x ^ y) & all;
  x ^= difference;
  y ^= difference;
}
template <typename Count>
void Orient(Count& a, Count& b, Count& c, Count& d) {
  const bool trade = ProductGreater(a, d, b, c);
  Exchange(a, b, trade);
  Exchange(c, d, trade);
  Exchange(a, d, a > d);
  Exchange(b, c, b > c);
}

// Largest total a+b+c+d the table can hold.
constexpr int kMaxTotal = 50000;

// ln(k!) for k = 0 .. kMaxTotal; entries past the current run's N are never
// touched.
extern double LogFactorial[kMaxTotal + 1];

// The running type of every log-probability sum: the native type where it
// has a 64-bit significand (x87 long double), the software one elsewhere.
#if LDBL_MANT_DIG == 64 && !defined(FISHER2X2_SOFT_EXTENDED)
using Extended = long double;
#else
using Extended = SoftExtended;
#endif

// Sets LogFactorial[0 .. n], 0 <= n <= kMaxTotal, by cumulative sums of
// log(i) carried in Extended and stored as double.
void FillLogFactorial(int n);

// With LogFactorial[0 .. filled] set, sets the entries filled+1 .. n the same
// way. Each entry depends only on those before it, so the table is the same
// bits however it is extended.
void ExtendLogFactorial(int filled, int n);

// The log-probability of the table a b / c d, as FisherSub computes it: the
// nine entries summed in Extended and rounded to double once.
double LogProbability(int a, int b, int c, int d);

// Where the log-probabilities x and x0 of two tables with the same margins
// lie within this distance, their computed values cannot be trusted to order
// the probabilities, and the opposite walk compares them exactly.
//
// Why this width. The two sums share their five margin entries, so those
// entries' errors cancel from x - x0, which differs from the exact ln(P/P0)
// by at most the sum of:
//  - the errors of the eight cell entries. Fill step i adds log(i), off by at
//    most an ulp (< 2^-49, log i < 16; the margin below would absorb
//    thousands of ulps), rounds the sum to 64 bits (< 2^-46 below 2^19) and
//    to double (at most 2^-35, as ln(50000!) < 2^19). So entry k is off by
//    less than k * 1.001 * 2^-35; the cells of a table sum to N <= 50000, so
//    each table's four cell entries are off by less than 1.46e-6 together,
//    and the two tables' by less than 2.92e-6;
//  - eight roundings to 64 bits in each nine-term sum, of values below 2^21:
//    16 * 2^-44 < 1e-12;
//  - the rounding of each sum to double, |x| < 2^16: 2 * 2^-37 < 1.5e-11.
// That is below 2.93e-6. Outside the window, |x - x0| > 2^-17 = 7.6e-6, the
// exact log-ratio has the sign of x - x0 and is at least 4.6e-6 away from
// zero, so the exponentials, each within an ulp (2^-52 relative), order the
// two probabilities correctly wherever they are normal doubles.
constexpr double kTieWindow = 1.0 / 131072;  // 2^-17

// Probability of the table a b / c d among all tables with its margins.
// Requires every cell >= 0 and a+b+c+d no larger than the last fill's n.
double FisherSub(int a, int b, int c, int d);

// The p-value of the table: one-tailed (the tail on the observed side) when
// test is 1, two-tailed for every other value. Same preconditions as
// FisherSub.
double FisherTest(int a, int b, int c, int d, int test);

#endif  // FISHER2X2_EXACT_TEST_H
