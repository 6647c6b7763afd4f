package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"

T.test("require yields the table with its functions and nothing else", function()
  T.eq(type(v), "table")
  T.eq(v, vexlan, "global vexlan")
  T.module_table_intact(v)
end)

T.test("vexlan.kinds: the tags the module answers to and the picture SetImage takes", function()
  local kinds = require "vexlan.kinds"
  T.eq(table.concat(kinds.tags, ","), "SFIP,X52P,UNKN")
  T.eq(kinds.SFIP.screen, true)
  T.eq(kinds.X52P.screen, false)
  T.eq(kinds.X52P.display_lines .. "x" .. kinds.X52P.display_columns, "3x16")
  T.eq(kinds.UNKN.display_lines, 0)
  for _, tag in ipairs(kinds.tags) do T.eq(kinds[tag].tag, tag) end
  local p = kinds.picture
  T.eq(table.concat({ p.width, p.height, p.raw_header_bytes, p.raw_bytes, p.device_bytes }, " "),
       "320 240 24 307224 230400")
  T.eq(v.AddPage("SFIP", 1, 7, false), 0)
  T.eq(v.SetImage("SFIP", 1, 7, 1, string.rep("\0", p.raw_bytes)), 0)
  T.eq(#sim.image(2, 7, 0), p.device_bytes)
  T.eq(v.RemovePage("SFIP", 1, 7), 0)
end)

T.test("GetVersion answers the same whatever it is given", function()
  for _, args in ipairs({ {}, { 1, 2, 3 }, { {}, "x" } }) do
    local s, a, b, c, d = v.GetVersion(unpack(args))
    T.eq(s, "0.3.5"); T.eq(a, 0); T.eq(b, 3); T.eq(c, 5); T.eq(d, 0)
    T.eq(T.count(v.GetVersion(unpack(args))), 5)
  end
end)

T.test("Initialize and Release do nothing", function()
  T.eq(T.count(v.Initialize()), 0)
  T.eq(T.count(v.Release(1, "x")), 0)
  T.eq(v.GetNumDevices(), 2)
end)

T.test("the plug-in name reaches DirectOutput", function()
  -- The library was initialised when the module was opened; its call was recorded then.
  local init = T.calls(sim, "Initialize")
  T.eq(#init, 1)
  T.eq(init[1].text, "LuaVexlanLib")
end)

T.test("GetNumDevices: no argument, a tag, an unknown text, a number", function()
  T.eq(v.GetNumDevices(), 2)
  T.eq(v.GetNumDevices("SFIP"), 1)
  T.eq(v.GetNumDevices("X52P"), 1)
  T.eq(v.GetNumDevices("abc"), 0)
  T.eq(v.GetNumDevices(5), 0)
  T.eq(v.GetNumDevices("sfip"), 0)
  T.eq(v.GetNumDevices("X52P\0tail"), 1, "compared up to the zero byte")
end)

T.test("GetNumDevices refuses two arguments, a table, nil or a boolean", function()
  T.eq(T.count(v.GetNumDevices("SFIP", 1)), 0)
  T.eq(T.count(v.GetNumDevices({})), 0)
  T.eq(T.count(v.GetNumDevices(nil)), 0)
  T.eq(T.count(v.GetNumDevices(true)), 0)
end)

T.test("devices of other types are UNKN, and so is any unknown text", function()
  local id = sim.plug("ABCD")
  T.deliver(sim, v)
  T.eq(v.GetNumDevices("UNKN"), 1)
  T.eq(v.GetNumDevices("nonsense"), 1)
  T.eq(v.AddPage("anything", 1, 7, false), 0, "a mistyped tag addresses the other types")
  sim.unplug(id)
  T.deliver(sim, v)
  T.eq(v.GetNumDevices("UNKN"), 0)
end)

T.test("ordinals truncate toward zero; zero, negatives and non-numbers address nothing", function()
  T.eq(v.AddPage("SFIP", 1.7, 1, false), 0)
  T.eq(v.AddPage("SFIP", "1", 2, false), 0)
  T.eq(T.count(v.AddPage("SFIP", 0, 3, false)), 0)
  T.eq(T.count(v.AddPage("SFIP", -1, 3, false)), 0)
  T.eq(T.count(v.AddPage("SFIP", 0.9, 3, false)), 0)
  T.eq(T.count(v.AddPage("SFIP", "x", 3, false)), 0)
  T.eq(T.count(v.AddPage("SFIP", 2, 3, false)), 0)
  T.eq(T.count(v.AddPage("SFIP", 0/0, 3, false)), 0)
  T.eq(T.count(v.AddPage("SFIP", 1e300, 3, false)), 0)
end)

-- Every function, given any number of arguments of any kind, answers without raising an error.
T.test("no function raises an error, whatever it is given", function()
  local values = { nil, true, false, 0, 1, -1, 2.5, 0/0, 1/0, "", "SFIP", "X52P", "1", "\0", {}, print,
    coroutine.create(function() end), string.rep("x", 400000) }
  local count = 0
  for name, f in pairs(v) do
    if name ~= "Listen" then
      for n = 0, 6 do
        for i = 1, #values + 1 do
          local args = {}
          for k = 1, n do args[k] = values[((i + k * 7) % (#values + 1)) + 1] end
          if n >= 1 then args[1] = (i % 3 == 0) and "SFIP" or args[1] end
          if n >= 2 then args[2] = (i % 2 == 0) and 1 or args[2] end
          local ok, err = pcall(f, unpack(args, 1, n))
          if not ok then error(name .. " raised: " .. tostring(err)) end
          count = count + 1
        end
      end
    end
  end
  T.truthy(count > 1000)
end)

T.finish()
