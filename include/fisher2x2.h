/* fisher2x2: Fisher's exact test on 2x2 tables, as a C library.
 *
 * The table is      a b
 *                   c d
 * with 64-bit counts, a + b + c + d at most 2^63 - 1. X is the count in
 * cell a given all four margins (hypergeometric). Every value is the one
 * the fisher2x2 tool writes in batch mode: the p-values as --precise and
 * --log10 write them, the odds ratios and the interval as --fields writes
 * them; the same bits on every platform.
 *
 * The library allocates nothing, keeps no state a caller sees, and may be
 * called from any number of threads at once. Usable from C99 and C++.
 * Link with -lfisher2x2 (pkg-config fisher2x2, or CMake's
 * find_package(fisher2x2) and the target fisher2x2::fisher2x2).
 */
#ifndef FISHER2X2_H
#define FISHER2X2_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface's symbols are the only ones the shared library exports. */
#if defined(FISHER2X2_BUILDING) && defined(__GNUC__)
#define FISHER2X2_API __attribute__((visibility("default")))
#else
#define FISHER2X2_API
#endif

/* The project's version: the one place it is written. The build, the
 * packages and fisher2x2_version() take it from here. */
#define FISHER2X2_VERSION_MAJOR 1
#define FISHER2X2_VERSION_MINOR 3
#define FISHER2X2_VERSION_PATCH 0
#define FISHER2X2_STRINGIFY_(x) #x
#define FISHER2X2_STRINGIFY(x) FISHER2X2_STRINGIFY_(x)
#define FISHER2X2_VERSION_STRING                                                            \
  FISHER2X2_STRINGIFY(FISHER2X2_VERSION_MAJOR) "." FISHER2X2_STRINGIFY(FISHER2X2_VERSION_MINOR) \
  "." FISHER2X2_STRINGIFY(FISHER2X2_VERSION_PATCH)

/* The p-value asked for. */
enum fisher2x2_alternative {
  FISHER2X2_TWO_SIDED = 0, /* the tables at most as probable as the observed
                              one, exact ties included (R, SciPy) */
  FISHER2X2_LESS = 1,      /* P(X <= a) */
  FISHER2X2_GREATER = 2,   /* P(X >= a) */
  FISHER2X2_OBSERVED_SIDE = 3, /* the tool's one-tailed value (test = 1): the
                                  tail on the observed side */
  FISHER2X2_TWO_TAILED = 4     /* the tool's two-tailed value: that tail and
                                  the strictly less probable tables of the
                                  other */
};

/* What to compute: bits of `want`. The interval costs far more than a
 * p-value; the odds ratio a little less. What is not asked for is NaN. */
#define FISHER2X2_PVALUE 0x01u            /* pvalue */
#define FISHER2X2_MID_PVALUE 0x02u        /* mid_pvalue (not for 3 and 4) */
#define FISHER2X2_TAILS 0x04u             /* less, greater, two_sided, central */
#define FISHER2X2_ODDS_RATIO 0x08u        /* odds_ratio */
#define FISHER2X2_SAMPLE_ODDS_RATIO 0x10u /* sample_odds_ratio */
#define FISHER2X2_INTERVAL 0x20u          /* ci_low, ci_high */
#define FISHER2X2_LOG10_PVALUE 0x40u      /* log10_pvalue */
#define FISHER2X2_MH_ODDS_RATIO 0x80u     /* mh_odds_ratio (since 1.3) */
#define FISHER2X2_ALL 0xffu

/* The values, every one a double. The struct only grows: a later version
 * adds members at its end and never moves, removes or retypes one. A
 * program tells the library the size of the struct it was built with
 * (fisher2x2_test passes sizeof(fisher2x2_result) of this header), and the
 * library writes that many bytes and no more: the members it knows, and
 * NaN in any further member of a newer header that it does not. */
typedef struct fisher2x2_result {
  double pvalue;       /* the alternative's p-value, the nearest double (0
                          where it lies below the doubles) */
  double log10_pvalue; /* -log10 of it, never infinite; 0 for p = 1 */
  double mid_pvalue;   /* less: P(X < a) + P(X = a)/2; greater the mirror;
                          two-sided: the strictly less probable tables and
                          half of those exactly as probable */
  double less, greater, two_sided;
  double central;           /* twice the smaller of less and greater, <= 1 */
  double odds_ratio;        /* the conditional maximum-likelihood estimate
                               (R's fisher.test estimate); nan where the
                               margins allow one table */
  double sample_odds_ratio; /* a d / (b c), correctly rounded */
  double ci_low, ci_high;   /* the exact conditional interval at conf_level:
                               two-sided (also for 3 and 4), or one-sided for
                               less [0, high] and greater [low, inf] */
  /* Since 1.3. */
  double mh_odds_ratio;     /* the Mantel-Haenszel estimate sum a d / n over
                               sum b c / n (one table: a d / (b c)) */
} fisher2x2_result;

