/* Baseline for bench/cli.sh: a straightforward static C build of the same
 * algorithm, every table of both walks visited, printf for the output. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

static double L[50001];

static double P(int a, int b, int c, int d) {
  long double x = (long double)L[a + b] + L[c + d] + L[a + c] + L[b + d] -
                  L[a + b + c + d] - L[a] - L[b] - L[c] - L[d];
  return exp((double)x);
}

int main(int argc, char **argv) {
  if (argc < 6) return 2;
  int a = atoi(argv[1]), b = atoi(argv[2]), c = atoi(argv[3]), d = atoi(argv[4]);
  int test = atoi(argv[5]), t;
  if (a < 0 || b < 0 || c < 0 || d < 0) return 0;
  long long n = (long long)a + b + c + d;
  if (n > 50000) return 0;
  for (int i = 1; i <= n; ++i) L[i] = (double)((long double)log(i) + L[i - 1]);
  if (a * d > b * c) { t = a; a = b; b = t; t = c; c = d; d = t; }
  if (a > d) { t = a; a = d; d = t; }
  if (b > c) { t = b; b = c; c = t; }
  double p0 = P(a, b, c, d), s = 0.0;
  for (int k = 0; k <= a; ++k) s += P(a - k, b + k, c + k, d - k);
  if (test != 1)
    for (int j = 0;; ++j) {
      double q = P(a + b - j, j, c - b + j, d + b - j);
      if (!(q < p0) || a + b - j == a) break;
      s += q;
    }
  printf("%10.6f", s);
  return 0;
}
