-- Run with "abcdef" piped in. Listen and io.read share the C library's standard input, so reading after
-- each Listen shows exactly what it consumed: one character per call, and a return at end of input.
-- Then the loops that wait for input without reading it: the stream has buffered what is left.
local v = require "vexlan"
local loop = require "vexlan.loop"
local cockpit = require "vexlan.cockpit"
local failures = {}
local function expect(actual, expected, what)
  if actual ~= expected then failures[#failures + 1] = what .. ": " .. tostring(actual) end
end
expect(select("#", v.Listen()), 0, "Listen returns no values")  -- consumes "a"
expect(io.read(1), "b", "after one Listen")
expect(loop.wait(5, true), "input", "a buffered character is ready")
expect(loop.listen(), "c", "listen gives what it read")
local ticks = 0
cockpit.every(0.001, function() ticks = ticks + 1 end)
expect(cockpit.run(), "end of input", "a loop with a timer reads d, e, f and ends")
expect(loop.wait(5, true), "input", "the end is ready at once")
v.Listen()                                                       -- end of input: returns at once
expect(io.read(1), nil, "after end of input")
for _, failure in ipairs(failures) do io.stderr:write("FAIL ", failure, "\n") end
print(string.format("%d passed, %d failed", #failures == 0 and 1 or 0, #failures == 0 and 0 or 1))
os.exit(#failures == 0 and 0 or 1)
