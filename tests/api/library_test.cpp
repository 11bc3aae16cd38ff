// The C interface against the tool: every field of every table the same
// double as batch mode writes (--precise, --log10 and the odds ratios read
// back exactly), the classic double as the single run writes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// One planner serves both: what is checked here is the C interface's
// conversion of its values against the tool's text, for every alternative,
// the design's two conventions among them (a line's test selector), and the
// classic double against the single run's six decimals.
TEST(Library, EveryValueAsBatchModeWritesIt) {
  const std::vector<Counts> tables = Tables();
  const char* const kAll = "-fp,mid-p,less,greater,two-sided,central,or,sample-or,ci-low,ci-high";
  const struct {
    const char* name;  // --alternative, or null: the design's, by the line's selector
    int test;          // that selector, 0 for none
    int alternative;
  } rows[] = {{"less", 0, FISHER2X2_LESS},
              {"greater", 0, FISHER2X2_GREATER},
              {"two-sided", 0, FISHER2X2_TWO_SIDED},
              {nullptr, 1, FISHER2X2_OBSERVED_SIDE},
              {nullptr, 2, FISHER2X2_TWO_TAILED}};
  for (const auto& row : rows) {
    std::string input;
    for (const Counts& t : tables) {
      input += std::to_string(t.a) + ' ' + std::to_string(t.b) + ' ' + std::to_string(t.c) + ' ' +
               std::to_string(t.d) + (row.test != 0 ? ' ' + std::to_string(row.test) : "") + '\n';
    }
    // At most four arguments: five are a single run.
    auto args = [&](const std::string& mode, std::vector<std::string> more) {
      std::vector<std::string> a = {row.name != nullptr ? mode + "a" : mode};
      if (row.name != nullptr) a.emplace_back(row.name);
      a.insert(a.end(), more.begin(), more.end());
      return a;
    };
    // Every field where there is an alternative, p alone otherwise.
    const bool all = row.name != nullptr;
    const Result precise = Tool(args("-bp", all ? std::vector<std::string>{kAll, "--conf-level=0.9"}
                                                : std::vector<std::string>{}),
                                nullptr, input);
    const Result log10 = Tool(args("-bl", {}), nullptr, input), six = Tool(args("-b", {}), nullptr, input);
    ASSERT_EQ(precise.status, 0) << precise.err;
    std::istringstream p_lines(precise.out), l_lines(log10.out), s_lines(six.out);
    for (const Counts& t : tables) {
      std::string p_line, l_line, s_line;
      ASSERT_TRUE(std::getline(p_lines, p_line) && std::getline(l_lines, l_line) && std::getline(s_lines, s_line));
      const std::vector<std::string> f = Fields(p_line);
      fisher2x2_result r;
      ASSERT_EQ(fisher2x2_test(t.a, t.b, t.c, t.d, row.alternative,
                               all ? FISHER2X2_ALL : FISHER2X2_PVALUE | FISHER2X2_LOG10_PVALUE, 0.9, &r),
                0);
      const std::string where = std::string(row.name != nullptr ? row.name : "test") + " " + std::to_string(t.a) +
                                " " + std::to_string(t.b) + " " + std::to_string(t.c) + " " + std::to_string(t.d) +
                                " " + std::to_string(row.test);
      EXPECT_EQ(std::strtod(l_line.c_str(), nullptr), r.log10_pvalue) << where;
      if (!all) {
        ASSERT_EQ(f.size(), 1u) << p_line;
        ExpectPValue(f[0], r.pvalue, where);
        if (t.a + t.b + t.c + t.d > 50000) continue;
        char text[32];
        std::snprintf(text, sizeof text, "%10.6f",
                      fisher2x2_classic(static_cast<int>(t.a), static_cast<int>(t.b), static_cast<int>(t.c),
                                        static_cast<int>(t.d), row.test));
        EXPECT_EQ(s_line, text) << where;
        continue;
      }
      ASSERT_EQ(f.size(), 10u) << p_line;
      const double p_values[] = {r.pvalue, r.mid_pvalue, r.less, r.greater, r.two_sided, r.central};
      for (int k = 0; k < 6; ++k) ExpectPValue(f[static_cast<std::size_t>(k)], p_values[k], where);
      const double ratios[] = {r.odds_ratio, r.sample_odds_ratio, r.ci_low, r.ci_high};
      for (int k = 0; k < 4; ++k) {
        const double written = std::strtod(f[static_cast<std::size_t>(k) + 6].c_str(), nullptr);
        EXPECT_TRUE(written == ratios[k] || (std::isnan(written) && std::isnan(ratios[k]))) << where << " " << k;
      }
    }
  }
}

