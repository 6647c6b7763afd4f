-- A small test harness for scripts run by the real interpreters. Each script requires it first:
--   package.path = (arg[0]:match("^(.*[/\\])") or "./") .. "?.lua;" .. package.path
--   local T = require "harness"
-- and ends with T.finish(), which prints "N passed, N failed" and sets the exit code.
local T = { passed = 0, failed = 0 }

local function describe(value)
  if type(value) == "string" then return string.format("%q", value) end
  return tostring(value)
end

function T.test(name, body)
  local ok, err = pcall(body)
  if ok then
    T.passed = T.passed + 1
  else
    T.failed = T.failed + 1
    io.stderr:write("FAIL ", name, ": ", tostring(err), "\n")
  end
end

function T.eq(actual, expected, what)
  if actual ~= expected then
    error((what or "value") .. ": expected " .. describe(expected) .. ", got " .. describe(actual), 2)
  end
end

function T.truthy(value, what)
  if not value then error((what or "condition") .. " failed", 2) end
end

-- The number of values a call gave.
function T.count(...) return select("#", ...) end

-- Recorded DirectOutput calls of one entry point since the last clear.
function T.calls(sim, name)
  local found = {}
  for _, call in ipairs(sim.calls()) do
    if call.name == name then found[#found + 1] = call end
  end
  return found
end

-- Waits until every queued event reached the module, then lets the script's own Listen deliver what
-- waited for this state. Standard input is at its end in these tests, so Listen returns at once.
function T.deliver(sim, vexlan)
  sim.flush()
  vexlan.Listen()
end

-- Checks a scenario's text with the simulated library: its end time, or nil and what is wrong.
function T.check_scenario(sim, text)
  local name = os.tmpname()
  local file = assert(io.open(name, "wb"))
  file:write(text)
  file:close()
  local ending, problem = sim.check_scenario(name)
  os.remove(name)
  return ending, problem
end

-- The names of the `vexlan` table, written here once: a test that loads a submodule checks with it that
-- the table still holds these functions and nothing else.
T.module_functions = { "GetVersion", "Listen", "GetNumDevices", "AddPage", "RemovePage", "SetLed",
  "SetImageFromFile", "SetImage", "SetString", "SetProfile", "RegisterDeviceChangeCallback",
  "RegisterPageCallback", "RegisterSoftButtonCallback", "RegisterSoftButtonUpCallback",
  "RegisterSoftButtonDownCallback", "Initialize", "Release" }

function T.module_table_intact(vexlan)
  local expected = {}
  for _, name in ipairs(T.module_functions) do
    expected[name] = true
    if type(vexlan[name]) ~= "function" then error("vexlan." .. name .. " is not a function", 2) end
  end
  for name in pairs(vexlan) do
    if not expected[name] then error("vexlan has an extra field " .. describe(name), 2) end
  end
end

function T.finish()
  print(string.format("%d passed, %d failed", T.passed, T.failed))
  os.exit(T.failed == 0 and 0 or 1)
end

return T
