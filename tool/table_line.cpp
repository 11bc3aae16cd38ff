// One line of batch mode read as a table.
#include "table_line.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

// A line's values (strata's counts are many), and its strata's counts.
std::int64_t values[kMaxLineCounts];
std::uint64_t line_counts[kMaxLineCounts];

// The entries in the order of their columns, so that a line is walked once
// from its start.
void SortEntries(LineLayout* layout) {
  for (int k = 0; k < layout->columns; ++k) layout->order[k] = k;
  for (int k = 1; k < layout->columns; ++k) {
    for (int j = k; j > 0 && layout->column[layout->order[j]] < layout->column[layout->order[j - 1]]; --j) {
      const int t = layout->order[j];
      layout->order[j] = layout->order[j - 1];
      layout->order[j - 1] = t;
    }
  }
}

// kBeyondLimit: a count that fits 64 bits unsigned but passes 2^63 - 1.
enum class Numeral { kOk, kNotInteger, kBeyond, kBeyondLimit };

// A strict numeral from p: one optional sign and decimal digits, up to the
// first other byte, which *next receives. 64-bit signed range.
[[gnu::always_inline]] inline Numeral ReadNumeral(const char* p, const char* end, std::int64_t* value,
                                                  const char** next) {
  const bool negative = p < end && *p == '-';
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const char* digits = p;
  std::uint64_t magnitude = 0;
  // 19 digits are below 10^19 < 2^64: no check needed.
  const char* const unchecked = end - p > 19 ? p + 19 : end;
  unsigned digit;
  for (; p < unchecked && (digit = static_cast<unsigned char>(*p) - 48U) <= 9; ++p) {
    magnitude = magnitude * 10 + digit;
  }
  bool beyond = false;  // the magnitude passed 2^64 - 1
  if (p == unchecked) {
    for (; p < end && (digit = static_cast<unsigned char>(*p) - 48U) <= 9; ++p) {
      if (magnitude > (UINT64_MAX - digit) / 10) beyond = true;
      magnitude = magnitude * 10 + digit;
    }
  }
  *next = p;
  if (p == digits) return Numeral::kNotInteger;
  constexpr std::uint64_t kMaxMagnitude = std::uint64_t{1} << 63;  // of -2^63
  if (beyond || magnitude > kMaxMagnitude - (negative ? 0 : 1)) {
    return beyond || negative ? Numeral::kBeyond : Numeral::kBeyondLimit;
  }
  *value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return Numeral::kOk;
}

// A malformed line. `rest`: what may follow where the line was cut; by
// default nothing, since a longer line is as malformed.
void Fault(ParsedLine* out, const char* fault, int position, Rest rest = Rest::kNothing) {
  out->kind = LineKind::kMalformed;
  out->rest = rest;
  out->fault = fault;
  out->position = position;
}

bool NumeralFault(Numeral n, int position, ParsedLine* out) {
  if (n == Numeral::kOk) return false;
  Fault(out,
        n == Numeral::kBeyond        ? "is beyond the 64-bit range"
        : n == Numeral::kBeyondLimit ? "is beyond 2^63 - 1"
                                     : "is not an integer",
        position);
  return true;
}

// Blanks, a comment, or whitespace-separated fields.
int SplitFields(const LineLayout& layout, const char* p, const char* end, std::int64_t v[], ParsedLine* out) {
  const char* const count_fault = layout.strata         ? "expected a multiple of four integers"
                                  : layout.entries == 5 ? "expected five integers"
                                                        : "expected four integers";
  const int most = layout.strata ? static_cast<int>(kMaxLineCounts) : layout.entries;
  int fields = 0;
  out->rest = Rest::kBlanksOrComment;
  while (p < end) {
    if (*p == '#') {  // a comment to the line's end
      out->rest = Rest::kAnything;
      break;
    }
    if (fields == most) return Fault(out, count_fault, 0), fields;
    const char* next;
    if (NumeralFault(ReadNumeral(p, end, &v[fields], &next), fields + 1, out)) return fields;
    p = next;
    ++fields;
    if (p == end) {
      out->rest = Rest::kNothing;  // the last field may go on
      break;
    }
    if (!IsBlank(*p)) return Fault(out, "is not an integer", fields), fields;
    while (p < end && IsBlank(*p)) ++p;
  }
  if (layout.strata ? fields == 0 || fields % 4 != 0 : fields != layout.entries) {
    Fault(out, count_fault, 0, out->rest);  // more fields may follow
  }
  return fields;
}

// The entries' columns, split on the delimiter; each count may have blanks
// around it.
void PickColumns(const LineLayout& layout, const char* p, const char* end, std::int64_t v[], ParsedLine* out) {
  int column = 1;
  const char* start = p;  // of column `column`
  const char* stop = end;
  for (int i = 0; i < layout.columns; ++i) {
    const int k = layout.order[i];
    // Columns are short: a plain loop beats memchr's setup.
    for (; column < layout.column[k]; ++column) {
      while (start < end && *start != layout.delimiter) ++start;
      if (start == end) {
        // Split on tabs by default: a line without one is likely split otherwise.
        const bool untabbed = layout.delimiter == '\t' && std::memchr(p, '\t', end - p) == nullptr;
        return Fault(out, untabbed ? "is missing: the line has no tab (columns are split on tabs; -d C splits on C)"
                                   : "is missing",
                     layout.column[k]);
      }
      ++start;
    }
    stop = start;
    while (stop < end && *stop != layout.delimiter) ++stop;
    const char* q = start;
    while (q < stop && IsBlank(*q)) ++q;
    if (k == layout.group) {  // the key: any text
      const char* e = stop;
      while (e > q && IsBlank(e[-1])) --e;
      out->key = q;
      out->key_length = static_cast<std::size_t>(e - q);
      continue;
    }
    const char* next;
    if (NumeralFault(ReadNumeral(q, stop, &v[k], &next), column, out)) return;
    while (next < stop && IsBlank(*next)) ++next;
    if (next != stop) return Fault(out, "is not an integer", column);
  }
  // Past the last column needed, anything may follow.
  out->rest = stop < end ? Rest::kAnything : Rest::kNothing;
}

}  // namespace

