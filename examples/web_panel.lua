-- Panels to watch and press in the browser (scripts/run.sh --web). On every Flight Instrument Panel the
-- soft buttons choose the picture's colour: soft button k paints colour k, names it on the first line
-- and counts the presses on the second; LED 0 changes with each press. The X52 Pro gets two display
-- pages and names the page turned to. A panel or joystick that is unplugged and comes back is set up
-- again. Each character of standard input sends every panel a new frame, its number written into the
-- picture's top-left pixel (red: low byte, green: high byte, blue 77); after FRAMES of them the script
-- ends.
--
--   Linux, from the source folder:        scripts/run.sh -w 0 examples/web_panel.lua [FRAMES]     then open the address it prints
--   Windows, in the release zip's folder: run-example-web.cmd web_panel [FRAMES]   (opens the page)
local vexlan = require "vexlan"

local FRAMES = tonumber(arg and arg[1]) or 1000
local HEADER = string.rep("\0", 24)  -- a raw picture: 24 bytes of header, then rows of red, green, blue, unused
local COLOURS = {
  { 40, 110, 200, "blue" }, { 200, 60, 40, "red" }, { 60, 200, 90, "green" }, { 230, 200, 40, "yellow" },
  { 150, 80, 200, "purple" }, { 40, 200, 200, "cyan" }, { 230, 130, 30, "orange" }, { 220, 220, 220, "white" },
}
local fills = {}  -- per colour: every pixel but the first
for i, c in ipairs(COLOURS) do fills[i] = string.char(c[1], c[2], c[3], 0):rep(320 * 240 - 1) end

local panels = {}  -- per ordinal: colour, presses
local frame = 0

local function draw(ordinal)
  local panel = panels[ordinal]
  local corner = string.char(frame % 256, math.floor(frame / 256) % 256, 77, 0)
  vexlan.SetImage("SFIP", ordinal, 1, 1, HEADER .. corner .. fills[panel.colour])
end

local function lowest_bit(mask)
  for k = 0, 31 do
    if math.floor(mask / 2 ^ k) % 2 == 1 then return k end
  end
end

local function on_panel_button(tag, ordinal, down)
  local panel = panels[ordinal]
  panel.colour = lowest_bit(down) % #COLOURS + 1
  panel.presses = panel.presses + 1
  vexlan.SetString(tag, ordinal, 1, 1, COLOURS[panel.colour][4])
  vexlan.SetString(tag, ordinal, 1, 2, "presses " .. panel.presses)
  vexlan.SetLed(tag, ordinal, 1, 0, panel.presses % 2 == 1)
  draw(ordinal)
end

local function set_up_panel(ordinal)
  panels[ordinal] = panels[ordinal] or { colour = 1, presses = 0 }
  vexlan.AddPage("SFIP", ordinal, 1, true)
  vexlan.SetString("SFIP", ordinal, 1, 1, COLOURS[panels[ordinal].colour][4])
  vexlan.SetString("SFIP", ordinal, 1, 2, "presses " .. panels[ordinal].presses)
  vexlan.SetLed("SFIP", ordinal, 1, 0, false)
  draw(ordinal)
  vexlan.RegisterSoftButtonDownCallback("SFIP", ordinal, nil)  -- a new handle needs a new registration
  vexlan.RegisterSoftButtonDownCallback("SFIP", ordinal, on_panel_button)
end

local function set_up_joystick(ordinal)
  for page = 1, 2 do
    vexlan.AddPage("X52P", ordinal, page, page == 1)
    vexlan.SetString("X52P", ordinal, page, 1, "WEB PANEL")
    vexlan.SetString("X52P", ordinal, page, 2, "PAGE " .. page)
  end
  vexlan.SetLed("X52P", ordinal, 1, 0, true)
  vexlan.RegisterPageCallback("X52P", ordinal, function(tag, n, page, active)
    if active then vexlan.SetString(tag, n, page, 3, "TURNED TO " .. page) end
  end)
end

vexlan.RegisterDeviceChangeCallback(function(tag, ordinal, added)
  if added and tag == "SFIP" then set_up_panel(ordinal) end
  if added and tag == "X52P" then set_up_joystick(ordinal) end
end)
for ordinal = 1, vexlan.GetNumDevices("SFIP") or 0 do set_up_panel(ordinal) end
for ordinal = 1, vexlan.GetNumDevices("X52P") or 0 do set_up_joystick(ordinal) end

for _ = 1, FRAMES do
  vexlan.Listen()
  frame = frame + 1
  for ordinal in pairs(panels) do draw(ordinal) end
end
print("frames sent: " .. frame)
