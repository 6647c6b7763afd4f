-- vexlan.cockpit: the companion layer over the vexlan module.
--
-- * A device object per (tag, ordinal) remembers what the script asked it to show (pages in order and
--   the active one, strings, LEDs, the last image of each index, the profile) and which events the
--   script listens to. A unit that comes back (under its old handle or a new one) comes back blank and
--   without DirectOutput registrations: on every arrival the layer shows it all again and renews the
--   registrations, before the script's own arrival listeners run.
-- * Any number of listeners per device and event, over the module's single callback of each kind.
-- * Loops: poll() for hosts that call the script every frame, run() around Listen, and timers for
--   periodic work.
--
-- Mistakes in the use of this layer raise Lua errors; the module's own functions never do.
local vexlan = require "vexlan"
local loop = require "vexlan.loop"

local cockpit = { _VERSION = (vexlan.GetVersion()) }  -- the module's own, never a second copy

local KIND_TAGS = { X52P = true, SFIP = true, UNKN = true }
local MAX_PAGE = 4294967295
local RAW_IMAGE_BYTES = 307224

-- ---- argument checks ---------------------------------------------------------------------------

local THIS_FILE = debug.getinfo(1, "S").source

-- Raises at the script's line that called into the layer: the first caller outside this file.
local function fail(name, message)
  local level = 2
  while true do
    local info = debug.getinfo(level, "S")
    if info == nil or (info.source ~= THIS_FILE and info.what ~= "tail") then break end
    level = level + 1
  end
  error("vexlan.cockpit: " .. name .. ": " .. message, level)
end

local function check_integer(name, what, value, low, high)
  if type(value) ~= "number" or value ~= value or value % 1 ~= 0 or value < low or value > high then
    fail(name, what .. " must be a whole number from " .. low .. " to " .. high .. ", got " .. tostring(value))
  end
  return value
end

local function check_type(name, what, value, kind)
  if type(value) ~= kind then fail(name, what .. " must be a " .. kind .. ", got " .. type(value)) end
  return value
end

local function check_function(name, value, what)
  if type(value) ~= "function" and not (getmetatable(value) or {}).__call then
    fail(name, (what or "the listener") .. " must be a function, got " .. type(value))
  end
  return value
end

