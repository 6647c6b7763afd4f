#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "devices/device_table_testing.h"
#include "events/dispatch.h"
#include "events/dispatch_testing.h"
#include "events/event_handlers.h"
#include "module/client_registry.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using namespace std::chrono_literals;

// A latch the test opens; Lua callbacks can wait on it through the C function `hold`.
struct Latch {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int arrived = 0;
  std::thread::id arrived_on;

  void Open() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
  }
  bool WaitForArrival(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, deadline, [this] { return arrived > 0; });
  }
};

Latch* g_latch = nullptr;

int Hold(lua_State*) {
  std::unique_lock<std::mutex> lock(g_latch->mutex);
  ++g_latch->arrived;
  g_latch->arrived_on = std::this_thread::get_id();
  g_latch->changed.notify_all();
  g_latch->changed.wait(lock, [] { return g_latch->open; });
  return 0;
}

class Events : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    g_latch = &latch_;
  }
  static void AddHold(LuaState& state) { lua_register(state.get(), "hold", Hold); }
  Latch latch_;
};

TEST_F(Events, WhileListeningCallbacksRunOnTheNotifyingThreadAndListenWaitsForThem) {
  StdinPipe input;  // open: Listen blocks until the test writes
  LuaState state;
  AddHold(state);
  ASSERT_EQ(state.Run("done = false; vexlan.RegisterSoftButtonCallback('SFIP', 1, function() hold(); done = true end)"),
            "");
  ClientEntry& client = *FindCallingClient(state.get());
  std::atomic<bool> listen_returned{false};
  std::thread script([&] {
    state.Run("vexlan.Listen()");
    listen_returned = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!IsParked(client) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(IsParked(client));
  sim::Buttons(kFip, 1);
  ASSERT_TRUE(latch_.WaitForArrival(10s)) << "the callback runs while the script waits";
  EXPECT_NE(latch_.arrived_on, script.get_id());
  input.Write("x");  // Listen's read completes while the callback still runs
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(listen_returned) << "Listen returns only once the callback has finished";
  latch_.Open();
  script.join();
  EXPECT_TRUE(listen_returned);
  EXPECT_EQ(state.Count("done == true or nil"), 1);
  EXPECT_EQ(lua_gettop(state.get()), 0);
}

TEST_F(Events, ACallbackMayCallListen) {
  StdinPipe input;
  LuaState state;
  ASSERT_EQ(state.Run("inner = false; vexlan.RegisterSoftButtonCallback('SFIP', 1, function() "
                      "vexlan.Listen(); inner = true end)"),
            "");
  ClientEntry& client = *FindCallingClient(state.get());
  std::thread script([&] { state.Run("vexlan.Listen()"); });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!IsParked(client) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  sim::Buttons(kFip, 1);  // the callback's Listen waits on the notifying thread
  input.Write("ab");      // one character for each Listen
  script.join();
  sim::Flush();
  EXPECT_EQ(state.Count("inner == true or nil"), 1);
  EXPECT_EQ(lua_gettop(state.get()), 0);
}

TEST_F(Events, WhileBusyEventsWaitInOrderAndTheOldestGoOnOverflow) {
  LuaState state;
  ASSERT_EQ(
      state.Run("seen = {}; vexlan.RegisterSoftButtonCallback('SFIP', 1, function(_, _, m) seen[#seen + 1] = m end)"),
      "");
  for (uint32_t mask = 0; mask < 1100; ++mask) sim::Buttons(kFip, mask);
  sim::Flush();
  EXPECT_EQ(state.Number("#seen"), 0) << "nothing enters a state that is running its script";
  state.Run("vexlan.Listen()");
  EXPECT_EQ(state.Number("#seen"), kEventQueueCapacity);
  EXPECT_EQ(state.Number("seen[1]"), 1100 - kEventQueueCapacity);
  EXPECT_EQ(state.Number("seen[#seen]"), 1099);
  EXPECT_EQ(state.Count("(function() for i = 2, #seen do assert(seen[i] == seen[i-1] + 1) end end)()"), 0);
  EXPECT_EQ(DroppedEvents(*FindCallingClient(state.get())), 1100u - kEventQueueCapacity);
}

TEST_F(Events, ManyFailingCallbacksLeaveTheStackWhereItWas) {
  LuaState state;
  ASSERT_EQ(state.Run("vexlan.RegisterSoftButtonCallback('SFIP', 1, function() error('always') end)"), "");
  lua_State* L = state.get();
  lua_pushinteger(L, 7);  // something of the script's own on the stack
  const int depth = lua_gettop(L);
  ClientEntry& client = *FindCallingClient(L);
  // This thread plays the notifying thread while the state is parked, as in Listen.
  ParkForListen(client);
  for (int i = 0; i < VEXLAN_FAILING_CALLBACKS; ++i) SoftButtonHandler(sim::HandleOf(kFip), static_cast<uint32_t>(i), nullptr);
  ReturnFromListen(client);
  EXPECT_EQ(lua_gettop(L), depth);
  EXPECT_EQ(lua_tointeger(L, -1), 7);
  lua_pop(L, 1);
}

TEST_F(Events, ClearingAPageCallbackStopsPageEventsForEveryClient) {
  LuaState a;
  LuaState b;
  ASSERT_EQ(a.Run("pages = 0; vexlan.RegisterPageCallback('SFIP', 1, function() pages = pages + 1 end)"), "");
  sim::PageChange(kFip, 1, true);
  Deliver(a);
  EXPECT_EQ(a.Number("pages"), 1);
  EXPECT_EQ(b.Number("vexlan.RegisterPageCallback('SFIP', 1, nil)"), 0);
  EXPECT_EQ(LastCall("RegisterPageCallback").handler, false);
  sim::PageChange(kFip, 1, false);
  Deliver(a);
  EXPECT_EQ(a.Number("pages"), 1) << "B's clearing ended the device's registration";
  ASSERT_EQ(b.Run("vexlan.RegisterPageCallback('SFIP', 1, print)"), "");
  sim::PageChange(kFip, 2, true);
  Deliver(a);
  EXPECT_EQ(a.Number("pages"), 2) << "A's callback is still held";
}

TEST_F(Events, EveryClientGetsEachEventAndAClosedOneNoMore) {
  auto a = std::make_unique<LuaState>();
  LuaState b;
  for (LuaState* state : {a.get(), &b})
    ASSERT_EQ(state->Run("n = 0; vexlan.RegisterDeviceChangeCallback(function() n = n + 1 end)"), "");
  const int id = sim::Plug("SFIP");
  sim::Flush();
  a.reset();  // closed with an event waiting for it
  sim::Unplug(id);
  Deliver(b);
  EXPECT_EQ(b.Number("n"), 2);
}

TEST_F(Events, EventsForUnknownHandlesCallNothing) {
  LuaState state;
  ASSERT_EQ(state.Run("n = 0; vexlan.RegisterSoftButtonCallback('SFIP', 1, function() n = n + 1 end)"), "");
  int unknown = 0;
  SoftButtonHandler(&unknown, 7, nullptr);
  PageHandler(&unknown, 1, 1, nullptr);
  DeviceChangeHandler(&unknown, 0, nullptr);  // removal of a handle in no slot
  Deliver(state);
  EXPECT_EQ(state.Number("n"), 0);
  EXPECT_EQ(DeviceTableTesting::Snapshot(DeviceManager::Instance().table(), 1).last_buttons, 0u);
}

// Arrivals and removals on the simulator's thread against lookups on this one: each is seen whole.
TEST_F(Events, TheDeviceTableIsReadConsistentlyWhileDevicesComeAndGo) {
  LuaState state;
  std::atomic<bool> stop{false};
  std::thread plugging([&] {
    for (int i = 0; i < 300; ++i) {
      sim::Unplug(kFip);
      sim::Replug(kFip, i % 2 == 0);
      sim::Flush();  // one cycle at a time: the unit stays long enough for its arrival to be read
    }
    sim::Flush();
    stop = true;
  });
  DeviceTable& table = DeviceManager::Instance().table();
  const DeviceTypeTag fip = DeviceTypeTag::kSfip;
  int reads = 0;
  while (!stop || reads < 1000) {
    void* handle = nullptr;
    const int32_t slot = table.ResolvePresent("SFIP", 1, &handle);
    if (slot >= 0) {
      EXPECT_EQ(slot, 1);
      EXPECT_NE(handle, nullptr);
    }
    const int32_t present = table.CountPresent(&fip);
    EXPECT_TRUE(present == 0 || present == 1);
    const SlotName name = table.PresentSlotOfHandle(sim::HandleOf(kX52));
    EXPECT_STREQ(TagString(name.tag), "X52P");
    ++reads;
  }
  plugging.join();
  EXPECT_EQ(DeviceTableTesting::count(table), 2) << "the unit always came back to its own slot";
  EXPECT_EQ(table.CountPresent(&fip), 1);
}

}  // namespace
}  // namespace vexlan::test

