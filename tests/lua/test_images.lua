package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local FIP = 2
local images = (arg[0]:match("^(.*[/\\])") or "./") .. "../images/"

v.AddPage("SFIP", 1, 1, true)

local function show(file)
  local rc = v.SetImageFromFile("SFIP", 1, 1, 1, images .. file, true)
  return rc, sim.image(FIP, 1, 0)
end

local function pixel(image, x, y)
  local at = 960 * (239 - y) + 3 * x + 1
  return image:byte(at + 2), image:byte(at + 1), image:byte(at)
end

-- Which source pixel of a coordinate gradient landed at (x, y).
local function source_of(image, x, y)
  local r, g, b = pixel(image, x, y)
  return r + 256 * math.floor(b / 16), g + 256 * (b % 16)
end

local function adler32(s)
  local a, b = 1, 0
  for i = 1, #s do
    a = (a + s:byte(i)) % 65521
    b = (b + a) % 65521
  end
  return b * 65536 + a
end

local black = string.rep("\0", 230400)

T.test("resized, a picture is sent as a device image", function()
  sim.clear_calls()
  local rc, image = show("gradient_320x240.png")
  T.eq(rc, 0)
  local call = T.calls(sim, "SetImage")[1]
  T.eq(call.bytes, 230400); T.eq(call.index, 0); T.eq(call.page, 1)
  T.eq(#T.calls(sim, "SetImageFromFile"), 0)
  local sx, sy = source_of(image, 123, 201)
  T.eq(sx, 123); T.eq(sy, 201)
end)

T.test("a 640x480 picture is halved in both directions", function()
  local _, image = show("gradient_640x480.png")
  for _, p in ipairs({ { 0, 0 }, { 319, 239 }, { 100, 50 } }) do
    local sx, sy = source_of(image, p[1], p[2])
    T.truthy(sx == 2 * p[1] or sx == 2 * p[1] + 1, "column " .. p[1] .. " from " .. sx)
    T.truthy(sy == 2 * p[2] or sy == 2 * p[2] + 1, "row " .. p[2] .. " from " .. sy)
  end
end)

T.test("a 100x50 picture is stretched 3.2 across and 4.8 down", function()
  local _, image = show("gradient_100x50.png")
  for _, p in ipairs({ { 0, 0 }, { 319, 239 }, { 160, 120 }, { 33, 77 } }) do
    local sx, sy = source_of(image, p[1], p[2])
    T.truthy(math.abs(sx - p[1] / 3.2) <= 1, "column " .. p[1] .. " from " .. sx)
    T.truthy(math.abs(sy - p[2] / 4.8) <= 1, "row " .. p[2] .. " from " .. sy)
  end
end)

T.test("a palette picture shows its palette's colours", function()
  local _, image = show("palette_64x48.png")
  -- Source pixel (x, y) has palette index (x // 4 + y // 3) % 16 and colour (i*37, i*91, i*13) mod 256.
  local r, g, b = pixel(image, 0, 0)
  T.eq(r, 0); T.eq(g, 0); T.eq(b, 0)
  r, g, b = pixel(image, 319, 239)
  local i = (math.floor(63 / 4) + math.floor(47 / 3)) % 16
  T.eq(r, (i * 37) % 256); T.eq(g, (i * 91) % 256); T.eq(b, (i * 13) % 256)
end)

T.test("transparent areas show the colours the file stores for them", function()
  v.SetImage("SFIP", 1, 1, 1, string.rep("\255", 307224))  -- white first
  local _, image = show("transparent_80x60.png")
  local r, g, b = pixel(image, 10, 100)
  T.eq(r, 10); T.eq(g, 200); T.eq(b, 30)
  r, g, b = pixel(image, 300, 100)
  T.eq(r, 200); T.eq(g, 10); T.eq(b, 30)
end)

T.test("a BMP and a JPEG decode too", function()
  local _, image = show("gradient_333x77.bmp")
  local sx, sy = source_of(image, 319, 239)
  T.eq(sx, 332); T.eq(sy, 76)
  local _, photo = show("photo_100x50.jpg")
  local r, g = pixel(photo, 319, 239)
  T.truthy(math.abs(r - 99) <= 8 and math.abs(g - 49) <= 8, "close to the gradient's corner")
end)

T.test("a missing, broken or oversized file sends a black image with the send's ResultCode", function()
  for _, file in ipairs({ "no_such_file.png", "broken_truncated.png", "broken_garbage.png", "broken_text.png",
    "broken_empty.png", "broken_oversized.png" }) do
    show("gradient_320x240.png")
    local rc, image = show(file)
    T.eq(rc, 0, file)
    T.truthy(image == black, file .. " is black")
  end
  sim.fail("SetImage", 0x80070057)
  T.eq(v.SetImageFromFile("SFIP", 1, 1, 1, images .. "no_such_file.png", true), 3)
  sim.fail("SetImage")
end)

T.test("lossless files give the golden device images", function()
  local golden = {}
  for line in io.lines(images .. "golden.txt") do
    local file, sum = line:match("^(%S+)%s+(%d+)")
    if file then golden[file] = tonumber(sum) end
  end
  local checked = 0
  for file, sum in pairs(golden) do
    local _, image = show(file)
    T.eq(adler32(image), sum, file)
    checked = checked + 1
  end
  T.eq(checked, 6)
end)

T.finish()