-- A picture for SetImage: a raw image string, or anything with a raw() method (a vexlan.canvas).
local function raw_image(name, image)
  if type(image) == "string" then
    if #image ~= RAW_IMAGE_BYTES then
      fail(name, "a raw image must be " .. RAW_IMAGE_BYTES .. " bytes, got " .. #image)
    end
    return image
  end
  local ok, raw = pcall(function() return image:raw() end)
  if not ok or type(raw) ~= "string" or #raw ~= RAW_IMAGE_BYTES then
    fail(name, "the image must be a 320x240 canvas or a " .. RAW_IMAGE_BYTES .. "-byte string, got " .. type(image))
  end
  return raw
end

-- ---- reporting listener errors -------------------------------------------------------------------

-- A listener or timer that raises is reported here and the others still run. Scripts may replace it.
function cockpit.on_error(message)
  io.stderr:write("vexlan.cockpit: ", tostring(message), "\n")
end

local function call_each(listeners, ...)
  local snapshot = {}
  for i = 1, #listeners do snapshot[i] = listeners[i] end
  for i = 1, #snapshot do
    local ok, problem = pcall(snapshot[i], ...)
    if not ok then pcall(cockpit.on_error, problem) end
  end
end

local function remove_value(list, value)
  for i = #list, 1, -1 do
    if list[i] == value then
      table.remove(list, i)
      return true
    end
  end
  return false
end

-- ---- devices --------------------------------------------------------------------------------------

local Device = {}
Device.__index = Device

local devices = {}         -- "TAG#ordinal" -> device
local device_listeners = { added = {}, removed = {} }

local EVENTS = { page = true, buttons = true, down = true, up = true, added = true, removed = true }
local SOFT_BUTTON_REGISTER = {
  buttons = vexlan.RegisterSoftButtonCallback,
  down = vexlan.RegisterSoftButtonDownCallback,
  up = vexlan.RegisterSoftButtonUpCallback,
}

local function new_device(tag, ordinal)
  local device = setmetatable({
    tag = tag,
    ordinal = ordinal,
    pages = {},        -- page numbers in the order added
    active = nil,      -- the active page, as last set or reported
    content = {},      -- page -> { strings = {index -> text}, leds = {led -> on}, images = {index -> {...}} }
    profile = nil,
    listeners = { page = {}, buttons = {}, down = {}, up = {}, added = {}, removed = {} },
  }, Device)
  -- The module's callbacks: one function per kind and device, fixed for the device's life, so that
  -- registering again never makes a second delivery path.
  device.module_callbacks = {
    page = function(_, _, page, active)
      if active then device.active = page end
      call_each(device.listeners.page, device, page, active)
    end,
    buttons = function(_, _, mask) call_each(device.listeners.buttons, device, mask) end,
    down = function(_, _, mask) call_each(device.listeners.down, device, mask) end,
    up = function(_, _, mask) call_each(device.listeners.up, device, mask) end,
  }
  return device
end

function cockpit.device(tag, ordinal)
  check_type("device", "the tag", tag, "string")
  if not KIND_TAGS[tag] then fail("device", 'the tag must be "X52P", "SFIP" or "UNKN", got "' .. tag .. '"') end
  ordinal = check_integer("device", "the ordinal", ordinal == nil and 1 or ordinal, 1, 10)
  local key = tag .. "#" .. ordinal
  devices[key] = devices[key] or new_device(tag, ordinal)
  return devices[key]
end

function Device:__tostring()
  return "vexlan.cockpit device " .. self.tag .. " " .. self.ordinal
end

local function page_content(device, page)
  local content = device.content[page]
  if not content then
    content = { strings = {}, leds = {}, images = {} }
    device.content[page] = content
  end
  return content
end

local function has_page(device, page)
  for i = 1, #device.pages do
    if device.pages[i] == page then return true end
  end
  return false
end

function Device:add_page(page, active)
  check_integer("add_page", "the page", page, 0, MAX_PAGE)
  if active ~= nil then check_type("add_page", "active", active, "boolean") end
  if not has_page(self, page) then self.pages[#self.pages + 1] = page end
  if active then self.active = page end
  return vexlan.AddPage(self.tag, self.ordinal, page, active == true)
end

function Device:remove_page(page)
  check_integer("remove_page", "the page", page, 0, MAX_PAGE)
  remove_value(self.pages, page)
  self.content[page] = nil
  if self.active == page then self.active = nil end
  return vexlan.RemovePage(self.tag, self.ordinal, page)
end

function Device:set_string(page, index, text)
  check_integer("set_string", "the page", page, 0, MAX_PAGE)
  check_integer("set_string", "the string index", index, 1, MAX_PAGE)
  if type(text) == "number" then text = tostring(text) end
  check_type("set_string", "the text", text, "string")
  page_content(self, page).strings[index] = text
  return vexlan.SetString(self.tag, self.ordinal, page, index, text)
end

function Device:set_led(page, led, on)
  check_integer("set_led", "the page", page, 0, MAX_PAGE)
  check_integer("set_led", "the LED", led, 0, MAX_PAGE)
  check_type("set_led", "on", on, "boolean")
  page_content(self, page).leds[led] = on
  return vexlan.SetLed(self.tag, self.ordinal, page, led, on)
end

function Device:set_image(page, index, image)
  check_integer("set_image", "the page", page, 0, MAX_PAGE)
  check_integer("set_image", "the image index", index, 1, MAX_PAGE)
  local raw = raw_image("set_image", image)
  page_content(self, page).images[index] = { raw = raw }
  return vexlan.SetImage(self.tag, self.ordinal, page, index, raw)
end

function Device:set_image_from_file(page, index, file, resize)
  check_integer("set_image_from_file", "the page", page, 0, MAX_PAGE)
  check_integer("set_image_from_file", "the image index", index, 1, MAX_PAGE)
  check_type("set_image_from_file", "the file name", file, "string")
  if resize ~= nil then check_type("set_image_from_file", "resize", resize, "boolean") end
  page_content(self, page).images[index] = { file = file, resize = resize == true }
  return vexlan.SetImageFromFile(self.tag, self.ordinal, page, index, file, resize == true)
end

function Device:set_profile(path)
  check_type("set_profile", "the profile path", path, "string")
  self.profile = path
  return vexlan.SetProfile(self.tag, self.ordinal, path)
end

-- ---- listeners ------------------------------------------------------------------------------------

local function check_event(name, event)
  check_type(name, "the event", event, "string")
  if not EVENTS[event] then
    fail(name, 'the event must be "page", "buttons", "down", "up", "added" or "removed", got "' .. event .. '"')
  end
end

-- Registers the module's callback of `event`'s kind for this device when listeners want it, and clears
-- it when none is left.
local function update_registration(device, event)
  local wanted = #device.listeners[event] > 0
  if event == "page" then
    vexlan.RegisterPageCallback(device.tag, device.ordinal, wanted and device.module_callbacks.page or nil)
  elseif SOFT_BUTTON_REGISTER[event] then
    SOFT_BUTTON_REGISTER[event](device.tag, device.ordinal, wanted and device.module_callbacks[event] or nil)
  end
end

function Device:on(event, listener)
  check_event("on", event)
  check_function("on", listener)
  local list = self.listeners[event]
  list[#list + 1] = listener
  if #list == 1 then update_registration(self, event) end
  return listener
end

function Device:off(event, listener)
  check_event("off", event)
  local removed = remove_value(self.listeners[event], listener)
  if removed and #self.listeners[event] == 0 then update_registration(self, event) end
  return removed
end

local function check_device_event(name, event)
  check_type(name, "the event", event, "string")
  if event ~= "added" and event ~= "removed" then
    fail(name, 'the event must be "added" or "removed", got "' .. event .. '"')
  end
end

-- Listeners for every device's arrivals and removals: listener(device, added).
function cockpit.on(event, listener)
  check_device_event("on", event)
  check_function("on", listener)
  local list = device_listeners[event]
  list[#list + 1] = listener
  return listener
end

function cockpit.off(event, listener)
  check_device_event("off", event)
  return remove_value(device_listeners[event], listener)
end

-- ---- coming back ----------------------------------------------------------------------------------

-- Shows again what the device showed, then renews its registrations: page callbacks by registering
-- again, the soft-button trio by clearing all three first (replacing a set member registers nothing).
-- Set up in one go on the script's thread, so events queued meanwhile find the callbacks in place.
local function restore(device)
  local tag, ordinal = device.tag, device.ordinal
  if device.profile then vexlan.SetProfile(tag, ordinal, device.profile) end
  for _, page in ipairs(device.pages) do
    vexlan.AddPage(tag, ordinal, page, page == device.active)
  end
  for _, page in ipairs(device.pages) do
    local content = device.content[page]
    if content then
      for index, text in pairs(content.strings) do vexlan.SetString(tag, ordinal, page, index, text) end
      for led, on in pairs(content.leds) do vexlan.SetLed(tag, ordinal, page, led, on) end
      for index, image in pairs(content.images) do
        if image.raw then
          vexlan.SetImage(tag, ordinal, page, index, image.raw)
        else
          vexlan.SetImageFromFile(tag, ordinal, page, index, image.file, image.resize)
        end
      end
    end
  end
  if #device.listeners.page > 0 then  -- every page registration reaches DirectOutput: no gap
    vexlan.RegisterPageCallback(tag, ordinal, device.module_callbacks.page)
  end
  local listening = #device.listeners.buttons + #device.listeners.down + #device.listeners.up > 0
  if listening then  -- otherwise leave the trio alone: the script may hold it through the module
    for _, register in pairs(SOFT_BUTTON_REGISTER) do register(tag, ordinal, nil) end
    for event, register in pairs(SOFT_BUTTON_REGISTER) do
      if #device.listeners[event] > 0 then register(tag, ordinal, device.module_callbacks[event]) end
    end
  end
end

local function on_device_change(tag, ordinal, added)
  local device = devices[tag .. "#" .. ordinal]
  if device and added then restore(device) end
  local event = added and "added" or "removed"
  if device then call_each(device.listeners[event], device, added) end
  if #device_listeners[event] > 0 then call_each(device_listeners[event], device or cockpit.device(tag, ordinal), added) end
end

vexlan.RegisterDeviceChangeCallback(on_device_change)

-- ---- loops and timers -----------------------------------------------------------------------------

local timers = {}  -- { due =, interval =, work =, repeating = }

local Timer = {}
Timer.__index = Timer

function Timer:stop()
  remove_value(timers, self)
end

local function add_timer(name, seconds, work, repeating)
  if type(seconds) ~= "number" or not (seconds >= 0 and seconds <= 86400) then
    fail(name, "the seconds must be a number from 0 to 86400, got " .. tostring(seconds))
  end
  check_function(name, work, "the work")
  if repeating and seconds < 0.001 then fail(name, "a repeating timer needs at least 0.001 seconds") end
  local timer = setmetatable({ due = loop.clock() + seconds, interval = seconds, work = work, repeating = repeating }, Timer)
  timers[#timers + 1] = timer
  return timer
end

-- work() every `seconds`, from `seconds` from now, while a loop of this layer runs.
function cockpit.every(seconds, work) return add_timer("every", seconds, work, true) end

-- work() once, `seconds` from now.
function cockpit.after(seconds, work) return add_timer("after", seconds, work, false) end

local function run_due_timers()
  local now = loop.clock()
  local due = {}
  for _, timer in ipairs(timers) do
    if timer.due <= now then due[#due + 1] = timer end
  end
  for _, timer in ipairs(due) do
    if timer.repeating then
      timer.due = timer.due + timer.interval
      if timer.due <= now then timer.due = now + timer.interval end  -- late: skip what was missed
    else
      timer:stop()
    end
    local ok, problem = pcall(timer.work)
    if not ok then pcall(cockpit.on_error, problem) end
  end
end

local function next_due()
  local soonest
  for _, timer in ipairs(timers) do
    if not soonest or timer.due < soonest then soonest = timer.due end
  end
  return soonest
end

-- For hosts that call the script every frame: delivers what waits, in order, without waiting, and runs
-- the timers that are due. Gives how many events it delivered.
function cockpit.poll()
  local delivered = loop.poll()
  run_due_timers()
  return delivered
end

-- One turn of a loop paced by standard input: Listen (callbacks run while it waits), then the timers
-- that are due. Gives the character read, or nil at the end of input.
function cockpit.listen()
  local character = loop.listen()
  run_due_timers()
  return character
end

local stopping = false

-- Ends run() at its next turn; from a listener or timer.
function cockpit.stop() stopping = true end

local LONGEST_NAP = 0.1  -- how soon a stop() from a callback is seen while waiting for a timer

-- The script's main loop. Callbacks run while it waits, timers when they are due. It reads standard
-- input unless options.input is false, one turn a character, and ends at the end of input. It also ends
-- on stop(), when options["until"]() gives true (asked every turn), or after options.seconds. Gives why it
-- ended: "end of input", "stopped", "until" or "time".
function cockpit.run(options)
  options = options == nil and {} or check_type("run", "the options", options, "table")
  local until_done = options["until"]
  if until_done ~= nil then check_function("run", until_done, 'options["until"]') end
  local seconds = options.seconds
  if seconds ~= nil and (type(seconds) ~= "number" or not (seconds >= 0 and seconds <= 86400)) then
    fail("run", "seconds must be a number from 0 to 86400, got " .. tostring(seconds))
  end
  local input = options.input
  if input == nil then input = true end
  check_type("run", "input", input, "boolean")
  local deadline = seconds and loop.clock() + seconds
  stopping = false
  while true do
    run_due_timers()
    if stopping then stopping = false return "stopped" end
    if until_done and until_done() then return "until" end
    if deadline and loop.clock() >= deadline then return "time" end
    local wake = next_due()
    if deadline and (not wake or deadline < wake) then wake = deadline end
    if wake or not input then
      -- Short naps, so that a stop() from a callback is seen soon.
      local nap = wake and math.min(LONGEST_NAP, math.max(0, wake - loop.clock())) or LONGEST_NAP
      local woken_by = loop.wait(nap, input)
      if woken_by == nil then fail("run", "called from a callback on DirectOutput's thread") end
      if woken_by == "input" and loop.listen() == nil then return "end of input" end
    elseif loop.listen() == nil then
      return "end of input"
    end
  end
end

cockpit.clock = loop.clock

return cockpit
