// libFuzzer target: arbitrary bytes as sets of strata through the
// stratified test, against its own invariants.
//
// Each four bytes are a stratum (counts 0 to 255, scaled by 1, 4 or 16
// by the first byte, or with 2^40 added to d: a small row beside a huge
// one), at most 16 strata; the first byte picks the level too. Checked,
// every field and both
// alternatives: every p-value in [0, 1] (its logarithm at most 0); less +
// greater at least 1 (their overlap is P(S = s)); each mid-p value below its
// p-value; the estimate within its interval; one stratum the one-table
// test's values, to the bit; and the strata with their rows exchanged (S
// reflected) giving less and greater exchanged, the same two-sided value and
// the reciprocal estimate, within 1e-9.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "plan/whole_test.h"

namespace {

[[noreturn]] void Fail(const char* what, double x, double y) {
  std::fprintf(stderr, "fuzz_strata: %s: %.17g %.17g\n", what, x, y);
  std::abort();
}

double P(const AccuratePValue& p) { return PValue(p); }

bool Near(double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
  if (std::isinf(x) || std::isinf(y) || x == 0 || y == 0) return x == y || std::fabs(x - y) <= 1e-300;
  return std::fabs(x - y) <= 1e-9 * std::fabs(y);
}

TestValues Run(const std::uint64_t* counts, std::size_t k, Alternative alternative, double level) {
  Ask ask;
  ask.alternative = alternative;
  ask.conf_level = level;
  ask.want = kWantP | kWantMidP | kWantLess | kWantGreater | kWantTwoSided | kWantCentral | kWantOddsRatio |
             kWantCiLow | kWantCiHigh | kWantMhOddsRatio;
  TestValues v;
  if (StrataTest(counts, k, ask, &v) != StrataStatus::kOk) Fail("refused", static_cast<double>(k), 0);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const unsigned shape = data[0] % 4;
  const std::uint64_t scale = shape == 1 ? 4 : shape == 2 ? 16 : 1;
  const double levels[4] = {0.95, 0.5, 0.999999, 0.9999999999999};
  const double level = levels[data[0] / 4 % 4];
  std::size_t k = (size - 1) / 4;
  if (k > 16) k = 16;
  std::uint64_t counts[64], mirrored[64];
  for (std::size_t i = 0; i < 4 * k; ++i) {
    counts[i] = data[1 + i] * scale + (shape == 3 && i % 4 == 3 ? std::uint64_t{1} << 40 : 0);
  }
  for (std::size_t i = 0; i < k; ++i) {
    const std::uint64_t* c = counts + 4 * i;
    std::uint64_t* m = mirrored + 4 * i;
    m[0] = c[2], m[1] = c[3], m[2] = c[0], m[3] = c[1];
  }
  for (const Alternative alternative : {Alternative::kLess, Alternative::kTwoSided}) {
    const TestValues v = Run(counts, k, alternative, level), w = Run(mirrored, k, alternative, level);
    for (const AccuratePValue* p : {&v.test.p, &v.mid_p, &v.less, &v.greater, &v.two_sided, &v.central}) {
      if (!(P(*p) >= 0 && P(*p) <= 1) || LogPValue(*p).hi > 0x1p-40) Fail("a p-value out of [0, 1]", P(*p), 0);
    }
    if (P(v.less) + P(v.greater) < 1 - 1e-12) Fail("less + greater below 1", P(v.less), P(v.greater));
    if (alternative == Alternative::kLess && !(P(v.mid_p) <= P(v.less))) Fail("mid-p above p", P(v.mid_p), P(v.less));
    if (v.ci_low > v.odds_ratio * (1 + 1e-9) || v.odds_ratio > v.ci_high * (1 + 1e-9)) {
      Fail("the estimate outside its interval", v.odds_ratio, v.ci_low);
    }
    if (!Near(P(v.less), P(w.greater)) || !Near(P(v.greater), P(w.less))) Fail("reflected tails", P(v.less), P(w.greater));
    if (alternative == Alternative::kTwoSided && !Near(P(v.two_sided), P(w.two_sided))) {
      Fail("reflected two-sided", P(v.two_sided), P(w.two_sided));
    }
    if (!Near(v.odds_ratio, 1 / w.odds_ratio) && !(std::isnan(v.odds_ratio) && std::isnan(w.odds_ratio))) {
      Fail("reflected estimate", v.odds_ratio, 1 / w.odds_ratio);
    }
    if (k == 1) {
      Ask ask;
      ask.alternative = alternative;
      ask.conf_level = level;
      ask.want = kWantP | kWantMidP | kWantLess | kWantGreater | kWantTwoSided | kWantCentral | kWantOddsRatio |
                 kWantCiLow | kWantCiHigh;
      TestValues one;
      WholeTest(counts[0], counts[1], counts[2], counts[3], ask, &one);
      if (std::memcmp(&one.odds_ratio, &v.odds_ratio, sizeof(double)) != 0 ||
          std::memcmp(&one.ci_low, &v.ci_low, sizeof(double)) != 0 || P(one.test.p) != P(v.test.p) ||
          P(one.two_sided) != P(v.two_sided)) {
        Fail("one stratum differs from the table", P(one.test.p), P(v.test.p));
      }
    }
  }
  return 0;
}
