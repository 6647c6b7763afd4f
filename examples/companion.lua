-- A panel page drawn with vexlan.canvas and kept by vexlan.cockpit: a gauge whose needle moves every
-- turn, and a soft button that switches an LED. The scenario unplugs the panel and brings it back under
-- a new handle; the layer shows the page again and renews the button, with no code here for it.
--
--   Linux, from the source folder:        scripts/run.sh -s examples/companion.scenario examples/companion.lua
--   Windows, in the release zip's folder: run-example.cmd companion
local cockpit = require "vexlan.cockpit"
local canvas = require "vexlan.canvas"

local panel = cockpit.device("SFIP", 1)
local dial = canvas.new()
local presses = 0

local function draw(turn)
  local angle = math.rad(turn * 9)
  dial:fill(0x101820)
  dial:circle(160, 120, 100, 0xE0E0E0)
  dial:arc(160, 120, 92, 270, 330, 0xD03020, 8)  -- a red band from 9 to 11 o'clock
  for tick = 0, 11 do
    local a = math.rad(tick * 30)
    dial:line(160 + 84 * math.sin(a), 120 - 84 * math.cos(a), 160 + 98 * math.sin(a), 120 - 98 * math.cos(a), 0xE0E0E0, 2)
  end
  dial:line(160, 120, 160 + 90 * math.sin(angle), 120 - 90 * math.cos(angle), 0xFF8000, 3)
  dial:text(8, 8, "TURN " .. turn, 0xFFFFFF, 20)
  dial:text(8, 210, "PRESSES " .. presses, 0x80FF80, 20)
  panel:set_image(1, 1, dial)
end

panel:add_page(1, true)
panel:set_string(1, 1, "COMPANION")
panel:on("pressed", function(device)
  presses = presses + 1
  device:set_led(1, 1, presses % 2 == 1)  -- the unit's first LED: the layer counts from 1
end)
cockpit.on("added", function(device) print(device.tag .. " " .. device.ordinal .. " is back") end)
cockpit.on("removed", function(device) print(device.tag .. " " .. device.ordinal .. " left") end)

local turn = 0
draw(turn)
while cockpit.read() do  -- one turn a key of the scenario; ends with it
  turn = turn + 1
  draw(turn)
end
print("turns: " .. turn .. ", presses seen: " .. presses)
