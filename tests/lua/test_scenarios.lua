-- Scenario files as the simulated library reads them: their end, and the first mistake with its line.
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

T.finish()
