-- A host whose C run-time is not the module's (Windows, lua.exe on msvcr120.dll), run with "abcde" piped
-- in and a scenario that sends "xyz" to Listen. The scenario's feed takes the module's standard input and
-- leaves the host's alone: the host still reads its own pipe to the end, with no "Bad file descriptor".
-- Listen and vexlan.loop read the module's input (the scenario's keys, then its end); the check names the
-- host's run-time in a note.
local v = require "vexlan"
local loop = require "vexlan.loop"
local failures = {}
local function expect(actual, expected, what)
  if actual ~= expected then failures[#failures + 1] = what .. ": " .. tostring(actual) end
end
local read = {}
for character in function() return loop.listen() end do read[#read + 1] = character end
expect(table.concat(read), "xyz", "Listen's input is the scenario's, to its end")
local text, problem = io.stdin:read("*a")
expect(text, "abcde", "the host's own input, whole (" .. tostring(problem) .. ")")
expect(io.stdin:read(0), nil, "the host's input at its end")
local passed, report = require("vexlan.check").run()
expect(passed, true, "every step of the check passes")
expect(report:match("\nhost%s+note[^\n]*msvcr120%.dll[^\n]*msvcrt%.dll") ~= nil, true, "the host line: " .. report)
expect(v.GetNumDevices(), 2, "the devices")
for _, failure in ipairs(failures) do io.stderr:write("FAIL ", failure, "\n") end
print(string.format("%d passed, %d failed", #failures == 0 and 1 or 0, #failures == 0 and 0 or 1))
-- A passing run ends by returning, so that the state closes and the simulator stops its scenario.
if #failures > 0 then os.exit(1) end
