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
  // Unnamed, not initially owned.
  HANDLE handle = CreateMutexW(nullptr, FALSE, nullptr);
  if (handle == nullptr) LockFailed("CreateMutexW");
  std::memcpy(storage_, &handle, sizeof handle);
}

Mutex::~Mutex() { CloseHandle(Native(storage_)); }

// An abandoned mutex (its owner's thread ended holding it) is ours all the same, as on POSIX.
void Mutex::Lock() NO_THREAD_SAFETY_ANALYSIS {
  const DWORD outcome = WaitForSingleObject(Native(storage_), INFINITE);
  if (outcome != WAIT_OBJECT_0 && outcome != WAIT_ABANDONED) LockFailed("WaitForSingleObject");
}

void Mutex::Unlock() NO_THREAD_SAFETY_ANALYSIS {
  if (!ReleaseMutex(Native(storage_))) LockFailed("ReleaseMutex");
}

}  // namespace vexlan::platform
