-- Run with "abc" piped in. Listen and io.read share the C library's standard input, so reading after
-- each Listen shows exactly what it consumed: one character per call, and a return at end of input.
local v = require "vexlan"
local failures = {}
local function expect(actual, expected, what)
  if actual ~= expected then failures[#failures + 1] = what .. ": " .. tostring(actual) end
end
expect(select("#", v.Listen()), 0, "Listen returns no values")  -- consumes "a"
expect(io.read(1), "b", "after one Listen")
v.Listen()                                                       -- consumes "c"
v.Listen()                                                       -- end of input: returns at once
expect(io.read(1), nil, "after end of input")
for _, failure in ipairs(failures) do io.stderr:write("FAIL ", failure, "\n") end
print(string.format("%d passed, %d failed", #failures == 0 and 1 or 0, #failures == 0 and 0 or 1))
os.exit(#failures == 0 and 0 or 1)
