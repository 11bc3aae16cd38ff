// Writes a mix of tables, one "a b c d test" per line, for bench/batch.sh:
//
//   make_mix small|medium|large COUNT [SEED]
//
// small: each cell up to 60; medium: each cell up to 500; large, as in an
// enrichment analysis: a up to 60, b up to 1000, c up to 3000, and d making
// the total up to 50000. Tails 1 and 2 alternate at random. splitmix64, so
// every machine draws the same tables.
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
    std::fprintf(stderr, "usage: make_mix small|medium|large COUNT [SEED]\n");
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
    } else {
      a = Draw(0, 60), b = Draw(0, 1000), c = Draw(0, 3000);
      d = Draw(0, 50000 - a - b - c);
    }
    std::printf("%d %d %d %d %d\n", a, b, c, d, Draw(1, 2));
  }
  return 0;
}
