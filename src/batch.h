// Batch mode: a stream of tables in, one line out per line in.
#ifndef FISHER2X2_BATCH_H
#define FISHER2X2_BATCH_H

// Longest input line, line end excluded, that is read as a table; a longer
// one is malformed.
constexpr int kMaxLineBytes = 4095;

// Malformed lines reported one by one; past this many they are only counted.
constexpr int kMaxReports = 100;

// What batch mode writes for a table.
enum class BatchFormat {
  kSixDecimals,  // "%10.6f", as the single run
  kPrecise,      // the shortest decimal of the double, or 17 digits from the logarithm
  kLog10,        // -log10 p
};

// Reads lines "a b c d test" from fd until its end, counts of up to 2^63 - 1
// in all, and writes one line to standard output for each: the p-value in
// the format asked for (six decimals: the single run's bytes up to a total
// of 50000, the accurate value's beyond); or an empty line for a negative
// count, blank lines, comments and malformed lines, each malformed line
// reported on standard error with its number.
// The output is flushed before every read. `name` names the input in a read
// error. Returns the exit status: 0, or 1 after a malformed line, a read
// error or a failed write.
int RunBatch(int fd, const char* name, BatchFormat format);

#endif  // FISHER2X2_BATCH_H
