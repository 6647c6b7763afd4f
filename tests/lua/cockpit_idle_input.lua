-- The companion layer's loops with standard input open and idle (run by with_idle_input.sh): they
-- wait on it, and timers and stop() must still take effect.
package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local sim = require "vexlan_sim"
local cockpit = require "vexlan.cockpit"
local FIP = 2
local panel = cockpit.device("SFIP", 1)

T.test("timers tick at their rate in the read loop while no input comes", function()
  local ticks, turns = 0, 0
  local ticker = cockpit.every(0.05, function() ticks = ticks + 1 end)
  cockpit.after(1, cockpit.stop)
  while cockpit.read() do turns = turns + 1 end
  ticker:stop()
  T.eq(turns, 0, "no character came")
  T.truthy(ticks >= 12 and ticks <= 21, "every(0.05) ran " .. ticks .. " times in one second")
end)

T.test("stop() from a listener ends run() and read() within 0.1 s with no timer pending", function()
  local stopped_at
  local listener = panel:on("pressed", function()
    stopped_at = cockpit.clock()
    cockpit.stop()
  end)
  sim.buttons(FIP, 0)
  sim.buttons(FIP, 1)  -- delivered once run() waits
  T.eq(cockpit.run(), "stopped")
  local late = cockpit.clock() - stopped_at
  T.truthy(late < 0.1, "run() ended " .. late .. " s after stop()")
  sim.buttons(FIP, 0)
  sim.buttons(FIP, 1)
  T.eq(select(2, cockpit.read()), "stopped")
  late = cockpit.clock() - stopped_at
  T.truthy(late < 0.1, "read() ended " .. late .. " s after stop()")
  panel:off("pressed", listener)
end)

T.finish()