void SortColumns(LineLayout* layout) { SortEntries(layout); }

const char* ParseColumnList(const char* list, bool names_allowed, LineLayout* layout) {
  int n = 0;
  for (const char* p = list;; ++p) {
    const char* comma = std::strchr(p, ',');
    const std::size_t length = comma != nullptr ? static_cast<std::size_t>(comma - p) : std::strlen(p);
    if (n == (layout->strata ? kMaxEntries - 1 : 5)) {
      return layout->strata ? "--columns lists at most 256 columns" : "--columns needs 4 or 5 columns";
    }
    if (length == 0) return "--columns has an empty entry";
    std::size_t digits = 0;
    while (digits < length && p[digits] >= '0' && p[digits] <= '9') ++digits;
    layout->name[n] = nullptr;
    layout->name_length[n] = 0;
    if (digits == length) {
      long long number = 0;
      for (std::size_t i = 0; i < length; ++i) {
        number = number * 10 + (p[i] - '0');
        if (number > 1000000000) return "--columns: a column number is too large";
      }
      if (number == 0) return "--columns: columns are numbered from 1";
      layout->column[n] = static_cast<int>(number);
    } else {
      if (!names_allowed) return "--columns names columns only with --header";
      layout->name[n] = p;
      layout->name_length[n] = length;
      layout->column[n] = 0;
    }
    ++n;
    if (comma == nullptr) break;
    p = comma;
  }
  if (n < 4) return "--columns needs 4 or 5 columns";
  layout->columns = n;
  SortEntries(layout);
  return nullptr;
}

void ParseLine(const LineLayout& layout, const char* p, const char* end, ParsedLine* out) {
  const char* q = p;
  while (q < end && IsBlank(*q)) ++q;
  if (q == end) {
    out->kind = LineKind::kBlank;
    out->rest = Rest::kBlanksOrComment;
    return;
  }
  if (*q == '#') {
    out->kind = LineKind::kComment;
    out->rest = Rest::kAnything;
    return;
  }
  std::int64_t* v = values;
  out->kind = LineKind::kTable;
  out->key = nullptr;
  out->key_length = 0;
  int given = 4;
  if (layout.columns == 0) {
    given = SplitFields(layout, q, end, v, out);
  } else {
    PickColumns(layout, p, end, v, out);
    given = layout.strata ? layout.columns : 4;
  }
  if (out->kind == LineKind::kMalformed) return;
  const int count = layout.strata ? given : 4;

  // A negative count: no table, as the single run writes nothing.
  for (int i = 0; i < count; ++i) {
    if (v[i] < 0) {
      out->kind = LineKind::kNegative;
      return;
    }
  }
  // Each count is below 2^63, so no partial sum wraps before the check.
  std::uint64_t n = 0;
  std::uint64_t* counts = layout.strata ? line_counts : out->counts;
  for (int i = 0; i < count; ++i) {
    counts[i] = static_cast<std::uint64_t>(v[i]);
    n += counts[i];
    if (n > static_cast<std::uint64_t>(INT64_MAX)) {
      Fault(out, "the total is beyond 2^63 - 1", 0, out->rest);
      return;
    }
  }
  out->strata_counts = layout.strata ? line_counts : out->counts;
  out->strata = static_cast<std::size_t>(count / 4);
  out->one_tailed = layout.entries == 5 && !layout.strata && v[4] == 1;
}

const char* ReadHeader(LineLayout* layout, const char* p, const char* end, char* text, std::size_t size) {
  bool found[kMaxEntries] = {};
  int column = 1;
  for (const char* start = p;; ++column) {
    const auto* d = static_cast<const char*>(std::memchr(start, layout->delimiter, end - start));
    const char* stop = d != nullptr ? d : end;
    const char* s = start;
    while (s < stop && IsBlank(*s)) ++s;
    const char* e = stop;
    while (e > s && IsBlank(e[-1])) --e;
    // A name in double quotes, as R's write.csv and spreadsheets write them.
    // cppcheck-suppress knownConditionTrueFalse ; a trimmed name may have any length
    if (e - s >= 2 && *s == '"' && e[-1] == '"') {
      ++s;
      --e;
    }
    for (int k = 0; k < layout->columns; ++k) {
      if (layout->name[k] == nullptr || layout->name_length[k] != static_cast<std::size_t>(e - s) ||
          std::memcmp(layout->name[k], s, layout->name_length[k]) != 0) {
        continue;
      }
      if (found[k] && layout->column[k] != column) {
        std::snprintf(text, size, "the header names %.*s twice", static_cast<int>(layout->name_length[k] < 60 ? layout->name_length[k] : 60), layout->name[k]);
        return text;
      }
      found[k] = true;
      layout->column[k] = column;
    }
    if (d == nullptr) break;
    start = d + 1;
  }
  for (int k = 0; k < layout->columns; ++k) {
    if (layout->name[k] != nullptr && !found[k]) {
      std::snprintf(text, size, "no column named %.*s in the header", static_cast<int>(layout->name_length[k] < 60 ? layout->name_length[k] : 60), layout->name[k]);
      return text;
    }
  }
  SortEntries(layout);
  return nullptr;
}
