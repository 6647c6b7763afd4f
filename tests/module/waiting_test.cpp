// A script waiting in Listen: every event for it runs while it waits, whichever delivery found its state
// held; the client's finaliser called from a callback never waits for itself; and a module opened
// inside a coroutine calls back on a thread of its own.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "events/dispatch.h"
#include "events/dispatch_testing.h"
#include "module/client_registry.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the callbacks report to the test: `seen(mask)` records a mask; `hold()` blocks the callback that
// calls it until the test lets that many holds go.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> seen;
  int held = 0;
  int released = 0;

  bool WaitFor(const std::function<bool()>& condition, Clock::duration deadline = 10s) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, deadline, condition);
  }
  bool Seen(int mask) {
    for (int m : seen)
      if (m == mask) return true;
    return false;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex);
    ++released;
    changed.notify_all();
  }
};

Reports* g_reports = nullptr;

int LuaSeen(lua_State* state) {
  std::lock_guard<std::mutex> lock(g_reports->mutex);
  g_reports->seen.push_back(static_cast<int>(lua_tonumber(state, 1)));
  g_reports->changed.notify_all();
  return 0;
}

int LuaHold(lua_State*) {
  std::unique_lock<std::mutex> lock(g_reports->mutex);
  const int mine = ++g_reports->held;
  g_reports->changed.notify_all();
  g_reports->changed.wait(lock, [mine] { return g_reports->released >= mine; });
  return 0;
}

// A deadlocked delivery cannot be undone inside the process: report it and end the run.
void EndRunIfStuck(bool went_on, const char* what) {
  if (went_on) return;
  std::fprintf(stderr, "FATAL: %s did not happen within the deadline (deadlock)\n", what);
  std::fflush(stderr);
  std::_Exit(1);
}

constexpr char kFindClient[] = R"(
  function client_userdata()
    local registry = debug.getregistry()
    for _, value in pairs(registry) do
      if type(value) == "userdata" and getmetatable(value) == registry.LuaVexlanLibData then return value end
    end
  end
)";

class Waiting : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    g_reports = &reports_;
  }
  void TearDown() override { g_reports = nullptr; }

  // A state with `seen` and `hold`, whose callback for the panel's soft buttons is `callback`.
  std::unique_ptr<LuaState> NewState(const std::string& callback) {
    auto state = std::make_unique<LuaState>();
    lua_register(state->get(), "seen", LuaSeen);
    lua_register(state->get(), "hold", LuaHold);
    EXPECT_EQ(state->Run(kFindClient), "");
    EXPECT_EQ(state->Run("vexlan.RegisterSoftButtonCallback('SFIP', 1, " + callback + ")"), "");
    return state;
  }
  // Sends `mask` and waits until the module has handled it.
  static void Send(uint32_t mask) {
    sim::Buttons(kFip, mask);
    sim::Flush();
  }
  bool WaitForHeld(int count) {
    return reports_.WaitFor([&] { return reports_.held >= count; });
  }
  bool WaitForSeen(int mask) {
    return reports_.WaitFor([&] { return reports_.Seen(mask); });
  }

  Reports reports_;
};

// Mask 1 waits for Listen; mask 2 reaches the module while mask 1's callback runs in Listen, mask 3
// while mask 2's does. Both callbacks are held on the script's thread until the test lets them go.
TEST_F(Waiting, AnEventThatArrivesWhileListenDeliversRunsBeforeListenReturns) {
  StdinPipe input;
  auto state = NewState("function(_, _, mask) seen(mask); if mask < 3 then hold() end end");
  Send(1);
  std::atomic<bool> returned{false};
  std::thread script([&] {
    state->Run("vexlan.Listen()");
    returned = true;
  });
  ASSERT_TRUE(WaitForHeld(1));
  Send(2);  // the state is held: queued
  reports_.Release();
  ASSERT_TRUE(WaitForHeld(2));
  Send(3);  // held again, by the delivery of what was queued meanwhile
  reports_.Release();
  EXPECT_TRUE(WaitForSeen(3)) << "mask 3 waited while the script waits in Listen";
  EXPECT_FALSE(returned);
  Send(4);  // the state is lent: at once, on the simulator's thread
  EXPECT_TRUE(WaitForSeen(4));
  input.Write("x");
  script.join();
  EXPECT_EQ(reports_.seen, (std::vector<int>{1, 2, 3, 4}));
}