// The stratified test: each value the double --strata writes, and each
// refusal its code, the result untouched.
TEST(Library, StrataAsBatchModeWritesThem) {
  const std::vector<std::vector<std::uint64_t>> sets = {
      {3, 1, 1, 3},  // one table: its values
      {3, 1, 1, 3, 2, 2, 2, 2},
      {10, 5, 3, 12, 8, 7, 6, 9, 4, 4, 2, 10},
      {0, 5, 5, 0, 0, 7, 6, 1, 0, 0, 4, 4},  // s at the end of its support; an empty stratum
      {900, 100, 100, 900, 900, 100, 100, 900, 900, 100, 100, 900, 900, 100, 100, 900}};
  std::string input;
  for (const auto& set : sets) {
    for (std::size_t i = 0; i < set.size(); ++i) input += (i > 0 ? " " : "") + std::to_string(set[i]);
    input += '\n';
  }
  const Result precise =
      Tool({"-bpsa", "less", "-fp,mid-p,less,greater,two-sided,central,or,ci-low,ci-high,mh-or"}, nullptr, input);
  ASSERT_EQ(precise.status, 0) << precise.err;
  std::istringstream lines(precise.out);
  for (const auto& set : sets) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const std::vector<std::string> f = Fields(line);
    ASSERT_EQ(f.size(), 10u) << line;
    fisher2x2_result r;
    ASSERT_EQ(fisher2x2_strata_test(set.data(), set.size() / 4, FISHER2X2_LESS, FISHER2X2_ALL, 0.95, &r, sizeof r),
              0);
    const double p_values[] = {r.pvalue, r.mid_pvalue, r.less, r.greater, r.two_sided, r.central};
    for (int k = 0; k < 6; ++k) ExpectPValue(f[static_cast<std::size_t>(k)], p_values[k], line);
    const double ratios[] = {r.odds_ratio, r.ci_low, r.ci_high, r.mh_odds_ratio};
    for (int k = 0; k < 4; ++k) {
      const double written = std::strtod(f[static_cast<std::size_t>(k) + 6].c_str(), nullptr);
      EXPECT_TRUE(written == ratios[k] || (std::isnan(written) && std::isnan(ratios[k]))) << line << " " << k;
    }
    EXPECT_TRUE(std::isnan(r.sample_odds_ratio));
  }
  const std::uint64_t big[] = {INT64_MAX, 0, 0, 0, 1, 0, 0, 0}, two[] = {1, 2, 3, 4, 5, 6, 7, 8};
  // Too wide: one window's walk passes its bound (two strata of 10^15 a
  // cell), or the convolution's (two of 10^8).
  std::uint64_t wide[8], wider[8];
  std::fill(wide, wide + 8, std::uint64_t{100000000});
  std::fill(wider, wider + 8, std::uint64_t{1000000000000000});
  const struct {
    const std::uint64_t* counts;
    std::size_t k;
    int alternative;
    unsigned want;
    double level;
    int error;
  } faults[] = {{two, 0, 0, FISHER2X2_ALL, 0.95, FISHER2X2_ESTRATA},
                {nullptr, 2, 0, FISHER2X2_ALL, 0.95, FISHER2X2_ESTRATA},
                {big, 2, 0, FISHER2X2_ALL, 0.95, FISHER2X2_ETOTAL},
                {two, 2, FISHER2X2_TWO_TAILED, FISHER2X2_PVALUE, 0.95, FISHER2X2_EALTERNATIVE},
                {two, 2, 0, 0x100u, 0.95, FISHER2X2_EWANT},
                {two, 2, 0, FISHER2X2_INTERVAL, 1.0, FISHER2X2_ELEVEL},
                {wide, 2, 0, FISHER2X2_ALL, 0.95, FISHER2X2_EWIDE},
                {wider, 2, 0, FISHER2X2_PVALUE, 0.95, FISHER2X2_EWIDE}};
  for (const auto& c : faults) {
    fisher2x2_result r, before;
    std::memset(&r, 0x5a, sizeof r);
    before = r;
    EXPECT_EQ(fisher2x2_strata_test(c.counts, c.k, c.alternative, c.want, c.level, &r, sizeof r), c.error);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_STRNE(fisher2x2_strerror(c.error), "unknown error");
  }
}

}  // namespace
