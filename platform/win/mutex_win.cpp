#include <windows.h>

#include <cstring>

#include "platform/mutex.h"

namespace vexlan::platform {
namespace {
HANDLE Native(const unsigned char* storage) {
  HANDLE handle;
  std::memcpy(&handle, storage, sizeof handle);
  return handle;
}
}  // namespace

Mutex::Mutex() {
  // Unnamed, not initially owned. A null handle (no kernel object available) makes the lock a no-op
  // rather than taking the host down.
  HANDLE handle = CreateMutexW(nullptr, FALSE, nullptr);
  std::memcpy(storage_, &handle, sizeof handle);
}

Mutex::~Mutex() {
  if (HANDLE handle = Native(storage_)) CloseHandle(handle);
}

void Mutex::Lock() NO_THREAD_SAFETY_ANALYSIS {
  if (HANDLE handle = Native(storage_)) WaitForSingleObject(handle, INFINITE);
}

void Mutex::Unlock() NO_THREAD_SAFETY_ANALYSIS {
  if (HANDLE handle = Native(storage_)) ReleaseMutex(handle);
}

}  // namespace vexlan::platform
