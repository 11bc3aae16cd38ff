// Batch mode: a stream of tables in, one line out per line in.
#ifndef FISHER2X2_TOOL_BATCH_H
#define FISHER2X2_TOOL_BATCH_H

#include "field_text.h"
#include "table_line.h"

// Longest data line, line end excluded, that is read as a table: longer
// ones are malformed, unless what lies past this many bytes is only what
// may follow a table (blanks and a comment, or columns not needed).
// Blank and comment lines may have any length.
constexpr int kMaxLineBytes = 65536;

// Malformed lines reported one by one; past this many they are only counted.
constexpr int kMaxReports = 100;

struct BatchOptions {
  Request request;    // what each table gets
  LineLayout layout;  // where a line's counts are
  // The first line that is neither blank nor a comment is a header, not a
  // table: it names the layout's columns, and the output's first line is
  // the fields' names.
  bool header = false;
  // Each output line is the input line (line end removed), the separator
  // and the fields; blank and comment lines pass through unchanged; a line
  // with no table gets empty fields.
  bool keep = false;
};

// Reads lines from fd until its end, counts of up to 2^63 - 1 in all, and
// writes one line to standard output for each: the fields asked for
// (WriteFields); or an empty line for a negative count, blank lines,
// comments and malformed lines, each malformed line reported on standard
// error with its number (with --keep, see BatchOptions).
// The output is flushed before every read (once the header is read). `name`
// names the input in a read error. Returns the exit status: 0; 1 after a
// malformed line, a read error or a failed write; 2 when the header lacks
// a column named (reported; the lines before it are not written).
int RunBatch(int fd, const char* name, const BatchOptions& options);

#endif  // FISHER2X2_TOOL_BATCH_H