// A Listen nested in a callback of that delivery lends the state again: an event during it runs then.
TEST_F(Waiting, AListenNestedInListensOwnDeliveryLendsTheState) {
  StdinPipe input;
  auto state = NewState("function(_, _, mask) seen(mask); if mask == 1 then hold() elseif mask == 2 then "
                        "vexlan.Listen(); seen(20) end end");
  ClientEntry& client = *FindCallingClient(state->get());
  Send(1);
  std::thread script([&] { state->Run("vexlan.Listen()"); });
  ASSERT_TRUE(WaitForHeld(1));
  Send(2);  // queued; its callback calls Listen in Listen's own delivery
  reports_.Release();
  ASSERT_TRUE(WaitForSeen(2));
  const auto deadline = Clock::now() + 10s;
  while (!IsParked(client) && Clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(IsParked(client)) << "the nested Listen lent the state";
  Send(3);
  EXPECT_TRUE(WaitForSeen(3)) << "mask 3 waited while the script waits in the nested Listen";
  input.Write("a");  // the nested Listen returns, the delivery goes on, the outer Listen waits again
  ASSERT_TRUE(WaitForSeen(20));
  Send(4);
  EXPECT_TRUE(WaitForSeen(4)) << "the outer Listen lent its state again";
  input.Write("b");
  script.join();
  EXPECT_EQ(reports_.seen, (std::vector<int>{1, 2, 3, 20, 4}));
  EXPECT_EQ(state->Count("vexlan.RegisterSoftButtonCallback('SFIP', 1, nil)"), 1);
}

// The finaliser called from a callback: in Listen's delivery of what arrived while it delivered what
// waited, on the simulator's thread while the script waits in Listen, and in Listen's delivery of what
// waited. Each returns and leaves the client open; called from the script's code it closes the client.
TEST_F(Waiting, TheFinaliserCalledFromACallbackReturnsAndLeavesTheClientOpen) {
  StdinPipe input;
  auto state = NewState("function(_, _, mask) if mask == 1 then hold() "
                        "else getmetatable(client_userdata()).__gc(client_userdata()) end; seen(mask) end");
  Send(1);
  std::thread script([&] { state->Run("vexlan.Listen()"); });
  ASSERT_TRUE(WaitForHeld(1));
  Send(2);  // queued while mask 1's callback runs
  reports_.Release();
  EndRunIfStuck(WaitForSeen(2), "the finaliser called in Listen's delivery of what arrived returning");
  Send(3);  // on the simulator's thread
  EndRunIfStuck(WaitForSeen(3), "the finaliser called on the simulator's thread returning");
  input.Write("x");
  script.join();
  input.CloseWriteEnd();
  EXPECT_EQ(ClientRegistry::Instance().client_count(), 1) << "the client stays open";
  Send(4);
  Deliver(*state);  // in the delivery of what waited
  EXPECT_TRUE(reports_.Seen(4));
  Send(5);
  Deliver(*state);
  EXPECT_TRUE(reports_.Seen(5)) << "still open";
  ASSERT_EQ(state->Run("getmetatable(client_userdata()).__gc(client_userdata())"), "");
  EXPECT_EQ(ClientRegistry::Instance().client_count(), 0) << "from the script's own code it closes";
  EXPECT_EQ(state->Count("vexlan.RegisterSoftButtonCallback('SFIP', 1, nil)"), 0);
  EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
}

// ---- Opened inside a coroutine --------------------------------------------------------------------------

// A state whose first `require "vexlan"` runs inside the coroutine `opener`, left as `how` leaves it.
class OpenedInACoroutine : public Waiting {
 protected:
  void Open(const char* how) {
    state_ = luaL_newstate();
    PreloadModule(state_);
    lua_register(state_, "seen", LuaSeen);
    ASSERT_EQ(luaL_dostring(state_, how), 0) << lua_tostring(state_, -1);
  }
  void TearDown() override {
    if (state_ != nullptr) lua_close(state_);
    Waiting::TearDown();
  }
  std::string Run(const char* code) {
    if (luaL_dostring(state_, code) == 0) return "";
    std::string error = lua_tostring(state_, -1);
    lua_pop(state_, 1);
    return error;
  }
  // Delivers `mask` both ways: queued for the script's Listen, and while its state is lent.
  void SendBothWays(uint32_t queued, uint32_t lent) {
    Send(queued);
    ASSERT_EQ(Run("vexlan.Listen()"), "");
    ClientEntry* client = FindCallingClient(state_);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(ParkForListen(*client));  // this thread plays the simulator's, as while the script waits
    Send(lent);
    ReturnFromListen(*client);
  }

  lua_State* state_ = nullptr;
};

TEST_F(OpenedInACoroutine, ThatEndedAndWasCollectedEventsStillArrive) {
  for (const char* ending : {"", "error('the script failed')"}) {
    SCOPED_TRACE(*ending == '\0' ? "ended" : "died by an error");
    reports_.seen.clear();
    Open((std::string("local opener = coroutine.create(function()\n"
                      "  require 'vexlan'\n"
                      "  vexlan.RegisterSoftButtonCallback('SFIP', 1, function(_, _, mask)\n"
                      "    if fresh[coroutine.running()] then on_fresh = true end\n"
                      "    seen(mask)\n"
                      "  end)\n") +
          ending +
          " end)\n"
          "coroutine.resume(opener)\n"
          "opener = nil\n"
          "collectgarbage('collect'); collectgarbage('collect')\n"
          "fresh = {}  -- new coroutines, which may take the opener's memory\n"
          "for _ = 1, 200 do fresh[coroutine.create(function() end)] = true end")
             .c_str());
    SendBothWays(1, 2);
    ASSERT_EQ(Run("collectgarbage('collect')"), "");
    SendBothWays(3, 4);
    EXPECT_EQ(reports_.seen, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(Run("assert(not on_fresh, 'a callback ran on a coroutine made after the collection')"), "");
    lua_close(state_);
    state_ = nullptr;
    EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
  }
}

TEST_F(OpenedInACoroutine, ThatIsSuspendedCallbacksRunElsewhereAndRegistrationsThereCount) {
  Open(R"(
    opener = coroutine.create(function() require 'vexlan'; coroutine.yield(); coroutine.yield() end)
    coroutine.resume(opener)
    on_opener = 0
    local function note(_, _, mask)
      if coroutine.running() == opener then on_opener = on_opener + 1 end
      seen(mask)
    end
    coroutine.wrap(function() registered = vexlan.RegisterSoftButtonCallback('SFIP', 1, note) end)()
  )");
  EXPECT_EQ(Run("assert(registered == 0, 'registered from a coroutine')"), "");
  SendBothWays(1, 2);
  ASSERT_EQ(Run("coroutine.resume(opener)"), "");  // suspended again, at another point
  SendBothWays(3, 4);
  EXPECT_EQ(reports_.seen, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(Run("assert(on_opener == 0, 'a callback ran on the suspended opener')"), "");
  EXPECT_EQ(Run("assert(coroutine.status(opener) == 'suspended')"), "");
}

}  // namespace
}  // namespace vexlan::test
