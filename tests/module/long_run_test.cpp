// Long runs in one process: states opened and closed over and over, a flood of events for a state that
// never listens, units unplugged and plugged back again and again. Memory stays flat and the counts stay
// right.
#include <chrono>
#include <cstdio>
#include <string>

#include "devices/device_table_testing.h"
#include "events/dispatch.h"
#include "events/dispatch_testing.h"
#include "tests/support/module_file.h"
#include "tests/support/module_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXLAN_ADDRESS_SANITIZER 1
#include <sanitizer/lsan_interface.h>
#endif
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEXLAN_SANITIZER_ALLOCATOR 1
#include <sanitizer/allocator_interface.h>
#endif
#endif
#if !defined(VEXLAN_SANITIZER_ALLOCATOR) && defined(__GLIBC__)
#include <malloc.h>
#endif

#ifndef VEXLAN_LONG_RUN_CYCLES
#define VEXLAN_LONG_RUN_CYCLES 1000
#endif
#ifndef VEXLAN_LONG_RUN_EVENTS
#define VEXLAN_LONG_RUN_EVENTS 1000000
#endif
#ifndef VEXLAN_LONG_RUN_REPLUGS
#define VEXLAN_LONG_RUN_REPLUGS 10000
#endif
#ifndef VEXLAN_LONG_RUN_FRAMES
#define VEXLAN_LONG_RUN_FRAMES 18000  // ten minutes at 30 frames a second
#endif

namespace vexlan::test {
namespace {

// The heap's bytes handed out and not yet freed; 0 where the C library cannot tell (Windows).
size_t HeapInUse() {
#if defined(VEXLAN_SANITIZER_ALLOCATOR)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

// Memory before and after a run. Resident (Windows: private) memory is compared only without a
// sanitizer: AddressSanitizer's quarantine holds freed blocks back, and ThreadSanitizer keeps records of
// every thread that ran (some 5 KB each); there the allocator's live bytes say what is kept.
struct Memory {
  size_t heap = HeapInUse();
  size_t process = ProcessMemoryBytes();
};

long KiB(size_t after, size_t before) { return (static_cast<long>(after) - static_cast<long>(before)) / 1024; }

void ExpectFlat(const Memory& before, const Memory& after) {
  constexpr size_t kSlack = 64 * 1024;  // what the C library and the simulator keep in passing
  EXPECT_LE(after.heap, before.heap + kSlack) << "heap grew by " << KiB(after.heap, before.heap) << " KB";
#ifndef VEXLAN_SANITIZER_ALLOCATOR
  EXPECT_LT(after.process, before.process + 2 * 1024 * 1024)
      << "process memory grew by " << KiB(after.process, before.process) << " KB";
#endif
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class LongRun : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    sim::SetRecording(false);  // the record would grow with the run
  }
  void TearDown() override { sim::SetRecording(true); }
};

// One state's life: the first open, callbacks, output of each kind (a picture, with the storage a state
// keeps for it, every tenth time: converting one is slow in the sanitizer builds), events waiting and
// delivered, the last close.
constexpr char kSession[] = R"(
  local heard = 0
  local function count() heard = heard + 1 end
  assert(vexlan.RegisterDeviceChangeCallback(count) == 0)
  assert(vexlan.RegisterSoftButtonCallback('SFIP', 1, count) == 0)
  assert(vexlan.RegisterPageCallback('X52P', 1, count) == 0)
  assert(vexlan.AddPage('SFIP', 1, 1, true) == 0)
  assert(vexlan.SetString('SFIP', 1, 1, 1, 'cycle') == 0)
  assert(vexlan.SetLed('SFIP', 1, 1, 1, true) == 0)
  if with_image then assert(vexlan.SetImage('SFIP', 1, 1, 1, string.rep('x', 307224)) == 0) end
  assert(vexlan.RemovePage('SFIP', 1, 1) == 0)
  function heard_count() return heard end
)";

void Session(int cycle) {
  LuaState state;
  ASSERT_EQ(state.Run(cycle % 10 == 0 ? "with_image = true" : "with_image = false"), "");
  ASSERT_EQ(state.Run(kSession), "");
  sim::Buttons(2, 1);           // the panel
  sim::PageChange(1, 1, true);  // the X52 Pro
  sim::Flush();
  state.Run("vexlan.Listen()");
  ASSERT_EQ(state.Number("heard_count()"), 2);
}

TEST_F(LongRun, FirstOpensAndLastClosesLeakNothing) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) Session(i);  // what the first cycles allocate for good (the loaded library)
  const Memory before;
  for (int i = 0; i < VEXLAN_LONG_RUN_CYCLES; ++i) {
    Session(i);
    ASSERT_EQ(DeviceManager::Instance().open_count(), 0) << "cycle " << i;
    if (HasFatalFailure()) return;
  }
  const Memory after;
  std::printf("%d cycles in %.2f s; heap %+ld KB, process %+ld KB of %ld MB\n", VEXLAN_LONG_RUN_CYCLES, Seconds(start),
              KiB(after.heap, before.heap), KiB(after.process, before.process), KiB(after.process, 0) / 1024);
  ExpectFlat(before, after);  // the library is loaded again at each first open: that adds nothing
  EXPECT_FALSE(sim::Initialized()) << "the last close deinitialised";
