// A client's life from opening to closing: what a failed open, a reload without a library, a finaliser
// called by hand and an allocation failing anywhere leave behind.
#include <atomic>
#include <cstdlib>
#include <memory>

#include "events/dispatch.h"
#include "module/client_registry.h"
#include "tests/support/directoutput_config.h"
#include "tests/support/module_file.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using Lifecycle = ModuleTest;

TEST_F(Lifecycle, AStateWhoseOpenFailedDoesNotCloseAnotherStatesOpen) {
  sim::Fail("Initialize", static_cast<HResult>(0x80004005u));  // E_FAIL
  auto failed = std::make_unique<LuaState>();
  sim::Unfail("Initialize");
  LuaState working;
  ASSERT_EQ(DeviceManager::Instance().open_count(), 1);
  ASSERT_EQ(working.Run("n = 0; vexlan.RegisterSoftButtonCallback('SFIP', 1, function() n = n + 1 end)"), "");
  failed.reset();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 1);
  EXPECT_TRUE(sim::Initialized());
  EXPECT_EQ(working.Number("vexlan.GetNumDevices()"), 2);
  sim::Buttons(kFip, 1);
  Deliver(working);
  EXPECT_EQ(working.Number("n"), 1) << "callbacks still arrive";
}

TEST_F(Lifecycle, TheFinaliserClosesItsOwnClientOnceAndIgnoresAnythingElse) {
  LuaState other;
  LuaState state;
  ASSERT_EQ(DeviceManager::Instance().open_count(), 2);
  ASSERT_EQ(state.Run(R"(
    local gc = debug.getregistry().LuaVexlanLibData.__gc
    gc(newproxy(false)); gc(io.stdout); gc(); gc(1); gc({}); gc(newproxy(true))
    assert(vexlan.GetNumDevices() == 2, 'still open')
    for _, value in pairs(debug.getregistry()) do
      if getmetatable(value) == debug.getregistry().LuaVexlanLibData then gc(value); gc(value) end
    end
  )"),
            "");
  EXPECT_EQ(DeviceManager::Instance().open_count(), 1) << "one close for one client";
  state.Close();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 1) << "and none when the state closes";
  EXPECT_EQ(other.Number("vexlan.GetNumDevices()"), 2);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEXLAN_SANITIZER_ALLOCATOR 1
#endif
#endif
#ifdef VEXLAN_SANITIZER_ALLOCATOR
#include <sanitizer/allocator_interface.h>
#endif

// The bytes the process holds. A sanitizer's allocator counts the blocks in use exactly (its resident
// size also carries the blocks it holds back after a free, and shadow memory); elsewhere the resident
// size stands in, with room for the C library's own caches.
size_t MemoryInUse() {
#ifdef VEXLAN_SANITIZER_ALLOCATOR
  return __sanitizer_get_current_allocated_bytes();
#else
  return ProcessMemoryBytes();
#endif
}
constexpr size_t kAllowedGrowth = 4 * 1024 * 1024;

TEST_F(Lifecycle, ReloadingWithoutALibraryKeepsMemoryFlat) {
  RemoveDirectOutputConfiguration();
  auto cycle = [] {
    void* module = LoadModuleFile();  // as require does, then unloaded with the state
    ASSERT_NE(module, nullptr);
    lua_State* state = luaL_newstate();
    lua_pushcfunction(state, ModuleOpener(module));
    ASSERT_EQ(lua_pcall(state, 0, 0, 0), 0);
    lua_close(state);
    UnloadModuleFile(module);
  };
  for (int i = 0; i < 50; ++i) cycle();
  const size_t before = MemoryInUse();
  for (int i = 0; i < 400; ++i) cycle();
  const size_t after = MemoryInUse();
  ConfigureDirectOutput(SimulatorPath());
  EXPECT_LT(after, before + kAllowedGrowth) << "grew by " << (after - before) / 1024 << " KB over 400 cycles";
}

// A Lua allocator that fails exactly one allocation, the n-th after it is armed; the notifying thread
// allocates through it too.
struct FailingAllocator {
  std::atomic<long> countdown{-1};
  std::atomic<long> made{0};

  static void* Allocate(void* self, void* block, size_t old_size, size_t new_size) {
    auto* allocator = static_cast<FailingAllocator*>(self);
    if (new_size == 0) {
      std::free(block);
      return nullptr;
    }
    if (new_size > old_size) {
      allocator->made.fetch_add(1);
      if (allocator->countdown.fetch_sub(1) == 0) return nullptr;
    }
    return std::realloc(block, new_size);
  }
};

// Opening, registering, delivering queued events and events on the notifying thread, then closing, with
// allocation `fail_at` failing (-1: none), with the simulated X52 Pro (id 1) and panel (id 2). Returns the
// allocations made after arming.
long RunClientLife(long fail_at) {
  FailingAllocator allocator;
  lua_State* state = lua_newstate(&FailingAllocator::Allocate, &allocator);
  PreloadModule(state);
  allocator.made = 0;
  allocator.countdown = fail_at;
  auto run = [state](const char* code) {
    if (luaL_loadstring(state, code) != 0 || lua_pcall(state, 0, 0, 0) != 0) lua_pop(state, 1);
  };
  run(R"(
    require 'vexlan'
    local seen = {}
    vexlan.RegisterSoftButtonCallback('SFIP', 1, function(tag, ordinal, mask) seen[#seen + 1] = tag .. mask end)
    vexlan.RegisterDeviceChangeCallback(function(...) seen[#seen + 1] = {...} end)
  )");
  sim::Buttons(2, 1);
  sim::Buttons(2, 2);
  sim::Flush();
  run("vexlan.Listen()");  // delivers what waited, on this thread
  if (ClientEntry* client = FindCallingClient(state)) {
    ParkForListen(*client);  // as in Listen: the simulator's thread delivers
    sim::Buttons(2, 3);
    sim::Unplug(1);
    sim::Replug(1, false);
    sim::Flush();
    ReturnFromListen(*client);
  }
  lua_close(state);
  return allocator.made;
}

TEST_F(Lifecycle, AnAllocationFailingAnywhereLeavesNoOpenAndNoLockBehind) {
  const long allocations = RunClientLife(-1);
  ASSERT_GT(allocations, 100);
  for (long n = 0; n < allocations; ++n) {
    RunClientLife(n);
    ASSERT_EQ(DeviceManager::Instance().open_count(), 0) << "failing allocation " << n;
    ASSERT_EQ(ClientRegistry::Instance().client_count(), 0) << "failing allocation " << n;
  }
  LuaState working;  // and the module still opens
  EXPECT_EQ(working.Number("vexlan.GetNumDevices()"), 2);
}

}  // namespace
}  // namespace vexlan::test
