-- A script whose first require of the module (here through the companion layer) runs inside a coroutine,
-- as hosts that run each script as a coroutine do: callbacks never run on that coroutine's stack, and
-- everything keeps working once it has ended and been collected.
package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local FIP = 2

local opener = coroutine.create(function()
  local cockpit = require "vexlan.cockpit"
  coroutine.yield(cockpit)
  local panel = cockpit.device("SFIP", 1)
  local downs, threads = {}, {}
  panel:on("down", function(_, mask)  -- registered inside the coroutine
    downs[#downs + 1] = mask
    threads[#threads + 1] = coroutine.running()
  end)
  return downs, threads
end)
local _, cockpit = assert(coroutine.resume(opener))
local v = require "vexlan"
local sim = require "vexlan_sim"
local loop = require "vexlan.loop"

-- Lets callbacks run, queued or at once on the simulator's thread, until `condition()` or 5 s.
local function wait_for(condition)
  local deadline = loop.clock() + 5
  while not condition() and loop.clock() < deadline do loop.wait(0.01) end
  return condition()
end

T.test("callbacks never run on the suspended coroutine that opened the module", function()
  local threads = {}
  v.RegisterSoftButtonCallback("SFIP", 1, function() threads[#threads + 1] = coroutine.running() or "main" end)
  sim.buttons(FIP, 1)
  T.deliver(sim, v)  -- queued, run by Listen
  sim.buttons(FIP, 2)
  T.truthy(wait_for(function() return #threads == 2 end), "delivered while waiting")
  for _, thread in ipairs(threads) do T.truthy(thread ~= opener, "ran on the opener") end
  T.eq(coroutine.status(opener), "suspended")
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("a callback cannot yield the thread it runs on; the next still runs", function()
  local after = 0
  v.RegisterSoftButtonCallback("SFIP", 1, function() coroutine.yield("out") end)
  v.RegisterSoftButtonDownCallback("SFIP", 1, function() after = after + 1 end)
  sim.buttons(FIP, 0); sim.buttons(FIP, 4)
  T.deliver(sim, v)
  sim.buttons(FIP, 0); sim.buttons(FIP, 4)
  T.truthy(wait_for(function() return after == 2 end), "both down callbacks ran")
  v.RegisterSoftButtonCallback("SFIP", 1, nil); v.RegisterSoftButtonDownCallback("SFIP", 1, nil)
end)

T.test("once the opener has ended and been collected, events still arrive, also to the layer", function()
  local ok, downs, threads = coroutine.resume(opener)
  T.truthy(ok and coroutine.status(opener) == "dead", "the opener ended")
  local weak = setmetatable({ opener }, { __mode = "v" })
  opener = nil
  collectgarbage("collect"); collectgarbage("collect")
  T.eq(weak[1], nil, "the opener was collected")
  local fresh = {}  -- new coroutines, which may take the opener's memory
  for _ = 1, 200 do fresh[coroutine.create(function() end)] = true end
  local changes = 0
  cockpit.on("added", function() changes = changes + 1 end)
  sim.buttons(FIP, 0); sim.buttons(FIP, 8)
  sim.flush(); cockpit.poll()  -- queued, run by the layer's poll
  T.eq(downs[1], 8)
  sim.buttons(FIP, 0); sim.buttons(FIP, 16)
  T.truthy(wait_for(function() return downs[2] == 16 end), "delivered while waiting")
  sim.unplug(FIP); sim.replug(FIP)
  T.truthy(wait_for(function() return changes == 1 end), "the layer saw the unit return")
  collectgarbage("collect")
  sim.buttons(FIP, 0); sim.buttons(FIP, 32)
  T.truthy(wait_for(function() return downs[3] == 32 end), "and its buttons after that")
  for _, thread in ipairs(threads) do T.truthy(not fresh[thread], "ran on a coroutine made after the collection") end
end)

T.finish()
