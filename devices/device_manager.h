// The process-wide owner of the DirectOutput connection: the binding, the DirectInput interface (inside
// the identity source), three locks and the open count. Every Lua state that opens the module opens
// the manager once and closes it once; only the first open and the last close do real work.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "devices/device_table.h"
#include "devices/identity_source.h"
#include "directoutput/binding.h"
#include "platform/mutex.h"

namespace vexlan {

inline constexpr char16_t kPluginName[] = u"LuaVexlanLib";

// What the first open hands DirectOutput: the handler that records each enumerated device, and the one
// that handles arrivals and removals from then on.
struct DeviceHandlers {
  EnumerateHandlerFn enumerate;
  DeviceChangeHandlerFn device_change;
};

class DeviceManager {
 public:
  static DeviceManager& Instance();

  // True when this open counted (the count went up); only such an open may be closed. A first open gives
  // DirectOutput `handlers`; later opens ignore them.
  bool Open(const DeviceHandlers& handlers) EXCLUDES(open_count_lock_);
  void Close() EXCLUDES(open_count_lock_);

  // Read without a lock by every Lua function: 0 or less means not open.
  int32_t open_count() const { return open_count_.load(std::memory_order_acquire); }
  bool is_open() const { return open_count() > 0; }
  // The binding of the latest first open (an empty one before that). Never destroyed.
  const DirectOutputBinding& binding() const { return *binding_.load(std::memory_order_acquire); }
  DeviceTable& table() { return table_; }
  // What the library's Initialize answered at the latest first open (E_NOTIMPL when it has none), for
  // the check that tells a user which step fails.
  HResult initialize_result() const { return initialize_result_.load(std::memory_order_acquire); }

  // Arrival and removal bookkeeping; names the slot, or gives slot -1 (table full, an unknown handle on
  // removal, or an arrival whose device cannot be read).
  SlotName UpdateDeviceTable(void* handle, bool added);
  void LookUpHardwareIdentity(const Guid& instance, HardwareIdentity* identity);

  // Replaces the operating system's identity source (tests). Only while the manager is not open.
  void SetIdentitySource(IdentitySource* source);

 private:
  DeviceManager();
  const DirectOutputBinding& KeepBinding(DirectOutputBinding loaded) REQUIRES(open_count_lock_);
  bool StartIdentitySource() REQUIRES(open_count_lock_) EXCLUDES(direct_input_lock_);
  void StopIdentitySource() REQUIRES(open_count_lock_) EXCLUDES(direct_input_lock_);

  std::atomic<const DirectOutputBinding*> binding_;
  std::vector<std::unique_ptr<DirectOutputBinding>> bindings_ GUARDED_BY(open_count_lock_);
  IdentitySource* identity_source_;
  platform::Mutex direct_input_lock_;
  // Taken by nothing: kept so that the manager has the three locks its design names, at the cost of one
  // kernel object, and a later guard has its place.
  platform::Mutex spare_lock_;
  platform::Mutex open_count_lock_;
  std::atomic<int32_t> open_count_{0};
  std::atomic<HResult> initialize_result_{kE_NOTIMPL};
  DeviceTable table_;
};

}  // namespace vexlan