/* Errors; 0 is success. */
enum fisher2x2_error {
  FISHER2X2_OK = 0,
  FISHER2X2_ETOTAL = 1,       /* a + b + c + d beyond 2^63 - 1 */
  FISHER2X2_EALTERNATIVE = 2, /* not one of enum fisher2x2_alternative */
  FISHER2X2_ELEVEL = 3,       /* conf_level not strictly between 0 and 1 */
  FISHER2X2_EMIDP = 4,        /* mid_pvalue asked with 3 or 4 */
  FISHER2X2_EWANT = 5,        /* a bit of want outside FISHER2X2_ALL */
  FISHER2X2_ENULL = 6,        /* result is null */
  FISHER2X2_ESIZE = 7,        /* result_size below the 1.0 struct's, or
                                 not a whole number of doubles */
  FISHER2X2_ENULLOR = 8,      /* null_or not a finite number above 0, or
                                 other than 1 with alternative 3 or 4 */
  FISHER2X2_ESTRATA = 9,      /* no strata (k = 0, or counts null) */
  FISHER2X2_EMEMORY = 10,     /* the stratified test's memory was refused */
  FISHER2X2_EWIDE = 11        /* the strata are too wide for the exact test
                                 within its bounds of work and memory */
};

/* Fisher's exact test on a b / c d: fills the first result_size bytes of
 * *result with what `want` asks (conf_level is read only for
 * FISHER2X2_INTERVAL) and returns 0, or an error, leaving *result as it
 * was. The p-values (pvalue, log10_pvalue, mid_pvalue, less, greater,
 * two_sided, central) are those under the null hypothesis psi = null_or
 * (1 for the usual test; R's fisher.test(x, or = null_or)): X noncentral
 * hypergeometric at null_or, two-sided the tables at most as probable as
 * the observed one there (a table within the computation's proven error of
 * it, relative 1e-28 or less, counted as tied; at null_or = 1 ties are
 * decided exactly). The odds ratio and the interval do not depend on it.
 * result_size is the size of the caller's fisher2x2_result: at least the 11
 * doubles of version 1.0, a whole number of doubles. (Since 1.2.) */
FISHER2X2_API int fisher2x2_test_sized(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int alternative,
                                       unsigned want, double conf_level, double null_or,
                                       fisher2x2_result *result, size_t result_size);

/* The same at null_or = 1 with this header's struct: a macro that passes
 * its size, as
 * zlib's deflateInit passes sizeof(z_stream). The function of that name,
 * which programs built against 1.0 and 1.1 call, fills the 11 doubles of
 * 1.0's struct. */
FISHER2X2_API int fisher2x2_test(uint64_t a, uint64_t b, uint64_t c, uint64_t d, int alternative,
                                 unsigned want, double conf_level, fisher2x2_result *result);
#define fisher2x2_test(a, b, c, d, alternative, want, conf_level, result) \
  fisher2x2_test_sized((a), (b), (c), (d), (alternative), (want), (conf_level), 1.0, (result), \
                       sizeof(fisher2x2_result))

/* The exact stratified test of a common odds ratio over k 2x2 tables:
 * counts holds a1 b1 c1 d1 a2 b2 c2 d2 ... (4 k counts, their total at most
 * 2^63 - 1); S is the sum of the cells a, each given its table's margins,
 * and its distribution under a common odds ratio psi is the convolution of
 * the strata's noncentral hypergeometric distributions (R's
 * mantelhaen.test(x, exact = TRUE)). alternative 0, 1 or 2; want and
 * conf_level as fisher2x2_test takes them (sample_odds_ratio is not
 * computed: NaN). The p-values are those of S at psi = 1; two-sided sums
 * the values of S at most as probable as the observed one, a value within
 * the computation's proven error of it counted as tied (exactly where the
 * strata are closed under reflection); odds_ratio is the conditional
 * maximum-likelihood estimate of the common odds ratio, ci_low and ci_high
 * its exact interval; mh_odds_ratio the Mantel-Haenszel estimate. With one
 * stratum whose margins allow more than one table, the values are that
 * table's, bit for bit. This function alone allocates (the strata's
 * windows, freed before it returns); it returns FISHER2X2_EMEMORY where
 * that is refused, FISHER2X2_EWIDE where the sd of S passes what its bounds
 * allow (1 s and 1 GiB; see the README). (Since 1.3.) */
FISHER2X2_API int fisher2x2_strata_test(const uint64_t *counts, size_t k, int alternative, unsigned want,
                                        double conf_level, fisher2x2_result *result, size_t result_size);

/* The tool's single-run double: the one-tailed (test = 1) or two-tailed
 * (any other test) p-value that `fisher2x2 a b c d test` writes as
 * "%10.6f", bit for bit. NaN where a count is negative or the total
 * exceeds 50000. */
FISHER2X2_API double fisher2x2_classic(int a, int b, int c, int d, int test);

/* A message for an error code. */
FISHER2X2_API const char *fisher2x2_strerror(int error);

/* The library's version, "MAJOR.MINOR.PATCH". */
FISHER2X2_API const char *fisher2x2_version(void);

#ifdef __cplusplus
}
#endif

#endif /* FISHER2X2_H */