#ifdef VEXLAN_ADDRESS_SANITIZER
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "LeakSanitizer found leaks (reported above)";
#endif
}

TEST_F(LongRun, AStateThatNeverListensHoldsOnlyItsQueue) {
  LuaState state;
  ASSERT_EQ(state.Run("masks = {}; vexlan.RegisterSoftButtonCallback('SFIP', 1, function(_, _, mask) "
                      "masks[#masks + 1] = mask end)"),
            "");
  ClientEntry& client = *FindCallingClient(state.get());
  constexpr uint32_t kEvents = VEXLAN_LONG_RUN_EVENTS;
  constexpr uint32_t kBatch = 1000;  // the simulator's own queue stays short
  const auto start = std::chrono::steady_clock::now();
  auto fire = [](uint32_t from, uint32_t to) {
    for (uint32_t mask = from; mask < to; ++mask) {
      sim::Buttons(kFip, mask);
      if ((mask + 1) % kBatch == 0) sim::Flush();
    }
    sim::Flush();
  };
  fire(0, 2 * kEventQueueCapacity);  // the queue full
  const Memory before;
  fire(2 * kEventQueueCapacity, kEvents);
  const Memory after;
  std::printf("%u events in %.2f s; heap %+ld KB, process %+ld KB of %ld MB\n", kEvents, Seconds(start),
              KiB(after.heap, before.heap), KiB(after.process, before.process), KiB(after.process, 0) / 1024);
  ExpectFlat(before, after);
  EXPECT_EQ(DroppedEvents(client), kEvents - kEventQueueCapacity);
  EXPECT_EQ(state.Number("#masks"), 0) << "nothing ran in a state that never listened";

  state.Run("vexlan.Listen()");  // the newest events waited, in order
  EXPECT_EQ(state.Number("#masks"), kEventQueueCapacity);
  EXPECT_EQ(state.Number("masks[1]"), kEvents - kEventQueueCapacity);
  EXPECT_EQ(state.Number("masks[#masks]"), kEvents - 1);
}

TEST_F(LongRun, UnitsUnpluggedAndPluggedBackAgainAndAgainStayAddressable) {
  LuaState state;
  ASSERT_EQ(state.Run(R"(
    arrived, removed, buttons, last_mask = {}, {}, 0, -1
    vexlan.RegisterDeviceChangeCallback(function(tag, ordinal, added)
      local counts = added and arrived or removed
      counts[tag .. ordinal] = (counts[tag .. ordinal] or 0) + 1
    end)
    vexlan.RegisterSoftButtonCallback('SFIP', 1, function(_, _, mask) buttons = buttons + 1; last_mask = mask end)
  )"),
            "");
  constexpr int kCycles = VEXLAN_LONG_RUN_REPLUGS;
  constexpr int kDeliverEvery = 100;  // five events a cycle: the state's queue never overflows
  const auto start = std::chrono::steady_clock::now();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    sim::Unplug(kX52);
    sim::Unplug(kFip);
    sim::Replug(kX52, cycle % 2 == 1);  // every other time under a handle never seen
    sim::Replug(kFip, false);
    sim::Flush();                                      // each unit stays long enough for its arrival to be read
    sim::Buttons(kFip, static_cast<uint32_t>(cycle));  // its registration belongs to the handle it kept
    if ((cycle + 1) % kDeliverEvery == 0) Deliver(state);
  }
  Deliver(state);
  std::printf("%d unplug and replug cycles in %.2f s\n", kCycles, Seconds(start));

  EXPECT_EQ(DroppedEvents(*FindCallingClient(state.get())), 0u);
  for (const char* unit : {"X52P1", "SFIP1"}) {
    EXPECT_EQ(state.Number(std::string("arrived.") + unit), kCycles) << unit;
    EXPECT_EQ(state.Number(std::string("removed.") + unit), kCycles) << unit;
  }
  EXPECT_EQ(state.Number("(function() local n = 0; for _ in pairs(arrived) do n = n + 1 end; return n end)()"), 2)
      << "no other unit was reported";
  EXPECT_EQ(state.Number("buttons"), kCycles);
  EXPECT_EQ(state.Number("last_mask"), kCycles - 1);

  EXPECT_EQ(DeviceTableTesting::count(DeviceManager::Instance().table()), 2) << "each unit kept its slot";
  EXPECT_EQ(state.Number("vexlan.GetNumDevices()"), 2);
  sim::SetRecording(true);
  for (const auto& [tag, id] : {std::pair<std::string, int>{"X52P", kX52}, {"SFIP", kFip}}) {
    EXPECT_EQ(state.Number("vexlan.AddPage('" + tag + "', 1, 1, true)"), 0) << tag;
    EXPECT_EQ(LastCall("AddPage").id, id) << tag << " 1 still names the same unit";
  }
}

