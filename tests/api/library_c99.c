/* The library from C99: the header compiles as strict C99 (-pedantic
 * -Werror), and every invalid input gets its error code, leaving the
 * result as it was. */
#include <fisher2x2.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static int failures;

static void expect(int ok, const char *what) {
  if (!ok) {
    printf("FAIL: %s\n", what);
    ++failures;
  }
}

int main(void) {
  const uint64_t max = INT64_MAX;
  const double nan_level = NAN;
  struct {
    uint64_t a, b, c, d;
    int alternative;
    unsigned want;
    double level;
    int error;
  } cases[] = {
      {max, 1, 0, 0, FISHER2X2_TWO_SIDED, FISHER2X2_PVALUE, 0.95, FISHER2X2_ETOTAL},
      {max / 2 + 1, max / 2 + 1, 0, 0, FISHER2X2_TWO_SIDED, FISHER2X2_PVALUE, 0.95, FISHER2X2_ETOTAL},
      {UINT64_MAX, 0, 0, 0, FISHER2X2_LESS, FISHER2X2_PVALUE, 0.95, FISHER2X2_ETOTAL},
      {0, 0, 0, UINT64_MAX, FISHER2X2_LESS, FISHER2X2_PVALUE, 0.95, FISHER2X2_ETOTAL},
      {1, 2, 3, 4, -1, FISHER2X2_PVALUE, 0.95, FISHER2X2_EALTERNATIVE},
      {1, 2, 3, 4, 5, FISHER2X2_PVALUE, 0.95, FISHER2X2_EALTERNATIVE},
      {1, 2, 3, 4, FISHER2X2_TWO_SIDED, FISHER2X2_INTERVAL, 0, FISHER2X2_ELEVEL},
      {1, 2, 3, 4, FISHER2X2_TWO_SIDED, FISHER2X2_INTERVAL, 1, FISHER2X2_ELEVEL},
      {1, 2, 3, 4, FISHER2X2_TWO_SIDED, FISHER2X2_INTERVAL, -0.5, FISHER2X2_ELEVEL},
      {1, 2, 3, 4, FISHER2X2_TWO_SIDED, FISHER2X2_INTERVAL, nan_level, FISHER2X2_ELEVEL},
      {1, 2, 3, 4, FISHER2X2_OBSERVED_SIDE, FISHER2X2_MID_PVALUE, 0.95, FISHER2X2_EMIDP},
      {1, 2, 3, 4, FISHER2X2_TWO_TAILED, FISHER2X2_MID_PVALUE, 0.95, FISHER2X2_EMIDP},
      {1, 2, 3, 4, FISHER2X2_LESS, 0x100u, 0.95, FISHER2X2_EWANT},
      /* valid: a level is read only for the interval; the largest total */
      {1, 2, 3, 4, FISHER2X2_LESS, FISHER2X2_PVALUE, 7, FISHER2X2_OK},
      {max - 3, 1, 1, 1, FISHER2X2_GREATER, FISHER2X2_ALL, 0.99, FISHER2X2_OK},
  };
  fisher2x2_result r, before;
  size_t i;
  memset(&before, 0x5a, sizeof before);
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    char what[96];
    r = before;
    sprintf(what, "case %u: error %d", (unsigned)i, cases[i].error);
    expect(fisher2x2_test(cases[i].a, cases[i].b, cases[i].c, cases[i].d, cases[i].alternative,
                          cases[i].want, cases[i].level, &r) == cases[i].error, what);
    if (cases[i].error != FISHER2X2_OK) expect(memcmp(&r, &before, sizeof r) == 0, "result untouched");
    expect(strlen(fisher2x2_strerror(cases[i].error)) > 0, "a message");
  }
  expect(fisher2x2_test(1, 2, 3, 4, FISHER2X2_LESS, FISHER2X2_PVALUE, 0.95, NULL) == FISHER2X2_ENULL, "null");

  /* The caller's struct size: at least 1.0's, whole doubles; a larger one,
   * from a newer header, gets NaN in the members this library lacks, and
   * nothing past its size. */
  {
    struct {
      size_t size;
      int error;
    } sizes[] = {{0, FISHER2X2_ESIZE},
                 {10 * sizeof(double), FISHER2X2_ESIZE},
                 {sizeof(fisher2x2_result) + 1, FISHER2X2_ESIZE},
                 {sizeof(fisher2x2_result), FISHER2X2_OK},
                 {sizeof(fisher2x2_result) + 2 * sizeof(double), FISHER2X2_OK}};
    double box[16];
    for (i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
      size_t k, filled = sizes[i].size / sizeof(double);
      int error;
      memset(box, 0x5a, sizeof box);
      error = fisher2x2_test_sized(3, 1, 1, 3, FISHER2X2_OBSERVED_SIDE, FISHER2X2_PVALUE, 0.95, 1.0,
                                   (fisher2x2_result *)box, sizes[i].size);
      expect(error == sizes[i].error, "the struct's size checked");
      expect(error != FISHER2X2_OK || box[0] == 17.0 / 70 || fabs(box[0] - 17.0 / 70) < 1e-15, "its p-value");
      for (k = 1; k < filled && error == FISHER2X2_OK; ++k) expect(isnan(box[k]), "NaN where not asked or unknown");
      for (k = error == FISHER2X2_OK ? filled : 0; k < 16; ++k) {
        expect(memcmp(&box[k], &box[15], sizeof(double)) == 0 || k == 15, "nothing written past the size");
      }
    }
  }

  /* The null odds ratio: above 0 and finite; other than 1 only with the
   * usual alternatives. */
  {
    const struct {
      double psi;
      int alternative, error;
    } nulls[] = {{0, FISHER2X2_LESS, FISHER2X2_ENULLOR},         {-2, FISHER2X2_LESS, FISHER2X2_ENULLOR},
                 {NAN, FISHER2X2_TWO_SIDED, FISHER2X2_ENULLOR},  {INFINITY, FISHER2X2_LESS, FISHER2X2_ENULLOR},
                 {2, FISHER2X2_TWO_TAILED, FISHER2X2_ENULLOR},   {2, FISHER2X2_OBSERVED_SIDE, FISHER2X2_ENULLOR},
                 {1, FISHER2X2_TWO_TAILED, FISHER2X2_OK},        {2, FISHER2X2_GREATER, FISHER2X2_OK},
                 {1e-300, FISHER2X2_TWO_SIDED, FISHER2X2_OK}};
    for (i = 0; i < sizeof nulls / sizeof nulls[0]; ++i) {
      r = before;
      expect(fisher2x2_test_sized(3, 1, 1, 3, nulls[i].alternative, FISHER2X2_PVALUE, 0.95, nulls[i].psi, &r,
                                  sizeof r) == nulls[i].error,
             "the null odds ratio checked");
      if (nulls[i].error != FISHER2X2_OK) expect(memcmp(&r, &before, sizeof r) == 0, "result untouched");
    }
  }

  /* What is not asked for is NaN; values are what the tool writes. */
  expect(fisher2x2_test(3, 1, 1, 3, FISHER2X2_TWO_TAILED, FISHER2X2_PVALUE, 0.95, &r) == 0, "3 1 1 3");
  expect(r.pvalue == 18.0 / 70 && isnan(r.odds_ratio) && isnan(r.ci_low), "3 1 1 3 two-tailed");
  expect(fisher2x2_classic(3, 1, 1, 3, 1) == 17.0 / 70 || fabs(fisher2x2_classic(3, 1, 1, 3, 1) - 17.0 / 70) < 1e-15,
         "classic 3 1 1 3 1");
  expect(isnan(fisher2x2_classic(-1, 2, 3, 4, 1)) && isnan(fisher2x2_classic(12500, 12500, 12500, 12501, 2)),
         "classic out of range");
  expect(fabs(fisher2x2_classic(12500, 12500, 12500, 12500, 2) - 1) < 5e-7, "classic at the limit");
  expect(fisher2x2_test(0, 25000, 25000, 0, FISHER2X2_TWO_SIDED, FISHER2X2_PVALUE | FISHER2X2_LOG10_PVALUE, 0.95,
                        &r) == 0 && r.pvalue == 0 &&
             r.log10_pvalue == 15048.75120609124,
         "-log10 p beyond the doubles");
  expect(strcmp(fisher2x2_version(), FISHER2X2_VERSION_STRING) == 0, "version");
  printf("%s\n", failures == 0 ? "library from C99: all checks passed" : "library from C99: failures");
  return failures != 0;
}
