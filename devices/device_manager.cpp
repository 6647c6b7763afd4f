#include "devices/device_manager.h"

#include "devices/hardware_identity.h"

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

bool DeviceManager::Open(const DeviceHandlers& handlers) {
  platform::MutexLock lock(open_count_lock_);
  const int32_t count = open_count_.load(std::memory_order_relaxed);
  if (count > 0) {
    open_count_.store(count + 1, std::memory_order_release);
    return true;
  }
  table_.Clear();
  if (!StartIdentitySource()) return false;

  const DirectOutputBinding& binding = KeepBinding(LoadDirectOutput());
  binding_.store(&binding, std::memory_order_release);

  const HResult initialized = binding->Initialize(kPluginName);
  initialize_result_.store(initialized, std::memory_order_release);
  if (initialized < 0) {
    StopIdentitySource();
    return false;
  }
  binding->Enumerate(handlers.enumerate, nullptr);
  binding->RegisterDeviceCallback(handlers.device_change, nullptr);
  open_count_.store(1, std::memory_order_release);
  return true;
}

void DeviceManager::Close() {
  platform::MutexLock lock(open_count_lock_);
  const int32_t count = open_count_.load(std::memory_order_relaxed);
  // Only an open that counted is closed (the client remembers); a count of 0 here would be a bug.
  if (count <= 0) return;
  if (count == 1) {
    binding()->Deinitialize();
    StopIdentitySource();
  }
  open_count_.store(count - 1, std::memory_order_release);
}

// The library is loaded again at every first open, so that a changed configuration is honoured. A
// binding, once handed out, stays alive (a late notification from that library may still read through
// it); one binding is kept per library, so reopening the same library adds nothing.
const DirectOutputBinding& DeviceManager::KeepBinding(DirectOutputBinding loaded) {
  if (!loaded.loaded()) return kEmptyBinding;
  for (const auto& kept : bindings_)
    if (kept->library() == loaded.library()) return *kept;
  bindings_.push_back(std::make_unique<DirectOutputBinding>(loaded));
  return *bindings_.back();
}

// The DirectInput interface changes only under the DirectInput lock, which identity lookups on the
// notifying thread take to read it.
bool DeviceManager::StartIdentitySource() {
  platform::MutexLock lock(direct_input_lock_);
  return identity_source_->Start();
}

void DeviceManager::StopIdentitySource() {
  platform::MutexLock lock(direct_input_lock_);
  identity_source_->Stop();
}

void DeviceManager::LookUpHardwareIdentity(const Guid& instance, HardwareIdentity* identity) {
  vexlan::LookUpHardwareIdentity(*identity_source_, direct_input_lock_, instance, identity);
}

namespace {

// What an arrival reads of its device. False when DirectOutput cannot answer for the handle, which
// happens when the unit has already left again: its removal follows.
bool ReadType(const DirectOutputBinding& directoutput, void* handle, Guid* type) {
  return directoutput->GetDeviceType(handle, type) >= 0;
}
bool ReadInstance(const DirectOutputBinding& directoutput, void* handle, Guid* instance) {
  return directoutput->GetDeviceInstance(handle, instance) >= 0;
}

}  // namespace

SlotName DeviceManager::UpdateDeviceTable(void* handle, bool added) {
  if (!added) return table_.MarkAbsent(handle);

  // An arrival whose values cannot be read is not recorded and not reported: a failed read must never
  // change what a slot knows, nor take a slot for a unit that is gone.
  const DirectOutputBinding& directoutput = binding();
  // A handle the table does not know may be a unit coming back under a new handle: read what identifies it.
  const bool match_identity = table_.FindSlotByHandle(handle) < 0;
  Guid match_type{};
  Guid match_instance{};
  HardwareIdentity match{};
  if (match_identity) {
    if (!ReadType(directoutput, handle, &match_type) || !ReadInstance(directoutput, handle, &match_instance))
      return SlotName{};
    LookUpHardwareIdentity(match_instance, &match);
  }
  // The values the slot is filled with are read afresh, as the device reports them now, even when the
  // match above has just read them: the slot keeps what the device reported last before the commit.
  Guid instance{};
  HardwareIdentity identity{};
  Guid type{};
  if (!ReadInstance(directoutput, handle, &instance)) return SlotName{};
  LookUpHardwareIdentity(instance, &identity);
  if (!ReadType(directoutput, handle, &type)) return SlotName{};
  return table_.CommitArrival(handle, match_identity, match_type, match, type, instance, identity);
}

}  // namespace vexlan
