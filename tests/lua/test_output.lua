package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local X52, FIP = 1, 2

local function last(name)
  local calls = T.calls(sim, name)
  return calls[#calls]
end

T.test("AddPage takes only a boolean for activate", function()
  for _, bad in ipairs({ "nil", 0, 1, "true" }) do
    if bad == "nil" then bad = nil end
    T.eq(T.count(v.AddPage("SFIP", 1, 1, bad)), 0)
  end
  T.eq(v.AddPage("SFIP", 1, 1, true), 0)
  T.eq(last("AddPage").flags, 1)
  T.eq(sim.active_page(FIP), 1)
  T.eq(v.AddPage("SFIP", 1, 2, false), 0)
  T.eq(last("AddPage").flags, 0)
  T.eq(v.AddPage("SFIP", 1, 2, false), 3, "a page added twice is refused by the device")
  T.eq(T.count(v.AddPage("SFIP", 1, 2)), 0)
  T.eq(T.count(v.AddPage("SFIP", 1, 2, true, 1)), 0)
end)

T.test("RemovePage passes the page unchanged", function()
  T.eq(v.RemovePage("SFIP", 1, 2), 0)
  T.eq(last("RemovePage").page, 2)
  T.eq(v.RemovePage("SFIP", 1, 2), 4, "DirectOutput's own failure code")
  T.eq(v.AddPage("SFIP", 1, -1, false), 0)
  T.eq(last("AddPage").page, 4294967295, "page numbers pass as unsigned 32-bit values")
end)

T.test("SetLed passes the LED index unchanged and the value as 0 or 1", function()
  T.eq(v.SetLed("SFIP", 1, 1, 0, true), 0)
  T.eq(last("SetLed").index, 0); T.eq(last("SetLed").value, 1)
  T.eq(v.SetLed("SFIP", 1, 1, 3, false), 0)
  T.eq(last("SetLed").index, 3); T.eq(last("SetLed").value, 0)
  T.eq(sim.led(FIP, 1, 0), true); T.eq(sim.led(FIP, 1, 3), false)
  T.eq(T.count(v.SetLed("SFIP", 1, 1, 3)), 0)
  T.eq(T.count(v.SetLed("SFIP", 1, 1, 3, true, 1)), 0)
  T.eq(T.count(v.SetLed("SFIP", 1, 1, 3, 1)), 0)
end)

T.test("SetString lowers the index and counts the terminator", function()
  T.eq(v.SetString("SFIP", 1, 1, 1, "hello"), 0)
  local call = last("SetString")
  T.eq(call.index, 0); T.eq(call.length, 6); T.eq(call.text, "hello")
  T.eq(sim.string(FIP, 1, 0), "hello")
  T.eq(v.SetString("SFIP", 1, 1, 0, "x"), 0)
  T.eq(last("SetString").index, 4294967295, "index 0 passes as -1")
  T.eq(v.SetString("SFIP", 1, 1, 2, ""), 0)
  T.eq(last("SetString").length, 1)
  T.eq(sim.string(FIP, 1, 1), "")
  T.eq(v.SetString("SFIP", 1, 1, 2, "before\0after"), 0)
  T.eq(last("SetString").text, "before"); T.eq(last("SetString").length, 7)
  T.eq(v.SetString("SFIP", 1, 1, 2, 12.5), 0)
  T.eq(last("SetString").text, "12.5")
  T.eq(T.count(v.SetString("SFIP", 1, 1, 2, {})), 0)
  T.eq(v.SetString("SFIP", 1, 1, 2, "caf\233"), 0)
  T.eq(last("SetString").text, "caf\195\169", "in the C locale the byte 0xE9 becomes U+00E9")
end)

T.test("indexes that do not convert are lowered without overflow", function()
  -- NaN, the infinities and values beyond 32 bits convert to -2147483648; less one is 0x7FFFFFFF.
  local image = string.rep("\0", 307224)
  for _, index in ipairs({ 0 / 0, 1 / 0, -1 / 0, 1e10 }) do
    v.SetString("SFIP", 1, 1, index, "x")
    T.eq(last("SetString").index, 2147483647)
    v.SetImage("SFIP", 1, 1, index, image)
    T.eq(last("SetImage").index, 2147483647)
    v.SetImageFromFile("SFIP", 1, 1, index, "none.png")
    T.eq(last("SetImageFromFile").index, 2147483647)
  end
end)

T.test("under a UTF-8 locale chosen by the host, text is decoded as UTF-8", function()
  if not os.setlocale("C.UTF-8", "ctype") then return end  -- a C library without that locale
  T.eq(v.SetString("SFIP", 1, 1, 2, "caf\195\169 \226\130\172"), 0)
  T.eq(last("SetString").length, 7, "six characters and the terminator")
  T.eq(last("SetString").text, "caf\195\169 \226\130\172")
  os.setlocale("C", "ctype")
end)

T.test("SetProfile sends the path with its length", function()
  T.eq(v.SetProfile("X52P", 1, "C:\\profiles\\one.pr0"), 0)
  T.eq(last("SetProfile").length, 20)
  T.eq(sim.profile(X52), "C:\\profiles\\one.pr0")
  T.eq(T.count(v.SetProfile("X52P", 1)), 0)
end)

local function raw_image(pixel)
  local rows = { string.rep("H", 24) }
  for y = 0, 239 do
    local row = {}
    for x = 0, 319 do
      local r, g, b, extra = pixel(x, y)
      row[#row + 1] = string.char(r, g, b, extra or 0)
    end
    rows[#rows + 1] = table.concat(row)
  end
  return table.concat(rows)
end

local function device_pixel(image, x, y)
  local at = 960 * (239 - y) + 3 * x + 1
  return image:byte(at + 2), image:byte(at + 1), image:byte(at)  -- red, green, blue
end

T.test("SetImage reorders rows and bytes for the device", function()
  local data = raw_image(function(x, y) return x % 256, y, (x + y) % 256, 99 end)
  T.eq(#data, 307224)
  T.eq(v.SetImage("SFIP", 1, 1, 1, data), 0)
  local call = last("SetImage")
  T.eq(call.bytes, 230400); T.eq(call.index, 0); T.eq(call.page, 1)
  local image = sim.image(FIP, 1, 0)
  T.eq(image:byte(229441), data:byte(26), "top-left blue"); T.eq(image:byte(229443), data:byte(25), "top-left red")
  T.eq(image:byte(1), data:byte(305944 + 3), "bottom-left blue"); T.eq(image:byte(3), data:byte(305944 + 1))
  T.eq(image:byte(960), data:byte(307220 + 1), "bottom-right red"); T.eq(image:byte(958), data:byte(307220 + 3))
  local r, g, b = device_pixel(image, 300, 17)
  T.eq(r, 300 % 256); T.eq(g, 17); T.eq(b, 317 % 256)
end)

T.test("SetImage ignores the header, the fourth bytes and anything past the picture", function()
  local one = raw_image(function(x, y) return x % 256, y, 7, 0 end)
  local two = string.rep("Z", 24) .. raw_image(function(x, y) return x % 256, y, 7, 255 end):sub(25) .. "tail"
  v.SetImage("SFIP", 1, 1, 2, one)
  v.SetImage("SFIP", 1, 1, 3, two)
  T.truthy(sim.image(FIP, 1, 1) == sim.image(FIP, 1, 2))
end)

T.test("SetImage refuses a short picture and sends nothing", function()
  sim.clear_calls()
  T.eq(T.count(v.SetImage("SFIP", 1, 1, 1, string.rep("x", 307223))), 0)
  T.eq(T.count(v.SetImage("SFIP", 1, 1, 1, "")), 0)
  T.eq(T.count(v.SetImage("SFIP", 1, 1, 1, {})), 0)
  T.eq(T.count(v.SetImage("SFIP", 1, 1, string.rep("x", 307224))), 0)
  T.eq(#sim.calls(), 0)
  T.eq(v.SetImage("SFIP", 1, 1, 0, string.rep("x", 307224)), 0)
  T.eq(last("SetImage").index, 4294967295)
  T.eq(v.SetImage("X52P", 1, 77, 1, string.rep("x", 307224)), 4, "any present device is asked; it answers")
end)

T.test("SetImageFromFile by name sends the name and its length", function()
  T.eq(v.SetImageFromFile("SFIP", 1, 1, 1, "a.png"), 0)
  local call = last("SetImageFromFile")
  T.eq(call.length, 6); T.eq(call.text, "a.png"); T.eq(call.index, 0); T.eq(call.page, 1)
  T.eq(v.SetImageFromFile("SFIP", 1, 1, 2, "b.png", false), 0)
  T.eq(last("SetImageFromFile").text, "b.png"); T.eq(last("SetImageFromFile").index, 1)
  for _, bad in ipairs({ 1, "true", {} }) do T.eq(T.count(v.SetImageFromFile("SFIP", 1, 1, 1, "a.png", bad)), 0) end
  T.eq(T.count(v.SetImageFromFile("SFIP", 1, 1, 1, "a.png", nil)), 0)
  T.eq(T.count(v.SetImageFromFile("SFIP", 1, 1, 1)), 0)
  T.eq(T.count(v.SetImageFromFile("SFIP", 1, 1, 1, "a.png", true, 1)), 0)
end)

T.test("every entry point's failure comes back through the ResultCode table", function()
  local codes = { [0] = 0, [0x80070006] = 1, [0x80004001] = 2, [0x80070057] = 3, [0xFF040001] = 4,
    [0x8007000E] = 5, [1] = -1, [0x80004005] = -1 }
  local raw = string.rep("x", 307224)
  local calls = {
    AddPage = function() return v.AddPage("SFIP", 1, 50, true) end,
    RemovePage = function() return v.RemovePage("SFIP", 1, 50) end,
    SetLed = function() return v.SetLed("SFIP", 1, 1, 1, true) end,
    SetString = function() return v.SetString("SFIP", 1, 1, 1, "x") end,
    SetProfile = function() return v.SetProfile("SFIP", 1, "p") end,
    SetImage = function() return v.SetImage("SFIP", 1, 1, 1, raw) end,
    SetImageFromFile = function() return v.SetImageFromFile("SFIP", 1, 1, 1, "a.png") end,
    RegisterPageCallback = function() return v.RegisterPageCallback("SFIP", 1, print) end,
    RegisterSoftButtonCallback = function()
      v.RegisterSoftButtonCallback("SFIP", 1, nil)
      return v.RegisterSoftButtonCallback("SFIP", 1, print)
    end,
  }
  for name, call in pairs(calls) do
    for hresult, code in pairs(codes) do
      sim.fail(name, hresult)
      T.eq(call(), code, name .. " answering " .. hresult)
    end
    sim.fail(name)
  end
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("an unplugged device answers nothing until it comes back", function()
  sim.unplug(X52)
  T.deliver(sim, v)
  sim.clear_calls()
  T.eq(T.count(v.AddPage("X52P", 1, 1, true)), 0)
  T.eq(T.count(v.SetLed("X52P", 1, 1, 1, true)), 0)
  T.eq(T.count(v.SetString("X52P", 1, 1, 1, "x")), 0)
  T.eq(T.count(v.SetProfile("X52P", 1, "x")), 0)
  T.eq(T.count(v.SetImageFromFile("X52P", 1, 1, 1, "x", true)), 0)
  T.eq(#sim.calls(), 0)
  sim.replug(X52)
  T.deliver(sim, v)
  T.eq(v.AddPage("X52P", 1, 1, true), 0)
end)

T.finish()
