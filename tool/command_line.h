// The command line of fewer than five arguments.
#ifndef FISHER2X2_TOOL_COMMAND_LINE_H
#define FISHER2X2_TOOL_COMMAND_LINE_H

// Runs what argv[1 .. argc-1] asks (argc < 6): the help or the version on
// standard output, or batch mode; a command line that is none of these is
// named on standard error with the usage lines. Returns the exit status:
// 0; 1 where output could not be written, a file could not be read or a
// line was malformed; 2 for a usage error.
int CommandLine(int argc, char* argv[]);

#endif  // FISHER2X2_TOOL_COMMAND_LINE_H
