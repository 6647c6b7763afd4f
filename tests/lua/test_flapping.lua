-- Units that leave again before their arrival is handled: the table must stay true to the hardware.
package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local X52, FIP = 1, 2

local changes = {}
v.RegisterDeviceChangeCallback(function(tag, ordinal, added)
  changes[#changes + 1] = tag .. ordinal .. (added and "+" or "-")
end)

-- The simulator id that the last AddPage reached.
local function added_on(tag, ordinal, page)
  sim.clear_calls()
  if v.AddPage(tag, ordinal, page, false) ~= 0 then return nil end
  return T.calls(sim, "AddPage")[1].id
end

T.test("a unit gone before its arrival is read takes no slot and spoils none", function()
  local other = sim.plug("SFIP")
  T.deliver(sim, v)
  local misaddressed = 0
  for round = 1, 200 do
    sim.unplug(FIP); sim.replug(FIP); sim.unplug(FIP)
    T.deliver(sim, v)
    if T.count(v.SetString("SFIP", 1, 0, 1, "x")) ~= 0 or added_on("SFIP", 2, round) ~= other then
      misaddressed = misaddressed + 1
    end
    sim.replug(FIP)
    T.deliver(sim, v)
    if added_on("SFIP", 1, round) ~= FIP then misaddressed = misaddressed + 1 end
  end
  T.eq(misaddressed, 0, "rounds misaddressed")
  T.eq(v.GetNumDevices("UNKN"), 0)
  for _, change in ipairs(changes) do T.truthy(change:sub(1, 4) == "SFIP", "reported as " .. change) end
  T.eq(v.GetNumDevices(), 3)
end)

T.test("hundreds of quick bounces leave every unit counted and addressable", function()
  local bouncing = sim.plug("SFIP")  -- the third panel
  T.deliver(sim, v)
  for i = 1, 360 do
    sim.unplug(bouncing)
    sim.replug(bouncing, i % 2 == 0)
    if i % 3 == 0 then sim.flush() end
  end
  T.deliver(sim, v)
  T.eq(v.GetNumDevices(), 4)
  T.eq(added_on("SFIP", 3, 1), bouncing)
  T.eq(added_on("X52P", 1, 1), X52)
  local joystick = sim.plug("X52P")
  T.deliver(sim, v)
  T.eq(v.GetNumDevices("X52P"), 2, "a unit plugged afterwards still finds a slot")
  T.eq(added_on("X52P", 2, 1), joystick)
end)

T.finish()
