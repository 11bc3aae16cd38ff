// fisher2x2: the p-value of Fisher's exact test on 2x2 tables.
//
//   fisher2x2 a b c d test
//   fisher2x2 -b[p|l][kH][a NAME] [--fields=LIST | -cLIST] [file]
//
// The first form writes the one-tailed (test = 1) or two-tailed (any other
// test) p-value as "%10.6f" with no line end, and exits 0. Counts below 0 or
// a total above 50000 end the run silently with status 0. A result that
// cannot be written is status 1. Five or more arguments are always such a
// table, whatever they look like. With fewer, the command line is options:
// --batch reads one table per line (see batch.h); anything else is a usage
// error, status 2, with the fault named.
#include "command_line.h"
#include "single_run.h"

int main(int argc, char* argv[]) {
  // Five or more arguments are always a table, whatever they look like.
  if (argc >= 6) return SingleRun(argv);
  return CommandLine(argc, argv);
}
