// fisher2x2: the p-value of Fisher's exact test on one 2x2 table.
//
//   fisher2x2 a b c d test
//
// writes the one-tailed (test = 1) or two-tailed (any other test) p-value as
// "%10.6f" with no line end, and exits 0. Counts below 0 or a total above
// 50000 end the run silently with status 0. Fewer than five arguments is a
// usage error (status 2); a result that cannot be written is status 1.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "exact_test.h"

#ifndef FISHER2X2_VERSION
#define FISHER2X2_VERSION "unknown"
#endif

int a, b, c, d, test;

namespace {

constexpr char kUsage[] = "usage: fisher2x2 a b c d test\n";

constexpr char kHelp[] =
    "usage: fisher2x2 a b c d test\n"
    "\n"
    "Fisher's exact test on the 2x2 table   a b\n"
    "                                       c d\n"
    "\n"
    "  a b c d  the four cell counts, each at least 0, at most 50000 in all\n"
    "  test     1 for the one-tailed p-value (the tail on the observed side),\n"
    "           any other integer for the two-tailed p-value\n"
    "\n"
    "Writes the p-value as \"%10.6f\" (six decimals, right-aligned in ten\n"
    "columns) with no line end, and exits 0. Counts out of range write\n"
    "nothing and exit 0. Arguments are read like atoi; numerals beyond the\n"
    "32-bit range saturate. Exit status 1: the result could not be written;\n"
    "2: fewer than five arguments.\n";

constexpr char kVersion[] = "fisher2x2 " FISHER2X2_VERSION "\n";

// Writes all of [data, data + size) to fd, retrying after interruptions and
// short writes. Returns false, with errno set, on failure.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes text to standard output; on failure reports it and gives status 1.
int Emit(const char* text, std::size_t size) {
  if (WriteAll(STDOUT_FILENO, text, size)) return 0;
  const char* reason = std::strerror(errno);
  constexpr char kPrefix[] = "fisher2x2: cannot write to standard output: ";
  WriteAll(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  WriteAll(STDERR_FILENO, reason, std::strlen(reason));
  WriteAll(STDERR_FILENO, "\n", 1);
  return 1;
}

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

int main(int argc, char* argv[]) {
  if (argc < 6) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "--help") == 0)) {
      return Emit(kHelp, sizeof kHelp - 1);
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      return Emit(kVersion, sizeof kVersion - 1);
    }
    WriteAll(STDERR_FILENO, kUsage, sizeof kUsage - 1);
    return 2;
  }

  GetInputData(argv);
  if (a < 0 || b < 0 || c < 0 || d < 0) return 0;
  // The exact total: four values below 2^31 cannot wrap 64 bits.
  const std::int64_t n = std::int64_t{a} + b + c + d;
  if (n > kMaxTotal) return 0;

  FillLogFactorial(static_cast<int>(n));
  const double p = FisherTest(a, b, c, d, test);

  // "%10.6f" of a probability needs far fewer than 32 bytes.
  char text[32];
  const int size = std::snprintf(text, sizeof text, "%10.6f", p);
  return Emit(text, static_cast<std::size_t>(size));
}
