// The C interface (include/fisher2x2.h) over the engine: each value is
// computed once, and only if asked for.
#include "fisher2x2.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "accurate.h"
#include "classic.h"
#include "exact_test.h"
#include "odds_ratio.h"

#define FISHER2X2_STRINGIFY2(x) #x
#define FISHER2X2_STRINGIFY(x) FISHER2X2_STRINGIFY2(x)

namespace {

// The C interface's alternative as the engine's, and whether it is the
// tool's one-tailed value (Alternative::kNone stands for both of the tool's).
Alternative AlternativeOf(int alternative) {
  switch (alternative) {
    case FISHER2X2_LESS:
      return Alternative::kLess;
    case FISHER2X2_GREATER:
      return Alternative::kGreater;
    case FISHER2X2_TWO_SIDED:
      return Alternative::kTwoSided;
    default:
      return Alternative::kNone;
  }
}

}  // namespace

extern "C" int fisher2x2_test(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int alternative, unsigned want,
                              double conf_level, fisher2x2_result* result) {
  if (result == nullptr) return FISHER2X2_ENULL;
  if (alternative < FISHER2X2_TWO_SIDED || alternative > FISHER2X2_TWO_TAILED) return FISHER2X2_EALTERNATIVE;
  if ((want & ~FISHER2X2_ALL) != 0) return FISHER2X2_EWANT;
  // The total, checked before any sum can wrap: each count is then below 2^63.
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX);
  if (a > kMax || b > kMax - a || c > kMax - a - b || d > kMax - a - b - c) return FISHER2X2_ETOTAL;
  if ((want & FISHER2X2_MID_PVALUE) != 0 && alternative >= FISHER2X2_OBSERVED_SIDE) return FISHER2X2_EMIDP;
  if ((want & FISHER2X2_INTERVAL) != 0 && !(conf_level > 0 && conf_level < 1)) return FISHER2X2_ELEVEL;

  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  fisher2x2_result r = {kNan, kNan, kNan, kNan, kNan, kNan, kNan, kNan, kNan, kNan, kNan};
  if ((want & FISHER2X2_SAMPLE_ODDS_RATIO) != 0) r.sample_odds_ratio = SampleOddsRatio(a, b, c, d);
  if ((want & ~FISHER2X2_SAMPLE_ODDS_RATIO) == 0) {
    *result = r;
    return FISHER2X2_OK;
  }

  const Observed o = Observe(a, b, c, d);
  // The tails each p-value needs, summed once.
  const Alternative alt = AlternativeOf(alternative);
  const PValueKind kind = TestKind(alt, alternative == FISHER2X2_OBSERVED_SIDE);
  bool opposite = false, other_side = false;
  auto needs = [&](PValueKind k) {
    opposite = opposite || NeedsOpposite(k);
    other_side = other_side || NeedsOtherSide(k);
  };
  if ((want & (FISHER2X2_PVALUE | FISHER2X2_LOG10_PVALUE)) != 0) needs(kind);
  if ((want & FISHER2X2_MID_PVALUE) != 0) needs(MidKind(alt));
  if ((want & FISHER2X2_TAILS) != 0) {
    for (PValueKind k : {PValueKind::kLess, PValueKind::kGreater, PValueKind::kTwoSided, PValueKind::kCentral}) needs(k);
  }
  if ((want & (FISHER2X2_PVALUE | FISHER2X2_LOG10_PVALUE | FISHER2X2_MID_PVALUE | FISHER2X2_TAILS)) != 0) {
    const TailSums tails = SumTails(o, opposite, other_side);
    if ((want & (FISHER2X2_PVALUE | FISHER2X2_LOG10_PVALUE)) != 0) {
      const AccuratePValue p = Select(o, tails, kind);
      if ((want & FISHER2X2_PVALUE) != 0) r.pvalue = PValue(p);
      if ((want & FISHER2X2_LOG10_PVALUE) != 0) r.log10_pvalue = dd::MinusLog10(LogPValue(p));
    }
    if ((want & FISHER2X2_MID_PVALUE) != 0) r.mid_pvalue = PValue(Select(o, tails, MidKind(alt)));
    if ((want & FISHER2X2_TAILS) != 0) {
      r.less = PValue(Select(o, tails, PValueKind::kLess));
      r.greater = PValue(Select(o, tails, PValueKind::kGreater));
      r.two_sided = PValue(Select(o, tails, PValueKind::kTwoSided));
      r.central = PValue(Select(o, tails, PValueKind::kCentral));
    }
  }
  if ((want & (FISHER2X2_ODDS_RATIO | FISHER2X2_INTERVAL)) != 0) {
    const Estimate e = EstimateOddsRatio(o);
    if ((want & FISHER2X2_ODDS_RATIO) != 0) r.odds_ratio = ConditionalOddsRatio(o, e);
    if ((want & FISHER2X2_INTERVAL) != 0) {
      r.ci_low = IntervalBound(o, e, Bound::kLower, IntervalOf(alt), conf_level);
      r.ci_high = IntervalBound(o, e, Bound::kUpper, IntervalOf(alt), conf_level);
    }
  }
  *result = r;
  return FISHER2X2_OK;
}

extern "C" double fisher2x2_classic(int a, int b, int c, int d, int test) {
  if (a < 0 || b < 0 || c < 0 || d < 0) return std::numeric_limits<double>::quiet_NaN();
  // The exact total: four values below 2^31 cannot wrap 64 bits.
  if (std::int64_t{a} + b + c + d > kMaxTotal) return std::numeric_limits<double>::quiet_NaN();
  return ClassicPValue(a, b, c, d, test);
}

extern "C" const char* fisher2x2_strerror(int error) {
  switch (error) {
    case FISHER2X2_OK:
      return "success";
    case FISHER2X2_ETOTAL:
      return "the total of the counts is beyond 2^63 - 1";
    case FISHER2X2_EALTERNATIVE:
      return "unknown alternative";
    case FISHER2X2_ELEVEL:
      return "the confidence level is not strictly between 0 and 1";
    case FISHER2X2_EMIDP:
      return "the mid-p value needs the alternative less, greater or two-sided";
    case FISHER2X2_EWANT:
      return "unknown bits in what is asked for";
    case FISHER2X2_ENULL:
      return "no place for the result";
    default:
      return "unknown error";
  }
}

extern "C" const char* fisher2x2_version(void) {
  return FISHER2X2_STRINGIFY(FISHER2X2_VERSION_MAJOR) "." FISHER2X2_STRINGIFY(
      FISHER2X2_VERSION_MINOR) "." FISHER2X2_STRINGIFY(FISHER2X2_VERSION_PATCH);
}
