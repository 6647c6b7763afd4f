// The five Lua functions that register callbacks. When the soft-button trio registers with DirectOutput
// is decided in events/trio_registration.h.
#include "devices/device_manager.h"
#include "events/client_table.h"
#include "events/event_handlers.h"
#include "events/trio_registration.h"
#include "module/device_call.h"
#include "module/lua_functions.h"

namespace vexlan {
namespace {

// lua_getfield on the globals may run an __index metamethod, which may raise: run it protected.
int ReadGlobal(lua_State* state) {
  lua_getfield(state, LUA_GLOBALSINDEX, lua_tostring(state, 1));
  return 1;
}

// The reference for the callback at `index`: a function, the current value of the global of that name,
// or none for nil. False when the value cannot be had (a global whose lookup raised an error).
bool MakeReference(lua_State* state, int index, int32_t* reference) {
  if (lua_isnil(state, index)) {
    *reference = kNoReference;
    return true;
  }
  if (lua_isfunction(state, index)) {
    lua_pushvalue(state, index);
  } else {
    lua_pushcfunction(state, ReadGlobal);
    lua_pushstring(state, lua_tostring(state, index));
    if (lua_pcall(state, 1, 1, 0) != 0) {
      lua_pop(state, 1);
      return false;
    }
  }
  *reference = luaL_ref(state, LUA_REGISTRYINDEX);  // nil gives -1: the callback is cleared
  return true;
}

// Releases the old reference and publishes the new one.
void Replace(lua_State* state, std::atomic<int32_t>& stored, int32_t reference) {
  const int32_t old = stored.load(std::memory_order_relaxed);
  stored.store(reference, std::memory_order_release);
  if (old != kNoReference) luaL_unref(state, LUA_REGISTRYINDEX, old);
}

int RegisterTrioMember(lua_State* state, SlotCallback own) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, {ArgKind::kString, ArgKind::kNumber, ArgKind::kCallback}, &device)) return 0;
  ClientEntry* client = FindCallingClient(state);
  if (client == nullptr) return 0;
  auto& references = client->slot_references[device.slot];
  const bool old_set = references[own].load(std::memory_order_relaxed) != kNoReference;
  bool others_set = false;
  for (SlotCallback member : {kSoftButtonCallback, kSoftButtonDownCallback, kSoftButtonUpCallback})
    if (member != own && references[member].load(std::memory_order_relaxed) != kNoReference) others_set = true;
  int32_t reference;
  if (!MakeReference(state, 3, &reference)) return 0;
  Replace(state, references[own], reference);

  switch (DecideTrioRegistration(old_set, reference != kNoReference, others_set)) {
    case TrioRegistration::kNone:
      return PushResultCode(state, kS_OK);
    case TrioRegistration::kRegister:
      return PushResultCode(state, DeviceManager::Instance().binding()->RegisterSoftButtonCallback(
                                       device.handle, &SoftButtonHandler, nullptr));
    case TrioRegistration::kUnregister:
      return PushResultCode(
          state, DeviceManager::Instance().binding()->RegisterSoftButtonCallback(device.handle, nullptr, nullptr));
  }
  return 0;
}

}  // namespace

int vexlan_RegisterDeviceChangeCallback(lua_State* state) {
  if (!DeviceManager::Instance().is_open()) return 0;
  if (!HasArguments(state, {ArgKind::kCallback})) return 0;
  ClientEntry* client = FindCallingClient(state);
  if (client == nullptr) return 0;
  int32_t reference;
  if (!MakeReference(state, 1, &reference)) return 0;
  Replace(state, client->device_change_reference, reference);
  return PushResultCode(state, kS_OK);
}

int vexlan_RegisterPageCallback(lua_State* state) {
  DeviceAddress device;
  if (!ResolveDeviceCall(state, {ArgKind::kString, ArgKind::kNumber, ArgKind::kCallback}, &device)) return 0;
  ClientEntry* client = FindCallingClient(state);
  if (client == nullptr) return 0;
  int32_t reference;
  if (!MakeReference(state, 3, &reference)) return 0;
  Replace(state, client->slot_references[device.slot][kPageCallback], reference);
  // Every successful registration renews (or, for none, ends) the device's page notifications.
  const HResult result = DeviceManager::Instance().binding()->RegisterPageCallback(
      device.handle, reference != kNoReference ? &PageHandler : nullptr, nullptr);
  return PushResultCode(state, result);
}

int vexlan_RegisterSoftButtonCallback(lua_State* state) { return RegisterTrioMember(state, kSoftButtonCallback); }
int vexlan_RegisterSoftButtonDownCallback(lua_State* state) { return RegisterTrioMember(state, kSoftButtonDownCallback); }
int vexlan_RegisterSoftButtonUpCallback(lua_State* state) { return RegisterTrioMember(state, kSoftButtonUpCallback); }

}  // namespace vexlan
