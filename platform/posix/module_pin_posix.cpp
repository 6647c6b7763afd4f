#include <dlfcn.h>

#include <atomic>

#include "platform/module_pin.h"

namespace vexlan::platform {

void PinThisModule() {
  static std::atomic<bool> pinned{false};
  if (pinned.exchange(true)) return;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PinThisModule), &info) == 0 || info.dli_fname == nullptr) return;
  // The handle is deliberately never closed: RTLD_NODELETE keeps the object for the process's life.
  dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace vexlan::platform
