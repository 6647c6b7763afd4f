-- Keeps the Flight Instrument Panel showing its page, its lines and its picture, and its soft button
-- working, when the panel is unplugged and comes back, under its old handle or a new one. A unit that
-- loses power loses what it showed, and DirectOutput's registrations belong to the handle it had, so
-- the script sets everything up again when the panel arrives.
--
--   Linux, from the source folder:        scripts/run.sh -s examples/hotplug.scenario examples/hotplug.lua
--   Windows, in the release zip's folder: run-example.cmd hotplug
local vexlan = require "vexlan"

local FRAMES = tonumber(arg and arg[1]) or 20
local presses = 0

local function picture()  -- green above, dark below: a raw picture of 320x240
  local green, dark = string.char(30, 160, 60, 0):rep(320), string.char(20, 20, 30, 0):rep(320)
  return string.rep("\0", 24) .. green:rep(120) .. dark:rep(120)
end
local PICTURE = picture()

local function on_button(tag, ordinal, down)
  presses = presses + 1
  vexlan.SetLed(tag, ordinal, 1, 0, presses % 2 == 1)
end

-- Everything the panel shows and every registration it needs, from the start.
local function set_up(tag, ordinal)
  vexlan.AddPage(tag, ordinal, 1, true)
  vexlan.SetString(tag, ordinal, 1, 1, "HOT-PLUG DEMO")
  vexlan.SetImage(tag, ordinal, 1, 1, PICTURE)
  vexlan.RegisterSoftButtonDownCallback(tag, ordinal, nil)  -- renewed: the old registration went with the old handle
  vexlan.RegisterSoftButtonDownCallback(tag, ordinal, on_button)
end

vexlan.RegisterDeviceChangeCallback(function(tag, ordinal, added)
  print(string.format("%s %d %s", tag, ordinal, added and "is back" or "left"))
  if added and tag == "SFIP" then set_up(tag, ordinal) end
end)

set_up("SFIP", 1)
for frame = 1, FRAMES do
  vexlan.Listen()
  vexlan.SetString("SFIP", 1, 1, 2, "frame " .. frame)  -- answers nothing while the panel is away
end
print("presses seen: " .. presses)
