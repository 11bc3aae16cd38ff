// The single run: the conversion of the five arguments, the range checks,
// the log-factorial table filled for the total, the test, the result.
#include "single_run.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "classic/fisher_test.h"
#include "output.h"
#include "pvalue_text.h"

// The four cells and the tail selector, as GetInputData converts them.
int a, b, c, d, test;

namespace {

bool IsSpace(char ch) {
  return ch == ' ' || (ch >= '\t' && ch <= '\r');
}

// atoi's reading (blanks, one sign, decimal digits up to the first other
// character; no digits reads as 0), saturating at the 32-bit limits.
int ToInt(const char* s) {
  while (IsSpace(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }
  // Magnitude capped just past INT_MAX + 1 so that it cannot overflow.
  constexpr std::int64_t kCap = std::int64_t{INT_MAX} + 2;
  std::int64_t magnitude = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    magnitude = magnitude * 10 + (*s - '0');
    if (magnitude > kCap) magnitude = kCap;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

void GetInputData(char* argv[]) {
  a = ToInt(argv[1]);
  b = ToInt(argv[2]);
  c = ToInt(argv[3]);
  d = ToInt(argv[4]);
  test = ToInt(argv[5]);
}

int SingleRun(char* argv[]) {
  GetInputData(argv);
  if (a < 0 || b < 0 || c < 0 || d < 0) return 0;
  // The exact total: four values below 2^31 cannot wrap 64 bits.
  const std::int64_t n = std::int64_t{a} + b + c + d;
  if (n > kMaxTotal) return 0;

  FillLogFactorial(static_cast<int>(n));
  const double p = FisherTest(a, b, c, d, test);

  char text[kPValueTextMax];
  if (WriteAll(STDOUT_FILENO, text, FormatFixed6(p, text))) return 0;
  ComplainErrno("cannot write to standard output", errno);
  return 1;
}
