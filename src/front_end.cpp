// fisher2x2: the p-value of Fisher's exact test on 2x2 tables.
//
//   fisher2x2 a b c d test
//   fisher2x2 --batch [--precise | --log10] [file]
//
// The first form writes the one-tailed (test = 1) or two-tailed (any other
// test) p-value as "%10.6f" with no line end, and exits 0. Counts below 0 or
// a total above 50000 end the run silently with status 0. A result that
// cannot be written is status 1. With fewer than five arguments the command
// line is options: --batch reads one table per line (see batch.h);
// anything else is a usage error, status 2.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "batch.h"
#include "exact_test.h"
#include "output.h"
#include "pvalue_text.h"

#ifndef FISHER2X2_VERSION
#define FISHER2X2_VERSION "unknown"
#endif

int a, b, c, d, test;

namespace {

constexpr char kUsage[] =
    "usage: fisher2x2 a b c d test\n"
    "       fisher2x2 --batch [--precise | --log10] [file]\n";

constexpr char kHelp[] =
    "usage: fisher2x2 a b c d test\n"
    "       fisher2x2 --batch [--precise | --log10] [file]\n"
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
    "32-bit range saturate. For larger tables use --batch.\n"
    "\n"
    "  -b, --batch    read one table \"a b c d test\" per line from file, or\n"
    "                 standard input if there is none or it is -, and write\n"
    "                 one line per input line: the p-value as above, or an\n"
    "                 empty line for negative counts, blank lines,\n"
    "                 # comments and malformed lines (reported on standard\n"
    "                 error with their line number). Counts up to 2^63 - 1\n"
    "                 in all; tables above 50000 get the accurate value\n"
    "  -p, --precise  with --batch: the accurate p-value (relative error\n"
    "                 below 1e-12) as the shortest decimal that reads back as\n"
    "                 its double, such as 7.175066786244521e-25; below the\n"
    "                 doubles, 17 digits from its logarithm (never 0)\n"
    "  -l, --log10    with --batch: -log10 of the accurate p-value, 0 for 1\n"
    "\n"
    "Exit status 1: the result could not be written, or in batch mode a\n"
    "malformed line or an unreadable file; 2: fewer than five arguments that\n"
    "are not options as above.\n";

constexpr char kVersion[] = "fisher2x2 " FISHER2X2_VERSION "\n";

// Writes text to standard output; on failure reports it and gives status 1.
int Emit(const char* text, std::size_t size) {
  if (WriteAll(STDOUT_FILENO, text, size)) return 0;
  ComplainErrno("cannot write to standard output", errno);
  return 1;
}

int Usage() {
  WriteAll(STDERR_FILENO, kUsage, sizeof kUsage - 1);
  return 2;
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

// Fewer than five arguments: options. --help and --version stand alone;
// otherwise --batch, with --precise or --log10 and one file operand at most.
int Options(int argc, char* argv[]) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    return Emit(kHelp, sizeof kHelp - 1);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return Emit(kVersion, sizeof kVersion - 1);
  }
  bool batch = false, precise = false, log10 = false, operands_only = false;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (operands_only || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
      if (file != nullptr) return Usage();
      file = arg;
    } else if (std::strcmp(arg, "--") == 0) {
      operands_only = true;
    } else if (std::strcmp(arg, "--batch") == 0) {
      batch = true;
    } else if (std::strcmp(arg, "--precise") == 0) {
      precise = true;
    } else if (std::strcmp(arg, "--log10") == 0) {
      log10 = true;
    } else if (arg[1] == '-') {
      return Usage();
    } else {
      for (const char* f = arg + 1; *f != '\0'; ++f) {
        if (*f == 'b') {
          batch = true;
        } else if (*f == 'p') {
          precise = true;
        } else if (*f == 'l') {
          log10 = true;
        } else {
          return Usage();
        }
      }
    }
  }
  if (!batch || (precise && log10)) return Usage();
  const BatchFormat format =
      precise ? BatchFormat::kPrecise : log10 ? BatchFormat::kLog10 : BatchFormat::kSixDecimals;

  if (file == nullptr || std::strcmp(file, "-") == 0) {
    return RunBatch(STDIN_FILENO, "standard input", format);
  }
  const int fd = open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ComplainErrno(file, errno);
    return 1;
  }
  const int status = RunBatch(fd, file, format);
  close(fd);
  return status;
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
  if (argc < 6) return Options(argc, argv);

  GetInputData(argv);
  if (a < 0 || b < 0 || c < 0 || d < 0) return 0;
  // The exact total: four values below 2^31 cannot wrap 64 bits.
  const std::int64_t n = std::int64_t{a} + b + c + d;
  if (n > kMaxTotal) return 0;

  FillLogFactorial(static_cast<int>(n));
  const double p = FisherTest(a, b, c, d, test);

  char text[kPValueTextMax];
  return Emit(text, FormatFixed6(p, text));
}
