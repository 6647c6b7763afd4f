// The per-Lua-state client records: each state that opened the module takes one entry of the client
// table (events/), which holds its callback references and its gate, and keeps its client userdata
// alive through an anchor reference until the state closes.
#pragma once

#include <cstdint>

#include "events/client_table.h"
#include "platform/mutex.h"

struct lua_State;

namespace vexlan {

class ClientRegistry {
 public:
  static ClientRegistry& Instance();

  // Takes the first free entry for `state`, callback references reset; null when all 10 are in use.
  // Makes no Lua call.
  ClientEntry* RegisterClient(lua_State* state, int32_t anchor, const TagReferences& tags) EXCLUDES(lock_);
  // Gives `entry` back: no event reaches its state afterwards. Then releases the anchor reference, with
  // the lock given back, since releasing a reference may allocate and so raise.
  void UnregisterClient(lua_State* state, ClientEntry* entry) EXCLUDES(lock_);
  int32_t client_count() const EXCLUDES(lock_);

 private:
  ClientRegistry() = default;

  mutable platform::Mutex lock_;
  int32_t anchors_[kMaxClients] GUARDED_BY(lock_) = {};
  int32_t client_count_ GUARDED_BY(lock_) = 0;
};

}  // namespace vexlan
