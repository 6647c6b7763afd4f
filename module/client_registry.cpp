#include "module/client_registry.h"

#include "events/dispatch.h"
#include "platform/lua_api.h"

namespace vexlan {

ClientRegistry& ClientRegistry::Instance() {
  static ClientRegistry* instance = new ClientRegistry();  // never destroyed
  return *instance;
}

ClientEntry* ClientRegistry::RegisterClient(lua_State* state, int32_t anchor, const TagReferences& tags) {
  platform::MutexLock lock(lock_);
  ClientTable& table = ClientTable::Instance();
  for (int i = 0; i < kMaxClients; ++i) {
    ClientEntry& entry = table.entry(i);
    if (entry.state.load(std::memory_order_acquire) != nullptr) continue;
    OpenEntry(entry, state, tags);
    anchors_[i] = anchor;
    ++client_count_;
    return &entry;
  }
  return nullptr;
}

void ClientRegistry::UnregisterClient(lua_State* state, ClientEntry* entry) {
  // Out of the fan-out first (this may wait for a callback running in the state), with no lock held.
  CloseGate(*entry);
  int32_t anchor;
  {
    platform::MutexLock lock(lock_);
    entry->state.store(nullptr, std::memory_order_release);  // free again
    anchor = anchors_[entry->index];
    --client_count_;
  }
  luaL_unref(state, LUA_REGISTRYINDEX, anchor);
}

int32_t ClientRegistry::client_count() const {
  platform::MutexLock lock(lock_);
  return client_count_;
}

}  // namespace vexlan
