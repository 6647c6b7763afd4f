#include <memory>
#include <vector>

#include "devices/device_table_testing.h"
#include "module/client_registry.h"
#include "tests/support/directoutput_config.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using Opening = ModuleTest;

TEST_F(Opening, StatesShareOneInitialisationAndTheLastCloseEndsIt) {
  auto first = std::make_unique<LuaState>();
  auto second = std::make_unique<LuaState>();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 2);
  EXPECT_EQ(CountCalls("Initialize"), 1);
  EXPECT_EQ(CountCalls("Enumerate"), 1);
  EXPECT_EQ(first->Number("vexlan.GetNumDevices()"), 2);
  EXPECT_EQ(second->Number("vexlan.GetNumDevices('SFIP')"), 1);
  first.reset();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 1);
  EXPECT_TRUE(sim::Initialized());
  EXPECT_EQ(second->Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  second.reset();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
  EXPECT_FALSE(sim::Initialized());
  EXPECT_EQ(CountCalls("Deinitialize"), 1);
}

TEST_F(Opening, AnEleventhStateLoadsButGetsNoClientEntry) {
  std::vector<std::unique_ptr<LuaState>> states;
  for (int i = 0; i < 11; ++i) states.push_back(std::make_unique<LuaState>());
  EXPECT_EQ(ClientRegistry::Instance().client_count(), 10);
  LuaState& eleventh = *states.back();
  EXPECT_EQ(eleventh.Count("vexlan.GetVersion()"), 5);
  EXPECT_EQ(eleventh.Number("vexlan.GetNumDevices()"), 2);
  EXPECT_EQ(eleventh.Number("vexlan.AddPage('SFIP', 1, 1, true)"), 0);
  EXPECT_EQ(eleventh.Count("vexlan.RegisterDeviceChangeCallback(print)"), 0);
  EXPECT_EQ(eleventh.Count("vexlan.RegisterSoftButtonCallback('SFIP', 1, print)"), 0);
  // Closing the eleventh touches no entry and closes the manager once.
  states.pop_back();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 10);
  EXPECT_EQ(ClientRegistry::Instance().client_count(), 10);
  EXPECT_EQ(states[0]->Count("vexlan.RegisterDeviceChangeCallback(print)"), 1);
  states.erase(states.begin() + 3);
  LuaState again;  // takes the freed entry with its references reset
  EXPECT_EQ(ClientRegistry::Instance().client_count(), 10);
  EXPECT_EQ(again.Number("vexlan.RegisterDeviceChangeCallback(print)"), 0);
  states.clear();
}

TEST_F(Opening, OpeningTwiceInOneStateTakesTwoEntriesAndClosingBalancesBoth) {
  {
    LuaState state;
    ClientEntry* first = FindCallingClient(state.get());
    ASSERT_NE(first, nullptr);
    lua_pushcfunction(state.get(), luaopen_vexlan);
    lua_call(state.get(), 0, 0);
    EXPECT_EQ(DeviceManager::Instance().open_count(), 2);
    EXPECT_EQ(ClientRegistry::Instance().client_count(), 2);
    EXPECT_EQ(FindCallingClient(state.get()), first);
  }
  EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
  EXPECT_EQ(ClientRegistry::Instance().client_count(), 0);
}

TEST_F(Opening, AfterTheLastCloseANewStateSeesAClearedRenumberedTable) {
  {
    LuaState state;
    sim::Unplug(kX52);
    sim::Plug("SFIP");
    Deliver(state);
    EXPECT_EQ(DeviceTableTesting::count(DeviceManager::Instance().table()), 3);
    EXPECT_EQ(state.Count("vexlan.AddPage('X52P', 1, 1, false)"), 0) << "ordinal 1 is the unplugged unit";
    EXPECT_EQ(state.Number("vexlan.AddPage('SFIP', 2, 1, false)"), 0);
  }
  LuaState fresh;
  EXPECT_EQ(DeviceTableTesting::count(DeviceManager::Instance().table()), 2) << "rebuilt from the new enumeration alone";
  EXPECT_STREQ(TagString(DeviceTableTesting::NameOfSlot(DeviceManager::Instance().table(), 0).tag), "SFIP");
  EXPECT_EQ(fresh.Count("vexlan.AddPage('X52P', 1, 1, false)"), 0);
  EXPECT_EQ(fresh.Number("vexlan.AddPage('SFIP', 2, 2, false)"), 0);
}

TEST_F(Opening, WithoutALibraryDeviceFunctionsAnswerNothingAndClosesBalance) {
  RemoveDirectOutputConfiguration();
  {
    LuaState state;
    EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
    EXPECT_EQ(state.Count("vexlan.GetVersion()"), 5);
    for (const char* call : {"vexlan.GetNumDevices()", "vexlan.AddPage('SFIP', 1, 1, true)",
                             "vexlan.RegisterDeviceChangeCallback(print)", "vexlan.SetString('SFIP',1,1,1,'x')"})
      EXPECT_EQ(state.Count(call), 0) << call;
    LuaState second;
    EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
  }
  // Closing after a failed open leaves everything untouched: nothing was initialised.
  EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
  EXPECT_EQ(CountCalls("Deinitialize"), 0);
  ConfigureDirectOutput(SimulatorPath());
  LuaState working;
  EXPECT_EQ(working.Number("vexlan.GetNumDevices()"), 2);
}

TEST_F(Opening, AFailingInitializeLeavesTheManagerClosed) {
  sim::Fail("Initialize", kE_NOTIMPL);
  {
    LuaState state;
    EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
    EXPECT_EQ(CountCalls("Enumerate"), 0);
  }
  EXPECT_EQ(CountCalls("Deinitialize"), 0);
}

}  // namespace
}  // namespace vexlan::test
