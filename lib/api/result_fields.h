// The members of fisher2x2_result by name: the one table the bindings read
// results through (the Python module; the R package), with the bit of
// `want` that fills each. Checked at compile time against the struct: every
// member once, in its order, and every bit of FISHER2X2_ALL filling one.
#ifndef FISHER2X2_API_RESULT_FIELDS_H
#define FISHER2X2_API_RESULT_FIELDS_H

#include <cstddef>

#include "fisher2x2.h"

struct ResultField {
  const char* name;  // the member's own name
  unsigned bit;      // the bit of `want` that fills it
  double fisher2x2_result::*member;
  std::size_t offset;
};

#define FISHER2X2_FIELD(name, bit) \
  ResultField { #name, bit, &fisher2x2_result::name, offsetof(fisher2x2_result, name) }

inline constexpr ResultField kResultFields[] = {
    FISHER2X2_FIELD(pvalue, FISHER2X2_PVALUE),
    FISHER2X2_FIELD(log10_pvalue, FISHER2X2_LOG10_PVALUE),
    FISHER2X2_FIELD(mid_pvalue, FISHER2X2_MID_PVALUE),
    FISHER2X2_FIELD(less, FISHER2X2_TAILS),
    FISHER2X2_FIELD(greater, FISHER2X2_TAILS),
    FISHER2X2_FIELD(two_sided, FISHER2X2_TAILS),
    FISHER2X2_FIELD(central, FISHER2X2_TAILS),
    FISHER2X2_FIELD(odds_ratio, FISHER2X2_ODDS_RATIO),
    FISHER2X2_FIELD(sample_odds_ratio, FISHER2X2_SAMPLE_ODDS_RATIO),
    FISHER2X2_FIELD(ci_low, FISHER2X2_INTERVAL),
    FISHER2X2_FIELD(ci_high, FISHER2X2_INTERVAL),
    FISHER2X2_FIELD(mh_odds_ratio, FISHER2X2_MH_ODDS_RATIO),
};

#undef FISHER2X2_FIELD

inline constexpr std::size_t kResultFieldCount = sizeof kResultFields / sizeof kResultFields[0];

namespace result_fields {

constexpr bool InOrder() {
  for (std::size_t i = 0; i < kResultFieldCount; ++i) {
    if (kResultFields[i].offset != i * sizeof(double)) return false;
  }
  return true;
}

constexpr unsigned Bits() {
  unsigned bits = 0;
  // cppcheck-suppress useStlAlgorithm ; std::accumulate is constexpr from C++20 only
  for (const ResultField& f : kResultFields) bits |= f.bit;
  return bits;
}

}  // namespace result_fields

static_assert(sizeof(fisher2x2_result) == kResultFieldCount * sizeof(double),
              "every member of fisher2x2_result is in the table");
static_assert(result_fields::InOrder(), "the table follows the struct, member by member");
static_assert(result_fields::Bits() == FISHER2X2_ALL, "every bit of want fills a member");

#endif  // FISHER2X2_API_RESULT_FIELDS_H
