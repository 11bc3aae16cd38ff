// Runs the tool's main in process on every table with a total up to the
// given N, for both tails, and prints one line per run: the arguments, the
// bytes main wrote to standard output and its exit status. Two builds of
// the tool agree on every table exactly when their sweeps are identical;
// one process serves where starting the tool per table costs too much
// (under an emulator, say).
//
//   fisher2x2_sweep [max_n [random]]   (defaults 30 and 0)
//
// With `random` > 0, that many pseudo-random tables with totals up to 50000
// follow, each for both tails, drawn the same way on every platform.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "single_run.h"

int main(int argc, char* argv[]) {
  const int max_n = argc > 1 ? std::atoi(argv[1]) : 30;
  const long random = argc > 2 ? std::atol(argv[2]) : 0;
  int fds[2];
  if (pipe(fds) != 0) return 1;
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  std::FILE* report = fdopen(dup(STDOUT_FILENO), "w");
  dup2(fds[1], STDOUT_FILENO);
  close(fds[1]);

  char cells[5][16];
  char program[] = "fisher2x2";
  char* args[] = {program, cells[0], cells[1], cells[2], cells[3], cells[4], nullptr};
  long runs = 0;
  auto run = [&](int x, int y, int z, int w) {
    for (int tail = 1; tail <= 2; ++tail) {
      const int v[5] = {x, y, z, w, tail};
      for (int i = 0; i < 5; ++i) std::snprintf(cells[i], sizeof cells[i], "%d", v[i]);
      const int status = SingleRun(args);
      char out[64];
      const ssize_t size = read(fds[0], out, sizeof out - 1);
      out[size > 0 ? size : 0] = '\0';
      std::fprintf(report, "%d %d %d %d %d [%s] %d\n", v[0], v[1], v[2], v[3], v[4],
                   out, status);
      ++runs;
    }
  };
  for (int n = 0; n <= max_n; ++n)
    for (int x = 0; x <= n; ++x)
      for (int y = 0; x + y <= n; ++y)
        for (int z = 0; x + y + z <= n; ++z) run(x, y, z, n - x - y - z);

  // splitmix64: the same draws everywhere.
  unsigned long long state = 20261208;
  auto draw = [&state](unsigned long long bound) {
    state += 0x9e3779b97f4a7c15ULL;
    unsigned long long z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return static_cast<int>((z ^ (z >> 31)) % bound);
  };
  for (long i = 0; i < random; ++i) {
    // Margins anywhere; the cell a near its expected value half the time,
    // where the tails are long and the sums large.
    const int n = draw(50001);
    const int r1 = draw(static_cast<unsigned long long>(n) + 1);
    const int c1 = draw(static_cast<unsigned long long>(n) + 1);
    const int lo = c1 - (n - r1) > 0 ? c1 - (n - r1) : 0;
    const int hi = r1 < c1 ? r1 : c1;
    int x = lo + draw(static_cast<unsigned long long>(hi - lo) + 1);
    if (i % 2 == 0 && n > 0) {
      const int expected = static_cast<int>(static_cast<long long>(r1) * c1 / n);
      x = expected + draw(41) - 20;
      if (x < lo) x = lo;
      if (x > hi) x = hi;
    }
    run(x, r1 - x, c1 - x, n - r1 - c1 + x);
  }
  std::fprintf(report, "%ld runs\n", runs);
  return std::fclose(report) == 0 ? 0 : 1;
}
