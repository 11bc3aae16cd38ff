// The C interface (include/fisher2x2.h): the arguments checked, the
// planner asked, its values converted to doubles.
#include "fisher2x2.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "api/result_fields.h"
#include "classic/classic_pvalue.h"
#include "classic/log_factorial.h"
#include "plan/whole_test.h"

namespace {

// The 11 doubles of version 1.0's struct, which every caller has.
constexpr std::size_t kFirstResultSize = 11 * sizeof(double);
static_assert(sizeof(fisher2x2_result) >= kFirstResultSize, "the struct only grows");

// What the C interface's alternative and bits ask of the planner.
Ask AskOf(int alternative, unsigned want, double conf_level) {
  Ask ask;
  switch (alternative) {
    case FISHER2X2_LESS:
      ask.alternative = Alternative::kLess;
      break;
    case FISHER2X2_GREATER:
      ask.alternative = Alternative::kGreater;
      break;
    case FISHER2X2_TWO_SIDED:
      ask.alternative = Alternative::kTwoSided;
      break;
    default:  // the tool's two conventions
      ask.alternative = Alternative::kNone;
      ask.one_tailed = alternative == FISHER2X2_OBSERVED_SIDE;
      break;
  }
  ask.conf_level = conf_level;
  ask.want = 0;
  if ((want & (FISHER2X2_PVALUE | FISHER2X2_LOG10_PVALUE)) != 0) ask.want |= kWantP;
  if ((want & FISHER2X2_MID_PVALUE) != 0) ask.want |= kWantMidP;
  if ((want & FISHER2X2_TAILS) != 0) ask.want |= kWantLess | kWantGreater | kWantTwoSided | kWantCentral;
  if ((want & FISHER2X2_ODDS_RATIO) != 0) ask.want |= kWantOddsRatio;
  if ((want & FISHER2X2_SAMPLE_ODDS_RATIO) != 0) ask.want |= kWantSampleOddsRatio;
  if ((want & FISHER2X2_INTERVAL) != 0) ask.want |= kWantCiLow | kWantCiHigh;
  if ((want & FISHER2X2_MH_ODDS_RATIO) != 0) ask.want |= kWantMhOddsRatio;
  return ask;
}

// The values asked into the caller's struct: the first result_size bytes
// (the members this version knows, NaN in those of a newer header).
void Fill(const TestValues& v, unsigned want, fisher2x2_result* result, std::size_t result_size) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  fisher2x2_result r;
  for (const ResultField& f : kResultFields) r.*f.member = kNan;
  if ((want & FISHER2X2_PVALUE) != 0) r.pvalue = PValue(v.test.p);
  if ((want & FISHER2X2_LOG10_PVALUE) != 0) r.log10_pvalue = dd::MinusLog10(LogPValue(v.test.p));
  if ((want & FISHER2X2_MID_PVALUE) != 0) r.mid_pvalue = PValue(v.mid_p);
  if ((want & FISHER2X2_TAILS) != 0) {
    r.less = PValue(v.less);
    r.greater = PValue(v.greater);
    r.two_sided = PValue(v.two_sided);
    r.central = PValue(v.central);
  }
  if ((want & FISHER2X2_ODDS_RATIO) != 0) r.odds_ratio = v.odds_ratio;
  if ((want & FISHER2X2_SAMPLE_ODDS_RATIO) != 0) r.sample_odds_ratio = v.sample_odds_ratio;
  if ((want & FISHER2X2_INTERVAL) != 0) {
    r.ci_low = v.ci_low;
    r.ci_high = v.ci_high;
  }
  if ((want & FISHER2X2_MH_ODDS_RATIO) != 0) r.mh_odds_ratio = v.mh_odds_ratio;
  const std::size_t known = result_size < sizeof r ? result_size : sizeof r;
  std::memcpy(result, &r, known);
  for (std::size_t at = known; at < result_size; at += sizeof(double)) {
    std::memcpy(reinterpret_cast<unsigned char*>(result) + at, &kNan, sizeof kNan);
  }
}

}  // namespace

