-- Develops a script without hardware: vexlan_sim plays the devices. It plugs a second panel, presses
-- soft buttons, switches pages and draws a picture, and checks what the panel was sent.
--
--   Linux, from the source folder:        scripts/run.sh examples/simulated_session.lua < /dev/null
--   Windows, in the release zip's folder: run-example.cmd simulated_session
local vexlan = require "vexlan"
local sim = require "vexlan_sim"

local function wait_for_events()
  sim.flush()      -- every simulated event has reached the module
  vexlan.Listen()  -- deliver what waited for this script (standard input at its end: returns at once)
end

vexlan.RegisterDeviceChangeCallback(function(tag, ordinal, added)
  print("device", tag, ordinal, added)
  if added then vexlan.AddPage(tag, ordinal, 1, true) end
end)

local panel = sim.plug("SFIP")
wait_for_events()
print("panels present:", vexlan.GetNumDevices("SFIP"))

vexlan.RegisterSoftButtonCallback("SFIP", 2, function(tag, ordinal, buttons)
  vexlan.SetString(tag, ordinal, 1, 1, string.format("buttons %d", buttons))
end)
sim.buttons(panel, 5)
wait_for_events()
print("the panel shows:", sim.string(panel, 1, 0))

-- A 320x240 picture: a 24-byte header, then rows of red, green, blue and one unused byte.
local rows = { string.rep("\0", 24) }
for y = 0, 239 do
  local row = {}
  for x = 0, 319 do row[#row + 1] = string.char(x % 256, y, 128, 0) end
  rows[#rows + 1] = table.concat(row)
end
print("SetImage:", vexlan.SetImage("SFIP", 2, 1, 1, table.concat(rows)))
print("image bytes on the panel:", #sim.image(panel, 1, 0))

sim.unplug(panel)
wait_for_events()
print("panels present:", vexlan.GetNumDevices("SFIP"))
