// The classic engine: Fisher's exact test on one 2x2 table with a total of
// at most kMaxTotal, the probability of one table with fixed margins from
// the table of ln(k!), and the tail sums: the single run's p-value.
//
// Cells are always passed in the order a, b, c, d: a b is the first row and
// c d the second.
#ifndef FISHER2X2_CLASSIC_FISHER_TEST_H
#define FISHER2X2_CLASSIC_FISHER_TEST_H

#include "classic/log_factorial.h"
#include "common/orientation.h"

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

#endif  // FISHER2X2_CLASSIC_FISHER_TEST_H
