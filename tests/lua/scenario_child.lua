-- Run with a scenario that sends "x" and ends. A child process started with io.popen, still running,
-- must not keep the scenario's input open: the end of input arrives while the child waits (it writes a
-- mark when it starts and removes it when its own input, from us, ends).
local v = require "vexlan"
local loop = require "vexlan.loop"
-- Named after the interpreter too: the test runs under several at once, in the same folder.
local mark = "scenario_child." .. arg[-1]:gsub("[^%w]", "_") .. "." .. tostring(os.time()) .. ".mark"
local child_code = "local f = io.open('" .. mark .. "', 'w') f:write('running') f:close() io.read('*a') os.remove('" .. mark .. "')"
local command = '"' .. arg[-1] .. '" -e "' .. child_code .. '"'
if package.config:sub(1, 1) == "\\" then command = '"' .. command .. '"' end  -- cmd /c drops the outer quotes
local child = assert(io.popen(command, "w"))  -- it waits for our close
local failures = {}
local function running()
  local file = io.open(mark)
  if file then file:close() end
  return file ~= nil
end
local deadline = loop.clock() + 20
while not running() and loop.clock() < deadline do loop.wait(0.05) end
if not running() then failures[#failures + 1] = "the child did not start" end
local read = {}
for _ = 1, 3 do
  if loop.wait(10, true) ~= "input" then failures[#failures + 1] = "no end of input within 10 s" break end
  local character = loop.listen()
  if character == nil then break end
  read[#read + 1] = character
end
if table.concat(read) ~= "x" then failures[#failures + 1] = "read " .. table.concat(read) end
if not running() then failures[#failures + 1] = "the child ended before the input did" end
child:close()
os.remove(mark)
assert(v.GetNumDevices() == 2)
for _, failure in ipairs(failures) do io.stderr:write("FAIL ", failure, "\n") end
print(string.format("%d passed, %d failed", #failures == 0 and 1 or 0, #failures == 0 and 0 or 1))
-- A passing run ends by returning, so that the state closes and the simulator stops its scenario.
if #failures > 0 then os.exit(1) end
