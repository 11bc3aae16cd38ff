// Batch mode: a stream of tables in, one line out per line in.
#ifndef FISHER2X2_BATCH_H
#define FISHER2X2_BATCH_H

#include "fields.h"

// Longest input line, line end excluded, that is read as a table; a longer
// one is malformed.
constexpr int kMaxLineBytes = 4095;

// Malformed lines reported one by one; past this many they are only counted.
constexpr int kMaxReports = 100;

// Reads lines "a b c d test" from fd until its end ("a b c d" where the
// request names an alternative), counts of up to 2^63 - 1 in all, and
// writes one line to standard output for each: the fields asked for
// (WriteFields); or an empty line for a negative count, blank lines,
// comments and malformed lines, each malformed line reported on standard
// error with its number.
// The output is flushed before every read. `name` names the input in a read
// error. Returns the exit status: 0, or 1 after a malformed line, a read
// error or a failed write.
int RunBatch(int fd, const char* name, const Request& request);

#endif  // FISHER2X2_BATCH_H
