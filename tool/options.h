// The command line of fewer than five arguments: options read by
// getopt_long, checked, and what they ask for.
#ifndef FISHER2X2_TOOL_OPTIONS_H
#define FISHER2X2_TOOL_OPTIONS_H

#include "batch.h"

enum class Action { kHelp, kVersion, kBatch };

struct Options {
  Action action = Action::kBatch;
  BatchOptions batch;
  const char* file = nullptr;  // the operand; null: standard input
};

// What is wrong with a command line: text, and a detail that names the
// offending argument (or null).
struct Fault {
  const char* text = nullptr;
  const char* detail = nullptr;
  char buffer[64] = {};  // where a detail is built
};

// Reads argv[1 .. argc-1], argc < 6: -h or --help, -V or --version alone;
// otherwise --batch with what it takes and one file operand at most.
// Options that take a value: --name value, --name=value, -x value, -xvalue,
// and a short one may end a cluster (-ba less). Long names are taken whole,
// never abbreviated. Returns true with *options set, or false with *fault
// set.
bool ParseOptions(int argc, char* argv[], Options* options, Fault* fault);

// A level strictly between 0 and 1: a decimal of at most 15 significant
// digits (and an exponent), read in full. Returns null, or what is wrong.
const char* ParseLevel(const char* text, double* level);

#endif  // FISHER2X2_TOOL_OPTIONS_H
