package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local vexlan = require "vexlan"
local sim = require "vexlan_sim"
local loop = require "vexlan.loop"
local cockpit = require "vexlan.cockpit"
local X52, FIP = 1, 2

local reported = {}
cockpit.on_error = function(message) reported[#reported + 1] = tostring(message) end

local function deliver()
  sim.flush()
  return cockpit.poll()
end

local function raw(r, g, b)
  return string.rep("\0", 24) .. string.rep(string.char(r, g, b, 0), 320 * 240)
end

T.test("the module's table keeps its functions; the submodules stand apart", function()
  T.module_table_intact(vexlan)
  T.eq(package.loaded["vexlan.loop"], loop)
end)

T.test("poll delivers what waited, in order, once; a poll inside a callback delivers nothing", function()
  local masks, inner = {}, {}
  vexlan.RegisterSoftButtonCallback("SFIP", 1, function(_, _, mask)
    masks[#masks + 1] = mask
    inner[#inner + 1] = loop.poll()
  end)
  for mask = 1, 5 do sim.buttons(FIP, mask) end
  sim.flush()
  T.eq(loop.poll(), 5)
  T.eq(table.concat(masks, ","), "1,2,3,4,5")
  T.eq(table.concat(inner, ","), "0,0,0,0,0")
  T.eq(loop.poll(), 0)
  vexlan.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("wait lends the state: callbacks run during it on the simulator's thread", function()
  local seen = 0
  vexlan.RegisterSoftButtonCallback("SFIP", 1, function() seen = seen + 1 end)
  sim.buttons(FIP, 1)
  local deadline = loop.clock() + 5
  repeat loop.wait(0.01) until seen == 1 or loop.clock() > deadline
  T.eq(seen, 1)
  T.eq(loop.read(), nil, "standard input is at its end")
  vexlan.RegisterSoftButtonCallback("SFIP", 1, nil)
end)

T.test("a unit the layer only reports on keeps what the script registered through the module", function()
  local seen, arrived = 0, 0
  vexlan.RegisterSoftButtonCallback("X52P", 1, function() seen = seen + 1 end)
  local listener = cockpit.on("added", function() arrived = arrived + 1 end)
  for _ = 1, 2 do  -- the second time, the layer has a device object for it
    sim.unplug(X52); sim.replug(X52)
    deliver()
  end
  sim.buttons(X52, 0x8)
  deliver()
  T.eq(arrived, 2)
  T.eq(seen, 1, "the script's own callback still runs")
  cockpit.off("added", listener)
  vexlan.RegisterSoftButtonCallback("X52P", 1, nil)
end)

local panel = cockpit.device("SFIP", 1)

local function set_up_panel()
  panel:set_profile("C:\\profiles\\cockpit.pr0")
  panel:add_page(1, false)
  panel:add_page(2, true)
  panel:add_page(3, false)
  panel:set_string(2, 1, "ALT")
  panel:set_string(2, 2, 12500)
  panel:set_led(2, 1, true)  -- LEDs count from 1, as strings and images do: the unit's LED 0
  panel:set_led(2, 4, false)
  panel:set_image(2, 1, raw(10, 20, 30))
  panel:set_image(2, 1, raw(200, 100, 50))  -- the last image is the one kept
  panel:add_page(4, false)
  panel:set_string(4, 1, "GONE")
  panel:remove_page(4)
end

local function expect_panel_restored(id, active)
  T.eq(table.concat(sim.pages(id), ","), "1,2,3", "pages")
  T.eq(sim.active_page(id), active or 2, "the active page")
  T.eq(sim.string(id, 2, 0), "ALT")
  T.eq(sim.string(id, 2, 1), "12500")
  T.eq(sim.led(id, 2, 0), true)
  T.eq(sim.led(id, 2, 3), false)
  T.eq(sim.image(id, 2, 0):sub(1, 3), string.char(50, 100, 200), "the last image, blue-green-red")
  T.eq(sim.profile(id), "C:\\profiles\\cockpit.pr0")
end

local function replug(newhandle)
  sim.unplug(FIP); sim.replug(FIP, newhandle)
  deliver()
end

local presses, downs, arrivals = {}, {}, {}
local function on_press(device, mask) presses[#presses + 1] = device.tag .. ":" .. mask end
local function on_press_too(_, mask) presses[#presses + 1] = "again:" .. mask end
panel:on("buttons", on_press)
panel:on("buttons", on_press_too)
panel:on("down", function(_, mask) downs[#downs + 1] = mask end)
panel:on("added", function(device, added) arrivals[#arrivals + 1] = tostring(added) end)

T.test("several listeners hear one event, each once, in the order added", function()
  sim.buttons(FIP, 0)
  deliver()
  presses = {}
  sim.buttons(FIP, 1)
  T.eq(deliver(), 1)
  T.eq(table.concat(presses, " "), "SFIP:1 again:1")
  T.eq(table.concat(downs, " "), "1")
  T.truthy(panel:off("buttons", on_press_too))
  T.eq(panel:off("buttons", on_press_too), false, "removed once")
  sim.buttons(FIP, 0)
  deliver()
  T.eq(table.concat(presses, " "), "SFIP:1 again:1 SFIP:0")
end)

for _, newhandle in ipairs({ false, true }) do
  T.test("a unit back under " .. (newhandle and "a new" or "its old") .. " handle shows all again and its listeners work", function()
    set_up_panel()
    expect_panel_restored(FIP)
    presses, downs, arrivals = {}, {}, {}
    sim.unplug(FIP)
    deliver()
    T.eq(#sim.pages(FIP), 0, "the unit left blank")
    sim.replug(FIP, newhandle)
    -- Under its old handle the unit's registration held: a press queued behind the arrival waits while
    -- the layer renews it, and still arrives, once.
    if not newhandle then sim.buttons(FIP, 4) end
    deliver()
    expect_panel_restored(FIP)
    T.eq(table.concat(arrivals, " "), "true", "the arrival listener ran once")
    T.eq(table.concat(presses, " "), newhandle and "" or "SFIP:4", "a press queued behind the arrival")
    presses = {}
    sim.buttons(FIP, 2)
    deliver()
    T.eq(table.concat(presses, " "), "SFIP:2", "a press after the return reaches the listener once")
    T.eq(table.concat(downs, " "), newhandle and "2" or "4 2")
    sim.buttons(FIP, 0)
    deliver()
  end)
end

T.test("the page the unit turns to is shown again on return, with no page listener; one it turns off is not", function()
  sim.page(FIP, 3, true)
  deliver()
  replug(true)
  T.eq(sim.active_page(FIP), 3, "the unit's turn kept")
  sim.page(FIP, 3, false)
  deliver()
  replug(false)
  T.eq(sim.active_page(FIP), nil, "no page made active")
  T.eq(table.concat(sim.pages(FIP), ","), "1,2,3")
end)

T.test("show_page turns the unit and keeps every page's contents; add_page of a page it has changes nothing", function()
  T.eq(panel:show_page(3), 0)
  T.eq(sim.active_page(FIP), 3)
  T.eq(panel:add_page(2, true), 3, "the unit refuses a page it has")
  replug(true)
  T.eq(sim.active_page(FIP), 3, "the record kept what the unit showed")
  T.eq(panel:show_page(2), 0)
  expect_panel_restored(FIP)
  replug(true)
  expect_panel_restored(FIP)
end)

T.test("page listeners hear the unit's turns", function()
  local pages = {}
  local listener = panel:on("page", function(_, page, active) pages[#pages + 1] = page .. (active and "+" or "-") end)
  sim.page(FIP, 2, false)
  sim.page(FIP, 3, true)
  deliver()
  replug(true)
  sim.page(FIP, 2, true)
  deliver()
  T.eq(table.concat(pages, " "), "2- 3+ 2+", "the page registration renewed under the new handle")
  panel:off("page", listener)
end)

T.test("a flapping unit: removals and arrivals alternate, and after the last return it shows everything", function()
  local heard = {}
  local function on_added() heard[#heard + 1] = "A" end
  local function on_removed() heard[#heard + 1] = "R" end
  panel:on("added", on_added)
  panel:on("removed", on_removed)
  for i = 1, 100 do
    sim.unplug(FIP); sim.replug(FIP, i % 2 == 0)
    if i % 7 == 0 then deliver() end
  end
  deliver()
  local order = table.concat(heard)
  T.truthy(order:sub(1, 1) == "R" and order:sub(-1) == "A" and not order:find("RR"), order)
  expect_panel_restored(FIP)
  panel:off("added", on_added); panel:off("removed", on_removed)
end)

T.test("pages and indexes from 2^31 up reach the unit exactly", function()
  local far = 3000000000
  T.eq(panel:add_page(far, false), 0)
  T.eq(panel:set_led(far, 2147483649, true), 0)
  T.eq(panel:set_string(far, 4000000000, "FAR"), 0)
  replug(true)
  T.eq(sim.led(FIP, far, 2147483648), true)
  T.eq(sim.string(FIP, far, 3999999999), "FAR")
  panel:remove_page(far)
  T.eq(table.concat(sim.pages(FIP), ","), "1,2,3")
end)

T.test("listeners added inside a coroutine hear the unit; pressed and released name each button from 1", function()
  local heard = {}
  coroutine.wrap(function()
    panel:on("up", function(_, mask) heard[#heard + 1] = "up:" .. mask end)
    panel:on("pressed", function(_, button) heard[#heard + 1] = "+" .. button end)
    panel:on("released", function(_, button) heard[#heard + 1] = "-" .. button end)
  end)()
  sim.buttons(FIP, 0x5)
  sim.buttons(FIP, 0x4)
  sim.buttons(FIP, 0)
  deliver()
  T.eq(table.concat(heard, " "), "+1 +3 up:1 -1 up:4 -3")
end)

T.test("a failing listener is reported and the others still run", function()
  local second = 0
  local function boom() error("listener broke") end
  local function count() second = second + 1 end
  panel:on("buttons", boom)
  panel:on("buttons", count)
  sim.buttons(FIP, 4)
  deliver()
  T.eq(second, 1)
  T.truthy(reported[1] and reported[1]:find("listener broke", 1, true), "reported")
  panel:off("buttons", boom); panel:off("buttons", count)
end)

T.test("an absent unit answers nil and why; a device says whether it is present and how often it arrived", function()
  local before = panel:arrivals()
  T.eq(panel:present(), true)
  sim.unplug(FIP)
  deliver()
  T.eq(panel:present(), false)
  local code, why = panel:set_string(2, 1, "ALT")
  T.eq(code, nil)
  T.eq(why, "absent")
  sim.replug(FIP, true)
  deliver()
  T.eq(panel:arrivals(), before + 1)
  local later = cockpit.device("SFIP", 2)  -- set up while absent: shown as it arrives
  T.eq(later:present(), false)
  code, why = later:add_page(7, true)
  T.eq(why, "absent")
  later:set_string(7, 1, "HELLO")
  local id = sim.plug("SFIP")
  deliver()
  T.eq(sim.active_page(id), 7)
  T.eq(sim.string(id, 7, 0), "HELLO")
end)

T.test("timers run in poll, read and run; run ends on stop, done, time and the end of input", function()
  local ticks = 0
  local timer = cockpit.every(0.001, function()
    ticks = ticks + 1
    if ticks == 3 then cockpit.stop() end
  end)
  T.eq(cockpit.run(), "end of input", "standard input is at its end")
  T.eq(cockpit.run({ input = false }), "stopped")
  T.eq(ticks, 3)
  T.eq(cockpit.run({ input = false, seconds = 5, done = function() return ticks >= 5 end }), "done")
  T.eq(cockpit.run({ input = false, ["until"] = function() return ticks >= 6 end }), "until", "the old name")
  timer:stop()
  local once, second_ran = 0, false
  local second
  cockpit.after(0, function() second:stop() end)
  second = cockpit.after(0, function() second_ran = true end)
  cockpit.after(0, function() once = once + 1 end)
  cockpit.poll(); cockpit.poll()
  T.eq(once, 1)
  T.eq(second_ran, false, "a timer stopped by an earlier one in the same pass")
  T.eq(cockpit.run({ seconds = 0.01, input = false }), "time")
  T.eq(cockpit.run(), "end of input")
  T.eq(select(2, cockpit.read()), "end of input")
  cockpit.stop()
  T.eq(select(2, cockpit.read()), "stopped")
end)

T.test("a timer that raises is reported, keeps its period, and the others still run", function()
  local before, broke, calm = #reported, 0, 0
  local failing = cockpit.every(0.001, function() broke = broke + 1; error("timer broke") end)
  cockpit.after(0, function() calm = calm + 1 end)
  T.eq(cockpit.run({ input = false, done = function() return broke >= 3 end }), "done")
  failing:stop()
  T.eq(calm, 1, "the other timer ran, once")
  T.eq(#reported - before, broke, "each raise reported")
  T.truthy(reported[#reported]:find("timer broke", 1, true), reported[#reported])
end)

T.test("a timer stopped by another never runs again", function()
  local ticks, stopper_ran = 0, 0
  local ticking = cockpit.every(0.02, function() ticks = ticks + 1 end)
  local stopper
  stopper = cockpit.every(0.05, function()
    stopper_ran = stopper_ran + 1
    ticking:stop()
    stopper:stop()  -- a timer may stop itself
  end)
  T.eq(cockpit.run({ input = false, seconds = 0.2 }), "time")
  T.eq(stopper_ran, 1)
  T.truthy(ticks >= 1 and ticks <= 3, "ticked until stopped: " .. ticks)
  local stopped_at = ticks
  T.eq(cockpit.run({ input = false, seconds = 0.05 }), "time")
  T.eq(ticks, stopped_at, "nothing after the stop")
end)

T.test("mistakes in the layer's use raise errors that say what is wrong and what they got", function()
  local cases = {
    { function() cockpit.device("sfip", 1) end, 'the tag must be "SFIP", "X52P" or "UNKN", got the string "sfip"' },
    { function() cockpit.device("SFIP", 11) end, "the ordinal must be a whole number from 1 to 10, got 11" },
    { function() panel:add_page(-1) end, "add_page: the page must be a whole number from 0 to 4294967295, got -1" },
    { function() panel:add_page("1") end, 'add_page: the page must be a whole number from 0 to 4294967295, got the string "1"' },
    { function() panel:add_page(1, "yes") end, 'add_page: active must be a boolean, got the string "yes"' },
    { function() panel:show_page(99) end, "show_page: the device has no page 99" },
    { function() panel:set_string(1, 0, "x") end, "set_string: the string index must be a whole number from 1" },
    { function() panel:set_string(1, 1, {}) end, "set_string: the text must be a string, got a table" },
    { function() panel:set_led(1, 0, true) end, "set_led: the LED must be a whole number from 1 to 4294967295, got 0" },
    { function() panel:set_image(1, 1, "short") end, "a raw image must be 307224 bytes, got 5" },
    { function() panel:set_image(1, 1, {}) end, "the image must be a 320x240 canvas" },
    { function() panel:on("click", print) end, 'the event must be "page", "buttons", "down", "up", "pressed"' },
    { function() panel:on("buttons", 42) end, "the listener must be a function, got 42" },
    { function() cockpit.every(-1, print) end, "the seconds must be a number from 0 to 86400" },
    { function() cockpit.run({ seconds = "1" }) end, 'seconds must be a number from 0 to 86400, got the string "1"' },
    { function() cockpit.run({ done = 1 }) end, "options.done must be a function, got 1" },
    { function() loop.wait(0 / 0) end, "seconds from 0 to 86400 expected" },
  }
  for i, case in ipairs(cases) do
    local ok, message = pcall(case[1])
    T.eq(ok, false, "case " .. i .. " raised")
    T.truthy(tostring(message):find(case[2], 1, true), "case " .. i .. ": " .. tostring(message))
    T.truthy(case[1] == cases[#cases][1] or tostring(message):find("test_cockpit.lua:%d+: vexlan.cockpit: "),
      "case " .. i .. " points at the script's line: " .. tostring(message))
  end
end)

-- Last: a second copy of the layer takes the state's device-change callback from the first.
T.test("the layer loads and works in a host that removed debug", function()
  local file
  for template in package.path:gmatch("[^;]+") do
    local name = template:gsub("%?", "vexlan/cockpit")
    local handle = io.open(name, "rb")
    if handle then handle:close(); file = file or name end
  end
  local chunk = assert(loadfile(file))
  setfenv(chunk, setmetatable({}, { __index = function(_, key) if key ~= "debug" then return _G[key] end end }))
  local sandboxed = chunk("vexlan.cockpit")
  local ok, message = pcall(sandboxed.device, "sfip")
  T.eq(ok, false)
  T.eq(message, 'vexlan.cockpit: device: the tag must be "SFIP", "X52P" or "UNKN", got the string "sfip"')
  local unit = sandboxed.device("X52P", 1)
  T.eq(unit:add_page(5, true), 0)
  T.eq(unit:set_string(5, 1, "SANDBOX"), 0)
  sim.unplug(X52); sim.replug(X52, true)
  sim.flush(); sandboxed.poll()
  T.eq(sim.string(X52, 5, 0), "SANDBOX")
end)

T.finish()
