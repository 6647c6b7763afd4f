// The module's locks. Mutex is the operating-system mutex behind the device manager's, the client
// registry's and each picture surface's locks; FastMutex, at the end, guards short sections of our own.
//
// Mutex's contract, identical on every backend:
//  - created unnamed and not owned. A lock that cannot be created, taken or given back ends the process
//    with a message on standard error (as libuv does): a lock that silently did nothing would let two
//    threads into what it guards;
//  - Lock() waits without a time limit; the owning thread may lock again (recursive), and must unlock
//    as often as it locked;
//  - never copied or moved; destroying a locked mutex is a bug.
// Windows: CreateMutexW / WaitForSingleObject(INFINITE) / ReleaseMutex.
// POSIX: a PTHREAD_MUTEX_RECURSIVE pthread mutex.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/thread_annotations.h"

namespace vexlan::platform {

// Ends the process: the operating system's `call` failed on a lock.
[[noreturn]] inline void LockFailed(const char* call) {
  std::fprintf(stderr, "vexlan: %s failed on a lock; stopping\n", call);
  std::fflush(stderr);
  std::abort();
}

class CAPABILITY("mutex") Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE();
  void Unlock() RELEASE();

 private:
  alignas(16) unsigned char storage_[64];  // the backend's native object or handle
};

// A plain, non-recursive in-process lock for short critical sections of the module's own (the device
// table, each client's event queue), where the operating-system mutex above would cost a kernel object
// or a recursive lock.
class CAPABILITY("mutex") FastMutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class FastCondition;
  std::mutex mutex_;
};

// A condition variable over a FastMutex the caller holds.
class FastCondition {
 public:
  // Gives `mutex` up while waiting; holds it again on return. May wake without a notification.
  void Wait(FastMutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.mutex_, std::adopt_lock);
    condition_.wait(held);
    held.release();  // still locked: the caller's scope unlocks it
  }
  // As Wait, giving up after `timeout`.
  template <typename Duration>
  void WaitFor(FastMutex& mutex, Duration timeout) REQUIRES(mutex) {
    std::unique_lock<std::mutex> held(mutex.mutex_, std::adopt_lock);
    condition_.wait_for(held, timeout);
    held.release();
  }
  void NotifyAll() { condition_.notify_all(); }

 private:
  std::condition_variable condition_;
};

// Holds a Mutex or a FastMutex for the life of the scope.
template <typename Lockable>
class SCOPED_CAPABILITY ScopedLock {
 public:
  explicit ScopedLock(Lockable& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~ScopedLock() RELEASE() { mutex_.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Lockable& mutex_;
};

using MutexLock = ScopedLock<Mutex>;
using FastMutexLock = ScopedLock<FastMutex>;

}  // namespace vexlan::platform
