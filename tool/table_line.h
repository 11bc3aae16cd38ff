// One line of batch mode read as a table: whitespace-separated fields
// "a b c d [test]", or chosen columns of a delimited line (--columns).
#ifndef FISHER2X2_TOOL_TABLE_LINE_H
#define FISHER2X2_TOOL_TABLE_LINE_H

#include <cstddef>
#include <cstdint>

// Where a line's counts are. Without columns, a line is its fields
// separated by blanks (spaces and tabs): the four counts and, where no
// alternative is given, the selector, then at most a "# comment". With
// columns, the line is split on the delimiter alone, every split counts
// (an empty field is a field), and entry k (a, b, c, d, then the
// selector) is column column[k], 1-based; other columns are ignored.
//
// With strata, a line is one stratified test: its fields are 4 K counts
// (a1 b1 c1 d1 a2 ...), or the 4 K columns listed. With a group column
// (the entry after a, b, c, d), the line is one stratum and that column
// its group's key.
constexpr int kMaxEntries = 257;  // 64 strata's columns, or 4 and a group
constexpr std::size_t kMaxLineCounts = 32768;  // a line of 65536 bytes holds no more

struct LineLayout {
  int entries = 5;   // 5, or 4 where an alternative is given (strata: any multiple of 4 with columns)
  int columns = 0;   // 0: fields; otherwise the entries' columns are given
  int column[kMaxEntries] = {};
  // Entries given by name, looked up in the header (ReadHeader): the
  // name, or null where the column is given by number.
  const char* name[kMaxEntries] = {};
  std::size_t name_length[kMaxEntries] = {};
  char delimiter = '\t';
  int order[kMaxEntries] = {};  // the entries sorted by column
  bool strata = false;  // a line is many strata
  int group = -1;       // the entry that is the group's key, or -1
};

// Parses a --columns list: 1-based numbers or, with names allowed, names.
// On failure returns a message naming the fault, otherwise null.
const char* ParseColumnList(const char* list, bool names_allowed, LineLayout* layout);

// Sorts the entries by column, after the layout's columns change.
void SortColumns(LineLayout* layout);

enum class LineKind {
  kBlank,      // nothing but blanks
  kComment,    // "#" first after any blanks
  kTable,      // counts, each at least 0, total at most 2^63 - 1
  kNegative,   // a negative count: no table, no fault
  kMalformed,  // fault and position say why
};

// What may follow the bytes read when the line was longer than what could
// be held and was read only in part: kNothing (the line was cut inside a
// field, or after its fault), blanks and then at most a comment, or
// anything (in a comment, or past the last column needed).
enum class Rest { kNothing, kBlanksOrComment, kAnything };

struct ParsedLine {
  LineKind kind;
  Rest rest;
  std::uint64_t counts[4];
  bool one_tailed;    // the selector is 1
  const char* fault;  // kMalformed: "is not an integer", ...
  int position;       // the field or column the fault is in; 0: the line
  // With strata: the line's strata (4 each), in a buffer the next line reuses.
  const std::uint64_t* strata_counts;
  std::size_t strata;
  // With a group column: its text, blanks trimmed.
  const char* key;
  std::size_t key_length;
};

// Reads [p, end), a line without its line end.
void ParseLine(const LineLayout& layout, const char* p, const char* end, ParsedLine* out);

// Looks up the layout's names in a header line [p, end) (its fields
// trimmed of blanks). Returns null, or the fault ("no column named x in
// the header", "the header names x twice") written to text.
const char* ReadHeader(LineLayout* layout, const char* p, const char* end, char* text, std::size_t size);

#endif  // FISHER2X2_TOOL_TABLE_LINE_H
