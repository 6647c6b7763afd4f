#include "module/client_registry.h"

#include "events/dispatch.h"
#include "module/lua_api.h"

namespace vexlan {

ClientRegistry& ClientRegistry::Instance() {
  static ClientRegistry* instance = new ClientRegistry();  // never destroyed
  return *instance;
}

ClientRegistry::ClientRegistry() {
  for (int i = 0; i < kMaxClients; ++i) entries_[i].index = i;
}

ClientEntry* ClientRegistry::RegisterClient(lua_State* state, const ClientReferences& references) {
  platform::MutexLock lock(lock_);
  for (ClientEntry& entry : entries_) {
    if (entry.state.load(std::memory_order_acquire) != nullptr) continue;
    entry.device_change_reference.store(kNoReference, std::memory_order_relaxed);
    for (auto& slot : entry.slot_references)
      for (auto& reference : slot) reference.store(kNoReference, std::memory_order_relaxed);
    entry.references = references;
    OpenGate(entry);
    entry.state.store(state, std::memory_order_release);  // publishes the reset references
    ++client_count_;
    return &entry;
  }
  return nullptr;
}

void ClientRegistry::UnregisterClient(lua_State* state, ClientEntry* entry) {
  // First out of the fan-out, then the entry is free; the anchor goes with no lock held, since
  // releasing a reference may allocate and so raise.
  CloseGate(*entry);
  int32_t anchor;
  {
    platform::MutexLock lock(lock_);
    anchor = entry->references.anchor;
    entry->state.store(nullptr, std::memory_order_release);
    --client_count_;
  }
  luaL_unref(state, LUA_REGISTRYINDEX, anchor);
}

ClientEntry* ClientRegistry::FindClient(lua_State* state) {
  for (ClientEntry& entry : entries_)
    if (entry.state.load(std::memory_order_acquire) == state) return &entry;
  return nullptr;
}

int32_t ClientRegistry::client_count() const {
  platform::MutexLock lock(lock_);
  return client_count_;
}

}  // namespace vexlan
