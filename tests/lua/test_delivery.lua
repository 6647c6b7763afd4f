-- How Listen delivers the events that waited for the script: each once, in order, however callbacks nest,
-- and never without end.
package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local FIP = 2

local function in_order(seen, first, last)
  if #seen ~= last - first + 1 then return false end
  for i, mask in ipairs(seen) do
    if mask ~= first + i - 1 then return false end
  end
  return true
end

T.test("a callback that calls Listen gets every queued event once, in order", function()
  local seen = {}
  v.RegisterSoftButtonCallback("SFIP", 1, function(_, _, mask)
    seen[#seen + 1] = mask
    v.Listen()  -- standard input is at its end: returns at once
  end)
  for mask = 1, 600 do sim.buttons(FIP, mask) end
  sim.flush()
  v.Listen()
  T.eq(#seen, 600, "delivered")
  T.truthy(in_order(seen, 1, 600), "in order, each once")
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("events a callback causes while Listen delivers do not keep Listen from returning", function()
  local seen = {}
  v.RegisterSoftButtonCallback("SFIP", 1, function(_, _, mask)
    seen[#seen + 1] = mask
    if mask < 1000 then
      sim.buttons(FIP, mask + 1)
      sim.flush()  -- handled by the module: queued, since this script holds its state
    end
  end)
  sim.buttons(FIP, 1)
  sim.flush()
  v.Listen()
  T.truthy(#seen >= 1 and #seen <= 3, "Listen returned after " .. #seen .. " callbacks")
  local calls = 1
  while #seen < 1000 and calls < 5000 do
    v.Listen()
    calls = calls + 1
  end
  T.truthy(in_order(seen, 1, 1000), "the rest came at later calls, each once, in order")
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.finish()
