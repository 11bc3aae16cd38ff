// libFuzzer target: arbitrary bytes through batch mode, against a model.
//
// The input's first byte picks the format (six decimals, --precise,
// --log10) and whether lines are "a b c d test" or, with --alternative
// two-sided and the whole test's fields, "a b c d"; its second byte picks
// --keep, --header, and --columns 3,1,4,2[,5] with a tab or a comma as the
// delimiter, and with the whole test --null-or=2.5. The rest stands in for the file that batch mode reads (with
// --header, a byte-order mark at its start is skipped), and its
// standard output is captured. Each input line is judged by a model written
// with the C library (strtoll, snprintf): blank or comment, the header, a
// table, a negative count, or malformed (not five strict 64-bit integers
// before any "# comment", a column missing or not a strict integer, or a
// total beyond 2^63 - 1); the output must have one line per input line,
// each what the model expects (with --keep, the input line, the separator
// and the fields), and the status must be 1 exactly when a line was
// malformed. Tables up to 50000 in six decimals are the single run's
// "%10.6f"; the others are the accurate computation's, formatted as the
// tool promises (a plain or exponent decimal that is never 0, or -log10 p).

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "batch.h"
#include "accurate/pvalues.h"
#include "classic/fisher_test.h"
#include "accurate/odds_ratio.h"
#include "pvalue_text.h"

namespace {

int in_fd = -1, out_fd = -1, null_fd = -1, saved_stdout = -1, saved_stderr = -1;

[[noreturn]] void Fail(const char* what, const std::string& line, const std::string& got) {
  dup2(saved_stderr, STDERR_FILENO);
  std::fprintf(stderr, "fuzz_batch: %s: line [%s] output [%s]\n", what, line.c_str(), got.c_str());
  std::abort();
}

// A strict 64-bit numeral: optional sign, then digits only.
bool Strict(const std::string& field, long long* value) {
  std::size_t i = field[0] == '+' || field[0] == '-' ? 1 : 0;
  if (i == field.size()) return false;
  for (std::size_t j = i; j < field.size(); ++j) {
    if (field[j] < '0' || field[j] > '9') return false;
  }
  errno = 0;
  *value = std::strtoll(field.c_str(), nullptr, 10);
  return errno == 0;
}

BatchFormat format;
bool whole;                           // four fields a line, the whole test's fields
bool keep, header, columns;           // the options of the second byte
char delimiter;                       // with columns
bool header_seen;
double null_or = 1;  // the whole test's null odds ratio
AccuratePValue last;                  // the model's value of the last table
const std::string kAccurate = "\x01";  // from Expected: see MatchesAccurate
const std::string kWhole = "\x02";     // from Expected: see MatchesWhole
long long counts[4];                  // of the last table

bool Blank(char ch) { return ch == ' ' || ch == '\t'; }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && Blank(s[b])) ++b;
  while (e > b && Blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

enum class Kind { kBlankOrComment, kHeader, kNoTable, kTable };

// The kind of a line (its line end removed) and, for a table, the expected
// fields (or kAccurate, kWhole); *bad is set for a malformed line.
std::string Expected(const std::string& line, bool* bad, Kind* kind) {
  *bad = false;
  *kind = Kind::kNoTable;
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == '#') {
    *kind = Kind::kBlankOrComment;
    return "";
  }
  if (header && !header_seen) {
    header_seen = true;
    *kind = Kind::kHeader;
    return "";
  }
  if (line.size() > static_cast<std::size_t>(kMaxLineBytes)) {
    *bad = true;
    return "";
  }
  std::vector<std::string> fields;
  const std::size_t expected = whole ? 4 : 5;
  if (columns) {
    std::vector<std::string> all;
    std::size_t start = 0;
    for (std::size_t d; (d = line.find(delimiter, start)) != std::string::npos; start = d + 1) {
      all.push_back(line.substr(start, d - start));
    }
    all.push_back(line.substr(start));
    if (all.size() < expected) {
      *bad = true;
      return "";
    }
    const int order[5] = {2, 0, 3, 1, 4};
    for (std::size_t i = 0; i < expected; ++i) {
      fields.push_back(Trim(all[static_cast<std::size_t>(order[i])]));
      if (fields.back().empty()) {
        *bad = true;
        return "";
      }
    }
  } else {
    std::string field;
    for (char ch : line + " ") {
      if (Blank(ch)) {
        if (!field.empty()) fields.push_back(field);
        field.clear();
      } else {
        field += ch;
      }
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i][0] == '#') fields.resize(i);  // a trailing comment
    }
  }
  long long v[5];
  if (fields.size() != expected) {
    *bad = true;
    return "";
  }
  for (std::size_t i = 0; i < expected; ++i) {
    if (!Strict(fields[i], &v[i])) {
      *bad = true;
      return "";
    }
  }
  if (v[0] < 0 || v[1] < 0 || v[2] < 0 || v[3] < 0) return "";
  unsigned long long n = 0;
  for (int i = 0; i < 4; ++i) {
    n += static_cast<unsigned long long>(v[i]);
    if (n > static_cast<unsigned long long>(LLONG_MAX)) {
      *bad = true;
      return "";
    }
  }
  *kind = Kind::kTable;
  if (whole) {
    for (int i = 0; i < 4; ++i) counts[i] = v[i];
    return kWhole;
  }
  char text[64];
  if (format == BatchFormat::kSixDecimals && n <= static_cast<unsigned long long>(kMaxTotal)) {
    FillLogFactorial(static_cast<int>(n));
    std::snprintf(text, sizeof text, "%10.6f",
                  FisherTest(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                             static_cast<int>(v[3]), v[4] == 1 ? 1 : 2));
    return text;
  }
  const AccuratePValue p = AccurateTest(static_cast<std::uint64_t>(v[0]), static_cast<std::uint64_t>(v[1]),
                                        static_cast<std::uint64_t>(v[2]), static_cast<std::uint64_t>(v[3]),
                                        v[4] == 1);
  const double value = PValue(p);
  if (value < 0 || value > 1) Fail("p-value out of [0, 1]", line, "");
  if (format == BatchFormat::kSixDecimals) {
    std::snprintf(text, sizeof text, "%10.6f", value);
    return text;
  }
  last = p;
  return kAccurate;
}

