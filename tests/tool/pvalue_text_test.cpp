// FormatFixed6 against the C library's "%10.6f", byte for byte.
#include "pvalue_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string Fixed6(double p) {
  char text[kPValueTextMax];
  return std::string(text, FormatFixed6(p, text));
}

std::string Printf(double p) {
  char text[512];
  const int n = std::snprintf(text, sizeof text, "%10.6f", p);
  return std::string(text, static_cast<std::size_t>(n));
}

// Every rounding boundary (i + 1/2) / 10^6 below 2, with the double nearest
// to it and its two neighbours: the only places where rounding can go wrong.
TEST(PValueText, EveryRoundingBoundary) {
  long checked = 0;
  for (int i = 0; i < 2000000; ++i) {
    const double near = (i + 0.5) / 1e6;
    for (double p : {std::nextafter(near, 0.0), near, std::nextafter(near, 2.0)}) {
      if (p >= 2.0) continue;
      ASSERT_EQ(Fixed6(p), Printf(p)) << p;
      ++checked;
    }
  }
  EXPECT_GT(checked, 5999990);
}

// A decimal tie p * 10^6 = I + 1/2 exactly needs 5^6 to divide 2I + 1, so
// the ties are the odd multiples of 1/128: all of them, rounded to even.
TEST(PValueText, EveryDecimalTie) {
  for (int k = 1; k < 256; k += 2) {
    ASSERT_EQ(Fixed6(k / 128.0), Printf(k / 128.0)) << k;
  }
  EXPECT_EQ(Fixed6(0.0078125), "  0.007812");
  EXPECT_EQ(Fixed6(0.0234375), "  0.023438");
}

TEST(PValueText, RandomValues) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 1000000; ++i) {
    // Any bit pattern below 2, and values spread over every binade down to
    // the subnormals.
    double p;
    const std::uint64_t bits = rng() & ((std::uint64_t{1} << 62) - 1);
    std::memcpy(&p, &bits, sizeof p);
    const double q = std::ldexp(std::uniform_real_distribution<double>(0.5, 1.0)(rng),
                                -static_cast<int>(rng() % 1080));
    for (double v : {p, q, std::uniform_real_distribution<double>(0.0, 1.0)(rng)}) {
      ASSERT_EQ(Fixed6(v), Printf(v)) << v;
    }
  }
}

TEST(PValueText, ValuesThatAreNoPValuesGoToPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {-0.0, 2.0, 2.5, 12.75, 1e9, -1e-320, inf, -inf, std::nan("")}) {
    EXPECT_EQ(Fixed6(v), Printf(v)) << v;
  }
  // Too long for the text's room: cut short, never past it.
  EXPECT_EQ(Fixed6(1e300), Printf(1e300).substr(0, kPValueTextMax - 1));
  EXPECT_EQ(Fixed6(0.0), "  0.000000");
  EXPECT_EQ(Fixed6(1.0000000037), "  1.000000");
}

TEST(PValueText, ShortestReadsBackAndIsAtMostOne) {
  std::mt19937_64 rng(4);
  char text[kPValueTextMax + 1];
  for (int i = 0; i < 200000; ++i) {
    const double p = std::ldexp(std::uniform_real_distribution<double>(0.5, 1.0)(rng),
                                -static_cast<int>(rng() % 1080));
    text[FormatShortest(p, text)] = '\0';
    ASSERT_EQ(std::strtod(text, nullptr), p) << text;
  }
  text[FormatShortest(1.0000000000000002, text)] = '\0';
  EXPECT_STREQ(text, "1");
  text[FormatShortest(0.25714285714285673, text)] = '\0';
  EXPECT_STREQ(text, "0.25714285714285673");
}

}  // namespace
