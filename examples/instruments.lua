-- Two anti-aliased instruments on the Flight Instrument Panel, drawn with vexlan.canvas: an attitude
-- indicator whose horizon rolls and pitches, and a heading indicator whose compass card, a picture
-- file, turns under a fixed lubber line. Soft button 2 shows the next page, soft button 1 the one
-- before. Each character of standard input is one frame (a scenario sends them at its own pace).
--
--   scripts/run.sh -s examples/instruments.scenario examples/instruments.lua
local vexlan = require "vexlan"
local canvas = require "vexlan.canvas"

local FRAMES = tonumber(arg and arg[1]) or 40
local folder = (arg and arg[0] and arg[0]:match("^(.*[/\\])")) or "./"
local SKY, GROUND, WHITE, MARK = 0x2878d0, 0x8c5a28, 0xffffff, 0xffd200
local point = canvas.point

-- ---- The attitude indicator ----------------------------------------------------------------------

local adi = canvas.new()
local ground = { 0, 0, 0, 0, 0, 0, 0, 0 }  -- reused every frame: drawing allocates nothing

-- The horizon turns with the roll (degrees, right wing down positive) and moves down as the nose comes
-- up (pitch in degrees, 3 pixels a degree).
local function attitude(roll, pitch)
  local cx, cy = 160, 120
  -- The horizon's centre, moved along the "down" of the rolled picture by the pitch.
  local hx, hy = point(cx, cy, pitch * 3, 180 - roll)
  -- The ground: a large quad below the horizon line.
  ground[1], ground[2] = point(hx, hy, 400, 90 - roll)
  ground[3], ground[4] = point(hx, hy, 400, 270 - roll)
  local far_x, far_y = point(hx, hy, 600, 180 - roll)
  ground[5], ground[6] = point(far_x, far_y, 400, 270 - roll)
  ground[7], ground[8] = point(far_x, far_y, 400, 90 - roll)
  adi:fill(SKY):polygon(ground, GROUND, true)
  -- The pitch ladder, every 5 degrees, clipped to the middle of the instrument.
  adi:clip("circle", cx, cy, 90)
  for step = -4, 4 do
    if step ~= 0 then
      local mx, my = point(hx, hy, -step * 15, 180 - roll)
      local half = step % 2 == 0 and 30 or 15
      local x0, y0 = point(mx, my, half, 270 - roll)
      local x1, y1 = point(mx, my, half, 90 - roll)
      adi:line(x0, y0, x1, y1, WHITE, 2)
      if step % 2 == 0 then
        local tx, ty = point(mx, my, half + 14, 90 - roll)
        adi:text(tx, ty, tostring(math.abs(step * 5)), WHITE, 13, "centre", "middle")
      end
    end
  end
  local lx, ly = point(hx, hy, 300, 270 - roll)
  local rx, ry = point(hx, hy, 300, 90 - roll)
  adi:line(lx, ly, rx, ry, WHITE, 2):clip()
  -- The roll scale and its pointer, which turns with the horizon.
  adi:arc(cx, cy, 100, -60, 60, WHITE, 2)
  for _, mark in ipairs({ -60, -45, -30, -20, -10, 10, 20, 30, 45, 60 }) do
    local x0, y0 = point(cx, cy, 100, mark)
    local x1, y1 = point(cx, cy, mark % 30 == 0 and 114 or 108, mark)
    adi:line(x0, y0, x1, y1, WHITE, 2)
  end
  local ax, ay = point(cx, cy, 98, -roll)
  local bx, by = point(cx, cy, 86, -roll - 5)
  local qx, qy = point(cx, cy, 86, -roll + 5)
  adi:polygon({ ax, ay, bx, by, qx, qy }, MARK, true)
  -- The aircraft, fixed: two wings and a centre dot.
  adi:polyline({ 90, 120, 135, 120, 145, 130 }, MARK, 5, "round", "round")
     :polyline({ 230, 120, 185, 120, 175, 130 }, MARK, 5, "round", "round")
     :circle(cx, cy, 4, MARK, true)
     :text(6, 6, string.format("ROLL %+d°", math.floor(roll + 0.5)), WHITE, 14)
     :text(314, 6, string.format("PITCH %+d°", math.floor(pitch + 0.5)), WHITE, 14, "right")
  return adi
end

-- ---- The heading indicator -----------------------------------------------------------------------

local card = assert(canvas.load(folder .. "compass_card.png"))
local hsi = canvas.new()

local function heading(degrees)
  hsi:fill(0x101418)
     :draw(card, 160, 120, -degrees, 1, card:width() / 2, card:height() / 2)  -- the card turns, north to the heading
     :polygon({ 160, 8, 152, 24, 168, 24 }, MARK, true)                       -- the lubber line
     :line(160, 24, 160, 40, MARK, 3)
     :polygon({ 160, 100, 150, 130, 160, 124, 170, 130 }, WHITE, true)        -- the aircraft
     :text(6, 6, string.format("HDG %03d°", math.floor(degrees + 0.5) % 360), MARK, 16)
  return hsi
end

-- ---- Pages ------------------------------------------------------------------------------------------

local PAGES = 2
local shown = 1
local frame = 0

local function draw()
  local t = frame / 8
  local picture = shown == 1 and attitude(30 * math.sin(t), 10 * math.sin(t / 1.7)) or heading((frame * 9 + 30) % 360)
  vexlan.SetImage("SFIP", 1, shown, 1, picture:raw())
end

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
