// Writes a mix of tables, one "a b c d test" per line, for bench/batch.sh:
//
//   make_mix small|medium|large|cohort|interval COUNT [SEED]
//
// small: each cell up to 60; medium: each cell up to 500; large, as in an
// enrichment analysis: a up to 60, b up to 1000, c up to 3000, and d making
// the total up to 50000. Beyond the single run's limit: cohort, allele
// counts of two groups of 10^4 to 5 * 10^5 with a frequency up to 0.5, near
// independence; interval, overlaps of two interval sets: a up to 5000, b up
// to 60000, c up to 10^6, d up to 3 * 10^8. Tails 1 and 2 alternate at
// random. splitmix64, so every machine draws the same tables.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long long state;

int Draw(int lo, int hi) {  // uniform enough in [lo, hi]
  state += 0x9e3779b97f4a7c15ULL;
  unsigned long long z = state;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  z ^= z >> 31;
  return lo + static_cast<int>(z % static_cast<unsigned long long>(hi - lo + 1));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_mix small|medium|large|cohort|interval COUNT [SEED]\n");
    return 2;
  }
  const char* mix = argv[1];
  const long count = std::atol(argv[2]);
  state = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  for (long i = 0; i < count; ++i) {
    int a, b, c, d;
    if (std::strcmp(mix, "small") == 0) {
      a = Draw(0, 60), b = Draw(0, 60), c = Draw(0, 60), d = Draw(0, 60);
    } else if (std::strcmp(mix, "medium") == 0) {
      a = Draw(0, 500), b = Draw(0, 500), c = Draw(0, 500), d = Draw(0, 500);
    } else if (std::strcmp(mix, "cohort") == 0) {
      // a and c within about three standard deviations of independence.
      const int n1 = Draw(10000, 500000), n2 = Draw(10000, 500000);
      const double f = Draw(1, 500) / 1000.0;
      const double s1 = std::sqrt(n1 * f * (1 - f)), s2 = std::sqrt(n2 * f * (1 - f));
      a = static_cast<int>(n1 * f + s1 * (Draw(-3000, 3000) / 1000.0));
      c = static_cast<int>(n2 * f + s2 * (Draw(-3000, 3000) / 1000.0));
      a = a < 0 ? 0 : a > n1 ? n1 : a;
      c = c < 0 ? 0 : c > n2 ? n2 : c;
      b = n1 - a, d = n2 - c;
    } else if (std::strcmp(mix, "interval") == 0) {
      a = Draw(0, 5000), b = Draw(0, 60000), c = Draw(0, 1000000), d = Draw(0, 300000000);
    } else {
      a = Draw(0, 60), b = Draw(0, 1000), c = Draw(0, 3000);
      d = Draw(0, 50000 - a - b - c);
    }
    std::printf("%d %d %d %d %d\n", a, b, c, d, Draw(1, 2));
  }
  return 0;
}
