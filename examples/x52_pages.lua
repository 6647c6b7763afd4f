-- Three display pages on the X52 Pro, NAV, COM and ENG, each with its lines and an LED. The soft buttons
-- turn the pages: button 2 shows the next page, button 1 the one before; button 3 toggles the shown
-- page's LED. Each character of standard input is a second of flight time on line 3.
--
--   Linux, from the source folder:        scripts/run.sh -s examples/x52_pages.scenario examples/x52_pages.lua
--   Windows, in the release zip's folder: run-example.cmd x52_pages
local vexlan = require "vexlan"

local SECONDS = tonumber(arg and arg[1]) or 20
local PAGES = {
  { "NAV", "HDG 270  ALT 12500" },
  { "COM", "COM1 118.300" },
  { "ENG", "N1 92%  EGT 640" },
}
local led_on = { false, false, false }
local shown = 1

local function fill(page)
  vexlan.SetString("X52P", 1, page, 1, PAGES[page][1])
  vexlan.SetString("X52P", 1, page, 2, PAGES[page][2])
  vexlan.SetLed("X52P", 1, page, 0, led_on[page])
end

-- A page is shown by adding it again as the active one, with its lines and LED.
local function show(page)
  shown = page
  vexlan.RemovePage("X52P", 1, page)
  vexlan.AddPage("X52P", 1, page, true)
  fill(page)
end

local function bit(mask, n) return math.floor(mask / 2 ^ n) % 2 == 1 end

for page = #PAGES, 1, -1 do
  vexlan.AddPage("X52P", 1, page, page == 1)
  fill(page)
end

vexlan.RegisterSoftButtonDownCallback("X52P", 1, function(tag, ordinal, down)
  if bit(down, 1) then show(shown % #PAGES + 1) end
  if bit(down, 0) then show((shown - 2) % #PAGES + 1) end
  if bit(down, 2) then
    led_on[shown] = not led_on[shown]
    vexlan.SetLed(tag, ordinal, shown, 0, led_on[shown])
  end
end)

for second = 1, SECONDS do
  vexlan.Listen()
  vexlan.SetString("X52P", 1, shown, 3, string.format("T+%02d:%02d", math.floor(second / 60), second % 60))
end
print("flew " .. SECONDS .. " seconds, ending on " .. PAGES[shown][1])
