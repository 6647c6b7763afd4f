#include <pthread.h>

#include <new>

#include "platform/mutex.h"

namespace vexlan::platform {
namespace {
pthread_mutex_t* Native(unsigned char* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }
}  // namespace

static_assert(sizeof(pthread_mutex_t) <= 64, "storage too small for pthread_mutex_t");

Mutex::Mutex() {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) LockFailed("pthread_mutexattr_init");
  if (pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) != 0 ||
      pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes) != 0) {
    LockFailed("pthread_mutex_init");
  }
  pthread_mutexattr_destroy(&attributes);
}

Mutex::~Mutex() { pthread_mutex_destroy(Native(storage_)); }

void Mutex::Lock() NO_THREAD_SAFETY_ANALYSIS {
  if (pthread_mutex_lock(Native(storage_)) != 0) LockFailed("pthread_mutex_lock");
}

void Mutex::Unlock() NO_THREAD_SAFETY_ANALYSIS {
  if (pthread_mutex_unlock(Native(storage_)) != 0) LockFailed("pthread_mutex_unlock");
}

}  // namespace vexlan::platform
