// The log-probability of any 2x2 table among the tables with its margins,
// in double-double with a proved error bound, for totals up to 2^63 - 1.
//
// With the margins fixed, a table is named by its cell a = x; the others
// are b = r1 - x, c = c1 - x, d = r2 - c1 + x.
#ifndef FISHER2X2_ACCURATE_LOG_PROBABILITY_H
#define FISHER2X2_ACCURATE_LOG_PROBABILITY_H

#include <array>
#include <cstdint>

#include "arith/double_double.h"
#include "arith/uint128.h"

// The table of ln k! up to kMaxTotal is filled in blocks of this many
// entries, each where a table first reads it.
inline constexpr int kLogFactorialBlock = 64;

// ln k! in double-double, k <= kMaxTotal: the table's entry, its block
// filled first where it is not yet.
const DD& LogFactorialEntry(std::uint64_t k);

// The margins of a table, and what every log-probability with them shares:
// MakeMargins sets margin_terms where small, the rest of the double-doubles
// otherwise. Never copied.
struct Margins {
  Margins() = default;
  Margins(const Margins&) = delete;
  Margins& operator=(const Margins&) = delete;

  std::uint64_t r1 = 0, r2 = 0, c1 = 0, c2 = 0, n = 0;
  bool small = true;  // n <= kMaxTotal: from the table of ln k!
  bool whole = false;  // and its entries up to n all set
  DD margin_terms;  // then the margins' entries less the total's
  DD total;         // otherwise n
  DD expected[4];   // of the cells a, b, c, d: r1 c1 / n, r1 c2 / n, r2 c1 / n, r2 c2 / n
  U128 r1c1;        // r1 c1
  // The h terms of the margins and the total, the same for every table
  // with these margins.
  DD margin_h, margin_up, margin_down;
  int margin_count = 0;
};

// Sets *m to the margins of the table a b / c d; the total at most 2^63 - 1.
void MakeMargins(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, Margins* m);

// The cells a, b, c, d of the table with cell a = x.
inline std::array<std::uint64_t, 4> CellsAt(const Margins& m, std::uint64_t x) {
  return {x, m.r1 - x, m.c1 - x, m.r2 - m.c1 + x};
}

// The ratio of neighbours P(x + step) / P(x) = n1 n2 / ((e1 + 1)(e2 + 1)),
// step +1 or -1, for the table a b / c d at x: a d / ((b + 1)(c + 1))
// downward, b c / ((a + 1)(d + 1)) upward. Each step in the same direction
// takes 1 from n1 and n2 and adds 1 to e1 and e2.
struct StepCells {
  std::uint64_t n1, n2, e1, e2;
};
inline StepCells StepCellsAt(const Margins& m, std::uint64_t x, int step) {
  const std::array<std::uint64_t, 4> c = CellsAt(m, x);
  const bool down = step < 0;
  return {down ? c[0] : c[1], down ? c[3] : c[2], down ? c[1] : c[0], down ? c[2] : c[3]};
}

// A log-probability and a bound on its error.
struct LogProbabilityBound {
  DD value;
  double error;
};

// ln P of the table with cell a = x, max(0, c1 - r2) <= x <= min(r1, c1).
LogProbabilityBound LogProbability(const Margins& m, std::uint64_t x);

// ln P of the table with cell a = x as a double, for m.small: within
// kRoughError of LogProbability(m, x).value.
double RoughLogProbability(const Margins& m, std::uint64_t x);

// The high parts of the margins' entries and of the cells' (five entries
// and four subtractions of terms below 2^21 in all, ln 50000! < 2^19) each
// leave at most 2^-53 of 2^21: 9 * 2^-32 < 2^-28.
constexpr double kRoughError = 0x1p-28;

// ln P of the table a b / c d. For the tests and benchmarks.
LogProbabilityBound AccurateLogProbability(std::uint64_t a, std::uint64_t b, std::uint64_t c,
                                           std::uint64_t d);

#endif  // FISHER2X2_ACCURATE_LOG_PROBABILITY_H
