// The single run: five arguments a b c d test in, the p-value out as
// "%10.6f", with no line end.
#ifndef FISHER2X2_TOOL_SINGLE_RUN_H
#define FISHER2X2_TOOL_SINGLE_RUN_H

// Sets the globals a, b, c, d and test (single_run.cpp) from arguments 1 to 5, each read like atoi
// (saturating at the 32-bit limits). argv must hold at least six entries.
void GetInputData(char* argv[]);

// The whole run for argv[1 .. 5]: counts below 0 or a total above 50000
// write nothing; otherwise the one-tailed (test = 1) or two-tailed p-value.
// Returns the exit status: 0, or 1 where the result could not be written.
int SingleRun(char* argv[]);

#endif  // FISHER2X2_TOOL_SINGLE_RUN_H