// The accurate formats: --log10 within its bound of the model's -log10 p;
// --precise the shortest decimal of the model's double, or, below the
// normal doubles, 17 digits and an exponent; never 0.
bool MatchesAccurate(const std::string& got) {
  char* end;
  const double v = std::strtod(got.c_str(), &end);
  // No blank and no sign but an exponent's: -log10 p from 1e16 on is
  // written with one, as 1.34665163498e+18.
  const std::size_t plus = got.find('+');
  if (got.empty() || *end != '\0' || got.find(' ') != std::string::npos ||
      (plus != std::string::npos && (plus == 0 || got[plus - 1] != 'e'))) {
    return false;
  }
  if (format == BatchFormat::kLog10) {
    const double want = -LogPValue(last).hi / 2.302585092994046;
    return std::fabs(v - want) <= 1e-12 * (want > 1 ? want : 1);
  }
  if (got == "0") return false;
  const double want = PValue(last);
  if (want >= DBL_MIN) return v == want;
  return got.size() >= 22 && got[1] == '.' && got.find("e-") == 18;
}

// The whole test's line, --fields=p,less,greater,two-sided,or,ci-low,ci-high:
// the p-values in the format asked, p the two-sided one, the odds ratio
// inside its interval (or nan, with the interval 0 to inf).
bool MatchesWhole(const std::string& got) {
  std::vector<std::string> f;
  std::size_t start = 0;
  const char separator = columns ? delimiter : '\t';
  for (std::size_t tab; (tab = got.find(separator, start)) != std::string::npos; start = tab + 1) {
    f.push_back(got.substr(start, tab - start));
  }
  f.push_back(got.substr(start));
  if (f.size() != 7 || f[0] != f[3]) return false;
  std::uint64_t c[4];
  for (int i = 0; i < 4; ++i) c[i] = static_cast<std::uint64_t>(counts[i]);
  const Observed o(c[0], c[1], c[2], c[3]);
  const TailSums tails = SumTails(o, true, true);
  NullTails null{};
  if (null_or != 1 && o.b0 != 0) null = NullTailSums(o, null_or);
  const PValueKind kinds[3] = {PValueKind::kLess, PValueKind::kGreater, PValueKind::kTwoSided};
  for (int k = 0; k < 3; ++k) {
    last = null_or != 1 ? NullPValue(o, null, kinds[k]) : PValueFromTails(o, tails, kinds[k]);
    if (format == BatchFormat::kSixDecimals) {
      char text[kPValueTextMax];
      if (f[static_cast<std::size_t>(k) + 1] != std::string(text, FormatFixed6(PValue(last), text))) return false;
    } else if (!MatchesAccurate(f[static_cast<std::size_t>(k) + 1])) {
      return false;
    }
  }
  const double estimate = std::strtod(f[4].c_str(), nullptr), low = std::strtod(f[5].c_str(), nullptr),
               high = std::strtod(f[6].c_str(), nullptr);
  if (std::isnan(estimate)) return low == 0 && high == HUGE_VAL;
  return low >= 0 && low <= estimate && estimate <= high && !std::isnan(high);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  in_fd = memfd_create("input", 0);
  out_fd = memfd_create("output", 0);
  null_fd = open("/dev/null", O_WRONLY);
  saved_stdout = dup(STDOUT_FILENO);
  saved_stderr = dup(STDERR_FILENO);
  if (in_fd < 0 || out_fd < 0 || null_fd < 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  format = data[0] % 3 == 0 ? BatchFormat::kSixDecimals
                            : data[0] % 3 == 1 ? BatchFormat::kPrecise : BatchFormat::kLog10;
  whole = data[0] / 3 % 2 == 1;
  Request request;
  request.format = format;
  if (whole) {
    request.alternative = Alternative::kTwoSided;
    const char* bad;
    std::size_t bad_length;
    if (!ParseFieldList("p,less,greater,two-sided,or,ci-low,ci-high", &request, &bad, &bad_length)) std::abort();
  }
  ++data;
  --size;
  BatchOptions options;
  keep = header = columns = false;
  null_or = 1;
  if (size > 0) {
    keep = (data[0] & 1) != 0;
    header = (data[0] & 2) != 0;
    columns = (data[0] & 4) != 0;
    delimiter = (data[0] & 8) != 0 ? ',' : '\t';
    // The whole test's p-values under a null odds ratio other than 1: the
    // noncentral sums (the output's form is the same).
    null_or = whole && (data[0] & 16) != 0 ? 2.5 : 1;
    request.null_or = null_or;
    ++data;
    --size;
  }
  header_seen = false;
  options.keep = keep;
  options.header = header;
  options.layout.entries = whole ? 4 : 5;
  if (columns) {
    options.layout.delimiter = request.separator = delimiter;
    if (ParseColumnList(whole ? "3,1,4,2" : "3,1,4,2,5", false, &options.layout) != nullptr) std::abort();
  }
  options.request = request;
  const char* const names = whole ? "p\tless\tgreater\ttwo-sided\tor\tci-low\tci-high" : "p";
  const char separator = request.separator;
  if (ftruncate(in_fd, 0) != 0 || ftruncate(out_fd, 0) != 0) std::abort();
  if (pwrite(in_fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  lseek(in_fd, 0, SEEK_SET);
  lseek(out_fd, 0, SEEK_SET);
  dup2(out_fd, STDOUT_FILENO);
  dup2(null_fd, STDERR_FILENO);
  const int status = RunBatch(in_fd, "input", options);
  dup2(saved_stdout, STDOUT_FILENO);
  dup2(saved_stderr, STDERR_FILENO);

  std::string out(static_cast<std::size_t>(lseek(out_fd, 0, SEEK_END)), '\0');
  if (pread(out_fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) std::abort();

  const std::string in(reinterpret_cast<const char*>(data), size);
  // With --header, a UTF-8 byte-order mark that starts the input is
  // skipped, and not written back.
  std::size_t in_pos = header && in.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0, out_pos = 0;
  bool any_bad = false;
  while (in_pos < in.size()) {
    std::size_t nl = in.find('\n', in_pos);
    if (nl == std::string::npos) nl = in.size();
    std::string line = in.substr(in_pos, nl - in_pos);
    in_pos = nl + 1;
    const bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.pop_back();
    const std::size_t out_nl = out.find('\n', out_pos);
    if (out_nl == std::string::npos) Fail("too few output lines", line, out);
    std::string got = out.substr(out_pos, out_nl - out_pos);
    out_pos = out_nl + 1;
    bool bad;
    Kind kind;
    std::string want = Expected(line, &bad, &kind);
    // With --keep: the input line and the separator before the fields, and
    // a carriage return kept.
    if (keep) {
      if (cr && (got.empty() || got.back() != '\r')) Fail("--keep lost the carriage return", line, got);
      if (cr) got.pop_back();
      const std::string prefix = kind == Kind::kBlankOrComment ? line : line + separator;
      if (got.compare(0, prefix.size(), prefix) != 0) Fail("--keep changed the input", line, got);
      got.erase(0, prefix.size());
      if (kind == Kind::kNoTable) want = std::string(whole ? 6 : 0, separator);
    }
    if (kind == Kind::kHeader) {
      want = names;
      if (columns) std::replace(want.begin(), want.end(), '\t', separator);
    }
    if (want == kAccurate ? !MatchesAccurate(got) : want == kWhole ? !MatchesWhole(got) : got != want) {
      Fail("output differs from the model", line, got);
    }
    any_bad = any_bad || bad;
  }
  if (out_pos != out.size()) Fail("too many output lines", "", out);
  if (status != (any_bad ? 1 : 0)) Fail("wrong status", "", out);
  return 0;
}
