// The fields of one table: which computations they need, done once each,
// and their text.
#include "fields.h"

#include <algorithm>
#include <cfloat>
#include <iterator>
#include <cstring>

#include "accurate.h"
#include "classic.h"
#include "exact_test.h"
#include "odds_ratio.h"

namespace {

struct Name {
  const char* text;
  Field field;
};

constexpr Name kNames[] = {
    {"p", Field::kP},
    {"mid-p", Field::kMidP},
    {"less", Field::kLess},
    {"greater", Field::kGreater},
    {"two-sided", Field::kTwoSided},
    {"central", Field::kCentral},
    {"or", Field::kOddsRatio},
    {"sample-or", Field::kSampleOddsRatio},
    {"ci-low", Field::kCiLow},
    {"ci-high", Field::kCiHigh},
};

double SingleRun(const std::uint64_t v[4], bool one_tailed) {
  return ClassicPValue(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                       static_cast<int>(v[3]), one_tailed ? 1 : 2);
}

std::size_t WritePValue(const AccuratePValue& p, BatchFormat format, char* out) {
  switch (format) {
    case BatchFormat::kSixDecimals:
      return FormatFixed6(PValue(p), out);
    case BatchFormat::kPrecise: {
      const double d = PValue(p);
      return d >= DBL_MIN ? FormatShortest(d, out) : FormatFromLog(LogPValue(p), out);
    }
    case BatchFormat::kLog10:
      break;
  }
  return FormatLog10(LogPValue(p), out);
}

// The p-value a field names; `p` and `mid-p` follow the test asked.
PValueKind KindOf(Field field, Alternative alternative, bool one_tailed) {
  using K = PValueKind;
  switch (field) {
    case Field::kLess:
      return K::kLess;
    case Field::kGreater:
      return K::kGreater;
    case Field::kTwoSided:
      return K::kTwoSided;
    case Field::kCentral:
      return K::kCentral;
    case Field::kMidP:
      return MidKind(alternative);
    default:
      break;
  }
  return TestKind(alternative, one_tailed);
}

bool IsPValue(Field field) {
  return field != Field::kOddsRatio && field != Field::kSampleOddsRatio && field != Field::kCiLow &&
         field != Field::kCiHigh;
}

}  // namespace

bool ParseAlternative(const char* name, Alternative* out) {
  if (std::strcmp(name, "less") == 0) {
    *out = Alternative::kLess;
  } else if (std::strcmp(name, "greater") == 0) {
    *out = Alternative::kGreater;
  } else if (std::strcmp(name, "two-sided") == 0 || std::strcmp(name, "two.sided") == 0) {
    *out = Alternative::kTwoSided;
  } else {
    return false;
  }
  return true;
}

bool ParseFields(const char* list, Request* r, const char** bad, std::size_t* bad_length) {
  r->field_count = 0;
  for (const char* p = list;;) {
    const char* comma = std::strchr(p, ',');
    const std::size_t length = comma != nullptr ? static_cast<std::size_t>(comma - p) : std::strlen(p);
    *bad = p;
    *bad_length = length;
    const Name* found = nullptr;
    for (const Name& name : kNames) {
      if (std::strlen(name.text) == length && std::strncmp(name.text, p, length) == 0) found = &name;
    }
    if (found == nullptr || r->field_count == kMaxFields) return false;
    r->fields[r->field_count++] = found->field;
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

const char* FieldName(Field field) {
  const Name* name = std::find_if(std::begin(kNames), std::end(kNames), [field](const Name& n) { return n.field == field; });
  return name != std::end(kNames) ? name->text : "";
}

bool Asks(const Request& r, Field field) {
  for (int i = 0; i < r.field_count; ++i) {
    if (r.fields[i] == field) return true;
  }
  return false;
}

namespace {

// The fields, from the observed table and its tails where they are needed.
std::size_t Write(const Request& r, const std::uint64_t counts[4], bool one_tailed, bool single_run,
                  const Observed* o, const TailSums* tails, char* out) {
  double bound[2];
  bool bound_known[2] = {false, false};
  Estimate estimate{};  // for the estimate and the bounds, found once
  bool estimated = false;
  auto estimated_once = [&]() -> const Estimate& {
    if (!estimated) estimate = EstimateOddsRatio(*o);
    estimated = true;
    return estimate;
  };
  std::size_t length = 0;
  for (int i = 0; i < r.field_count; ++i) {
    if (i > 0) out[length++] = r.separator;
    char* const text = out + length;
    const Field f = r.fields[i];
    switch (f) {
      case Field::kSampleOddsRatio:
        length += FormatDouble(SampleOddsRatio(counts[0], counts[1], counts[2], counts[3]), text);
        break;
      case Field::kOddsRatio:
        length += FormatDouble(ConditionalOddsRatio(*o, estimated_once()), text);
        break;
      case Field::kCiLow:
      case Field::kCiHigh: {
        const int k = f == Field::kCiLow ? 0 : 1;
        if (!bound_known[k]) {
          bound[k] = IntervalBound(*o, estimated_once(), k == 0 ? Bound::kLower : Bound::kUpper,
                                   IntervalOf(r.alternative), r.conf_level);
          bound_known[k] = true;
        }
        length += FormatDouble(bound[k], text);
        break;
      }
      default:
        if (f == Field::kP && single_run) {
          length += FormatFixed6(SingleRun(counts, one_tailed), text);
        } else {
          length += WritePValue(Select(*o, *tails, KindOf(f, r.alternative, one_tailed)), r.format, text);
        }
        break;
    }
  }
  return length;
}

}  // namespace

std::size_t WriteFields(const Request& r, const std::uint64_t counts[4], bool one_tailed, char* out) {
  const std::uint64_t n = counts[0] + counts[1] + counts[2] + counts[3];
  const bool single_run = r.format == BatchFormat::kSixDecimals && r.alternative == Alternative::kNone &&
                          n <= static_cast<std::uint64_t>(kMaxTotal);
  // The design's p-value alone, as batch mode has always written it.
  if (r.field_count == 1 && r.fields[0] == Field::kP && r.alternative == Alternative::kNone) {
    if (single_run) return FormatFixed6(SingleRun(counts, one_tailed), out);
    return WritePValue(AccurateTest(counts[0], counts[1], counts[2], counts[3], one_tailed), r.format, out);
  }
  // What the fields need, each computed once: the observed table, its
  // tails (with the opposite tail's search or not, with the other side or
  // not); the interval's bounds are kept as they are found.
  bool observe = false, opposite = false, other_side = false, sums = false;
  for (int i = 0; i < r.field_count; ++i) {
    const Field f = r.fields[i];
    if (f == Field::kSampleOddsRatio || (f == Field::kP && single_run)) continue;
    observe = true;
    if (IsPValue(f)) {
      sums = true;
      const PValueKind kind = KindOf(f, r.alternative, one_tailed);
      opposite = opposite || NeedsOpposite(kind);
      other_side = other_side || NeedsOtherSide(kind);
    }
  }
  if (!observe) return Write(r, counts, one_tailed, single_run, nullptr, nullptr, out);
  const Observed o = Observe(counts[0], counts[1], counts[2], counts[3]);
  if (!sums) return Write(r, counts, one_tailed, single_run, &o, nullptr, out);
  const TailSums tails = SumTails(o, opposite, other_side);
  return Write(r, counts, one_tailed, single_run, &o, &tails, out);
}
