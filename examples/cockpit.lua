-- A small cockpit script: a page on every panel and X52 Pro, a clock string, an LED that follows a soft
-- button, and a log of devices coming and going. Waits for events in Listen until standard input ends.
--
--   scripts/run.sh examples/cockpit.lua            (against simulated devices; press Enter to pass time)
local vexlan = require "vexlan"

local PAGE = 1

local function set_up(tag, ordinal)
  vexlan.AddPage(tag, ordinal, PAGE, true)
  vexlan.SetString(tag, ordinal, PAGE, 1, "VEXLAN " .. tag .. " " .. ordinal)
  vexlan.SetString(tag, ordinal, PAGE, 2, os.date("%H:%M:%S"))
end

for _, tag in ipairs({ "X52P", "SFIP" }) do
  for ordinal = 1, vexlan.GetNumDevices(tag) do set_up(tag, ordinal) end
end

-- Callbacks run while the script waits in Listen. They may call any module function.
vexlan.RegisterDeviceChangeCallback(function(tag, ordinal, added)
  print(string.format("%s %d %s", tag, ordinal, added and "arrived" or "left"))
  if added then set_up(tag, ordinal) end
end)

vexlan.RegisterSoftButtonDownCallback("SFIP", 1, function(tag, ordinal, buttons)
  print(string.format("%s %d buttons down: 0x%x", tag, ordinal, buttons))
  vexlan.SetLed(tag, ordinal, PAGE, 0, true)
end)
vexlan.RegisterSoftButtonUpCallback("SFIP", 1, function(tag, ordinal, buttons)
  vexlan.SetLed(tag, ordinal, PAGE, 0, false)
end)

vexlan.RegisterPageCallback("SFIP", 1, function(tag, ordinal, page, active)
  print(string.format("%s %d page %d %s", tag, ordinal, page, active and "shown" or "hidden"))
end)

-- Each Listen returns after one character of standard input, or at its end.
while io.stdin:read(0) ~= nil do
  vexlan.Listen()
  vexlan.SetString("SFIP", 1, PAGE, 2, os.date("%H:%M:%S"))
end
