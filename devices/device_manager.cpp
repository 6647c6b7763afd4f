#include "devices/device_manager.h"

#include "devices/hardware_identity.h"
#include "events/event_handlers.h"
#include "platform/module_pin.h"

namespace vexlan {
namespace {
const DirectOutputBinding kEmptyBinding;
}

DeviceManager& DeviceManager::Instance() {
  // Never destroyed: DirectOutput's thread may still call the handlers while the process exits.
  static DeviceManager* instance = new DeviceManager();
  return *instance;
}

DeviceManager::DeviceManager() : binding_(&kEmptyBinding), identity_source_(&PlatformIdentitySource()) {}

void DeviceManager::SetIdentitySource(IdentitySource* source) {
  platform::MutexLock lock(open_count_lock_);
  if (open_count_.load() <= 0) identity_source_ = source != nullptr ? source : &PlatformIdentitySource();
}

void DeviceManager::Open() {
  platform::MutexLock lock(open_count_lock_);
  const int32_t count = open_count_.load(std::memory_order_relaxed);
  if (count > 0) {
    open_count_.store(count + 1, std::memory_order_release);
    return;
  }
  table_.Clear();
  if (!identity_source_->Start()) return;

  // A new binding per first open, so a changed configuration is honoured. Earlier ones stay alive (and
  // their libraries loaded): a late notification from an earlier library may still read through them.
  bindings_.push_back(std::make_unique<DirectOutputBinding>(LoadDirectOutput()));
  const DirectOutputBinding& binding = *bindings_.back();
  binding_.store(&binding, std::memory_order_release);

  if (binding.Initialize(kPluginName) < 0) {
    identity_source_->Stop();
    return;
  }
  // From here on DirectOutput holds our handlers' addresses.
  platform::PinThisModule();
  binding.Enumerate(&EnumerationHandler, nullptr);
  binding.RegisterDeviceCallback(&DeviceChangeHandler, nullptr);
  open_count_.store(1, std::memory_order_release);
}

void DeviceManager::Close() {
  platform::MutexLock lock(open_count_lock_);
  const int32_t count = open_count_.load(std::memory_order_relaxed);
  // A close that balances a failed open finds the count at 0: nothing was initialised, nothing to undo.
  if (count <= 0) return;
  if (count == 1) {
    binding().Deinitialize();
    identity_source_->Stop();
  }
  open_count_.store(count - 1, std::memory_order_release);
}

void DeviceManager::LookUpHardwareIdentity(const Guid& instance, HardwareIdentity* identity) {
  vexlan::LookUpHardwareIdentity(*identity_source_, direct_input_lock_, instance, identity);
}

int32_t DeviceManager::UpdateDeviceTable(void* handle, bool added) {
  if (!added) return table_.MarkAbsent(handle);

  const DirectOutputBinding& directoutput = binding();
  // A handle the table does not know may be a unit coming back under a new handle: read what identifies it.
  const bool match_identity = table_.FindSlotByHandle(handle) < 0;
  Guid match_type{};
  Guid match_instance{};
  HardwareIdentity match{};
  if (match_identity) {
    directoutput.GetDeviceType(handle, &match_type);
    directoutput.GetDeviceInstance(handle, &match_instance);
    LookUpHardwareIdentity(match_instance, &match);
  }
  // The values the slot is filled with are read afresh, as the device reports them now.
  Guid instance{};
  HardwareIdentity identity{};
  Guid type{};
  directoutput.GetDeviceInstance(handle, &instance);
  LookUpHardwareIdentity(instance, &identity);
  directoutput.GetDeviceType(handle, &type);
  return table_.CommitArrival(handle, match_identity, match_type, match, type, instance, identity);
}

}  // namespace vexlan
