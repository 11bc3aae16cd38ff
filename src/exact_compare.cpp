// Exact comparison of two probabilities with the same margins: prime
// factors cancelled, the remainders multiplied out in fixed-size naturals.
#include "exact_compare.h"

#include <cstdint>

#include "exact_test.h"

namespace {

// Smallest prime factor of every composite n <= kMaxTotal, 0 for primes (and
// for 0 and 1). A composite's smallest factor is at most sqrt(50000) < 224,
// so a byte holds it. Built by the compiler.
struct SmallestFactorTable {
  std::uint8_t factor[kMaxTotal + 1];
};

constexpr SmallestFactorTable MakeSmallestFactorTable() {
  SmallestFactorTable t{};
  for (int p = 2; p * p <= kMaxTotal; ++p) {
    if (t.factor[p] != 0) continue;  // composite
    for (int m = p * p; m <= kMaxTotal; m += p) {
      if (t.factor[m] == 0) t.factor[m] = static_cast<std::uint8_t>(p);
    }
  }
  return t;
}

constexpr SmallestFactorTable kSmallestFactor = MakeSmallestFactorTable();

// Exponent of each prime in numerator / denominator while a comparison runs,
// and the primes whose exponent has been touched; all zero between calls.
std::int32_t exponent[kMaxTotal + 1];
bool listed[kMaxTotal + 1];
int touched[kMaxTotal + 1];
int touched_count;

// Adds sign times the exponents of n's prime factors; 1 <= n <= kMaxTotal.
void Factor(int n, int sign) {
  while (n > 1) {
    // cppcheck-suppress arrayIndexOutOfBoundsCond ; n <= kMaxTotal
    const int f = kSmallestFactor.factor[n];
    const int p = f == 0 ? n : f;
    if (!listed[p]) {
      listed[p] = true;
      touched[touched_count++] = p;
    }
    exponent[p] += sign;
    n /= p;
  }
}

// A natural number in 32-bit limbs, least significant first.
//
// Capacity: each side is a divisor of a product of 2k integers of at most
// 50000, and 2k <= b + c <= 50000, so it is below 50000^50000 =
// 2^(50000 * 15.61) < 2^780500: at most 24391 limbs. Factors are gathered
// into words below 2^32 before they multiply the natural, whose value never
// exceeds its final value, so the capacity below is never reached.
constexpr int kLimbs = 24576;

struct Natural {
  std::uint32_t limb[kLimbs];
  int size;
  std::uint64_t pending;  // gathered factors, below 2^32
};

Natural numerator, denominator;

void SetOne(Natural& x) {
  x.limb[0] = 1;
  x.size = 1;
  x.pending = 1;
}

void MultiplyWord(Natural& x, std::uint32_t m) {
  std::uint64_t carry = 0;
  for (int i = 0; i < x.size; ++i) {
    // At most (2^32 - 1)^2 + 2^32 - 1 < 2^64.
    const std::uint64_t t = std::uint64_t{x.limb[i]} * m + carry;
    x.limb[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  if (carry != 0) x.limb[x.size++] = static_cast<std::uint32_t>(carry);
}

void Multiply(Natural& x, int p) {
  const std::uint64_t next = x.pending * static_cast<std::uint64_t>(p);  // < 2^48
  if (next > 0xffffffffU) {
    MultiplyWord(x, static_cast<std::uint32_t>(x.pending));
    x.pending = static_cast<std::uint64_t>(p);
  } else {
    x.pending = next;
  }
}

// Sign of x - y; both normalised (no leading zero limb).
int Compare(const Natural& x, const Natural& y) {
  if (x.size != y.size) return x.size < y.size ? -1 : 1;
  for (int i = x.size - 1; i >= 0; --i) {
    if (x.limb[i] != y.limb[i]) return x.limb[i] < y.limb[i] ? -1 : 1;
  }
  return 0;
}

// Multiplies x by f unless the product would pass 2^64 - 1.
bool MultiplyFits(std::uint64_t& x, std::uint64_t f) {
  if (x > UINT64_MAX / f) return false;
  x *= f;
  return true;
}

}  // namespace

int CompareShifted(int a, int b, int c, int d, int k) {
  // Short products, the common case, are compared as they stand.
  std::uint64_t num = 1, den = 1;
  bool fits = true;
  for (int i = 0; i < k && fits; ++i) {
    fits = MultiplyFits(num, static_cast<std::uint64_t>(b - i) * static_cast<std::uint64_t>(c - i)) &&
           MultiplyFits(den, static_cast<std::uint64_t>(a + i + 1) * static_cast<std::uint64_t>(d + i + 1));
  }
  if (fits) return num < den ? -1 : num > den ? 1 : 0;

  for (int i = 0; i < k; ++i) {
    Factor(b - i, +1);
    Factor(c - i, +1);
    Factor(a + i + 1, -1);
    Factor(d + i + 1, -1);
  }
  SetOne(numerator);
  SetOne(denominator);
  for (int t = 0; t < touched_count; ++t) {
    const int p = touched[t];
    for (int e = exponent[p]; e > 0; --e) Multiply(numerator, p);
    for (int e = exponent[p]; e < 0; ++e) Multiply(denominator, p);
    exponent[p] = 0;
    listed[p] = false;
  }
  touched_count = 0;
  MultiplyWord(numerator, static_cast<std::uint32_t>(numerator.pending));
  MultiplyWord(denominator, static_cast<std::uint32_t>(denominator.pending));
  return Compare(numerator, denominator);
}
