// The command line of fewer than five arguments: the help, the version,
// or batch mode on a file or standard input.
#include "command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "batch.h"
#include "fisher2x2.h"
#include "options.h"
#include "output.h"


namespace {

constexpr char kUsage[] =
    "usage: fisher2x2 a b c d test\n"
    "       fisher2x2 -b[p|l][kH] [--fields=LIST] [file]\n"
    "       fisher2x2 -b[p|l][kH]a NAME [--fields=LIST] [file]\n"
    "       fisher2x2 -b[p|l][kH]a NAME -cLIST [file]\n"
    "       fisher2x2 -b[p|l][kH] -cLIST [-dC] [file]\n"
    "       fisher2x2 -b[p|l][kH]sa NAME [--fields=LIST] [file]\n"
    "       fisher2x2 -b[p|l][H]gCOLUMN -aNAME -cLIST [file]\n"
    "       fisher2x2 -h | -V\n"
    "Five or more arguments are always a table a b c d test: options go in\n"
    "at most four (--conf-level=L in the place of one shown).\n";

// --help: the usage lines, then this.
constexpr char kHelp[] =
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
    "32-bit range saturate. For larger tables use --batch; cluster its\n"
    "options and attach their values (-bpa less, --fields=p,or, -c2,3,4,5).\n"
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
    "  --null-or PSI  with -a: the p-values under the null odds ratio PSI > 0\n"
    "                 (1), as R's fisher.test(x, or = PSI); the estimate and\n"
    "                 the interval do not depend on it\n"
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
    "  -s, --strata   with -a: each line is one stratified test, the exact\n"
    "                 test of a common odds ratio over K tables (R's\n"
    "                 mantelhaen.test(x, exact = TRUE)): 4 K counts a1 b1 c1\n"
    "                 d1 a2 ..., or the 4 K columns -c lists; the fields are\n"
    "                 those of S, the sum of the cells a, and mh-or (the\n"
    "                 Mantel-Haenszel estimate) in the place of sample-or\n"
    "  -g, --group COLUMN\n"
    "                 with -a and four columns -c: consecutive lines with the\n"
    "                 same value in COLUMN (a number, or with -H a name) are\n"
    "                 the strata of one test; one line per group: its value,\n"
    "                 a tab (or C) and the fields. Not with --keep\n"
    "  -V, --version  the version and the licence\n"
    "\n"
    "Exit status 1: the result could not be written, or in batch mode a\n"
    "malformed line or an unreadable file; 2: fewer than five arguments\n"
    "that are not a valid command line as above (the fault is named).\n";

constexpr char kVersion[] =
    "fisher2x2 " FISHER2X2_VERSION_STRING "\n"
    "Copyright (c) 2026 the fisher2x2 developers. MIT licence: free to use,\n"
    "copy, modify and distribute; no warranty.\n";

// Writes text to standard output; on failure reports it and gives status 1.
int Emit(const char* text, std::size_t size) {
  if (WriteAll(STDOUT_FILENO, text, size)) return 0;
  ComplainErrno("cannot write to standard output", errno);
  return 1;
}

// The fault in one line, then the usage lines; status 2.
int Usage(const char* fault, const char* detail) {
  char text[192];
  std::snprintf(text, sizeof text, "%s%s%.120s", fault, detail != nullptr ? ": " : "",
                detail != nullptr ? detail : "");
  Complain(text);
  WriteAll(STDERR_FILENO, kUsage, sizeof kUsage - 1);
  return 2;
}

}  // namespace

int CommandLine(int argc, char* argv[]) {
  Options options;
  Fault fault;
  if (!ParseOptions(argc, argv, &options, &fault)) return Usage(fault.text, fault.detail);
  switch (options.action) {
    case Action::kHelp:
      return Emit(kUsage, sizeof kUsage - 1) != 0 ? 1 : Emit(kHelp, sizeof kHelp - 1);
    case Action::kVersion:
      return Emit(kVersion, sizeof kVersion - 1);
    case Action::kBatch:
      break;
  }
  const char* file = options.file;
  const int fd = file == nullptr ? STDIN_FILENO : open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ComplainErrno(file, errno);
    return 1;
  }
  const int status = RunBatch(fd, file == nullptr ? "standard input" : file, options.batch);
  if (file != nullptr) close(fd);
  // A header without a column named: a fault of the command line.
  if (status == 2) WriteAll(STDERR_FILENO, kUsage, sizeof kUsage - 1);
  return status;
}
