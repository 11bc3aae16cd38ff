// The single run's p-value for any caller, on any thread: the log-factorial
// table grown as far as the largest total so far, then FisherTest.
#ifndef FISHER2X2_CLASSIC_CLASSIC_PVALUE_H
#define FISHER2X2_CLASSIC_CLASSIC_PVALUE_H

// FisherTest(a, b, c, d, test) for counts >= 0 whose total is at most
// kMaxTotal: the same bits as a single run.
double ClassicPValue(int a, int b, int c, int d, int test);

#endif  // FISHER2X2_CLASSIC_CLASSIC_PVALUE_H
