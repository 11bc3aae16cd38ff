/* Peer for bench/batch.sh: the same filter around htslib's kt_fisher_exact,
 * written as a C programmer would: fgets, sscanf, printf "%10.6f". The
 * one-tailed value is the tail on the observed side, as fisher2x2 has it.
 * With an argument (any), totals beyond 50000 are computed too, up to the
 * 32-bit counts that kt_fisher_exact takes. */
#include <htslib/kfunc.h>
#include <stdio.h>

int main(int argc, char **argv) {
  const long limit = argc > 1 ? 2147483647L : 50000;
  (void)argv;
  char line[4096];
  int a, b, c, d, test;
  double left, right, two;
  while (fgets(line, sizeof line, stdin)) {
    if (sscanf(line, "%d %d %d %d %d", &a, &b, &c, &d, &test) != 5 ||
        a < 0 || b < 0 || c < 0 || d < 0 || (long)a + b + c + d > limit) {
      putchar('\n');
      continue;
    }
    kt_fisher_exact(a, b, c, d, &left, &right, &two);
    printf("%10.6f\n", test != 1 ? two : (long)a * d <= (long)b * c ? left : right);
  }
  return 0;
}