extern "C" int fisher2x2_test_sized(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int alternative, unsigned want,
                                    double conf_level, double null_or, fisher2x2_result* result,
                                    size_t result_size) {
  if (result == nullptr) return FISHER2X2_ENULL;
  if (result_size < kFirstResultSize || result_size % sizeof(double) != 0) return FISHER2X2_ESIZE;
  if (alternative < FISHER2X2_TWO_SIDED || alternative > FISHER2X2_TWO_TAILED) return FISHER2X2_EALTERNATIVE;
  if ((want & ~FISHER2X2_ALL) != 0) return FISHER2X2_EWANT;
  // The total, checked before any sum can wrap: each count is then below 2^63.
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX);
  if (a > kMax || b > kMax - a || c > kMax - a - b || d > kMax - a - b - c) return FISHER2X2_ETOTAL;
  if ((want & FISHER2X2_MID_PVALUE) != 0 && alternative >= FISHER2X2_OBSERVED_SIDE) return FISHER2X2_EMIDP;
  if ((want & FISHER2X2_INTERVAL) != 0 && !(conf_level > 0 && conf_level < 1)) return FISHER2X2_ELEVEL;
  if (!(null_or > 0 && null_or <= DBL_MAX) || (null_or != 1 && alternative >= FISHER2X2_OBSERVED_SIDE)) {
    return FISHER2X2_ENULLOR;
  }

  Ask ask = AskOf(alternative, want, conf_level);
  ask.null_or = null_or;
  TestValues v;
  WholeTest(a, b, c, d, ask, &v);

  // One table: its Mantel-Haenszel estimate is a d / (b c).
  if ((want & FISHER2X2_MH_ODDS_RATIO) != 0) v.mh_odds_ratio = SampleOddsRatio(a, b, c, d);
  Fill(v, want, result, result_size);
  return FISHER2X2_OK;
}

extern "C" int fisher2x2_strata_test(const uint64_t* counts, size_t k, int alternative, unsigned want,
                                     double conf_level, fisher2x2_result* result, size_t result_size) {
  if (result == nullptr) return FISHER2X2_ENULL;
  if (result_size < kFirstResultSize || result_size % sizeof(double) != 0) return FISHER2X2_ESIZE;
  if (alternative < FISHER2X2_TWO_SIDED || alternative > FISHER2X2_GREATER) return FISHER2X2_EALTERNATIVE;
  if ((want & ~FISHER2X2_ALL) != 0) return FISHER2X2_EWANT;
  if (counts == nullptr || k == 0) return FISHER2X2_ESTRATA;
  if (k > SIZE_MAX / 4) return FISHER2X2_ETOTAL;  // cannot fit in memory
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX);
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < 4 * k; ++i) {
    if (counts[i] > kMax - total) return FISHER2X2_ETOTAL;
    total += counts[i];
  }
  if ((want & FISHER2X2_INTERVAL) != 0 && !(conf_level > 0 && conf_level < 1)) return FISHER2X2_ELEVEL;
  Ask ask = AskOf(alternative, want & ~FISHER2X2_SAMPLE_ODDS_RATIO, conf_level);
  TestValues v;
  switch (StrataTest(counts, k, ask, &v)) {
    case StrataStatus::kOk:
      break;
    case StrataStatus::kMemory:
      return FISHER2X2_EMEMORY;
    case StrataStatus::kTooWide:
      return FISHER2X2_EWIDE;
  }
  Fill(v, want & ~FISHER2X2_SAMPLE_ODDS_RATIO, result, result_size);
  return FISHER2X2_OK;
}

// Programs built against 1.0 and 1.1 call the function itself.
#undef fisher2x2_test
extern "C" int fisher2x2_test(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int alternative, unsigned want,
                              double conf_level, fisher2x2_result* result) {
  return fisher2x2_test_sized(a, b, c, d, alternative, want, conf_level, 1.0, result, kFirstResultSize);
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
    case FISHER2X2_ESIZE:
      return "the result's size is not that of a fisher2x2_result";
    case FISHER2X2_ENULLOR:
      return "the null odds ratio is not a number above 0, or not 1 with the tool's own alternatives";
    case FISHER2X2_ESTRATA:
      return "no strata: k is 0 or the counts are missing";
    case FISHER2X2_EMEMORY:
      return "the stratified test's memory was refused";
    case FISHER2X2_EWIDE:
      return "the strata are too wide for the exact test (the sd of their sum passes its bounds)";
    default:
      return "unknown error";
  }
}

extern "C" const char* fisher2x2_version(void) {
  return FISHER2X2_VERSION_STRING;
}
