-- Run with a scenario that sends "x" and ends. A child process started with io.popen, still running,
-- must not keep the scenario's input open: the end of input arrives while the child waits.
local v = require "vexlan"
local loop = require "vexlan.loop"
local interpreter = arg[-1]
local child = assert(io.popen('"' .. interpreter .. '" -e "io.read(\'*a\')"', "w"))  -- waits for our close
local failures = {}
local read = {}
for _ = 1, 3 do
  if loop.wait(10, true) ~= "input" then failures[#failures + 1] = "no end of input within 10 s" break end
  local character = loop.listen()
  if character == nil then break end
  read[#read + 1] = character
end
if table.concat(read) ~= "x" then failures[#failures + 1] = "read " .. table.concat(read) end
child:close()
assert(v.GetNumDevices() == 2)
for _, failure in ipairs(failures) do io.stderr:write("FAIL ", failure, "\n") end
print(string.format("%d passed, %d failed", #failures == 0 and 1 or 0, #failures == 0 and 0 or 1))
os.exit(#failures == 0 and 0 or 1)
