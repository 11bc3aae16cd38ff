// SoftExtended against the x87 unit, bit for bit.
#include "arith/soft_extended.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

namespace {

std::uint64_t Bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// One operation of a sequence: add or subtract a double.
struct Op {
  bool subtract;
  double value;
};

double RunSoft(double first, const std::vector<Op>& ops) {
  SoftExtended x(first);
  for (const Op& op : ops) {
    if (op.subtract) {
      x -= op.value;
    } else {
      x += op.value;
    }
  }
  return static_cast<double>(x);
}

#if defined(__x86_64__) || defined(__i386__)
// The x87 type with its 64-bit significand, whatever long double is.
__extension__ typedef __float80 X87;

double RunX87(double first, const std::vector<Op>& ops) {
  volatile X87 x = first;
  for (const Op& op : ops) {
    if (op.subtract) {
      x = x - op.value;
    } else {
      x = x + op.value;
    }
  }
  return static_cast<double>(x);
}
#define HAVE_X87 1
#endif

void ExpectSameAsX87(double first, const std::vector<Op>& ops) {
#ifdef HAVE_X87
  const double soft = RunSoft(first, ops);
  const double x87 = RunX87(first, ops);
  if (Bits(soft) != Bits(x87)) {
    std::ostringstream m;
    m << std::hexfloat << first;
    for (const Op& op : ops) m << (op.subtract ? " - " : " + ") << op.value;
    m << "\nsoft " << soft << "\nx87  " << x87;
    ADD_FAILURE() << m.str();
  }
#else
  (void)first;
  (void)ops;
  GTEST_SKIP() << "no x87 unit to compare with";
#endif
}

TEST(SoftExtended, ConstructedHardCases) {
  const double p63 = 9223372036854775808.0;   // 2^63
  const double p64 = 18446744073709551616.0;  // 2^64
  const double tiny = 4.9406564584124654e-324;
  struct Case {
    const char* what;
    double first;
    std::vector<Op> ops;
  };
  const Case cases[] = {
      {"exact cancellation gives +0", 5.5, {{true, 5.5}}},
      {"-0 plus -0 stays -0", -0.0, {{false, -0.0}}},
      {"-0 minus +0 is -0", -0.0, {{true, 0.0}}},
      {"+0 plus -0 is +0", 0.0, {{false, -0.0}}},
      {"tie rounds up to even", p63, {{false, 1.0}, {false, 0.5}, {true, p63}}},
      {"tie rounds down to even", p63, {{false, 0.5}, {true, p63}}},
      {"tie at 2^63+2.5 rounds to +2", p63, {{false, 2.0}, {false, 0.5}, {true, p63}}},
      {"tie at 2^63+3.5 rounds to +4", p63, {{false, 3.0}, {false, 0.5}, {true, p63}}},
      {"carry lengthens the significand", p64, {{true, 1.0}, {false, 0.5}, {true, p64}}},
      {"carry from a sum of equals", p63, {{false, p63}, {false, 1.0}, {true, p64}}},
      {"cancellation of many leading bits", p63, {{false, 1.0}, {true, p63}}},
      {"negative intermediates", 0.0, {{true, 5.0}, {false, 3.25}, {true, 1e-20}, {false, 1.75}}},
      {"far smaller operand is sticky only", 1.0, {{false, 1e-30}, {true, 1.0}}},
      // 1 - 2^-65 is the tie below 1; bits beyond the working width decide.
      {"borrow just below a tie", 1.0, {{true, 0x1.0000000000001p-65}, {true, 1.0}}},
      {"exactly a tie below 1", 1.0, {{true, 0x1p-65}, {true, 1.0}}},
      {"just above a tie below 1", 1.0, {{true, 0x1.fffffffffffffp-66}, {true, 1.0}}},
      {"tie above 1 with a long tail", 1.0, {{false, 0x1.0000000000001p-64}, {true, 1.0}}},
      {"borrow with sticky bits", 1.0, {{true, 1e-25}, {true, 0.5}}},
      {"subnormal inputs", tiny, {{false, 3 * tiny}, {true, 0.5 * DBL_MIN}}},
      {"result rounds into subnormals", DBL_MIN, {{true, DBL_MIN * (1 - DBL_EPSILON)}}},
      {"halfway below the smallest subnormal", 0.0, {{false, DBL_MIN}, {true, DBL_MIN * (1 - DBL_EPSILON / 2)}}},
      {"double rounding to 53 bits", 1.0, {{false, DBL_EPSILON / 2}, {false, DBL_EPSILON / 4096}}},
      {"overflow to infinity on conversion", DBL_MAX, {{false, DBL_MAX}}},
      {"largest finite survives", DBL_MAX, {{false, DBL_MAX}, {true, DBL_MAX}}},
      {"log-factorial sized", 490995.2365, {{true, 245000.125}, {true, 1e-11}}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    ExpectSameAsX87(t.first, t.ops);
  }
}

// Millions of random sequences shaped like the tool's log-probabilities:
// up to nine additions and subtractions, mostly of values between 0 and 5e5.
TEST(SoftExtended, RandomSequencesMatchX87) {
#ifndef HAVE_X87
  GTEST_SKIP() << "no x87 unit to compare with";
#else
  std::mt19937_64 rng(20261208);
  std::uniform_real_distribution<double> table_range(0.0, 5e5);
  std::uniform_int_distribution<int> length(0, 8);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int> wide_exponent(-1074, 1000);
  std::uniform_int_distribution<int> near_exponent(-70, 70);
  std::uniform_int_distribution<std::uint64_t> word;
  auto draw = [&](int k) -> double {
    if (k < 5) return table_range(rng);
    if (k < 7) return std::floor(table_range(rng));  // integral, exact sums
    if (k < 8) return std::ldexp(table_range(rng), near_exponent(rng));
    if (k < 9) {
      // Any bit pattern of a finite double.
      double v;
      std::uint64_t u = word(rng);
      std::memcpy(&v, &u, sizeof v);
      return std::isfinite(v) ? v : 1.0;
    }
    return std::ldexp(1.0 + static_cast<double>(word(rng) >> 11) * 0x1p-53,
                      wide_exponent(rng));
  };
  std::vector<Op> ops;
  long mismatches = 0;
  constexpr long kSequences = 3000000;
  for (long i = 0; i < kSequences && mismatches < 10; ++i) {
    const int style = kind(rng);
    const double first = draw(style);
    ops.clear();
    const int n = length(rng);
    for (int j = 0; j < n; ++j) {
      // Reuse earlier operands now and then to provoke cancellations.
      double v = (j > 0 && kind(rng) == 0) ? ops[j - 1].value : draw(style);
      if (kind(rng) == 1) v = first;
      ops.push_back({(word(rng) & 1) != 0, v});
    }
    const double soft = RunSoft(first, ops);
    const double x87 = RunX87(first, ops);
    if (Bits(soft) != Bits(x87)) {
      ++mismatches;
      ExpectSameAsX87(first, ops);
    }
  }
  EXPECT_EQ(mismatches, 0);
#endif
}

}  // namespace
