-- For the live panels' browser test: a panel whose shown page holds only its second image and whose
-- other page holds two more, an X52 Pro line longer than its display, a device of another type, and
-- characters read from standard input (typed on the page) written to the X52 Pro's second line until
-- a full stop.
local vexlan = require "vexlan"

local HEADER = string.rep("\0", 24)
local function fill(r, g, b) return HEADER .. string.char(r, g, b, 0):rep(320 * 240) end

vexlan.AddPage("SFIP", 1, 1, true)
vexlan.AddPage("SFIP", 1, 2, false)
vexlan.SetImage("SFIP", 1, 1, 2, fill(200, 60, 40))
vexlan.SetImage("SFIP", 1, 2, 1, fill(60, 200, 90))
vexlan.SetImage("SFIP", 1, 2, 3, fill(40, 110, 200))
vexlan.AddPage("X52P", 1, 1, true)
vexlan.SetString("X52P", 1, 1, 1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123")
print("ready") io.stdout:flush()

local typed = ""
while true do
  local c = io.read(1)
  if not c or c == "." then break end
  typed = typed .. c
  vexlan.SetString("X52P", 1, 1, 2, typed)
end
print("typed: " .. typed)
