// The planner: what each value needs, and each computation run once.
#include "plan/whole_test.h"

#include "accurate/odds_ratio.h"

namespace {

constexpr unsigned kTailValues = kWantP | kWantMidP | kWantLess | kWantGreater | kWantTwoSided | kWantCentral;
constexpr unsigned kRoots = kWantOddsRatio | kWantCiLow | kWantCiHigh;

}  // namespace

void WholeTest(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, const Ask& ask,
               TestValues* values) {
  TestValues& v = *values;
  if (PValueAlone(ask)) {
    DesignPValue(a, b, c, d, ask, &v.test);
    return;
  }
  unsigned want = ask.want;
  if ((want & kWantSampleOddsRatio) != 0) v.sample_odds_ratio = SampleOddsRatio(a, b, c, d);
  // The single run's value, bit for bit, where it applies.
  if ((want & kWantP) != 0 && SingleRunPValue(a, b, c, d, ask, &v.test)) want &= ~kWantP;
  want &= ~(kWantSampleOddsRatio | kWantSingleRunP);
  if (want == 0) return;

  const Observed o(a, b, c, d);
  if ((want & kTailValues) != 0) {
    const PValueKind kind = TestKind(ask.alternative, ask.one_tailed);
    const PValueKind mid = MidKind(ask.alternative);
    struct Value {
      unsigned bit;
      PValueKind kind;
      AccuratePValue* out;
    };
    const Value asked[] = {
        {kWantP, kind, &v.test.p},
        {kWantMidP, mid, &v.mid_p},
        {kWantLess, PValueKind::kLess, &v.less},
        {kWantGreater, PValueKind::kGreater, &v.greater},
        {kWantTwoSided, PValueKind::kTwoSided, &v.two_sided},
        {kWantCentral, PValueKind::kCentral, &v.central},
    };
    // The tails every value asked needs, summed once.
    bool opposite = false, other_side = false;
    for (const Value& value : asked) {
      if ((want & value.bit) == 0) continue;
      opposite = opposite || NeedsOpposite(value.kind);
      other_side = other_side || NeedsOtherSide(value.kind);
    }
    if (ask.null_or != 1) {
      // Under another null odds ratio, from the noncentral distribution's
      // sums, once for all of them.
      NullTails null{};
      if (o.b0 != 0) null = NullTailSums(o, ask.null_or);
      for (const Value& value : asked) {
        if ((want & value.bit) != 0) *value.out = NullPValue(o, null, value.kind);
      }
    } else {
      const TailSums tails = SumTails(o, opposite, other_side);
      for (const Value& value : asked) {
        if ((want & value.bit) != 0) *value.out = PValueFromTails(o, tails, value.kind);
      }
    }
  }
  if ((want & kRoots) != 0) {
    const Estimate e = EstimateOddsRatio(o);
    const Interval interval = IntervalOf(ask.alternative);
    if ((want & kWantOddsRatio) != 0) v.odds_ratio = ConditionalOddsRatio(o, e);
    if ((want & kWantCiLow) != 0) v.ci_low = IntervalBound(o, e, Bound::kLower, interval, ask.conf_level);
    if ((want & kWantCiHigh) != 0) v.ci_high = IntervalBound(o, e, Bound::kUpper, interval, ask.conf_level);
  }
}
