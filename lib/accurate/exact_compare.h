// Exact comparison of the probabilities of two tables with the same margins,
// for the cases floating point cannot decide.
#ifndef FISHER2X2_ACCURATE_EXACT_COMPARE_H
#define FISHER2X2_ACCURATE_EXACT_COMPARE_H

#include <cstdint>

// The sign (-1, 0 or +1) of P(a+k, b-k, c-k, d+k) - P(a, b, c, d), where P
// is the probability of a table among all tables with its margins, decided
// with integer arithmetic. Requires 0 < k <= b, k <= c, every cell >= 0 and
// a+b+c+d <= kMaxTotal.
//
// The two tables share their margins, so
//   P(a+k, b-k, c-k, d+k) / P(a, b, c, d)
//     = prod_{i=0}^{k-1} (b-i)(c-i) / prod_{i=1}^{k} (a+i)(d+i),
// a ratio of two products of 2k integers of at most 50000 each. Both are
// factored into primes and the common factors cancelled; what is left is
// multiplied out and compared. No heap, no floating point.
int CompareShifted(int a, int b, int c, int d, int k);

// What CompareShifted64 returns when it cannot decide.
constexpr int kUndecided = 2;

// Longest products, in factors, that CompareShifted64 multiplies out.
constexpr int kMaxRunFactors = 1024;

// The same sign for tables of any size: 0 < k <= b, k <= c, a+b+c+d below
// 2^63. The ratio is a ratio of four runs of consecutive integers,
//   (b-k, b] (c-k, c] / (a, a+k] (d, d+k],
// and an integer that stands in a run above and in a run below cancels.
// What is left, up to kMaxRunFactors factors on either side, is multiplied
// out and compared; a longer remainder gives kUndecided. A mirror image
// cancels whole.
int CompareShifted64(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                     std::uint64_t k);

#endif  // FISHER2X2_ACCURATE_EXACT_COMPARE_H
