// The single run's p-value for any caller, on any thread.
#include "classic.h"

#include <pthread.h>

#include <atomic>

#include "exact_test.h"
#include "lock.h"

namespace {

// LogFactorial holds 0 .. filled (-1: nothing). It only grows, under the
// lock; an entry is written before `filled` (released) covers it, and each
// entry depends only on those before it, so readers of the entries up to the
// `filled` they acquired need no lock and see the bits a single run fills.
std::atomic<int> filled{-1};
pthread_mutex_t growing = PTHREAD_MUTEX_INITIALIZER;

void Grow(int n) {
  const Lock lock(growing);
  const int have = filled.load(std::memory_order_relaxed);
  if (n <= have) return;
  if (have < 0) {
    FillLogFactorial(n);
  } else {
    ExtendLogFactorial(have, n);
  }
  filled.store(n, std::memory_order_release);
}

}  // namespace

double ClassicPValue(int a, int b, int c, int d, int test) {
  const int n = a + b + c + d;
  if (n > filled.load(std::memory_order_acquire)) Grow(n);
  return FisherTest(a, b, c, d, test);
}
