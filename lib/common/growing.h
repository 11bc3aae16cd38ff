// Locking for the tables threads share. POSIX threads directly: std::mutex
// would bring in the C++ runtime's exception support, whose start-up
// allocates.
#ifndef FISHER2X2_COMMON_GROWING_H
#define FISHER2X2_COMMON_GROWING_H

#include <pthread.h>

#include <atomic>

// A mutex held for a scope.
class Lock {
 public:
  explicit Lock(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
  ~Lock() { pthread_mutex_unlock(&mutex_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  pthread_mutex_t& mutex_;
};

// How far a table that only grows is filled: its entries 0 .. filled are
// set. It grows under the lock, and an entry is written before `filled`
// (released) covers it, so readers of the entries up to the bound they
// acquired need no lock.
class Growing {
 public:
  explicit constexpr Growing(int filled) : filled_(filled) {}

  // Has the entries up to n set: fill(have, n) sets have + 1 .. n, under
  // the lock, where they are not yet.
  template <typename Fill>
  void Reach(int n, Fill fill) {
    if (n <= filled_.load(std::memory_order_acquire)) return;
    const Lock lock(mutex_);
    const int have = filled_.load(std::memory_order_relaxed);
    if (n <= have) return;
    fill(have, n);
    filled_.store(n, std::memory_order_release);
  }

 private:
  std::atomic<int> filled_;
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

#endif  // FISHER2X2_COMMON_GROWING_H
