// The companion layer in several Lua states that share one unit, and in a state beyond the module's ten.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

class CockpitStates : public ModuleTest {
 protected:
  // Loads the layer from the sources into `state` as `cockpit`; gives "" or the error.
  static std::string LoadLayer(LuaState& state) {
    return state.Run("package.path = '" VEXLAN_TEST_DATA "/../lua/?.lua;' .. package.path\n"
                     "cockpit = require 'vexlan.cockpit'");
  }
};

// Page and soft-button registrations are per unit for all states: a layer that removes its last
// listener must leave them to the states that still listen, through the layer or through the module.
TEST_F(CockpitStates, OneStatesOffSilencesNoOtherState) {
  LuaState leaving, staying, plain;
  ASSERT_EQ(LoadLayer(leaving), "");
  ASSERT_EQ(LoadLayer(staying), "");
  ASSERT_EQ(plain.Run("downs, pages = 0, 0\n"
                      "vexlan.RegisterSoftButtonDownCallback('SFIP', 1, function() downs = downs + 1 end)\n"
                      "vexlan.RegisterPageCallback('SFIP', 1, function() pages = pages + 1 end)"),
            "");
  ASSERT_EQ(staying.Run("presses = 0\n"
                        "cockpit.device('SFIP', 1):on('pressed', function() presses = presses + 1 end)"),
            "");
  ASSERT_EQ(leaving.Run("local panel = cockpit.device('SFIP', 1)\n"
                        "panel:off('down', panel:on('down', print))\n"
                        "panel:off('page', panel:on('page', print))"),
            "");
  sim::Buttons(kFip, 0x1);
  sim::PageChange(kFip, 1, true);
  sim::Flush();
  ASSERT_EQ(plain.Run("vexlan.Listen()"), "");
  ASSERT_EQ(staying.Run("cockpit.poll()"), "");
  EXPECT_EQ(plain.Number("downs"), 1);
  EXPECT_EQ(plain.Number("pages"), 1);
  EXPECT_EQ(staying.Number("presses"), 1);
}

TEST_F(CockpitStates, AStateBeyondTheTenthIsToldWhyTheLayerCannotWork) {
  std::vector<std::unique_ptr<LuaState>> ten;
  for (int i = 0; i < 10; ++i) ten.push_back(std::make_unique<LuaState>());
  LuaState eleventh;
  const std::string error = LoadLayer(eleventh);
  EXPECT_NE(error.find("vexlan.cockpit: the module sends this Lua state no events: it serves at most 10 Lua states"),
            std::string::npos)
      << error;
  ten.clear();
}

// The same as tests/lua/cockpit_idle_input.lua checks in the interpreters, on a pipe the host made, which
// also holds under Wine.
TEST_F(CockpitStates, WithInputOpenAndIdleTimersTickAndAStopFromAListenerEndsTheLoopsAtOnce) {
  StdinPipe input;  // open, and nothing comes
  LuaState state;
  ASSERT_EQ(LoadLayer(state), "");
  ASSERT_EQ(state.Run("ticks, turns = 0, 0\n"
                      "local ticker = cockpit.every(0.05, function() ticks = ticks + 1 end)\n"
                      "cockpit.after(1, cockpit.stop)\n"
                      "while cockpit.read() do turns = turns + 1 end\n"
                      "ticker:stop()\n"
                      "cockpit.device('SFIP', 1):on('pressed', function()\n"
                      "  stopped_at = cockpit.clock()\n"
                      "  cockpit.stop()\n"
                      "end)"),
            "");
  EXPECT_EQ(state.Number("turns"), 0);
  EXPECT_GE(state.Number("ticks"), 12) << "every(0.05) for one second";
  EXPECT_LE(state.Number("ticks"), 21);
  sim::Buttons(kFip, 0x0);
  sim::Buttons(kFip, 0x1);  // delivered once run() waits
  ASSERT_EQ(state.Run("reason = cockpit.run()"), "");
  EXPECT_EQ(state.Number("reason == 'stopped' and 1 or 0"), 1);
  EXPECT_LT(state.Number("cockpit.clock() - stopped_at"), 0.1);
}

}  // namespace
}  // namespace vexlan::test
