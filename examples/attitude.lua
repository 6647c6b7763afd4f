-- An attitude indicator on the Flight Instrument Panel, drawn by the script and sent with SetImage, and a
-- throttle page beside it. The panel's soft button 2 shows the next page, soft button 1 the one before.
-- Each character of standard input is one frame (a scenario sends them at its own pace).
--
--   Linux, from the source folder:        scripts/run.sh -s examples/attitude.scenario examples/attitude.lua
--   Windows, in the release zip's folder: run-example.cmd attitude
local vexlan = require "vexlan"

local FRAMES = tonumber(arg and arg[1]) or 40
local WIDTH, HEIGHT = 320, 240
local HEADER = string.rep("\0", 24)  -- a raw picture: 24 bytes of header, then rows of red, green, blue, unused

local function colour(r, g, b) return string.char(r, g, b, 0) end
local SKY, GROUND = colour(40, 110, 200), colour(140, 90, 40)
local MARK, BAR, BACK = colour(255, 210, 0), colour(60, 200, 90), colour(20, 20, 20)

-- `row` with `count` pixels from `x` on replaced by `pixel`.
local function paint(row, x, count, pixel)
  return row:sub(1, 4 * x) .. pixel:rep(count) .. row:sub(4 * (x + count) + 1)
end

-- The horizon turns with the roll and moves down as the nose comes up (degrees).
local function attitude(roll, pitch)
  local rows = { HEADER }
  local s, c = math.sin(math.rad(roll)), math.cos(math.rad(roll))
  local offset = pitch * 3
  for y = 0, HEIGHT - 1 do
    local dy = y - HEIGHT / 2
    local row
    if math.abs(s) < 1e-6 then
      row = (dy * c > offset and GROUND or SKY):rep(WIDTH)
    else
      -- Ground where dy * c - dx * s > offset: left of this x when s > 0, right of it otherwise.
      local x = math.floor((dy * c - offset) / s + WIDTH / 2 + 0.5)
      x = math.max(0, math.min(WIDTH, x))
      if s > 0 then row = GROUND:rep(x) .. SKY:rep(WIDTH - x) else row = SKY:rep(x) .. GROUND:rep(WIDTH - x) end
    end
    if y >= 118 and y <= 121 then  -- the aircraft: two wings and a centre dot
      row = paint(paint(paint(row, 100, 40, MARK), 180, 40, MARK), 157, 6, MARK)
    end
    rows[#rows + 1] = row
  end
  return table.concat(rows)
end

-- A bar from the left, as far as `fraction` of the panel's width.
local function throttle(fraction)
  local width = math.floor(fraction * WIDTH + 0.5)
  local bar, empty = BAR:rep(width) .. BACK:rep(WIDTH - width), BACK:rep(WIDTH)
  local rows = { HEADER }
  for y = 0, HEIGHT - 1 do rows[#rows + 1] = (y >= 100 and y < 140) and bar or empty end
  return table.concat(rows)
end

local PAGES = 2
local shown = 1
local frame = 0

local function draw()
  local t = frame / 8
  local picture = shown == 1 and attitude(30 * math.sin(t), 10 * math.sin(t / 1.7)) or throttle(0.5 + 0.5 * math.sin(t))
  vexlan.SetImage("SFIP", 1, shown, 1, picture)
end

-- Showing a page: added again as the active one.
local function show(page)
  shown = page
  vexlan.RemovePage("SFIP", 1, page)
  vexlan.AddPage("SFIP", 1, page, true)
  draw()
end

local function bit(mask, n) return math.floor(mask / 2 ^ n) % 2 == 1 end

for page = PAGES, 1, -1 do vexlan.AddPage("SFIP", 1, page, page == 1) end
vexlan.RegisterSoftButtonDownCallback("SFIP", 1, function(tag, ordinal, down)
  if bit(down, 1) then show(shown % PAGES + 1) end
  if bit(down, 0) then show((shown - 2) % PAGES + 1) end
end)

draw()
for f = 1, FRAMES do
  vexlan.Listen()  -- callbacks run while the script waits here
  frame = f
  draw()
end
print("drew " .. FRAMES .. " frames")
