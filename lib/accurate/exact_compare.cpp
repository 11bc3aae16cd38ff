// Exact comparison of two probabilities with the same margins: prime
// factors cancelled, the remainders multiplied out in fixed-size naturals.
#include "accurate/exact_compare.h"

#include <pthread.h>

#include <cstdint>

#include "classic/log_factorial.h"
#include "common/growing.h"
#include "arith/uint128.h"

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
pthread_mutex_t scratch_lock = PTHREAD_MUTEX_INITIALIZER;  // guards the scratch above and numerator, denominator

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

// Sign of x - y; both normalised (no leading zero limb). For the naturals
// in 32-bit limbs below and in 64-bit limbs further down.
template <typename Wide>
int Compare(const Wide& x, const Wide& y) {
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

  // The long products use the shared scratch above, one thread at a time
  // (they are rare: the short ones decide almost every near tie).
  const Lock lock(scratch_lock);
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

namespace {

// Runs [lo, hi] of consecutive integers, inclusive, as pieces of one side
// of the ratio.
struct Run {
  std::uint64_t lo, hi;
};

// Each cancellation splits at most one run per side in two, and there are
// at most as many cancellations as pairs of pieces; past this the ratio is
// left undecided.
constexpr int kMaxPieces = 16;

struct Side {
  Run run[kMaxPieces];
  int count;
};

bool Push(Side& s, std::uint64_t lo, std::uint64_t hi) {
  if (lo > hi) return true;
  if (s.count == kMaxPieces) return false;
  s.run[s.count++] = {lo, hi};
  return true;
}

// Removes run i of s, keeping what lies outside [lo, hi].
bool Cut(Side& s, int i, std::uint64_t lo, std::uint64_t hi) {
  const Run r = s.run[i];
  s.run[i] = s.run[--s.count];
  return (lo == r.lo || Push(s, r.lo, lo - 1)) && (hi == r.hi || Push(s, hi + 1, r.hi));
}

// Cancels every integer that stands in both sides. False if the pieces ran
// out.
bool Cancel(Side& up, Side& down) {
  for (bool again = true; again;) {
    again = false;
    for (int i = 0; i < up.count && !again; ++i) {
      for (int j = 0; j < down.count && !again; ++j) {
        const std::uint64_t lo = up.run[i].lo > down.run[j].lo ? up.run[i].lo : down.run[j].lo;
        const std::uint64_t hi = up.run[i].hi < down.run[j].hi ? up.run[i].hi : down.run[j].hi;
        if (lo > hi) continue;
        if (!Cut(up, i, lo, hi) || !Cut(down, j, lo, hi)) return false;
        again = true;
      }
    }
  }
  return true;
}

std::uint64_t Factors(const Side& s) {
  std::uint64_t n = 0;
  for (int i = 0; i < s.count; ++i) n += s.run[i].hi - s.run[i].lo + 1;
  return n;
}

// A natural in 64-bit limbs, least significant first: kMaxRunFactors
// factors below 2^63 make fewer than 63 * 1024 bits.
constexpr int kWideLimbs = kMaxRunFactors * 63 / 64 + 2;

struct WideNatural {
  std::uint64_t limb[kWideLimbs];
  int size;
};

void MultiplyOut(const Side& s, WideNatural& x) {
  x.limb[0] = 1;
  x.size = 1;
  for (int i = 0; i < s.count; ++i) {
    for (std::uint64_t f = s.run[i].lo;; ++f) {
      std::uint64_t carry = 0;
      for (int l = 0; l < x.size; ++l) {
        const U128 t = Plus(Mul64(x.limb[l], f), U128{0, carry});
        x.limb[l] = t.lo;
        carry = t.hi;
      }
      if (carry != 0) x.limb[x.size++] = carry;
      if (f == s.run[i].hi) break;
    }
  }
}

}  // namespace

int CompareShifted64(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d,
                     std::uint64_t k) {
  Side up{}, down{};
  Push(up, b - k + 1, b);
  Push(up, c - k + 1, c);
  Push(down, a + 1, a + k);
  Push(down, d + 1, d + k);
  if (!Cancel(up, down)) return kUndecided;
  const std::uint64_t n_up = Factors(up), n_down = Factors(down);
  if (n_up > kMaxRunFactors || n_down > kMaxRunFactors) return kUndecided;
  WideNatural wide_up, wide_down;  // 16 KB each, on the caller's stack
  MultiplyOut(up, wide_up);
  MultiplyOut(down, wide_down);
  return Compare(wide_up, wide_down);
}
