// What batch mode computes and writes for each table: the p-value of the
// test asked for, or the fields listed with --fields.
#ifndef FISHER2X2_TOOL_FIELD_TEXT_H
#define FISHER2X2_TOOL_FIELD_TEXT_H

#include <cstddef>
#include <cstdint>

#include "accurate/pvalues.h"
#include "pvalue_text.h"

// How p-values are written.
enum class BatchFormat {
  kSixDecimals,  // "%10.6f", as the single run
  kPrecise,      // the shortest decimal of the double, or 17 digits from the logarithm
  kLog10,        // -log10 p
};

enum class Field {
  kP,                // the test asked for
  kMidP,             // its mid-p value (needs an alternative)
  kLess,             // P(X <= a)
  kGreater,          // P(X >= a)
  kTwoSided,         // the tables at most as probable as the observed one
  kCentral,          // twice the smaller of kLess and kGreater, at most 1
  kOddsRatio,        // the conditional maximum-likelihood estimate
  kSampleOddsRatio,  // a d / (b c)
  kCiLow,            // the exact conditional confidence interval
  kCiHigh,
  kMhOddsRatio,      // strata: the Mantel-Haenszel estimate
};

constexpr int kMaxFields = 16;

struct Request {
  BatchFormat format = BatchFormat::kSixDecimals;
  Alternative alternative = Alternative::kNone;
  Field fields[kMaxFields] = {Field::kP};
  int field_count = 1;
  unsigned want = 1;  // what the fields ask of the planner (plan/whole_test.h), kept by ParseFieldList
  double conf_level = 0.95;
  double null_or = 1;     // the p-values' null odds ratio (with an alternative)
  char separator = '\t';  // between fields
};

// "less", "greater", "two-sided" (or R's "two.sided").
bool ParseAlternative(const char* name, Alternative* out);

// A comma-separated list of field names into r. On failure, the offending
// name is [*bad, *bad + *bad_length): unknown, empty, or past kMaxFields.
bool ParseFieldList(const char* list, Request* r, const char** bad, std::size_t* bad_length);

// The name of a field, as --fields takes it.
const char* FieldName(Field field);

// Whether the fields include one.
bool Asks(const Request& r, Field field);

// Room for one line of fields, without its line end.
constexpr std::size_t kFieldsTextMax = kMaxFields * (kPValueTextMax + 1);

// Writes the fields of the table a b / c d (counts[0..3], each >= 0, total
// at most 2^63 - 1), separated by r.separator, without a line end, and returns the
// length. one_tailed: the line's selector, where there is no alternative.
// Without an alternative, "p" up to a total of 50000 in six decimals is the
// single run's computation, bit for bit.
std::size_t WriteFields(const Request& r, const std::uint64_t counts[4], bool one_tailed, char* out);

// The same for the stratified test of the k tables in counts (4 k counts,
// total at most 2^63 - 1), r with an alternative. Returns the length, or 0
// with *fault set where the test could not be computed.
std::size_t WriteStrataFields(const Request& r, const std::uint64_t* counts, std::size_t k, char* out,
                              const char** fault);

#endif  // FISHER2X2_TOOL_FIELD_TEXT_H
