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

T.test("the module's table keeps its functions", function()
  T.module_table_intact(v)
  T.eq(require "vexlan.canvas", canvas, "the same table on a second require")
end)

local images = (arg[0]:match("^(.*[/\\])") or "./") .. "../images/"

-- Pixel-exact, as every canvas drew before anti-aliasing: the pixels checked below are exact.
local function frame()
  local c = canvas.new():antialias(false)
  c:fill(canvas.rgb(0, 0, 40))
   :rect(10, 10, 100, 50, 0xff0000, true)
   :line(0, 239, 319, 0, 0x00ff00, 3)
   :circle(200, 150, 40, 0xffffff)
   :arc(200, 150, 60, -90, 90, 0xffff00, 6)
  local same, width = c:text(120, 20, "ALT 12500", 0x00ffff, 2)
  T.eq(same, c, "text gives the canvas")
  T.eq(width, canvas.text_size("ALT 12500", 2), "and the width of the bitmap font's text")
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
  -- A raw image's fourth byte is unused: a canvas's transparency does not come back through blit_raw.
  local see_through = canvas.new():fill(0xff0000, 0)
  local opaque = canvas.new():blit_raw(see_through:raw())
  T.eq(canvas.new():fill(0x00ff00):draw(opaque, 0, 0):pixel(5, 5), 0xff0000, "drawn opaque")
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
  local sprite = canvas.new(3, 3):fill(0x808080, 0.5)
  local huge = { 0 / 0, 1 / 0, -1 / 0, 1e300, -1e300, 2 ^ 53 }
  for _, smooth in ipairs({ false, true }) do
    c:antialias(smooth)
    for _, a in ipairs(huge) do
      for _, b in ipairs(huge) do
        c:pixel(a, b, 1):rect(a, b, b, a, 2, true):line(a, 0, 5, b, 3, b):circle(a, b, b, 4, true)
         :arc(4, 4, a, b, 90, 5, a):blit(c, a, b, b, a, a, b):text(a, b, "x\255\192\128°", 6, smooth and a or 1)
         :rect(a, 1, 5, b, 7, false, a):round_rect(a, b, a, b, a, 7, b == b, b):circle(4, 4, a, 8, false, b)
         :ring(a, b, a, b, 9, a, b):ring(4, 4, b, a, 9):polygon({ a, b, 4, 4, b, a }, 10, true)
         :polygon({ a, 0, 5, b, 7, 7 }, 11, false, b, "miter"):polyline({ 0, 0, a, b, 5, 5 }, 12, a, "square", "miter")
         :draw(sprite, a, b, a, b, a, b, a, a == a and 0x808080 or nil):draw(sprite, 1, 1, b, a, 1, 1, b)
         :clip(a, b, a, b):clip("circle", a, b, a):fill(3):clip()
        if smooth then c:measure("x", a) end
        canvas.point(a, b, a, b)
      end
    end
  end
  -- A polygon of thousands of points, far off the canvas and back, with tiny and huge steps.
  local points = {}
  for i = 1, 5000 do
    points[#points + 1] = (i % 7) * 1e7 - 3e7
    points[#points + 1] = math.sin(i) * 1e-3 + (i % 3)
  end
  c:polygon(points, 13, true):polyline(points, 14, 3, "round", "round"):polygon(points, 15, false, 2, "miter")
   :polyline(points, 16, 1e300, "round", "round"):polygon(points, 17, false, 5000, "round")
  T.eq(c:width(), 8)
end)

T.test("pixel-exact mode draws byte for byte what 0.3.5 drew", function()
  -- The checksum was taken from the 0.3.5 module drawing the same calls (it had no anti-aliasing).
  local c = canvas.new():antialias(false)
  c:fill(0x102030)
  for i = 0, 35 do
    local a = math.rad(i * 10)
    c:line(160 + 80.3 * math.sin(a), 120 - 80.3 * math.cos(a), 160 + 96.6 * math.sin(a), 120 - 96.6 * math.cos(a),
           0xffffff, i % 3 + 1)
  end
  c:circle(160.4, 119.6, 100.5, 0x303850, true):circle(160, 120, 70.5, 0xffffff):circle(30, 30, 12.2, 0xff0000)
  c:rect(10.4, 10.6, 50, 30, 0x00ff00, true):rect(250, 180, 60.7, 50.2, 0x00ffff)
  c:arc(160, 120, 60, -135, 45, 0x00c000, 8):arc(160, 120, 60, 45, 135, 0xff0000, 5.5)
   :arc(100, 100, 30, 10, 350, 0xffff00, 1)
  c:line(3.5, 200.5, 300.2, 220.7, 0xff00ff):line(300, 10, 290, 230, 0xffffff, 2)
  c:text(20, 200, "ALT 12500\nSPD 250 kt", 0xffff00, 2)
  c:text(200, 20, "HDG 270", 0xffffff)
  c:pixel(1, 1, 0xabcdef)
  c:blit(c, 200, 150, 0, 0, 80, 60)
  local raw = c:raw()
  local a, b = 1, 0
  for i = 1, #raw, 4096 do
    local chunk = { raw:byte(i, math.min(i + 4095, #raw)) }
    for j = 1, #chunk do a = (a + chunk[j]) % 65521; b = (b + a) % 65521 end
  end
  T.eq(string.format("%08x", b * 65536 + a), "c716bad6", "the Adler-32 of the raw picture")
end)

T.test("drawing methods chain; arcs run clockwise from the first angle to the second, wrapping", function()
  local c = canvas.new(100, 100):antialias(false)
  T.eq(c:fill(0):rect(0, 0, 1, 1, 1):line(0, 0, 1, 1, 1):circle(5, 5, 1, 1):arc(5, 5, 2, 0, 90, 1)
        :ring(5, 5, 1, 2, 1):round_rect(0, 0, 4, 4, 1, 1):polygon({ 0, 0, 3, 0, 0, 3 }, 1, true)
        :polyline({ 0, 0, 3, 3 }, 1):pixel(0, 0, 1):blit(c, 0, 0):draw(canvas.new(1, 1), 0, 0):clip():font()
        :antialias(true), c)
  for _, smooth in ipairs({ false, true }) do
    c:antialias(smooth):fill(0):arc(50, 50, 40, 330, 30, 0xffffff, 4)
    T.eq(c:pixel(50, 10), 0xffffff, "330 to 30 passes 12 o'clock")
    T.eq(c:pixel(50, 90), 0, "and not 6 o'clock")
    c:fill(0):arc(50, 50, 40, 135, -135, 0xffffff, 4)
    T.eq(c:pixel(50, 90), 0xffffff, "135 to -135 passes 6 o'clock")
    T.eq(c:pixel(90, 50), 0, "and not 3 o'clock")
    c:fill(0):arc(50, 50, 40, 0, 360, 0xffffff, 4)
    T.eq(c:pixel(10, 50), 0xffffff, "0 to 360 is the whole circle")
  end
  local x, y = canvas.point(50, 50, 10, 90)
  T.eq(x, 60) T.eq(y, 50, "90 degrees is 3 o'clock")
  x, y = canvas.point(50, 50, 10, 180)
  T.eq(x, 50) T.eq(y, 60, "180 degrees is 6 o'clock")
end)

T.test("anti-aliased edges blend; pixel-exact mode keeps whole pixels", function()
  local c = canvas.new(40, 40)
  T.eq(c:antialias(), true, "on by default")
  c:circle(20, 20, 10.5, 0xffffff, true)
  local partial = 0
  for yy = 0, 39 do for xx = 0, 39 do
    local v = c:pixel(xx, yy) % 256
    if v > 0 and v < 255 then partial = partial + 1 end
  end end
  T.truthy(partial > 40, "a smooth disc has partly covered pixels: " .. partial)
  c:antialias(false):fill(0):circle(20, 20, 10.5, 0xffffff, true):polygon({ 5, 5, 30, 8, 12, 33 }, 0xff0000, true)
  for yy = 0, 39 do for xx = 0, 39 do
    local v = c:pixel(xx, yy)
    T.truthy(v == 0 or v == 0xffffff or v == 0xff0000, "only whole colours")
  end end
  -- A hole by winding: the inner square goes the other way round.
  c:antialias(true):fill(0)
   :polygon({ { 2, 2, 37, 2, 37, 37, 2, 37 }, { 10, 10, 10, 29, 29, 29, 29, 10 } }, 0xffffff, true)
  T.eq(c:pixel(5, 5), 0xffffff)
  T.eq(c:pixel(20, 20), 0, "the hole")
end)

T.test("TrueType text: UTF-8, alignment, measuring, a font by path, the bitmap font as a choice", function()
  local c = canvas.new()
  local function ink(canvas_)  -- the box of pixels drawn
    local left, top, right, bottom = 1e9, 1e9, -1, -1
    for yy = 0, canvas_:height() - 1 do for xx = 0, canvas_:width() - 1 do
      if canvas_:pixel(xx, yy) ~= 0 then
        left, right = math.min(left, xx), math.max(right, xx)
        top, bottom = math.min(top, yy), math.max(bottom, yy)
      end
    end end
    return left, top, right, bottom
  end
  local w270 = c:measure("270", 20)
  local w, h = c:measure("270°", 20)
  T.truthy(w > w270 + 3, "the degree sign has a width of its own")
  T.truthy(h >= 20 and h <= 26, "one line at 20 pixels: " .. h)
  local _, two_lines = c:measure("A\nB", 20)
  T.truthy(two_lines >= 2 * h - 1, "two lines")
  local _, drawn = c:text(160, 100, "270°", 0xffffff, 20, "centre", "middle")
  T.eq(drawn, w, "text gives the width measure gives")
  local left, top, right, bottom = ink(c)
  T.truthy(math.abs((left + right) / 2 - 160) <= 2, "centred on x: " .. left .. ".." .. right)
  T.truthy(math.abs((top + bottom) / 2 - 100) <= 4, "middle on y: " .. top .. ".." .. bottom)
  c:fill(0):text(300, 50, "HHH", 0xffffff, 30, "right", "baseline")
  left, top, right, bottom = ink(c)
  T.truthy(right <= 300 and right >= 296, "ends at x: " .. right)
  T.truthy(bottom == 49, "the H stands on the baseline: " .. bottom)
  c:fill(0):text(10, 10, "Hg", 0xffffff, 30)
  left, top = ink(c)
  T.truthy(top >= 10 and top <= 16, "top: nothing above y: " .. top)
  -- Another font by path, chosen for the canvas.
  local mono_path = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
  local mono = assert(canvas.font(mono_path))
  T.eq(mono:measure("iii", 16), mono:measure("WWW", 16), "a monospaced font")
  c:font(mono)
  T.eq(c:measure("iii", 16), c:measure("WWW", 16), "the canvas's font")
  local missing, message = canvas.font(images .. "no_such_font.ttf")
  T.eq(missing, nil) T.truthy(message:find("cannot read", 1, true), message)
  local broken
  broken, message = canvas.font(images .. "transparent_80x60.png")
  T.eq(broken, nil) T.truthy(message:find("no TrueType font", 1, true), message)
  -- The bitmap font, as before.
  c:font("bitmap")
  local _, bitmap_width = c:text(0, 0, "ALT 12500", 0xffffff, 2)
  T.eq(bitmap_width, canvas.text_size("ALT 12500", 2))
  T.eq(c:measure("ALT", 3), canvas.text_size("ALT", 3))
  c:font()
  T.eq(c:measure("270°", 20), w, "font() goes back to the default")
end)

T.test("pictures: loaded with their transparency, drawn with alpha, a colour key, an opacity, turned", function()
  local picture = assert(canvas.load(images .. "transparent_80x60.png"))
  T.eq(picture:width(), 80) T.eq(picture:height(), 60)
  local c = canvas.new(100, 100):fill(0x0000ff)
  c:draw(picture, 10, 10)
  T.eq(c:pixel(20, 20), 0x0000ff, "the transparent half leaves the canvas")
  T.eq(c:pixel(70, 20), 0xc80a1e, "the opaque half is drawn")
  c:fill(0x0000ff):draw(picture, 10, 10, 0, 1, 0, 0, 0.5)
  T.eq(c:pixel(70, 20), canvas.rgb(100, 5, 142), "half opacity")
  local sprite = canvas.new(4, 4):fill(0xff00ff):rect(1, 1, 2, 2, 0x00ff00, true)
  c:fill(0):draw(sprite, 0, 0, 0, 1, 0, 0, 1, 0xff00ff)
  T.eq(c:pixel(0, 0), 0, "the key colour is left out")
  T.eq(c:pixel(1, 1), 0x00ff00)
  -- A quarter turn about the pivot: exact, no blur.
  local arrow = canvas.new(3, 1):antialias(false):pixel(0, 0, 0x111111):pixel(1, 0, 0x222222):pixel(2, 0, 0x333333)
  c:fill(0):draw(arrow, 50, 50, 90, 1, 1, 0)
  T.eq(c:pixel(50, 49), 0x111111) T.eq(c:pixel(50, 50), 0x222222) T.eq(c:pixel(50, 51), 0x333333)
  c:fill(0):draw(arrow, 50, 50, 0, 2, 0, 0)
  T.eq(c:pixel(50, 50), 0x111111, "scaled by two") T.eq(c:pixel(54, 50), 0x333333)
  -- A sprite drawn with shapes on a transparent canvas.
  local needle = canvas.new(20, 20):fill(0, 0):circle(10, 10, 6, 0xffffff, true)
  c:fill(0xff0000):draw(needle, 0, 0)
  T.eq(c:pixel(10, 10), 0xffffff) T.eq(c:pixel(1, 1), 0xff0000)
  local none, message = canvas.load(images .. "broken_garbage.png")
  T.eq(none, nil) T.truthy(message:find("cannot read a picture", 1, true), message)
end)

T.test("clipping to a rectangle or a circle holds for every call until lifted", function()
  for _, smooth in ipairs({ false, true }) do
    local c = canvas.new(50, 50):antialias(smooth)
    c:clip(10, 10, 20, 20):fill(0xffffff):line(0, 0, 49, 49, 0x0000ff, 3):text(0, 0, "WWWW", 0xff0000, 30)
    local inside, outside = 0, 0
    for yy = 0, 49 do for xx = 0, 49 do
      local within = xx >= 10 and xx < 30 and yy >= 10 and yy < 30
      if c:pixel(xx, yy) ~= 0 then
        if within then inside = inside + 1 else outside = outside + 1 end
      end
    end end
    T.eq(inside, 400, "every pixel inside drawn") T.eq(outside, 0, "none outside")
    c:clip():fill(0):clip("circle", 25, 25, 10):fill(0xffffff)
     :blit(canvas.new(50, 50):fill(0x00ff00), 0, 0, 0, 0, 25, 50)
    T.eq(c:pixel(25, 14), 0, "outside the circle") T.eq(c:pixel(35, 25), 0xffffff) T.eq(c:pixel(20, 25), 0x00ff00)
    T.eq(c:pixel(2, 2), 0, "the blit too is clipped")
    c:clip():fill(0x123456)
    T.eq(c:pixel(0, 0), 0x123456, "clip() lifts it")
  end
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
    { function() c:font("bitmap"):text(0, 0, "x", 1, 0) end, "scale: a whole number from 1 to 64" },
    { function() canvas.text_size("x", 65) end, "scale: a whole number from 1 to 64" },
    { function() c:line(0, 0, 5) end, "number expected, got no value" },
    { function() canvas.rgb(1, 2) end, "number expected, got no value" },
    { function() c:polygon({ 1, 2, 3 }, 1, true) end, "x, y pairs expected" },
    { function() c:polygon({ 1, 2, "x", 4 }, 1, true) end, "numbers expected" },
    { function() c:polygon({ { 1, 2, 3, 4 }, 5 }, 1, true) end, "a list of contours expected" },
    { function() c:line(0, 0, 5, 5, 1, 2, "pointy") end, "unknown option 'pointy'" },
    { function() c:polyline({ 0, 0, 5, 5 }, 1, 2, "butt", "sharp") end, "unknown option 'sharp'" },
    { function() c:text(0, 0, "x", 1, 12, "middle") end, "unknown option 'middle'" },
    { function() c:draw(c, 0, 0) end, "cannot be drawn onto itself" },
    { function() c:font(c) end, "vexlan.canvas.font expected" },
    { function() c:font("serif") end, "a font or \"bitmap\" expected" },
    { function() c:clip("square", 1, 2, 3) end, "\"circle\" or x expected" },
    { function() canvas.font():measure() end, "string expected, got no value" },
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
