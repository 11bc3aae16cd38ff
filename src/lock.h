// A mutex held for a scope. POSIX threads directly: std::mutex would bring
// in the C++ runtime's exception support, whose start-up allocates.
#ifndef FISHER2X2_LOCK_H
#define FISHER2X2_LOCK_H

#include <pthread.h>

class Lock {
 public:
  explicit Lock(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
  ~Lock() { pthread_mutex_unlock(&mutex_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  pthread_mutex_t& mutex_;
};

#endif  // FISHER2X2_LOCK_H
