// WriteShortest against std::to_chars, byte for byte, where the shortest
// decimal is hard to get right: the ends of the rounding intervals (the
// doubles nearest short decimals and their neighbours), the binades' edges,
// the subnormals, the integers around 2^53, and millions of others.
#include "shortest.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

double FromBits(std::uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The number of doubles, of those given and their neighbours, whose text
// differs from to_chars's; the first few are reported.
struct Checker {
  long checked = 0, differ = 0;
  void operator()(double v) {
    char mine[kShortestMax], theirs[64];
    const std::string a(mine, WriteShortest(v, mine));
    const std::string b(theirs, static_cast<std::size_t>(std::to_chars(theirs, theirs + 64, v).ptr - theirs));
    ++checked;
    if (a != b && ++differ <= 5) ADD_FAILURE() << std::hexfloat << v << ": " << a << " against " << b;
  }
  void WithNeighbours(double v) {
    (*this)(v);
    (*this)(std::nextafter(v, 0.0));
    (*this)(std::nextafter(v, std::numeric_limits<double>::infinity()));
  }
};

TEST(Shortest, AsToChars) {
  Checker check;
  std::mt19937_64 rng(17);
  // Any bit pattern, and p-values spread over every binade below 1.
  for (int i = 0; i < 3000000; ++i) check(FromBits(rng() >> 1));
  for (int i = 0; i < 1000000; ++i) check(std::ldexp(static_cast<double>(rng() >> 11), -53 - static_cast<int>(rng() % 1022)));
  // Every power of two (the short lower interval) and its neighbours.
  for (int e = -1074; e <= 1023; ++e) check.WithNeighbours(std::ldexp(1.0, e));
  // The doubles nearest d 10^e, d < 1000, and their neighbours: the
  // candidates of the shortest decimal lie at the ends of their intervals.
  char text[32];
  for (int e = -326; e <= 308; ++e) {
    for (int d = 1; d < 1000; ++d) {
      std::snprintf(text, sizeof text, "%de%d", d, e);
      const double v = std::strtod(text, nullptr);
      if (v > 0 && std::isfinite(v)) check.WithNeighbours(v);
    }
  }
  // The smallest subnormals; integers; the integers around 2^53 and 10^23,
  // where the plain form's digits change hands.
  for (std::uint64_t bits = 1; bits < 20000; ++bits) check(FromBits(bits));
  for (int i = 1; i < 200000; ++i) check.WithNeighbours(static_cast<double>(i));
  for (double edge : {0x1p53, 1e22, 1e23, 0x1p60, 0x1p70}) {
    double up = edge, down = edge;
    for (int i = 0; i < 5000; ++i, up = std::nextafter(up, 2 * edge), down = std::nextafter(down, 0.0)) {
      check(up);
      check(down);
    }
  }
  for (double v : {0.0, -0.0, 1.0, -1.0, 0.5, -2.5e-300, std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                   std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()}) {
    check(v);
  }
  EXPECT_EQ(check.differ, 0) << "of " << check.checked;
  EXPECT_GT(check.checked, 6500000);
}

}  // namespace
