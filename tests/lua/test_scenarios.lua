-- The simulated library's own surface: scenario files as it reads them (their end, and the first mistake
-- with its line), the numbers its functions take, and its record of calls.
package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
local T = require "harness"
local sim = require "vexlan_sim"

local function check(text)
  local ending, problem = T.check_scenario(sim, text)
  return ending, problem and problem:gsub("^.-:(%d+): ", "%1: ")
end

T.test("times, relative times, comments and the end", function()
  T.eq(check("# nothing yet\n\n0.5 key\n+0.25 buttons 2 0x10  # pressed\n1 page 2 3 on\n+1 end\n"), 2)
  T.eq(check("0.2 plug SFIP\n0.3 unplug 3\n0.4 replug 3 new\n0.5 key some text\n"), 0.5, "plug gives id 3")
  T.eq(check(""), 0)
end)

T.test("each mistake names its line", function()
  local cases = {
    { "0.1 key\nsoon key\n", "2: \"soon\" is not a time" },
    { "1 key\n0.5 key\n", "2: time goes backwards" },
    { "0.1 plg SFIP\n", "1: unknown event \"plg\"" },
    { "0.1 plug sfip\n", "1: unknown device tag \"sfip\"" },
    { "0.1 unplug 3\n", "1: there is no device 3" },
    { "0.1 buttons 2 -1\n", "1: buttons takes a device id and a mask" },
    { "0.1 unplug 010\n", "1: there is no device 10" },  -- decimal, not octal
    { "0.1 page 2 1 maybe\n", "1: page takes a device id, a page and on or off" },
    { "1 end\n2 key\n", "2: nothing may follow end" },
  }
  for _, case in ipairs(cases) do
    local ending, problem = check(case[1])
    T.eq(ending, nil, case[1])
    T.truthy(problem and problem:find(case[2], 1, true), "got " .. tostring(problem) .. " for " .. case[1])
  end
  local ending, problem = sim.check_scenario("no/such/scenario")
  T.eq(ending, nil)
  T.truthy(problem:find("cannot read the scenario", 1, true))
end)

T.test("numbers that no 32-bit integer holds are refused with an error, before any conversion", function()
  local huge = { 1e300, -1e300, 1 / 0, -1 / 0, 0 / 0, 4294967296, -2147483649 }
  local calls = {
    function(n) return sim.buttons(2, n) end, function(n) return sim.buttons(n, 1) end,
    function(n) return sim.page(2, n, true) end, function(n) return sim.unplug(n) end,
    function(n) return sim.string(2, 1, n) end, function(n) return sim.led(n, 1, 0) end,
    function(n) return sim.image(2, n, 0) end, function(n) return sim.fail("SetLed", n) end,
    function(n) return sim.fail("SetLed", 0x80004005, n) end,
  }
  for i, call in ipairs(calls) do
    for _, n in ipairs(huge) do
      local ok, problem = pcall(call, n)
      T.eq(ok, false, "call " .. i .. " with " .. tostring(n))
      T.truthy(tostring(problem):find("whole number from", 1, true), tostring(problem))
    end
  end
  T.eq(sim.string(2, -1, 4294967295), nil, "the signed and unsigned forms are both taken")
  T.eq(sim.buttons(99, 4294967295), false)
end)

T.test("the record of calls keeps the newest 10,000 and counts those it forgot", function()
  local vexlan = require "vexlan"
  sim.recording(true)
  sim.clear_calls()
  T.eq(vexlan.AddPage("SFIP", 1, 1, false), 0)
  for i = 1, 10050 do vexlan.SetLed("SFIP", 1, 1, i, true) end
  local calls, forgotten = sim.calls()
  T.eq(#calls, 10000)
  T.eq(forgotten, 51, "the AddPage and the first 50 LEDs")
  T.eq(calls[1].index, 51)
  T.eq(calls[#calls].index, 10050)
  sim.clear_calls()
  calls, forgotten = sim.calls()
  T.eq(#calls, 0)
  T.eq(forgotten, 0)
  local long = string.rep("x", 1000000)  -- four of these fill the texts' share
  for i = 1, 6 do vexlan.SetString("SFIP", 1, 1, 1, long .. i) end
  calls, forgotten = sim.calls()
  T.eq(#calls, 4)
  T.eq(forgotten, 2)
  T.eq(calls[#calls].text, long .. 6)
  vexlan.RemovePage("SFIP", 1, 1)
  sim.clear_calls()
end)

T.finish()
