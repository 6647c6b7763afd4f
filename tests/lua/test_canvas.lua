package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"

-- Loaded first and alone: it sets no global and leaves the module's table alone.
local canvas = require "vexlan.canvas"

T.test("vexlan.canvas loads before the module and leaves the globals alone", function()
  T.eq(rawget(_G, "vexlan"), nil, "global vexlan")
  T.eq(package.loaded["vexlan"], nil, "package.loaded.vexlan")
  T.eq(type(canvas.new), "function")
end)

local v = require "vexlan"
local sim = require "vexlan_sim"
local FIP = 2

T.test("the module's table keeps its 17 functions", function()
  local count = 0
  for _ in pairs(v) do count = count + 1 end
  T.eq(count, 17)
  T.eq(require "vexlan.canvas", canvas, "the same table on a second require")
end)

local function frame()
  local c = canvas.new()
  c:fill(canvas.rgb(0, 0, 40))
   :rect(10, 10, 100, 50, 0xff0000, true)
   :line(0, 239, 319, 0, 0x00ff00, 3)
   :circle(200, 150, 40, 0xffffff)
   :arc(200, 150, 60, -90, 90, 0xffff00, 6)
  T.eq(c:text(120, 20, "ALT 12500", 0x00ffff, 2), canvas.text_size("ALT 12500", 2), "text's width")
  return c
end

-- The colour of device pixel (x, y): the device image is bottom row first, blue, green, red.
local function device_colour(image, x, y)
  local at = 960 * (239 - y) + 3 * x + 1
  return image:byte(at + 2) * 65536 + image:byte(at + 1) * 256 + image:byte(at)
end

T.test("a drawn frame reaches the panel pixel for pixel", function()
  local c = frame()
  local raw = c:raw()
  T.eq(#raw, 307224)
  v.AddPage("SFIP", 1, 1, true)
  T.eq(v.SetImage("SFIP", 1, 1, 1, raw), 0)
  local image = sim.image(FIP, 1, 0)
  for y = 0, 239 do
    for x = 0, 319 do
      local want = c:pixel(x, y)
      if device_colour(image, x, y) ~= want then
        error(string.format("pixel %d,%d: canvas %06x, panel %06x", x, y, want, device_colour(image, x, y)))
      end
    end
  end
  T.eq(c:pixel(50, 30), 0xff0000, "inside the rectangle")
  T.eq(c:pixel(0, 0), 0x000028, "background")
  T.eq(c:pixel(200, 110), 0xffffff, "top of the circle")
  T.eq(c:pixel(260, 150), 0xffff00, "the arc at 3 o'clock")
  T.eq(c:pixel(140, 150), 0xffff00, "the arc starts at 9 o'clock")
  T.eq(c:pixel(200, 210), 0x000028, "no arc at 6 o'clock")
end)

T.test("blits: a raw string back into a canvas, and canvases into each other", function()
  local c = frame()
  local copy = canvas.new():blit_raw(c:raw(), 0, 0)
  T.eq(copy:raw(), c:raw(), "blit_raw of raw()")
  local small = canvas.new(4, 3):fill(0x123456)
  T.eq(tostring(small), "vexlan.canvas 4x3")
  c:blit(small, 318, 238)                     -- partly off the canvas
  T.eq(c:pixel(319, 239), 0x123456)
  c:blit(small, 0, 0, 1, 1, 2, 2)             -- a 2x2 area of it
  T.eq(c:pixel(1, 1), 0x123456)
  T.eq(c:pixel(2, 2), 0x000028, "beside the area")
  T.eq(c:pixel(320, 0), nil, "off the canvas")
end)

T.test("off-canvas and hostile coordinates are clipped, never errors", function()
  local c = canvas.new(8, 8)
  local huge = { 0 / 0, 1 / 0, -1 / 0, 1e300, -1e300, 2 ^ 53 }
  for _, a in ipairs(huge) do
    for _, b in ipairs(huge) do
      c:pixel(a, b, 1):rect(a, b, b, a, 2, true):line(a, 0, 5, b, 3, b):circle(a, b, b, 4, true)
       :arc(4, 4, a, b, 90, 5, a):blit(c, a, b, b, a, a, b):text(a, b, "x", 6, 1)
    end
  end
  T.eq(c:width(), 8)
end)

T.test("misuse raises clear errors", function()
  local c = canvas.new()
  local cases = {
    { function() canvas.new(0, 10) end, "size: a whole number from 1 to 4096" },
    { function() canvas.new(4097, 10) end, "size: a whole number from 1 to 4096" },
    { function() canvas.new(10.5, 10) end, "size: a whole number" },
    { function() canvas.new(10) end, "give both width and height" },
    { function() canvas.new(10, 10):raw() end, "only a 320x240 canvas has a raw image; this one is 10x10" },
    { function() c:fill(-1) end, "colour 0xRRGGBB" },
    { function() c:fill(0x1000000) end, "colour 0xRRGGBB" },
    { function() c:fill("red") end, "number expected, got string" },
    { function() c.fill({}, 0) end, "vexlan.canvas expected, got table" },
    { function() c.raw(io.stdout) end, "vexlan.canvas expected, got userdata" },
    { function() c:blit(io.stdout, 0, 0) end, "vexlan.canvas expected, got userdata" },
    { function() c:blit_raw(string.rep("\0", 307223), 0, 0) end, "307224 bytes expected, got 307223" },
    { function() c:text(0, 0, "x", 1, 0) end, "scale: a whole number from 1 to 64" },
    { function() canvas.text_size("x", 65) end, "scale: a whole number from 1 to 64" },
    { function() c:line(0, 0, 5) end, "number expected, got no value" },
    { function() canvas.rgb(1, 2) end, "number expected, got no value" },
  }
  if debug and debug.setmetatable then
    -- A userdata of another kind given the canvas metatable is still refused.
    cases[#cases + 1] = { function()
      local file = io.tmpfile()
      file:close()
      debug.setmetatable(file, getmetatable(c))
      error(select(2, pcall(file.fill, file, 0)))
    end, "not a canvas" }
  end
  for i, case in ipairs(cases) do
    local ok, err = pcall(case[1])
    T.truthy(not ok, "case " .. i .. " raises")
    T.truthy(tostring(err):find(case[2], 1, true), "case " .. i .. ": " .. tostring(err))
  end
end)

T.test("rgb clamps and rounds its channels", function()
  T.eq(canvas.rgb(255, 128, 0), 0xff8000)
  T.eq(canvas.rgb(300, -5, 0.6), 0xff0001)
  T.eq(canvas.rgb(0 / 0, 0, 0), 0)
end)

T.finish()
