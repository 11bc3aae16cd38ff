// The shortest decimal that reads back as a double, as text.
#ifndef FISHER2X2_TOOL_SHORTEST_H
#define FISHER2X2_TOOL_SHORTEST_H

#include <cstddef>

// Room WriteShortest needs at out: the longest text is 24 bytes,
// "-2.2250738585072014e-308", but it copies digits in fixed lengths past it.
constexpr std::size_t kShortestMax = 40;

// Writes the shortest decimal that reads back as v, the one nearest v among
// those (ties to an even last digit), in plain or exponent notation,
// whichever is shorter (plain on a tie): the bytes of std::to_chars(first,
// last, v). "inf" and "nan" for those. Returns the length.
std::size_t WriteShortest(double v, char* out);

// "00" "01" .. "99".
extern const char kDigitPairs[201];

#endif  // FISHER2X2_TOOL_SHORTEST_H
