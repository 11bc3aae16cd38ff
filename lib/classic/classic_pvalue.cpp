// The single run's p-value for any caller, on any thread.
#include "classic/classic_pvalue.h"

#include "classic/fisher_test.h"
#include "common/growing.h"

namespace {

// How far LogFactorial is filled (-1: nothing). Each entry depends only on
// those before it, so however it grows it holds the bits a single run fills.
Growing filled(-1);

}  // namespace

double ClassicPValue(int a, int b, int c, int d, int test) {
  filled.Reach(a + b + c + d, [](int have, int n) {
    if (have < 0) {
      FillLogFactorial(n);
    } else {
      ExtendLogFactorial(have, n);
    }
  });
  return FisherTest(a, b, c, d, test);
}
