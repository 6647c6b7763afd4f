// Many states, each waiting in Listen on its own thread, while the simulated hardware fires events.
// Run under ThreadSanitizer and AddressSanitizer in CI.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "events/dispatch.h"
#include "module/client_registry.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using namespace std::chrono_literals;

constexpr int kStates = 10;
constexpr int kReopening = kStates - 1;  // this one closes and opens again while the events come

constexpr char kSetUp[] = R"(
  buttons, pages, changes = 0, 0, 0
  vexlan.AddPage('SFIP', 1, 1, false)
  vexlan.RegisterSoftButtonCallback('SFIP', 1, function(tag, ordinal, mask)
    buttons = buttons + 1
    vexlan.SetString(tag, ordinal, 1, 1, 'mask ' .. mask)
  end)
  vexlan.RegisterSoftButtonDownCallback('SFIP', 1, function() end)
  vexlan.RegisterPageCallback('SFIP', 1, function() pages = pages + 1 end)
  vexlan.RegisterDeviceChangeCallback(function() changes = changes + 1 end)
)";

struct Counts {
  double buttons = 0, pages = 0, changes = 0;
};

struct Worker {
  std::thread thread;
  std::atomic<bool> done{false};
  double buttons = -1, pages = -1, changes = -1;
  int stack_depth = -1;
};

class Stress : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    input_ = std::make_unique<StdinPipe>();  // open: Listen blocks until fed
  }
  void TearDown() override { input_.reset(); }

  void RunWorker(int index, Worker& worker) {
    auto state = std::make_unique<LuaState>();
    EXPECT_EQ(state->Run(kSetUp), "");
    set_up_.fetch_add(1);
    for (int round = 0; !finish_; ++round) {
      wake_ups_wanted_.fetch_add(1);
      state->Run("vexlan.Listen()");
      // Churn registrations that the counts do not depend on.
      state->Run(round % 2 ? "vexlan.RegisterSoftButtonUpCallback('X52P', 1, print)"
                           : "vexlan.RegisterSoftButtonUpCallback('X52P', 1, nil)");
      state->Run(round % 3 ? "vexlan.RegisterPageCallback('X52P', 1, 'tostring')"
                           : "vexlan.RegisterPageCallback('X52P', 1, nil)");
      if (index == kReopening && round == 50) Reopen(state);
    }
    if (index == kReopening && !reopened_) Reopen(state);  // a slow machine: after the firing
    wake_ups_wanted_.fetch_add(1);
    state->Run("vexlan.Listen()");  // takes whatever still waited for this state
    worker.buttons = state->Number("buttons");
    worker.pages = state->Number("pages");
    worker.changes = state->Number("changes");
    worker.stack_depth = lua_gettop(state->get());
    state.reset();
    worker.done = true;
  }

  // The firing stops while one state closes and another opens in its place, so that each has an exact
  // count: the closing state every event fired before the pause, the new one every event after it.
  void Reopen(std::unique_ptr<LuaState>& state) {
    pause_wanted_ = true;
    while (!paused_ && !fired_all_) std::this_thread::yield();
    wake_ups_wanted_.fetch_add(1);
    state->Run("vexlan.Listen()");  // takes what waited for it: every event fired so far reached the module
    first_life_ = {state->Number("buttons"), state->Number("pages"), state->Number("changes")};
    state.reset();  // the new state takes the freed entry
    state = std::make_unique<LuaState>();
    EXPECT_EQ(state->Run(kSetUp), "");
    reopened_ = true;
  }
  // Called by the firing loop at every round.
  void PauseIfWanted(const Counts& fired) {
    if (!pause_wanted_ || paused_) return;
    sim::Flush();
    fired_before_reopening_ = fired;
    paused_ = true;
    while (!reopened_) std::this_thread::yield();
  }

  std::unique_ptr<StdinPipe> input_;
  std::atomic<bool> pause_wanted_{false}, paused_{false}, reopened_{false}, fired_all_{false};
  Counts fired_before_reopening_, first_life_;
  std::atomic<bool> finish_{false};
  std::atomic<int> set_up_{0};
  std::atomic<int> wake_ups_wanted_{0};
};

TEST_F(Stress, EveryEventReachesEveryStateThatHeldItsCallbackExactlyOnce) {
  std::vector<Worker> workers(kStates);
  for (int i = 0; i < kStates; ++i) workers[i].thread = std::thread([this, i, &workers] { RunWorker(i, workers[i]); });
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (set_up_ < kStates && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_EQ(set_up_, kStates);

  // One character for each Listen a script is about to make, so the pipe never fills up.
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    for (int written = 0; feeding;) {
      if (written < wake_ups_wanted_.load()) {
        std::this_thread::sleep_for(100us);  // let callbacks run while the scripts wait
        input_->Write("x");
        ++written;
      } else {
        std::this_thread::yield();
      }
    }
  });

  Counts fired;
  const int third = sim::Plug("ABCD");
  sim::Flush();  // its arrival is read while it is there: an arrival read after the unit left is not reported
  ++fired.changes;
  const auto stop_at = std::chrono::steady_clock::now() + 3s;
  for (int round = 0; std::chrono::steady_clock::now() < stop_at; ++round) {
    PauseIfWanted(fired);
    sim::Buttons(kFip, static_cast<uint32_t>(round));
    ++fired.buttons;
    sim::Buttons(kX52, static_cast<uint32_t>(round));
    if (round % 4 == 0) {
      sim::PageChange(kFip, 1, round % 8 == 0);
      ++fired.pages;
    }
    if (round % 16 == 0) {
      sim::Unplug(third);
      sim::Replug(third, false);
      sim::Flush();  // the arrival is read before the unit leaves again
      fired.changes += 2;
    }
    if (round % 32 == 0) sim::Flush();  // keep the queues well below their bound
  }
  sim::Flush();
  if (!paused_) fired_before_reopening_ = fired;  // the state reopens after the firing
  fired_all_ = true;
  finish_ = true;
  for (Worker& worker : workers) worker.thread.join();
  feeding = false;
  feeder.join();

  ASSERT_TRUE(reopened_);
  for (int i = 0; i < kStates; ++i) {
    EXPECT_EQ(workers[i].stack_depth, 0) << "state " << i;
    Counts expected = fired;
    if (i == kReopening) {
      expected = {fired.buttons - fired_before_reopening_.buttons, fired.pages - fired_before_reopening_.pages,
                  fired.changes - fired_before_reopening_.changes};
      EXPECT_EQ(first_life_.buttons, fired_before_reopening_.buttons) << "the state before it closed";
      EXPECT_EQ(first_life_.pages, fired_before_reopening_.pages) << "the state before it closed";
      EXPECT_EQ(first_life_.changes, fired_before_reopening_.changes) << "the state before it closed";
    }
    EXPECT_EQ(workers[i].buttons, expected.buttons) << "state " << i;
    EXPECT_EQ(workers[i].pages, expected.pages) << "state " << i;
    EXPECT_EQ(workers[i].changes, expected.changes) << "state " << i;
  }
  EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
}

}  // namespace
}  // namespace vexlan::test
