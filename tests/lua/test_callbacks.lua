package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local X52, FIP = 1, 2  -- simulator ids of the devices attached at start

local function registrations(handler)
  local list = {}
  for _, call in ipairs(T.calls(sim, "RegisterSoftButtonCallback")) do list[#list + 1] = call.handler end
  return list
end

T.test("the trio registers with the first member and unregisters with the last", function()
  sim.clear_calls()
  T.eq(v.RegisterSoftButtonCallback("X52P", 1, function() end), 0)
  T.eq(v.RegisterSoftButtonDownCallback("X52P", 1, function() end), 0)
  T.eq(v.RegisterSoftButtonCallback("X52P", 1, nil), 0)
  T.eq(v.RegisterSoftButtonDownCallback("X52P", 1, nil), 0)
  local list = registrations()
  T.eq(#list, 2, "calls made")
  T.eq(list[1], true, "first member registers the handler")
  T.eq(list[2], false, "last member cleared registers none")
  local call = T.calls(sim, "RegisterSoftButtonCallback")[1]
  T.eq(call.id, X52)
end)

T.test("each row of the decision table", function()
  -- old none, new none, others none: a call with none
  sim.clear_calls()
  T.eq(v.RegisterSoftButtonUpCallback("SFIP", 1, nil), 0)
  T.eq(#registrations(), 1); T.eq(registrations()[1], false)
  -- old none, new set, others none: registers
  sim.clear_calls(); v.RegisterSoftButtonUpCallback("SFIP", 1, print)
  T.eq(registrations()[1], true)
  -- old none, new set, one other set: no call
  sim.clear_calls(); v.RegisterSoftButtonDownCallback("SFIP", 1, print)
  T.eq(#registrations(), 0)
  -- old set, new set: replacing makes no call
  sim.clear_calls(); v.RegisterSoftButtonDownCallback("SFIP", 1, tostring)
  T.eq(#registrations(), 0)
  -- old none, new none, one other set: no call
  sim.clear_calls(); v.RegisterSoftButtonCallback("SFIP", 1, nil)
  T.eq(#registrations(), 0)
  -- old set, new none, one other set: no call
  sim.clear_calls(); v.RegisterSoftButtonDownCallback("SFIP", 1, nil)
  T.eq(#registrations(), 0)
  -- old set, new none, none other: a call with none
  sim.clear_calls(); v.RegisterSoftButtonUpCallback("SFIP", 1, nil)
  T.eq(#registrations(), 1); T.eq(registrations()[1], false)
end)

T.test("masks 5, 4, 4 with the trio set", function()
  local seen = {}
  local function recorder(kind) return function(tag, ordinal, mask) seen[#seen + 1] = kind .. mask end end
  v.RegisterSoftButtonCallback("SFIP", 1, recorder("s"))
  v.RegisterSoftButtonDownCallback("SFIP", 1, recorder("d"))
  v.RegisterSoftButtonUpCallback("SFIP", 1, recorder("u"))
  sim.buttons(FIP, 5); sim.buttons(FIP, 4); sim.buttons(FIP, 4); sim.buttons(FIP, 0)
  T.deliver(sim, v)
  T.eq(table.concat(seen, " "), "s5 d5 s4 u1 s4 s0 u4")
  seen = {}
  sim.buttons(FIP, 0)
  T.deliver(sim, v)
  T.eq(table.concat(seen, " "), "s0", "mask 0 after 0 calls the soft-button callback alone")
  for _, f in ipairs({ v.RegisterSoftButtonCallback, v.RegisterSoftButtonDownCallback, v.RegisterSoftButtonUpCallback }) do
    f("SFIP", 1, nil)
  end
end)

T.test("callbacks get the tag, the ordinal and the mask", function()
  local got
  v.RegisterSoftButtonCallback("X52P", 1, function(...) got = { ... } end)
  sim.buttons(X52, 0x80000001)
  T.deliver(sim, v)
  T.eq(got[1], "X52P"); T.eq(got[2], 1); T.eq(got[3], 0x80000001, "unsigned 32-bit mask")
  v.RegisterSoftButtonCallback("X52P", 1, nil)
end)

T.test("a global's name is read once; an undefined global clears", function()
  local calls = {}
  function OnButtons(tag, ordinal, mask) calls[#calls + 1] = "first" end
  T.eq(v.RegisterSoftButtonCallback("SFIP", 1, "OnButtons"), 0)
  OnButtons = function() calls[#calls + 1] = "second" end
  sim.buttons(FIP, 1)
  T.deliver(sim, v)
  T.eq(table.concat(calls, ","), "first", "reassigning the global changes nothing")
  T.eq(v.RegisterSoftButtonCallback("SFIP", 1, "NoSuchGlobal"), 0)
  sim.buttons(FIP, 2)
  T.deliver(sim, v)
  T.eq(#calls, 1, "cleared")
end)

T.test("a number names a global too", function()
  local hit = false
  _G["42"] = function() hit = true end
  T.eq(v.RegisterSoftButtonCallback("SFIP", 1, 42), 0)
  sim.buttons(FIP, 3)
  T.deliver(sim, v)
  T.truthy(hit)
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("a table, a boolean or userdata is refused and the old callback kept", function()
  local hits = 0
  v.RegisterSoftButtonCallback("SFIP", 1, function() hits = hits + 1 end)
  sim.clear_calls()
  for _, bad in ipairs({ {}, true, false, io.stdout, coroutine.create(function() end) }) do
    for _, f in ipairs({ v.RegisterSoftButtonCallback, v.RegisterPageCallback, v.RegisterSoftButtonUpCallback,
      v.RegisterSoftButtonDownCallback }) do
      T.eq(T.count(f("SFIP", 1, bad)), 0)
    end
    T.eq(T.count(v.RegisterDeviceChangeCallback(bad)), 0)
  end
  T.eq(#sim.calls(), 0, "nothing reached DirectOutput")
  sim.buttons(FIP, 4)
  T.deliver(sim, v)
  T.eq(hits, 1)
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("a global whose lookup raises an error is refused without an error", function()
  setmetatable(_G, { __index = function(_, name) error("strict: " .. name) end })
  T.eq(T.count(v.RegisterDeviceChangeCallback("Undefined")), 0)
  setmetatable(_G, nil)
end)

T.test("RegisterDeviceChangeCallback takes exactly one argument", function()
  T.eq(v.RegisterDeviceChangeCallback(print), 0)
  T.eq(v.RegisterDeviceChangeCallback("print"), 0)
  T.eq(v.RegisterDeviceChangeCallback(nil), 0)
  T.eq(T.count(v.RegisterDeviceChangeCallback(print, print)), 0)
  T.eq(T.count(v.RegisterDeviceChangeCallback()), 0)
end)

T.test("page callbacks: registration on every call, events with page and state", function()
  sim.clear_calls()
  local seen = {}
  T.eq(v.RegisterPageCallback("SFIP", 1, function(tag, ordinal, page, active)
    seen[#seen + 1] = tag .. ordinal .. ":" .. page .. tostring(active)
  end), 0)
  T.eq(v.RegisterPageCallback("SFIP", 1, function(tag, ordinal, page, active)
    seen[#seen + 1] = page .. tostring(active)
  end), 0)
  local calls = T.calls(sim, "RegisterPageCallback")
  T.eq(#calls, 2, "replacing a callback registers again")
  T.eq(calls[2].handler, true)
  sim.page(FIP, 3, true); sim.page(FIP, 3, false); sim.page(FIP, 4294967295, true)
  T.deliver(sim, v)
  T.eq(table.concat(seen, " "), "3true 3false 4294967295true")
  T.eq(v.RegisterPageCallback("SFIP", 1, nil), 0)
  T.eq(T.calls(sim, "RegisterPageCallback")[3].handler, false)
  seen = {}
  sim.page(FIP, 5, true)
  T.deliver(sim, v)
  T.eq(#seen, 0, "clearing ended the registration")
end)

T.test("a failing DirectOutput registration keeps the new callback", function()
  sim.fail("RegisterPageCallback", 0x80004005)
  T.eq(v.RegisterPageCallback("X52P", 1, print), -1)
  sim.fail("RegisterPageCallback")
  sim.clear_calls()
  T.eq(v.RegisterPageCallback("X52P", 1, nil), 0)
  T.eq(T.calls(sim, "RegisterPageCallback")[1].handler, false)
end)

T.test("an error in one callback does not stop the next", function()
  local after = false
  v.RegisterSoftButtonCallback("SFIP", 1, function() error("boom") end)
  v.RegisterSoftButtonDownCallback("SFIP", 1, function() after = true end)
  sim.buttons(FIP, 0); sim.buttons(FIP, 8)
  T.deliver(sim, v)
  T.truthy(after)
  v.RegisterSoftButtonCallback("SFIP", 1, nil); v.RegisterSoftButtonDownCallback("SFIP", 1, nil)
end)

T.test("a Register call from a coroutine registers for the state", function()
  local hits = 0
  local co = coroutine.create(function()
    return v.RegisterSoftButtonCallback("SFIP", 1, function() hits = hits + 1 end), v.RegisterDeviceChangeCallback(nil)
  end)
  local ok, a, b = coroutine.resume(co)
  T.truthy(ok); T.eq(a, 0); T.eq(b, 0)
  sim.buttons(FIP, 10)
  T.deliver(sim, v)
  T.eq(hits, 1)
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("Listen from a coroutine delivers to the state that opened the module", function()
  local hits = 0
  v.RegisterSoftButtonCallback("SFIP", 1, function() hits = hits + 1 end)
  sim.buttons(FIP, 9)
  sim.flush()
  coroutine.wrap(function() v.Listen() end)()
  T.eq(hits, 1)
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("callbacks may call module functions", function()
  v.AddPage("SFIP", 1, 9, true)
  v.RegisterSoftButtonCallback("SFIP", 1, function(tag, ordinal, mask)
    v.SetString(tag, ordinal, 9, 1, "mask " .. mask)
    v.RegisterPageCallback(tag, ordinal, nil)
  end)
  sim.buttons(FIP, 6)
  T.deliver(sim, v)
  T.eq(sim.string(FIP, 9, 0), "mask 6")
  v.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.finish()
