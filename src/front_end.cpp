// fisher2x2: the p-value of Fisher's exact test on 2x2 tables.
//
//   fisher2x2 a b c d test
//   fisher2x2 --batch [--precise | --log10] [--alternative NAME]
//             [--fields LIST] [--conf-level L] [--header] [--keep]
//             [--columns LIST [--delimiter C]] [file]
//
// The first form writes the one-tailed (test = 1) or two-tailed (any other
// test) p-value as "%10.6f" with no line end, and exits 0. Counts below 0 or
// a total above 50000 end the run silently with status 0. A result that
// cannot be written is status 1. Five or more arguments are always such a
// table, whatever they look like. With fewer, the command line is options:
// --batch reads one table per line (see batch.h); anything else is a usage
// error, status 2, with the fault named.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
    "       fisher2x2 -b [-p | -l] [-kH] [-a NAME] [-f LIST] [-c LIST] [-d C]\n"
    "                 [--conf-level=L] [file]\n";

constexpr char kHelp[] =
    "usage: fisher2x2 a b c d test\n"
    "       fisher2x2 -b [-p | -l] [-kH] [-a NAME] [-f LIST] [-c LIST] [-d C]\n"
    "                 [--conf-level=L] [file]\n"
    "\n"
    "Fisher's exact test on the 2x2 table   a b\n"
    "                                       c d\n"
    "\n"
    "  a b c d  the four cell counts, each at least 0, at most 50000 in all\n"
    "  test     1 for the one-tailed p-value: the tail on the observed side\n"
    "           (not a directional test), any other integer for the\n"
    "           two-tailed p-value: that tail and the tables of the other\n"
    "           strictly less probable than the observed one (smaller than\n"
    "           R's and SciPy's value where a table is exactly as probable)\n"
    "\n"
    "Writes the p-value as \"%10.6f\" (six decimals, right-aligned in ten\n"
    "columns) with no line end, and exits 0. Counts out of range write\n"
    "nothing and exit 0. Arguments are read like atoi; numerals beyond the\n"
    "32-bit range saturate. Five or more arguments are always a table: give\n"
    "the options below in at most four (-ba less, --fields=p,or). For larger\n"
    "tables use --batch.\n"
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
    "  -a, --alternative NAME\n"
    "                 with --batch: lines are \"a b c d\", and p is R's and\n"
    "                 SciPy's p-value for NAME, with X the count in cell a:\n"
    "                 less P(X <= a), greater P(X >= a), two-sided (or\n"
    "                 two.sided) the tables at most as probable as the\n"
    "                 observed one, exact ties included\n"
    "  -f, --fields LIST\n"
    "                 with --batch: write these fields, comma-separated\n"
    "                 names, tab-separated values: p (the default), mid-p\n"
    "                 (needs -a), less, greater, two-sided, central (twice\n"
    "                 the smaller tail, at most 1), or (the conditional\n"
    "                 maximum-likelihood odds ratio, as R's estimate),\n"
    "                 sample-or (a d / b c), ci-low and ci-high (R's exact\n"
    "                 conditional confidence interval of the odds ratio)\n"
    "  --conf-level L with --batch: the interval's level, 0 < L < 1 (0.95)\n"
    "  -c, --columns LIST\n"
    "                 with --batch: the counts are these columns of lines\n"
    "                 split on tabs (or C): a, b, c, d and, without -a, the\n"
    "                 test; 1-based numbers or, with -H, names\n"
    "  -d, --delimiter C\n"
    "                 with --columns: split lines on the character C\n"
    "                 (\\t for a tab) and separate the fields written by it\n"
    "  -H, --header   with --batch: the first line that is not blank or a\n"
    "                 comment names the columns; the output's first line\n"
    "                 names the fields\n"
    "  -k, --keep     with --batch: write each input line, a tab (or C) and\n"
    "                 its fields; blank and comment lines pass unchanged\n"
    "  -V, --version  the version and the licence\n"
    "\n"
    "Exit status 1: the result could not be written, or in batch mode a\n"
    "malformed line or an unreadable file; 2: fewer than five arguments\n"
    "that are not a valid command line as above (the fault is named).\n";

constexpr char kVersion[] =
    "fisher2x2 " FISHER2X2_VERSION "\n"
    "Copyright (c) 2026 the fisher2x2 developers. MIT licence: free to use,\n"
    "copy, modify and distribute; no warranty.\n";

