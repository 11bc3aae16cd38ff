// The fields of one table: what they ask of the planner, and their text.
#include "field_text.h"

#include <cfloat>
#include <cstring>
#include <iterator>

#include "plan/whole_test.h"

static_assert(Request{}.want == kWantP, "the default field is p");

namespace {

struct Name {
  const char* text;
  Field field;
  unsigned want;  // what it asks of the planner
};

constexpr Name kNames[] = {
    {"p", Field::kP, kWantP},
    {"mid-p", Field::kMidP, kWantMidP},
    {"less", Field::kLess, kWantLess},
    {"greater", Field::kGreater, kWantGreater},
    {"two-sided", Field::kTwoSided, kWantTwoSided},
    {"central", Field::kCentral, kWantCentral},
    {"or", Field::kOddsRatio, kWantOddsRatio},
    {"sample-or", Field::kSampleOddsRatio, kWantSampleOddsRatio},
    {"ci-low", Field::kCiLow, kWantCiLow},
    {"ci-high", Field::kCiHigh, kWantCiHigh},
    {"mh-or", Field::kMhOddsRatio, kWantMhOddsRatio},
};

// kNames is in the order of Field.
constexpr bool InFieldOrder() {
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    if (static_cast<std::size_t>(kNames[i].field) != i) return false;
  }
  return true;
}
static_assert(InFieldOrder(), "kNames follows Field");

const Name& NameOf(Field field) { return kNames[static_cast<std::size_t>(field)]; }

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

// One field's text from the values.
std::size_t WriteField(Field field, const TestValues& v, BatchFormat format, char* out) {
  switch (field) {
    case Field::kP:
      return v.test.single_run ? FormatFixed6(v.test.single_run_p, out) : WritePValue(v.test.p, format, out);
    case Field::kMidP:
      return WritePValue(v.mid_p, format, out);
    case Field::kLess:
      return WritePValue(v.less, format, out);
    case Field::kGreater:
      return WritePValue(v.greater, format, out);
    case Field::kTwoSided:
      return WritePValue(v.two_sided, format, out);
    case Field::kCentral:
      return WritePValue(v.central, format, out);
    case Field::kOddsRatio:
      return FormatDouble(v.odds_ratio, out);
    case Field::kSampleOddsRatio:
      return FormatDouble(v.sample_odds_ratio, out);
    case Field::kCiLow:
      return FormatDouble(v.ci_low, out);
    case Field::kCiHigh:
      return FormatDouble(v.ci_high, out);
    case Field::kMhOddsRatio:
      break;
  }
  return FormatDouble(v.mh_odds_ratio, out);
}

// The fields, separated.
std::size_t WriteValues(const Request& r, const TestValues& values, char* out) {
  std::size_t length = 0;
  for (int i = 0; i < r.field_count; ++i) {
    if (i > 0) out[length++] = r.separator;
    length += WriteField(r.fields[i], values, r.format, out + length);
  }
  return length;
}

[[gnu::noinline]] std::size_t WriteFieldList(const Request& r, const Ask& ask, const std::uint64_t counts[4],
                                             char* out) {
  TestValues values;
  WholeTest(counts[0], counts[1], counts[2], counts[3], ask, &values);
  return WriteValues(r, values, out);
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

bool ParseFieldList(const char* list, Request* r, const char** bad, std::size_t* bad_length) {
  r->field_count = 0;
  r->want = 0;
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
    r->want |= found->want;
    if (comma == nullptr) return true;
    p = comma + 1;
  }
}

const char* FieldName(Field field) { return NameOf(field).text; }

bool Asks(const Request& r, Field field) {
  for (int i = 0; i < r.field_count; ++i) {
    if (r.fields[i] == field) return true;
  }
  return false;
}

std::size_t WriteFields(const Request& r, const std::uint64_t counts[4], bool one_tailed, char* out) {
  Ask ask;
  ask.alternative = r.alternative;
  ask.one_tailed = one_tailed;
  ask.conf_level = r.conf_level;
  ask.null_or = r.null_or;
  // The six decimals' p is the single run's wherever it applies.
  ask.want = r.want | (r.format == BatchFormat::kSixDecimals ? unsigned{kWantSingleRunP} : 0u);
  // The design's p-value alone, as batch mode has always written it.
  if (r.field_count == 1 && PValueAlone(ask)) {
    TestPValue p;
    DesignPValue(counts[0], counts[1], counts[2], counts[3], ask, &p);
    return p.single_run ? FormatFixed6(p.single_run_p, out) : WritePValue(p.p, r.format, out);
  }
  return WriteFieldList(r, ask, counts, out);
}

std::size_t WriteStrataFields(const Request& r, const std::uint64_t* counts, std::size_t k, char* out,
                              const char** fault) {
  Ask ask;
  ask.alternative = r.alternative;
  ask.conf_level = r.conf_level;
  ask.want = r.want;
  TestValues values;
  switch (StrataTest(counts, k, ask, &values)) {
    case StrataStatus::kOk:
      break;
    case StrataStatus::kMemory:
      *fault = "the stratified test's memory was refused";
      return 0;
    case StrataStatus::kTooWide:
      *fault = "the strata are too wide for the exact test (the sd of their sum passes what 1 s and 1 GiB allow)";
      return 0;
  }
  return WriteValues(r, values, out);
}
