// The planner: what each value needs, and each computation run once.
#include "plan/whole_test.h"

#include "accurate/odds_ratio.h"

#include <cstdlib>
#include <limits>
#include <new>

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

StrataStatus StrataTest(const std::uint64_t* counts, std::size_t k, const Ask& ask, TestValues* values,
                        TieRule* tie) {
  TestValues& v = *values;
  if (tie != nullptr) *tie = TieRule::kNone;
  unsigned want = ask.want & ~(kWantSampleOddsRatio | kWantSingleRunP);
  if ((want & kWantMhOddsRatio) != 0) v.mh_odds_ratio = MantelHaenszel(counts, k);
  want &= ~kWantMhOddsRatio;
  if (want == 0) return StrataStatus::kOk;
  // The strata whose margins allow more than one table; the others only
  // shift S.
  auto* strata = static_cast<Stratum*>(std::malloc(k * sizeof(Stratum)));
  if (strata == nullptr) return StrataStatus::kMemory;
  std::size_t n = 0, only = 0;
  for (std::size_t i = 0; i < k; ++i) {
    const std::uint64_t* c = counts + 4 * i;
    Stratum* st = new (strata + n) Stratum;
    if (MakeStratum(c[0], c[1], c[2], c[3], st)) only = i, ++n;
  }
  Ask one = ask;
  one.want = want;
  StrataStatus status = StrataStatus::kOk;
  if (n <= 1) {
    const std::uint64_t* c = counts + 4 * only;
    WholeTest(c[0], c[1], c[2], c[3], one, values);
    std::free(strata);
    return status;
  }
  const PValueKind kind = TestKind(ask.alternative, false), mid = MidKind(ask.alternative);
  const bool two_sided = (want & kWantTwoSided) != 0 ||
                         ((want & kWantP) != 0 && kind == PValueKind::kTwoSided) ||
                         ((want & kWantMidP) != 0 && mid == PValueKind::kMidTwoSided);
  bool mirror = false;
  if (two_sided) {
    auto* scratch = static_cast<std::uint64_t*>(std::malloc(4 * n * sizeof(std::uint64_t)));
    if (scratch == nullptr) {
      std::free(strata);
      return StrataStatus::kMemory;
    }
    mirror = MirrorClosed(strata, n, scratch);
    std::free(scratch);
  }
  {
    Stratified test(strata, n, mirror);
    StrataTails t;
    if ((want & kTailValues) != 0) {
      test.Tails(two_sided, &t);
      if (tie != nullptr) *tie = t.tie;
    }
    // A refused test's values are not computed: nothing more is asked of it.
    if ((want & kTailValues) != 0 && test.status() == StrataStatus::kOk) {
      auto of = [&](PValueKind which) {
        switch (which) {
          case PValueKind::kLess:
            return t.less;
          case PValueKind::kGreater:
            return t.greater;
          case PValueKind::kMidLess:
            return t.mid_less;
          case PValueKind::kMidGreater:
            return t.mid_greater;
          case PValueKind::kMidTwoSided:
            return t.mid_two_sided;
          default:
            return t.two_sided;
        }
      };
      if ((want & kWantP) != 0) v.test.p = of(kind), v.test.single_run = false;
      if ((want & kWantMidP) != 0) v.mid_p = of(mid);
      if ((want & kWantLess) != 0) v.less = t.less;
      if ((want & kWantGreater) != 0) v.greater = t.greater;
      if ((want & kWantTwoSided) != 0) v.two_sided = t.two_sided;
      if ((want & kWantCentral) != 0) {
        // Twice the smaller tail, at most 1.
        const bool less_smaller = dd::Sub(LogPValue(t.less), LogPValue(t.greater)).hi <= 0;
        const AccuratePValue& smaller = less_smaller ? t.less : t.greater;
        const AccuratePValue twice{smaller.log_p0, dd::Add(smaller.sum, smaller.sum), false};
        v.central = smaller.whole || LogPValue(twice).hi >= 0 ? AccuratePValue{DD(0.0), DD(1.0), true} : twice;
      }
    }
    if ((want & kRoots) != 0 && test.status() == StrataStatus::kOk) {
      const Interval interval = IntervalOf(ask.alternative);
      const double alpha = 1 - ask.conf_level;
      if ((want & kWantOddsRatio) != 0) v.odds_ratio = test.Estimate();
      auto bound = [&](Bound which) {
        switch (interval) {
          case Interval::kUpperOnly:
            return which == Bound::kLower ? 0.0 : test.OddsRatioBound(which, alpha);
          case Interval::kLowerOnly:
            return which == Bound::kUpper ? std::numeric_limits<double>::infinity() : test.OddsRatioBound(which, alpha);
          case Interval::kTwoSided:
            break;
        }
        return test.OddsRatioBound(which, alpha / 2);
      };
      if ((want & kWantCiLow) != 0) v.ci_low = bound(Bound::kLower);
      if ((want & kWantCiHigh) != 0) v.ci_high = bound(Bound::kUpper);
    }
    status = test.status();
  }
  std::free(strata);
  return status;
}
