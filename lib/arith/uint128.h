// Unsigned 128-bit integers from 64-bit words, portable to targets without
// a 128-bit type: products of two counts, the sample odds ratio's division,
// the software accumulator's working value, the six decimals' rounding and
// the shortest decimal's products. Every 128-bit operation the project
// needs is here.
#ifndef FISHER2X2_ARITH_UINT128_H
#define FISHER2X2_ARITH_UINT128_H

#include <cstdint>

struct U128 {
  std::uint64_t hi = 0, lo = 0;
};

// a * b exactly: the target's 128-bit product where it has one, otherwise
// from four 32-bit products.
inline U128 Mul64(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  __extension__ typedef unsigned __int128 Product;
  const Product p = static_cast<Product>(a) * b;
  return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
#else
  const std::uint64_t a0 = a & 0xffffffffU, a1 = a >> 32;
  const std::uint64_t b0 = b & 0xffffffffU, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  // The middle column: at most 3 (2^32 - 1) < 2^34, no overflow.
  const std::uint64_t mid = (p00 >> 32) + (p01 & 0xffffffffU) + (p10 & 0xffffffffU);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xffffffffU)};
#endif
}

// x > y, without branches (which random operands would mispredict).
inline bool Greater(U128 x, U128 y) {
  const auto above = static_cast<unsigned>(x.hi > y.hi), level = static_cast<unsigned>(x.hi == y.hi);
  return (above | (level & static_cast<unsigned>(x.lo > y.lo))) != 0;
}

// -1, 0 or +1 as x is below, equal to or above y.
inline int Compare(U128 x, U128 y) {
  if (x.hi != y.hi) return x.hi < y.hi ? -1 : 1;
  if (x.lo != y.lo) return x.lo < y.lo ? -1 : 1;
  return 0;
}

// x - y for x >= y.
inline U128 Minus(U128 x, U128 y) {
  return {x.hi - y.hi - (x.lo < y.lo ? 1 : 0), x.lo - y.lo};
}

// x + y, below 2^128.
inline U128 Plus(U128 x, U128 y) {
  const std::uint64_t lo = x.lo + y.lo;
  return {x.hi + y.hi + (lo < x.lo ? 1 : 0), lo};
}

inline bool IsZero(U128 x) { return (x.hi | x.lo) == 0; }

// The number of leading zero bits, 128 for 0.
inline int CountLeadingZeros(U128 x) {
  if (x.hi != 0) return __builtin_clzll(x.hi);
  return x.lo != 0 ? 64 + __builtin_clzll(x.lo) : 128;
}

// The number of significant bits, 0 for 0.
inline int BitLength(U128 x) { return 128 - CountLeadingZeros(x); }

// x * 2^k mod 2^128, k >= 0: the bits shifted past bit 127 lost.
inline U128 ShiftLeft(U128 x, int k) {
  if (k == 0) return x;
  if (k >= 128) return {0, 0};
  if (k >= 64) return {x.lo << (k - 64), 0};
  return {(x.hi << k) | (x.lo >> (64 - k)), x.lo << k};
}

// floor(x / 2^k), k >= 0.
inline U128 ShiftRight(U128 x, int k) {
  if (k == 0) return x;
  if (k >= 128) return {0, 0};
  if (k >= 64) return {0, x.hi >> (k - 64)};
  return {x.hi >> k, (x.lo >> k) | (x.hi << (64 - k))};
}

// Bit k of x, 0 <= k < 128.
inline bool BitAt(U128 x, int k) { return ((k >= 64 ? x.hi >> (k - 64) : x.lo >> k) & 1) != 0; }

// Whether any of the bits 0 .. k-1 of x is set, 0 < k < 128.
inline bool AnyBelow(U128 x, int k) {
  if (k >= 64) return x.lo != 0 || (x.hi & ((std::uint64_t{1} << (k - 64)) - 1)) != 0;
  return (x.lo & ((std::uint64_t{1} << k) - 1)) != 0;
}

#endif  // FISHER2X2_ARITH_UINT128_H
