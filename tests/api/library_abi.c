/* A program of the library's users, built twice: against this header and
 * against 1.1's (tests/api/v1.1), and linked with this library. Both must
 * print the same values, and the library must write nothing past the
 * struct the program was built with. */
#include <fisher2x2.h>

#include <stdio.h>
#include <string.h>

int main(void) {
  static const unsigned long long tables[][4] = {
      {3, 1, 1, 3}, {1, 19, 6, 14}, {0, 25000, 25000, 0}, {56, 1, 8, 41}, {0, 0, 0, 0},
      {1000000, 2000000, 3000000, 4000000}, {9000000000000000000ULL, 1, 2, 3}};
  size_t t;
  int alternative, failures = 0;
  for (t = 0; t < sizeof tables / sizeof tables[0]; ++t) {
    for (alternative = FISHER2X2_TWO_SIDED; alternative <= FISHER2X2_TWO_TAILED; ++alternative) {
      struct {
        fisher2x2_result r;
        unsigned char after[32];
      } box;
      const unsigned want = alternative <= FISHER2X2_GREATER ? FISHER2X2_ALL : FISHER2X2_ALL & ~FISHER2X2_MID_PVALUE;
      size_t k;
      const double *v = &box.r.pvalue;
      memset(&box, 0x5a, sizeof box);
      printf("%d", fisher2x2_test(tables[t][0], tables[t][1], tables[t][2], tables[t][3], alternative, want, 0.9,
                                  &box.r));
      for (k = 0; k < 11; ++k) printf(" %a", v[k]);
      printf("\n");
      for (k = 0; k < sizeof box.after; ++k) failures += box.after[k] != 0x5a;
    }
  }
  printf("%s\n", fisher2x2_version());
  if (failures != 0) printf("FAIL: %d bytes written past the struct\n", failures);
  return failures != 0;
}