// Writes text to standard output; on failure reports it and gives status 1.
int Emit(const char* text, std::size_t size) {
  if (WriteAll(STDOUT_FILENO, text, size)) return 0;
  ComplainErrno("cannot write to standard output", errno);
  return 1;
}

// The fault in one line, then the usage lines; status 2.
int Usage(const char* fault, const char* detail = nullptr) {
  char text[192];
  std::snprintf(text, sizeof text, "%s%s%.120s", fault, detail != nullptr ? ": " : "",
                detail != nullptr ? detail : "");
  Complain(text);
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

// The value of an option that takes one: the rest of its argument
// (--name=value, -avalue) or the next argument. Null when there is none.
const char* Value(int argc, const char* const argv[], int* i, const char* attached) {
  if (attached != nullptr && *attached != '\0') return attached;
  if (*i + 1 >= argc) return nullptr;
  return argv[++*i];
}

// A level strictly between 0 and 1: a decimal of at most 15 significant
// digits (and an exponent), read in full. Such a decimal is M / 10^k with
// M < 2^53 and k <= 22, both exact doubles, so one division rounds it
// correctly, as strtod would.
bool ParseLevel(const char* text, double* level) {
  std::uint64_t m = 0;
  int digits = 0, scale = 0;  // value = m * 10^scale
  bool any = false, point = false;
  const char* p = text;
  for (;; ++p) {
    if (*p == '.' && !point) {
      point = true;
    } else if (*p >= '0' && *p <= '9') {
      any = true;
      if (m == 0 && *p == '0') {
        if (point) --scale;
        continue;
      }
      if (++digits > 15) return false;
      m = m * 10 + static_cast<std::uint64_t>(*p - '0');
      if (point) --scale;
    } else {
      break;
    }
  }
  if (!any) return false;
  if (*p == 'e' || *p == 'E') {
    ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    int e = 0;
    if (*p < '0' || *p > '9') return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
      if (e < 1000) e = e * 10 + (*p - '0');
    }
    scale += negative ? -e : e;
  }
  if (*p != '\0' || m == 0 || scale < -22 || scale > 0) return false;
  double power = 1;
  for (int i = 0; i < -scale; ++i) power *= 10;  // exact up to 10^22
  *level = static_cast<double>(m) / power;
  return *level < 1;
}

