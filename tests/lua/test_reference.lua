-- docs/reference.md stays true to the code: every ```lua sample in it runs without error against the
-- simulated devices, each in an environment of its own; every ```scenario sample is a scenario the
-- simulator reads; and every function of vexlan, vexlan_sim, vexlan.loop, vexlan.check, vexlan.cockpit (with
-- its device methods) and vexlan.canvas (with its methods) is described there.
local here = arg[0]:match("^(.*[/\\])") or "./"
package.path = here .. "?.lua;" .. package.path
local T = require "harness"
local v = require "vexlan"
local sim = require "vexlan_sim"
local loop = require "vexlan.loop"

local file = assert(io.open(here .. "../../docs/reference.md", "rb"))
local doc = file:read("*a"):gsub("\r\n", "\n")
file:close()

local samples = {}
local at = 1
while true do
  local first, last, code = doc:find("```lua\n(.-\n)```", at)
  if first == nil then break end
  local _, newlines = doc:sub(1, first):gsub("\n", "")
  samples[#samples + 1] = { code = code, line = newlines + 2 }
  at = last + 1
end

local attached = {}  -- the simulator ids of the devices present at start
for _, device in ipairs(sim.devices()) do attached[#attached + 1] = device.id end

-- What a sample leaves behind goes: its callbacks, its pages and pictures (a unit plugged out and back
-- in is blank), the devices it plugged. The devices present at start are present again.
local function clean_up()
  v.RegisterDeviceChangeCallback(nil)
  for _, tag in ipairs({ "X52P", "SFIP", "UNKN" }) do
    for ordinal = 1, 10 do
      v.RegisterPageCallback(tag, ordinal, nil)
      v.RegisterSoftButtonCallback(tag, ordinal, nil)
      v.RegisterSoftButtonDownCallback(tag, ordinal, nil)
      v.RegisterSoftButtonUpCallback(tag, ordinal, nil)
    end
  end
  for _, device in ipairs(sim.devices()) do
    if device.present then sim.unplug(device.id) end
  end
  for _, id in ipairs(attached) do sim.replug(id) end
  sim.flush()
  v.Listen()  -- standard input is at its end: returns at once
  package.loaded["vexlan.cockpit"] = nil  -- its device-change callback went: the next sample loads it anew
  sim.recording(true)
  sim.clear_calls()
end

-- A fresh environment whose new globals land in _G (where callbacks named by a string are looked up)
-- and are removed afterwards.
local function run(sample)
  local chunk, failure = loadstring(sample.code, "@docs/reference.md, sample at line " .. sample.line)
  if chunk == nil then error(failure, 0) end
  local created = {}
  setfenv(chunk, setmetatable({}, {
    __index = _G,
    __newindex = function(_, key, value)
      if rawget(_G, key) == nil then created[key] = true end
      rawset(_G, key, value)
    end,
  }))
  local ok
  ok, failure = pcall(chunk)
  for key in pairs(created) do rawset(_G, key, nil) end
  clean_up()
  if not ok then error(failure, 0) end
end

T.test("the reference has its samples", function() T.truthy(#samples >= 10, #samples .. " samples") end)

for _, sample in ipairs(samples) do
  T.test("docs/reference.md sample at line " .. sample.line, function() run(sample) end)
end

T.test("the scenario samples are scenarios the simulator reads", function()
  local checked = 0
  for text in doc:gmatch("```scenario\n(.-\n)```") do
    local ending, problem = T.check_scenario(sim, text)
    T.truthy(ending, problem)
    checked = checked + 1
  end
  T.truthy(checked >= 1, "a scenario sample")
end)

T.test("every function of vexlan, vexlan_sim, vexlan.loop, vexlan.check and vexlan.cockpit is in the reference", function()
  local cockpit = require "vexlan.cockpit"
  local device = getmetatable(cockpit.device("SFIP", 1)).__index
  package.loaded["vexlan.cockpit"] = nil
  for module, functions in pairs({ vexlan = v, vexlan_sim = sim, ["vexlan.loop"] = loop, cockpit = cockpit,
                                   device = device, ["vexlan.check"] = require "vexlan.check" }) do
    for name in pairs(functions) do
      T.truthy(name:sub(1, 1) == "_" or doc:find("`" .. name .. "`", 1, true) or doc:find("`" .. name .. "(", 1, true)
        or doc:find("`" .. module .. "." .. name .. "(", 1, true),
        module .. "." .. name .. " described")
    end
  end
end)

T.test("every function and method of vexlan.canvas is in the reference", function()
  local canvas = require "vexlan.canvas"
  for name in pairs(canvas) do
    T.truthy(doc:find("`canvas." .. name .. "(", 1, true), "canvas." .. name .. " described")
  end
  for name in pairs(getmetatable(canvas.new(1, 1)).__index) do
    T.truthy(doc:find("`c:" .. name .. "(", 1, true), "c:" .. name .. " described")
  end
end)

T.finish()
