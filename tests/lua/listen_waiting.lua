-- Run with listen_waiting.scenario played (VEXLAN_SIM_SCENARIO), which owns standard input: every event
-- that reaches the module while the script waits in Listen runs before that Listen returns, also when it
-- arrived while Listen was running a callback, and in a Listen nested in such a callback; the client's
-- finaliser called from a callback returns. Times are seconds from the first require, as the scenario's.
package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local loop = require "vexlan.loop"
local start = loop.clock()  -- just before the scenario starts, with the module's first open
local v = require "vexlan"
local function now() return loop.clock() - start end
local function busy_until(t) while now() < t do end end

local listening = 0  -- how deep the script is in Listen
local ran = {}       -- mask -> { at = time, depth = listening then }
local order = {}
local finaliser_returned = {}
local function finalise()
  local registry = debug.getregistry()
  for _, value in pairs(registry) do
    if type(value) == "userdata" and getmetatable(value) == registry.LuaVexlanLibData then
      registry.LuaVexlanLibData.__gc(value)
    end
  end
end
local function listen()
  listening = listening + 1
  v.Listen()
  listening = listening - 1
end

v.RegisterSoftButtonCallback("SFIP", 1, function(_, _, mask)
  ran[mask] = { at = now(), depth = listening }
  order[#order + 1] = mask
  if mask == 1 then busy_until(1.9) end
  if mask == 2 then busy_until(2.5) end
  if mask == 4 then busy_until(4.5) end
  if mask == 5 then listen() end
  if mask == 7 then busy_until(7.0) end
  if mask == 8 or mask == 9 then
    finalise()
    finaliser_returned[mask] = true
  end
end)

busy_until(1.3)
listen()
T.test("an event that arrived while Listen ran a callback runs before that Listen returns", function()
  T.truthy(ran[3], "mask 3 ran")
  T.eq(ran[3].depth, 1, "mask 3 ran inside the first Listen")
  T.truthy(ran[3].at < 3.4, "mask 3 ran at " .. ran[3].at .. " s, before the key at 3.5 s")
end)

busy_until(4.0)
listen()
T.test("an event that arrives while a nested Listen waits runs then", function()
  T.truthy(ran[6], "mask 6 ran")
  T.eq(ran[6].depth, 2, "mask 6 ran inside the nested Listen")
  T.truthy(ran[6].at < 5.4, "mask 6 ran at " .. ran[6].at .. " s, before the key at 5.5 s")
end)

busy_until(6.5)
listen()
T.test("the finaliser called from a callback returns, and leaves the client open", function()
  T.truthy(finaliser_returned[8], "in Listen's delivery of what arrived while it ran a callback")
  T.truthy(finaliser_returned[9], "on the simulator's thread while the script waits")
  T.eq(ran[9].depth, 1)
  T.eq(v.RegisterSoftButtonCallback("SFIP", 1, nil), 0, "the client is still open")
  finalise()
  T.eq(T.count(v.RegisterSoftButtonCallback("SFIP", 1, nil)), 0, "closed from the script's own code")
end)

T.test("every event ran once, in order", function()
  T.eq(table.concat(order, ","), "1,2,3,4,5,6,7,8,9")
end)

T.finish()
