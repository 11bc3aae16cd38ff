// The orientation that every computation shares: three exchanges, tested
// in this order, each on what the one before left.
//  1. If a*d > b*c, the columns trade places (a with b, c with d).
//  2. If a > d, a and d trade places.
//  3. If b > c, b and c trade places.
// None changes the table's probability among the tables with its margins.
// Afterwards a <= d, b <= c and a*d <= b*c: the tail on the observed side
// runs towards a = 0, the opposite tail from a = a+b inwards.
#ifndef FISHER2X2_COMMON_ORIENTATION_H
#define FISHER2X2_COMMON_ORIENTATION_H

#include <cstdint>

#include "arith/uint128.h"

// Whether a*d > b*c: in int for totals up to 50000 (products below 2^31),
// exactly in 128 bits for 64-bit counts.
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

#endif  // FISHER2X2_COMMON_ORIENTATION_H
