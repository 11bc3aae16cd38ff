// libFuzzer target: arbitrary command lines through the tool's own code.
//
// The input is split at NUL bytes into up to eight argument strings. The
// tool's single run or command line, as main chooses them, runs in process with its standard
// output captured; the result is checked against an independent model of
// the conversion and the range checks, and against what must hold for any
// accepted table.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "classic/fisher_test.h"
#include "command_line.h"
#include "single_run.h"

// The single run's globals, as its conversion left them.
extern int a, b, c, d, test;

namespace {

int stdout_pipe = -1;  // read end of the pipe that stands in for fd 1
int null_fd = -1;
int saved_stderr = -1;

void Fail(const char* what, const std::string& out) {
  std::fprintf(stderr, "fuzz_command_line: %s (output [%s])\n", what, out.c_str());
  std::abort();
}

std::string ReadCaptured() {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(stdout_pipe, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
  return s;
}

// The model of the conversion: strtol's reading, clamped to 32 bits.
int Model(const char* s) {
  errno = 0;
  const long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  dup2(fds[1], STDOUT_FILENO);
  close(fds[1]);
  stdout_pipe = fds[0];
  null_fd = open("/dev/null", O_RDWR);
  saved_stderr = dup(STDERR_FILENO);
  // Batch command lines read an empty standard input.
  dup2(null_fd, STDIN_FILENO);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Split at NUL bytes: up to eight arguments after the program name.
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 8; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (args.size() < 8 && !current.empty()) args.push_back(current);
  // Batch command lines may name files: only names in the working
  // directory, not paths that could reach /dev/zero or /dev/stdin.
  if (args.size() < 5) {
    for (const std::string& arg : args) {
      if (arg.find('/') != std::string::npos) return 0;
    }
  }

  std::string program = "fisher2x2";
  std::vector<char*> argv{program.data()};
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;

  dup2(null_fd, STDERR_FILENO);  // usage lines are not the fuzzer's business
  // As main does: five or more arguments are a table.
  const int status = argc >= 6 ? SingleRun(argv.data()) : CommandLine(argc, argv.data());
  dup2(saved_stderr, STDERR_FILENO);
  const std::string out = ReadCaptured();

  if (argc < 6) {
    // Help or version; a batch run over nothing (0) or a missing file (1);
    // or the usage lines (2).
    const bool info = argc == 2 && (args[0] == "-h" || args[0] == "--help" ||
                                    args[0] == "-V" || args[0] == "--version");
    if (info ? (status != 0 || out.empty() || out.back() != '\n')
             : (status < 0 || status > 2 || !out.empty())) {
      Fail("short command line", out);
    }
    return 0;
  }

  if (a != Model(argv[1]) || b != Model(argv[2]) || c != Model(argv[3]) ||
      d != Model(argv[4]) || test != Model(argv[5])) {
    Fail("conversion differs from the model", out);
  }
  if (status != 0) Fail("status not 0", out);
  const std::int64_t n = std::int64_t{a} + b + c + d;
  if (a < 0 || b < 0 || c < 0 || d < 0 || n > kMaxTotal) {
    if (!out.empty()) Fail("counts out of range produced a result", out);
    return 0;
  }

  // main filled LogFactorial for this N.
  const double one = FisherTest(a, b, c, d, 1);
  const double two = FisherTest(a, b, c, d, 2);
  const double p0 = FisherSub(a, b, c, d);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%10.6f", test == 1 ? one : two);
  if (out != expected) Fail("output is not the p-value", out);
  // The cumulative fill leaves up to a few 1e-9 of rounding in a sum over
  // the whole distribution at N = 50000; 1e-7 bounds it with room to spare.
  // The test evaluates the observed table with its cells reordered, which
  // may round the log-probability differently: p0 gets a relative 1e-9.
  if (!std::isfinite(one) || !std::isfinite(two) || !(one >= 0) ||
      !(one <= two) || !(two <= 1 + 1e-7) || !(p0 <= one * (1 + 1e-9))) {
    Fail("p-values out of order", out);
  }
  return 0;
}
