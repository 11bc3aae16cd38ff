// The table of ln(k!): cumulative sums of log(i), carried in Extended.
#include "classic/log_factorial.h"

#include <cmath>

#include "arith/extended.h"

double LogFactorial[kMaxTotal + 1];

void FillLogFactorial(int n) {
  LogFactorial[0] = 0.0;
  ExtendLogFactorial(0, n);
}

void ExtendLogFactorial(int filled, int n) {
  for (int i = filled + 1; i <= n; ++i) {
    Extended sum(std::log(static_cast<double>(i)));
    sum += LogFactorial[i - 1];
    LogFactorial[i] = static_cast<double>(sum);
  }
}
