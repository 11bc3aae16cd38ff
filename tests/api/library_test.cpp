// The C interface against the tool: every field of every table the same
// double as batch mode writes (--precise, --log10 and the odds ratios read
// back exactly), the classic double as the single run writes it.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fisher2x2.h"
#include "run_tool.h"

namespace {

struct Counts {
  std::uint64_t a, b, c, d;
};

std::vector<Counts> Tables() {
  std::vector<Counts> t;
  for (std::uint64_t n = 0; n <= 9; ++n)
    for (std::uint64_t a = 0; a <= n; ++a)
      for (std::uint64_t b = 0; a + b <= n; ++b)
        for (std::uint64_t c = 0; a + b + c <= n; ++c) t.push_back({a, b, c, n - a - b - c});
  std::mt19937_64 rng(11);
  for (int i = 0; i < 300; ++i) {
    const std::uint64_t n = std::uint64_t{1} << (rng() % 40 + 1);
    const std::uint64_t r = rng() % n, c = rng() % n;
    const std::uint64_t a = r < c ? rng() % (r + 1) : rng() % (c + 1);
    if (a > r || a > c || r + c - a > n) continue;
    t.push_back({a, r - a, c - a, n - r - c + a});
  }
  t.push_back({781, 23171, 4963, 2455001});
  t.push_back({0, 25000, 25000, 0});
  t.push_back({INT64_MAX - 3, 1, 1, 1});
  return t;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> f;
  std::istringstream s(line);
  for (std::string x; std::getline(s, x, '\t');) f.push_back(x);
  return f;
}

// A p-value written by --precise is the library's double where that is a
// normal double; below, the text carries the logarithm and the double is 0
// or subnormal.
void ExpectPValue(const std::string& text, double v, const std::string& where) {
  const double written = std::strtod(text.c_str(), nullptr);
  if (written >= DBL_MIN) {
    EXPECT_EQ(written, v) << where << " " << text;
  } else {
    EXPECT_LT(v, DBL_MIN) << where << " " << text;
  }
}

TEST(Library, EveryFieldAsBatchModeWritesIt) {
  const std::vector<Counts> tables = Tables();
  std::string input;
  for (const Counts& t : tables) {
    input += std::to_string(t.a) + ' ' + std::to_string(t.b) + ' ' + std::to_string(t.c) + ' ' +
             std::to_string(t.d) + '\n';
  }
  const struct {
    const char* name;
    int alternative;
  } alternatives[] = {{"less", FISHER2X2_LESS}, {"greater", FISHER2X2_GREATER}, {"two-sided", FISHER2X2_TWO_SIDED}};
  for (const auto& alt : alternatives) {
    const Result precise = Tool({std::string("-bpa") + alt.name,
                                 "-fp,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high",
                                 "--conf-level=0.9"},
                                nullptr, input);
    const Result log10 = Tool({std::string("-bla") + alt.name}, nullptr, input);
    ASSERT_EQ(precise.status, 0) << precise.err;
    std::istringstream p_lines(precise.out), l_lines(log10.out);
    for (const Counts& t : tables) {
      std::string p_line, l_line;
      ASSERT_TRUE(std::getline(p_lines, p_line) && std::getline(l_lines, l_line));
      const std::vector<std::string> f = Fields(p_line);
      ASSERT_EQ(f.size(), 10u) << p_line;
      fisher2x2_result r;
      ASSERT_EQ(fisher2x2_test(t.a, t.b, t.c, t.d, alt.alternative, FISHER2X2_ALL, 0.9, &r), 0);
      const std::string where = std::string(alt.name) + " " + std::to_string(t.a) + " " + std::to_string(t.b) + " " +
                                std::to_string(t.c) + " " + std::to_string(t.d);
      const double p_values[] = {r.pvalue, r.mid_pvalue, r.less, r.greater, r.two_sided, r.central};
      for (int k = 0; k < 6; ++k) ExpectPValue(f[static_cast<std::size_t>(k)], p_values[k], where);
      const double ratios[] = {r.odds_ratio, r.sample_odds_ratio, r.ci_low, r.ci_high};
      for (int k = 0; k < 4; ++k) {
        const double written = std::strtod(f[static_cast<std::size_t>(k) + 6].c_str(), nullptr);
        EXPECT_TRUE(written == ratios[k] || (std::isnan(written) && std::isnan(ratios[k]))) << where << " " << k;
      }
      EXPECT_EQ(std::strtod(l_line.c_str(), nullptr), r.log10_pvalue) << where;
    }
  }
}

// The design's conventions: the accurate value as --precise writes the
// line's test, and the classic double as the single run's six decimals.
TEST(Library, ConventionsAndTheClassicDouble) {
  std::string input;
  std::vector<Counts> tables = Tables();
  for (const Counts& t : tables) {
    for (int test : {1, 2}) {
      input += std::to_string(t.a) + ' ' + std::to_string(t.b) + ' ' + std::to_string(t.c) + ' ' +
               std::to_string(t.d) + ' ' + std::to_string(test) + '\n';
    }
  }
  const Result precise = Tool({"-bp"}, nullptr, input);
  const Result six = Tool({"-b"}, nullptr, input);
  std::istringstream p_lines(precise.out), s_lines(six.out);
  for (const Counts& t : tables) {
    for (int test : {1, 2}) {
      std::string p_line, s_line;
      ASSERT_TRUE(std::getline(p_lines, p_line) && std::getline(s_lines, s_line));
      fisher2x2_result r;
      ASSERT_EQ(fisher2x2_test(t.a, t.b, t.c, t.d, test == 1 ? FISHER2X2_OBSERVED_SIDE : FISHER2X2_TWO_TAILED,
                               FISHER2X2_PVALUE, 0.95, &r),
                0);
      ExpectPValue(p_line, r.pvalue, p_line);
      if (t.a + t.b + t.c + t.d > 50000) continue;
      char text[32];
      std::snprintf(text, sizeof text, "%10.6f",
                    fisher2x2_classic(static_cast<int>(t.a), static_cast<int>(t.b), static_cast<int>(t.c),
                                      static_cast<int>(t.d), test));
      EXPECT_EQ(s_line, text);
    }
  }
}

}  // namespace