// A script as users run one for hours while they develop it: the layer and a canvas at every frame,
// buttons pressed, units unplugged and plugged back, and the simulated library recording its calls as it
// does by default. Frames run back to back: what grows, grows per frame.
constexpr char kFrameScript[] = R"(
  cockpit = require 'vexlan.cockpit'
  canvas = require 'vexlan.canvas'
  panel, x52 = cockpit.device('SFIP', 1), cockpit.device('X52P', 1)
  panel:add_page(1, true)
  x52:add_page(1, true)
  picture = canvas.new()
  frames, presses, arrivals = 0, 0, 0
  panel:on('down', function() presses = presses + 1 end)
  cockpit.on('added', function() arrivals = arrivals + 1 end)
  function frame()
    frames = frames + 1
    picture:fill(frames % 256):text(10, 10, 'frame ' .. frames, 0xffffff)
    panel:set_image(1, 1, picture)
    x52:set_string(1, 1, 'T+' .. frames)
    x52:set_led(1, frames % 20 + 1, frames % 2 == 0)  -- the layer counts LEDs from 1
    cockpit.poll()
  end
)";

TEST_F(LongRun, TheSimulatedLibraryKeepsItsSizeOverHoursOfFramesWhileRecording) {
  sim::SetRecording(true);
  LuaState state;
  ASSERT_EQ(state.Run(kFrameScript), "");
  constexpr int kFrames = VEXLAN_LONG_RUN_FRAMES;
  int presses = 0, replugs = 0;
  auto run_frame = [&](int frame) {
    if (frame % 30 == 0) {  // a press a second
      sim::Buttons(kFip, 1);
      sim::Buttons(kFip, 0);
      ++presses;
    }
    if (frame % 300 == 150) {  // both units out and back every ten seconds, every other time under a new handle
      sim::Unplug(kX52);
      sim::Unplug(kFip);
      sim::Replug(kX52, replugs % 2 == 1);
      sim::Replug(kFip, replugs % 2 == 1);
      ++replugs;
    }
    sim::Flush();
    return state.Run("frame()");
  };
  auto memory_now = [&] {
    state.Run("collectgarbage()");  // the script's own garbage comes and goes with the collector's cycles
    return Memory();
  };
  const auto start = std::chrono::steady_clock::now();
  int frame = 0;
  for (; (sim::ForgottenCalls() == 0 || frame % 300 != 0) && frame < kFrames / 2; ++frame)  // the record fills
    ASSERT_EQ(run_frame(frame), "") << "frame " << frame;
  const int warm_up = frame;
  EXPECT_GT(sim::ForgottenCalls(), 0u) << "the record was full before the measure";
  const Memory before = memory_now();
  for (; frame < kFrames; ++frame) ASSERT_EQ(run_frame(frame), "") << "frame " << frame;
  const Memory after = memory_now();
  std::printf("%d frames with %d replugs in %.2f s; over the last %d: heap %+ld KB, process %+ld KB of %ld MB\n",
              kFrames, replugs, Seconds(start), kFrames - warm_up, KiB(after.heap, before.heap),
              KiB(after.process, before.process), KiB(after.process, 0) / 1024);
  ExpectFlat(before, after);

  EXPECT_EQ(state.Number("frames"), kFrames);
  EXPECT_EQ(state.Number("presses"), presses);
  EXPECT_EQ(state.Number("arrivals"), 2 * replugs);
  EXPECT_EQ(sim::Calls().size(), sim::kMaxRecordedCalls) << "recording all along";
  EXPECT_GT(sim::ForgottenCalls(), 0u);
  EXPECT_EQ(sim::Calls().back().name, "SetLed");
}

}  // namespace
}  // namespace vexlan::test