// Fewer than five arguments: options. --help and --version stand alone;
// otherwise --batch with what it takes, and one file operand at most.
// Options that take a value: --name value, --name=value, -x value, -xvalue,
// and a short one may end a cluster (-ba less).
int Options(int argc, char* argv[]) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    return Emit(kHelp, sizeof kHelp - 1);
  }
  if (argc == 2 && (std::strcmp(argv[1], "-V") == 0 || std::strcmp(argv[1], "--version") == 0)) {
    return Emit(kVersion, sizeof kVersion - 1);
  }
  BatchOptions options;
  Request& request = options.request;
  const char* columns = nullptr;   // the --columns list, read once --header is known
  const char* delimiter = nullptr;
  bool batch = false, precise = false, log10 = false, operands_only = false;
  const char* batch_only = nullptr;  // the first option that needs --batch
  auto needs_batch = [&](const char* option) {
    if (batch_only == nullptr) batch_only = option;
  };
  const char* file = nullptr;
  const char* second_file = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (operands_only || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
      if (file != nullptr && second_file == nullptr) second_file = arg;
      if (file == nullptr) file = arg;
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      operands_only = true;
      continue;
    }
    // One option (long), or a cluster of short ones.
    const bool long_form = arg[1] == '-';
    const char* letters = long_form ? "" : arg + 1;
    do {
      char key = long_form ? '\0' : *letters++;
      const char* attached = long_form ? nullptr : letters;
      if (long_form) {
        const char* name = arg + 2;
        const char* equals = std::strchr(name, '=');
        const std::size_t length = equals != nullptr ? static_cast<std::size_t>(equals - name) : std::strlen(name);
        attached = equals != nullptr ? equals + 1 : nullptr;
        auto is = [&](const char* option) { return std::strlen(option) == length && std::strncmp(option, name, length) == 0; };
        key = is("batch") ? 'b' : is("precise") ? 'p' : is("log10") ? 'l' : is("alternative") ? 'a'
            : is("fields") ? 'f' : is("conf-level") ? 'L' : is("columns") ? 'c' : is("delimiter") ? 'd'
            : is("header") ? 'H' : is("keep") ? 'k' : '?';
        if (key == '?') return Usage("unknown option", arg);
        if (attached != nullptr && std::strchr("bplHk", key) != nullptr) {
          return Usage("this option takes no value", arg);
        }
      }
      switch (key) {
        case 'b':
          batch = true;
          break;
        case 'p':
          precise = true;
          needs_batch("--precise");
          break;
        case 'l':
          log10 = true;
          needs_batch("--log10");
          break;
        case 'H':
          options.header = true;
          needs_batch("--header");
          break;
        case 'k':
          options.keep = true;
          needs_batch("--keep");
          break;
        case 'a':
        case 'f':
        case 'L':
        case 'c':
        case 'd': {
          const char* value = Value(argc, argv, &i, attached);
          letters = "";  // the value ends a cluster
          needs_batch(key == 'a'   ? "--alternative"
                      : key == 'f' ? "--fields"
                      : key == 'L' ? "--conf-level"
                      : key == 'c' ? "--columns"
                                   : "--delimiter");
          if (value == nullptr) return Usage(key == 'a'   ? "--alternative needs a name"
                                             : key == 'f' ? "--fields needs a list"
                                             : key == 'L' ? "--conf-level needs a value"
                                             : key == 'c' ? "--columns needs a list"
                                                          : "--delimiter needs a character");
          if (key == 'c') columns = value;
          if (key == 'd') delimiter = value;
          if (key == 'a' && !ParseAlternative(value, &request.alternative)) {
            return Usage("unknown alternative (less, greater or two-sided)", value);
          }
          if (key == 'f') {
            const char* bad;
            std::size_t bad_length;
            if (!ParseFields(value, &request, &bad, &bad_length)) {
              char name[64];
              std::snprintf(name, sizeof name, "%.*s", static_cast<int>(bad_length < 48 ? bad_length : 48), bad);
              if (request.field_count == kMaxFields) return Usage("too many fields (at most 16)", value);
              return Usage("unknown field", bad_length == 0 ? "(empty)" : name);
            }
          }
          if (key == 'L' && !ParseLevel(value, &request.conf_level)) {
            return Usage("--conf-level must be a decimal strictly between 0 and 1", value);
          }
          break;
        }
        default: {
          if (key >= '0' && key <= '9') return Usage("expected five arguments a b c d test, or --batch");
          char option[3] = {'-', key, '\0'};
          return Usage("unknown option", option);
        }
      }
    } while (*letters != '\0');
  }
  if (!batch) {
    if (batch_only != nullptr) return Usage("this option needs --batch", batch_only);
    return Usage("expected five arguments a b c d test, or --batch");
  }
  if (second_file != nullptr) return Usage("more than one file", second_file);
  if (precise && log10) return Usage("--precise and --log10 exclude each other");
  if (request.alternative == Alternative::kNone && Asks(request, Field::kMidP)) {
    return Usage("the field mid-p needs --alternative");
  }
  LineLayout& layout = options.layout;
  layout.entries = request.alternative == Alternative::kNone ? 5 : 4;
  if (delimiter != nullptr) {
    if (columns == nullptr) return Usage("--delimiter needs --columns");
    // One byte, or \t for a tab.
    if (std::strcmp(delimiter, "\\t") == 0) delimiter = "\t";
    if (std::strlen(delimiter) != 1 || *delimiter == '\n' || *delimiter == '\r') {
      return Usage("--delimiter needs one character", delimiter);
    }
    layout.delimiter = request.separator = *delimiter;
  }
  if (columns != nullptr) {
    if (const char* fault = ParseColumns(columns, options.header, &layout)) return Usage(fault, columns);
    if (layout.columns != layout.entries) {
      return Usage(layout.entries == 4 ? "--columns takes 4 columns (a, b, c, d) with --alternative"
                                       : "--columns needs 5 columns (a, b, c, d, test) without --alternative",
                   columns);
    }
  }
  request.format = precise ? BatchFormat::kPrecise : log10 ? BatchFormat::kLog10 : BatchFormat::kSixDecimals;

  const bool standard_input = file == nullptr || std::strcmp(file, "-") == 0;
  const int fd = standard_input ? STDIN_FILENO : open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ComplainErrno(file, errno);
    return 1;
  }
  const int status = RunBatch(fd, standard_input ? "standard input" : file, options);
  if (!standard_input) close(fd);
  // A header without a column named: a fault of the command line.
  if (status == 2) WriteAll(STDERR_FILENO, kUsage, sizeof kUsage - 1);
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