namespace vexlan::test {
namespace {

// Script B waits in Listen beside script A, whose callback is held; B's character arrives meanwhile.
enum class WhatBWants { kNothing, kTheEventFirst, kTheEventAfterA };

class NoScriptWaitsOnAnother : public Events, public testing::WithParamInterface<WhatBWants> {};

TEST_P(NoScriptWaitsOnAnother, ListenReturnsWhileAnotherStatesCallbackRuns) {
  StdinPipe input;
  std::unique_ptr<LuaState> a, b;
  if (GetParam() == WhatBWants::kTheEventFirst) b = std::make_unique<LuaState>();  // the earlier entry
  a = std::make_unique<LuaState>();
  if (b == nullptr) b = std::make_unique<LuaState>();
  AddHold(*a);
  ASSERT_EQ(a->Run("vexlan.RegisterSoftButtonCallback('SFIP', 1, function() hold() end)"), "");
  ASSERT_EQ(b->Run("seen = 0"), "");
  if (GetParam() != WhatBWants::kNothing) {
    ASSERT_EQ(b->Run("vexlan.RegisterSoftButtonCallback('SFIP', 1, function() seen = seen + 1 end)"), "");
  }

  ClientEntry& client_a = *FindCallingClient(a->get());
  ClientEntry& client_b = *FindCallingClient(b->get());
  std::thread script_a([&] { a->Run("vexlan.Listen()"); });
  std::atomic<bool> b_returned{false};
  std::thread script_b([&] {
    b->Run("vexlan.Listen()");
    b_returned = true;
  });
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!(IsParked(client_a) && IsParked(client_b)) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  sim::Buttons(kFip, 1);
  ASSERT_TRUE(latch_.WaitForArrival(10s));

  const auto written = std::chrono::steady_clock::now();
  input.Write("ab");  // one character for each script
  deadline = written + 2s;
  while (!b_returned && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  const auto waited = std::chrono::steady_clock::now() - written;
  EXPECT_TRUE(b_returned) << "B waited on A's callback";
  EXPECT_LT(waited, 100ms);
  latch_.Open();
  script_a.join();
  script_b.join();

  input.CloseWriteEnd();
  sim::Flush();               // the simulator's thread has gone on to B once A's callback ended
  b->Run("vexlan.Listen()");  // an event B had not been given yet waited for it
  EXPECT_EQ(b->Number("seen"), GetParam() == WhatBWants::kNothing ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Gate, NoScriptWaitsOnAnother,
                         testing::Values(WhatBWants::kNothing, WhatBWants::kTheEventFirst,
                                         WhatBWants::kTheEventAfterA));

}  // namespace
}  // namespace vexlan::test
