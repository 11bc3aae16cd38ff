// The p-value's text: C's "%10.6f", and the shortest decimal that reads back
// as the same double.
#ifndef FISHER2X2_TOOL_PVALUE_TEXT_H
#define FISHER2X2_TOOL_PVALUE_TEXT_H

#include <cstddef>

#include "arith/double_double.h"

// Room enough for either form, without a line end.
constexpr std::size_t kPValueTextMax = 40;

// Writes p exactly as printf("%10.6f", p) does, rounding the exact binary
// value to nearest with ties to even, and returns the length. out must have
// room for kPValueTextMax bytes.
std::size_t FormatFixed6(double p, char* out);

// Writes the shortest decimal that reads back as p (std::to_chars without a
// format: plain or exponent notation, whichever is shorter), with p clamped
// to at most 1 first, and returns the length.
std::size_t FormatShortest(double p, char* out);

// Writes the shortest decimal that reads back as v, as FormatShortest but
// unclamped: "inf" and "nan" for those.
std::size_t FormatDouble(double v, char* out);

// Writes the p-value e^log_p, below the normal doubles, with 17 significant
// digits taken from its logarithm, such as 8.0803306019185372e-611, and
// returns the length.
std::size_t FormatFromLog(DD log_p, char* out);

// Writes -log10 p, for p = e^log_p, as the shortest decimal that reads back
// as its double; 0 for p = 1.
std::size_t FormatLog10(DD log_p, char* out);

#endif  // FISHER2X2_TOOL_PVALUE_TEXT_H
