// A fixture for tests of the whole module against the simulated library: fresh simulated devices
// (an X52 Pro, then a panel), no Lua state open, and standard input at its end so that Listen
// delivers what waited and returns at once.
#pragma once

#include <gtest/gtest.h>

#include "devices/device_manager.h"
#include "module/lua_functions.h"
#include "simulator/sim_control.h"
#include "tests/support/lua_state.h"
#include "tests/support/stdin_pipe.h"

namespace vexlan::test {

class ModuleTest : public testing::Test {
 protected:
  static constexpr int kX52 = 1;  // simulator ids of the two devices attached at start
  static constexpr int kFip = 2;

  void SetUp() override {
    ASSERT_EQ(DeviceManager::Instance().open_count(), 0) << "a previous test left a state open";
    sim::Reset("X52P,SFIP");
    input_.CloseWriteEnd();
  }

  static int CountCalls(const std::string& name) {
    int n = 0;
    for (const sim::CallRecord& call : sim::Calls()) n += call.name == name;
    return n;
  }
  static sim::CallRecord LastCall(const std::string& name) {
    sim::CallRecord last;
    for (const sim::CallRecord& call : sim::Calls())
      if (call.name == name) last = call;
    return last;
  }
  // Every queued event reaches the module, then `state` takes what waited for it.
  static void Deliver(LuaState& state) {
    sim::Flush();
    state.Run("vexlan.Listen()");
  }

  StdinPipe input_;
};

}  // namespace vexlan::test
