package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local X52, FIP = 1, 2

local changes = {}
v.RegisterDeviceChangeCallback(function(tag, ordinal, added)
  changes[#changes + 1] = tag .. ordinal .. (added and "+" or "-")
end)

T.test("devices present at the first open are not reported", function()
  T.deliver(sim, v)
  T.eq(#changes, 0)
end)

T.test("plug and unplug are reported and change the counts", function()
  local id = sim.plug("SFIP")
  T.deliver(sim, v)
  T.eq(table.concat(changes, " "), "SFIP2+")
  T.eq(v.GetNumDevices(), 3); T.eq(v.GetNumDevices("SFIP"), 2)
  sim.unplug(id)
  T.deliver(sim, v)
  T.eq(table.concat(changes, " "), "SFIP2+ SFIP2-", "a removed slot keeps its ordinal")
  T.eq(v.GetNumDevices("SFIP"), 1)
  T.eq(T.count(v.AddPage("SFIP", 2, 1, true)), 0, "an unplugged device answers nothing")
  changes = {}
end)

T.test("the same unit back under its old handle gets its old slot", function()
  sim.unplug(X52)
  T.deliver(sim, v)
  T.eq(T.count(v.SetLed("X52P", 1, 0, 0, true)), 0)
  sim.replug(X52)
  T.deliver(sim, v)
  T.eq(table.concat(changes, " "), "X52P1- X52P1+")
  T.eq(v.AddPage("X52P", 1, 1, true), 0)
  T.eq(sim.pages(X52)[1], 1)
  changes = {}
end)

T.test("back under a new handle, it is matched to its absent slot", function()
  sim.unplug(FIP)
  T.deliver(sim, v)
  sim.replug(FIP, true)
  T.deliver(sim, v)
  T.eq(table.concat(changes, " "), "SFIP1- SFIP1+")
  T.eq(v.AddPage("SFIP", 1, 4, false), 0)
  T.eq(T.calls(sim, "AddPage")[#T.calls(sim, "AddPage")].id, FIP)
  changes = {}
end)

T.test("a full table records no more devices and reports nothing", function()
  -- Three slots are in use (the panel unplugged above keeps its slot); seven more fill the table.
  for _ = 1, 7 do sim.plug("ABCD") end
  T.deliver(sim, v)
  T.eq(#changes, 7)
  changes = {}
  local eleventh = sim.plug("ABCD")
  T.deliver(sim, v)
  T.eq(#changes, 0, "no slot, no callback")
  T.eq(v.GetNumDevices("UNKN"), 7)
  sim.unplug(eleventh)
  T.deliver(sim, v)
  T.eq(#changes, 0, "removal of a handle in no slot")
end)

T.test("events for an absent slot call nothing and keep its button state", function()
  local seen = {}
  v.RegisterSoftButtonCallback("X52P", 1, function(_, _, mask) seen[#seen + 1] = mask end)
  v.RegisterSoftButtonDownCallback("X52P", 1, function(_, _, mask) seen[#seen + 1] = "d" .. mask end)
  sim.buttons(X52, 1)
  T.deliver(sim, v)
  sim.unplug(X52)
  T.deliver(sim, v)
  sim.buttons(X52, 3)  -- the simulator refuses events from an unplugged unit...
  sim.replug(X52)
  T.deliver(sim, v)
  sim.buttons(X52, 3)
  T.deliver(sim, v)
  T.eq(table.concat(seen, " "), "1 d1 3 d2", "the state from before the removal survives it")
end)

T.finish()
