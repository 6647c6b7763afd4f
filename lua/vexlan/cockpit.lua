-- vexlan.cockpit: the companion layer over the vexlan module.
--
-- * A device object per (tag, ordinal) keeps a record of what its unit shows (pages in order and the
--   active one, strings, LEDs, the last image of each index, the profile): what the script sent and the
--   unit took, and the pages the unit reports turned. A unit that comes back (under its old handle or a
--   new one) comes back blank and without DirectOutput registrations: on every arrival the layer shows
--   it all again and renews the registrations, before the script's own arrival listeners run.
-- * The layer takes a unit's page and soft-button callbacks once, when the script first uses its
--   device object, and keeps them for the state's life: page and soft-button registrations are per
--   unit for every Lua state, so clearing one would silence other states' listeners. Listeners come
--   and go in Lua, any number per device and event.
-- * Loops: poll() for hosts that call the script every frame, read() and run() around Listen, and
--   timers that run while any of them waits.
--
-- Mistakes in the use of this layer raise Lua errors; the module's own functions never do. What a unit
-- cannot do (it is absent) is answered with nil and a message.
local vexlan = require "vexlan"
local loop = require "vexlan.loop"
local kinds = require "vexlan.kinds"

local cockpit = { _VERSION = (vexlan.GetVersion()) }  -- the module's own, never a second copy

local LARGEST = 4294967295     -- pages and indexes are unsigned 32-bit numbers
local TWO_TO_31, TWO_TO_32 = 2147483648, 4294967296
local RAW_IMAGE_BYTES = kinds.picture.raw_bytes
local SCREEN = kinds.picture.width .. "x" .. kinds.picture.height
local TAG_CHOICES = '"' .. table.concat(kinds.tags, '", "', 1, #kinds.tags - 1) .. '" or "'
  .. kinds.tags[#kinds.tags] .. '"'

-- The module takes numbers as signed 32-bit and passes them on as the same 32 bits unsigned: numbers
-- from 2^31 up reach the unit exactly when written as their negative twin.
local function as_int32(number)
  if number >= TWO_TO_31 then return number - TWO_TO_32 end
  return number
end

-- ---- argument checks ---------------------------------------------------------------------------

-- Hosts that sandbox scripts often remove `debug`: errors then carry no position.
local getinfo = type(debug) == "table" and type(debug.getinfo) == "function" and debug.getinfo or nil
local THIS_FILE = getinfo and getinfo(1, "S").source

-- Raises at the script's line that called into the layer: the first caller outside this file.
local function fail(name, message)
  local text = "vexlan.cockpit: " .. name .. ": " .. message
  if not getinfo then error(text, 0) end
  local level = 2
  while true do
    local info = getinfo(level, "S")
    if info == nil or (info.source ~= THIS_FILE and info.what ~= "tail") then break end
    level = level + 1
  end
  error(text, level)
end

-- What a wrong argument was, for messages: `the string "1"`, not `1`.
local function describe(value)
  local kind = type(value)
  if kind == "string" then
    if #value > 40 then return "a string of " .. #value .. " bytes" end
    return string.format("the string %q", value)
  elseif kind == "number" or kind == "boolean" or kind == "nil" then
    return tostring(value)
  end
  return "a " .. kind
end

local function check_integer(name, what, value, low, high)
  if type(value) ~= "number" or value ~= value or value % 1 ~= 0 or value < low or value > high then
    fail(name, what .. " must be a whole number from " .. low .. " to " .. high .. ", got " .. describe(value))
  end
  return value
end

local function check_page(name, page) return check_integer(name, "the page", page, 0, LARGEST) end

local function check_type(name, what, value, kind)
  if type(value) ~= kind then fail(name, what .. " must be a " .. kind .. ", got " .. describe(value)) end
  return value
end

local function check_function(name, value, what)
  local meta = getmetatable(value)
  if type(value) ~= "function" and not (type(meta) == "table" and meta.__call) then
    fail(name, (what or "the listener") .. " must be a function, got " .. describe(value))
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
    fail(name, "the image must be a " .. SCREEN .. " canvas or a " .. RAW_IMAGE_BYTES .. "-byte string, got "
      .. describe(image))
  end
  return raw
end

-- ---- reporting listener errors -------------------------------------------------------------------

-- A listener or timer that raises is reported here and the others still run. Scripts may replace it.
function cockpit.on_error(message)
  if io and io.stderr then io.stderr:write("vexlan.cockpit: ", tostring(message), "\n") end
end

local function call_each(listeners, ...)
  local snapshot = {}
  for i = 1, #listeners do snapshot[i] = listeners[i] end
  for i = 1, #snapshot do
    local ok, problem = pcall(snapshot[i], ...)
    if not ok then pcall(cockpit.on_error, problem) end
  end
end

-- Each button set in `mask`, by its number (bit 0 is button 1), lowest first.
local function call_each_button(listeners, device, mask)
  local button = 1
  while mask > 0 and #listeners > 0 do
    if mask % 2 == 1 then call_each(listeners, device, button) end
    mask = math.floor(mask / 2)
    button = button + 1
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

local function index_of(list, value)
  for i = 1, #list do
    if list[i] == value then return i end
  end
  return nil
end

-- ---- devices --------------------------------------------------------------------------------------

local Device = {}
Device.__index = Device

local devices = {}         -- "TAG#ordinal" -> device
local device_listeners = { added = {}, removed = {} }

local EVENTS = {
  page = true, buttons = true, down = true, up = true, pressed = true, released = true,
  added = true, removed = true,
}
local EVENT_NAMES = '"page", "buttons", "down", "up", "pressed", "released", "added" or "removed"'
local SOFT_BUTTON_REGISTER = {
  buttons = vexlan.RegisterSoftButtonCallback,
  down = vexlan.RegisterSoftButtonDownCallback,
  up = vexlan.RegisterSoftButtonUpCallback,
}

local function new_device(tag, ordinal, present)
  local device = setmetatable({
    tag = tag,
    ordinal = ordinal,
    pages = {},        -- page numbers in the order the unit got them
    active = nil,      -- the active page, as last set or reported
    content = {},      -- page -> { strings = {index -> text}, leds = {led -> on}, images = {index -> {...}} }
    profile = nil,
    listeners = {
      page = {}, buttons = {}, down = {}, up = {}, pressed = {}, released = {}, added = {}, removed = {},
    },
    managed = false,   -- the script used this object: the layer keeps its unit's record and callbacks
    seen_present = present,  -- as the arrivals and removals delivered so far say
    arrival_count = 0,
  }, Device)
  -- The module's callbacks: one function per kind and device, fixed for the device's life, so that
  -- registering again never makes a second delivery path.
  device.module_callbacks = {
    page = function(_, _, page, active)
      if active then
        device.active = page
      elseif device.active == page then
        device.active = nil
      end
      call_each(device.listeners.page, device, page, active)
    end,
    buttons = function(_, _, mask) call_each(device.listeners.buttons, device, mask) end,
    down = function(_, _, mask)
      call_each(device.listeners.down, device, mask)
      call_each_button(device.listeners.pressed, device, mask)
    end,
    up = function(_, _, mask)
      call_each(device.listeners.up, device, mask)
      call_each_button(device.listeners.released, device, mask)
    end,
  }
  return device
end

local function device_of(tag, ordinal)
  local key = tag .. "#" .. ordinal
  devices[key] = devices[key] or new_device(tag, ordinal, loop.present(tag, ordinal))
  return devices[key]
end

-- Registers the layer's page callback and soft-button trio for the unit. On an arrival (`renew`) the
-- trio is cleared first: replacing a member that is set registers nothing with DirectOutput, and a unit
-- back under a new handle has no registration. Gives false when the unit is present and the module took
-- nothing from this Lua thread; an absent unit is registered at its arrival.
local function register(device, renew)
  local tag, ordinal = device.tag, device.ordinal
  if vexlan.RegisterPageCallback(tag, ordinal, device.module_callbacks.page) == nil then
    return not loop.present(tag, ordinal)
  end
  if renew then
    for _, register_member in pairs(SOFT_BUTTON_REGISTER) do register_member(tag, ordinal, nil) end
  end
  for event, register_member in pairs(SOFT_BUTTON_REGISTER) do
    register_member(tag, ordinal, device.module_callbacks[event])
  end
  return true
end

-- The first use of a device object by the script: from now on the layer keeps its unit's record and
-- holds its callbacks. Objects that the layer only passed to cockpit.on's listeners leave the unit's
-- callbacks to the script.
local function manage(name, device)
  if device.managed then return device end
  if not register(device, false) then
    fail(name, "the module took no callback for " .. device.tag .. " " .. device.ordinal ..
      " in this Lua state")
  end
  device.managed = true
  return device
end

function cockpit.device(tag, ordinal)
  check_type("device", "the tag", tag, "string")
  if type(kinds[tag]) ~= "table" or kinds[tag].tag ~= tag then
    fail("device", "the tag must be " .. TAG_CHOICES .. ", got " .. describe(tag))
  end
  ordinal = check_integer("device", "the ordinal", ordinal == nil and 1 or ordinal, 1, 10)
  return manage("device", device_of(tag, ordinal))
end

function Device:__tostring()
  return "vexlan.cockpit device " .. self.tag .. " " .. self.ordinal
end

function Device:present() return loop.present(self.tag, self.ordinal) end

-- How many arrivals of the unit the layer has seen (each one shown everything again).
function Device:arrivals() return self.arrival_count end

-- What the module answered: its ResultCode, or nil and why there was none.
local function answer(device, code)
  if code ~= nil then return code end
  if vexlan.GetNumDevices() == nil then return nil, "unavailable" end  -- no DirectOutput connection
  if loop.present(device.tag, device.ordinal) then return nil, "refused" end
  return nil, "absent"
end

local BAD_HANDLE = 1  -- the ResultCode of a unit that left before the module knew it

-- Whether the record takes what was sent: the unit took it, or it is absent (or has just left) and gets
-- it on arrival.
local function recorded(code, why) return code == 0 or code == BAD_HANDLE or why == "absent" end

local function page_content(device, page)
  local content = device.content[page]
  if not content then
    content = { strings = {}, leds = {}, images = {} }
    device.content[page] = content
  end
  return content
end

local function send_image(tag, ordinal, page, index, image)
  if image.raw then
    return vexlan.SetImage(tag, ordinal, as_int32(page), as_int32(index), image.raw)
  end
  return vexlan.SetImageFromFile(tag, ordinal, as_int32(page), as_int32(index), image.file, image.resize)
end

-- Sends what the record holds for one page.
local function send_content(device, page)
  local content = device.content[page]
  if not content then return end
  local tag, ordinal, number = device.tag, device.ordinal, as_int32(page)
  for index, text in pairs(content.strings) do vexlan.SetString(tag, ordinal, number, as_int32(index), text) end
  for led, on in pairs(content.leds) do vexlan.SetLed(tag, ordinal, number, as_int32(led - 1), on) end
  for index, image in pairs(content.images) do send_image(tag, ordinal, page, index, image) end
end

local function forget_page(device, page)
  remove_value(device.pages, page)
  device.content[page] = nil
  if device.active == page then device.active = nil end
end

function Device:add_page(page, active)
  manage("add_page", self)
  check_page("add_page", page)
  if active ~= nil then check_type("add_page", "active", active, "boolean") end
  local code, why = answer(self, vexlan.AddPage(self.tag, self.ordinal, as_int32(page), active == true))
  if not index_of(self.pages, page) and recorded(code, why) then  -- a page the unit has already stays as it is
    self.pages[#self.pages + 1] = page
    if active then self.active = page end
  end
  return code, why
end

function Device:remove_page(page)
  manage("remove_page", self)
  check_page("remove_page", page)
  forget_page(self, page)  -- removed, or the unit did not have it: either way it has not now
  return answer(self, vexlan.RemovePage(self.tag, self.ordinal, as_int32(page)))
end

-- Turns the unit to one of its pages: DirectOutput makes a page active only as it is added, so the page
-- is removed, added again as the active one, and sent its strings, LEDs and pictures again.
function Device:show_page(page)
  manage("show_page", self)
  check_page("show_page", page)
  if not index_of(self.pages, page) then fail("show_page", "the device has no page " .. page .. ": add it first") end
  local tag, ordinal = self.tag, self.ordinal
  local code, why = answer(self, vexlan.RemovePage(tag, ordinal, as_int32(page)))
  if code ~= nil then code, why = answer(self, vexlan.AddPage(tag, ordinal, as_int32(page), true)) end
  if code == 0 then
    remove_value(self.pages, page)
    self.pages[#self.pages + 1] = page  -- the unit lists it last now
    self.active = page
    send_content(self, page)
  elseif why == "absent" or code == BAD_HANDLE then
    self.active = page  -- shown as it arrives
  elseif code ~= nil then
    forget_page(self, page)  -- removed, and not added again
  end
  return code, why
end

function Device:set_string(page, index, text)
  manage("set_string", self)
  check_page("set_string", page)
  check_integer("set_string", "the string index", index, 1, LARGEST)
  if type(text) == "number" then text = tostring(text) end
  check_type("set_string", "the text", text, "string")
  local code, why = answer(self, vexlan.SetString(self.tag, self.ordinal, as_int32(page), as_int32(index), text))
  if index_of(self.pages, page) and recorded(code, why) then page_content(self, page).strings[index] = text end
  return code, why
end

function Device:set_led(page, led, on)
  manage("set_led", self)
  check_page("set_led", page)
  check_integer("set_led", "the LED", led, 1, LARGEST)
  check_type("set_led", "on", on, "boolean")
  local code, why = answer(self, vexlan.SetLed(self.tag, self.ordinal, as_int32(page), as_int32(led - 1), on))
  if index_of(self.pages, page) and recorded(code, why) then page_content(self, page).leds[led] = on end
  return code, why
end

local function set_picture(device, page, index, image)
  local code, why = answer(device, send_image(device.tag, device.ordinal, page, index, image))
  if index_of(device.pages, page) and recorded(code, why) then page_content(device, page).images[index] = image end
  return code, why
end

function Device:set_image(page, index, image)
  manage("set_image", self)
  check_page("set_image", page)
  check_integer("set_image", "the image index", index, 1, LARGEST)
  return set_picture(self, page, index, { raw = raw_image("set_image", image) })
end

function Device:set_image_from_file(page, index, file, resize)
  manage("set_image_from_file", self)
  check_page("set_image_from_file", page)
  check_integer("set_image_from_file", "the image index", index, 1, LARGEST)
  check_type("set_image_from_file", "the file name", file, "string")
  if resize ~= nil then check_type("set_image_from_file", "resize", resize, "boolean") end
  return set_picture(self, page, index, { file = file, resize = resize == true })
end

function Device:set_profile(path)
  manage("set_profile", self)
  check_type("set_profile", "the profile path", path, "string")
  local code, why = answer(self, vexlan.SetProfile(self.tag, self.ordinal, path))
  if recorded(code, why) then self.profile = path end
  return code, why
end

-- ---- listeners ------------------------------------------------------------------------------------

local function check_event(name, event)
  if not EVENTS[event] then fail(name, "the event must be " .. EVENT_NAMES .. ", got " .. describe(event)) end
end

function Device:on(event, listener)
  manage("on", self)
  check_event("on", event)
  check_function("on", listener)
  local list = self.listeners[event]
  list[#list + 1] = listener
  return listener
end

function Device:off(event, listener)
  check_event("off", event)
  return remove_value(self.listeners[event], listener)
end

local function check_device_event(name, event)
  if event ~= "added" and event ~= "removed" then
    fail(name, 'the event must be "added" or "removed", got ' .. describe(event))
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

-- Renews the registrations, then shows again what the unit showed: profile, pages with the active one,
-- then each page's strings, LEDs and pictures. Done in one go on the script's thread, so that events
-- queued meanwhile find the callbacks in place.
local function restore(device)
  local tag, ordinal = device.tag, device.ordinal
  register(device, true)
  if device.profile then vexlan.SetProfile(tag, ordinal, device.profile) end
  for _, page in ipairs(device.pages) do
    vexlan.AddPage(tag, ordinal, as_int32(page), page == device.active)
  end
  for _, page in ipairs(device.pages) do send_content(device, page) end
end

local function on_device_change(tag, ordinal, added)
  local key = tag .. "#" .. ordinal
  devices[key] = devices[key] or new_device(tag, ordinal, not added)  -- news of a unit met only now
  local device = devices[key]
  if added then
    device.seen_present = true
    device.arrival_count = device.arrival_count + 1
    if device.managed then restore(device) end
  elseif device.seen_present then
    device.seen_present = false
  else
    return  -- a second removal in a row: the arrival between came and went before it could be reported
  end
  local event = added and "added" or "removed"
  call_each(device.listeners[event], device, added)
  call_each(device_listeners[event], device, added)
end

-- Without a client entry the module calls this state back for nothing, and no unit could be restored.
if vexlan.RegisterDeviceChangeCallback(on_device_change) == nil and vexlan.GetNumDevices() ~= nil then
  error("vexlan.cockpit: the module sends this Lua state no events: it serves at most 10 Lua states at once", 0)
end

-- ---- loops and timers -----------------------------------------------------------------------------

local timers = {}  -- { due =, interval =, work =, repeating =, stopped = }

local Timer = {}
Timer.__index = Timer

function Timer:stop()
  self.stopped = true
  remove_value(timers, self)
end

local function add_timer(name, seconds, work, repeating)
  if type(seconds) ~= "number" or not (seconds >= 0 and seconds <= 86400) then
    fail(name, "the seconds must be a number from 0 to 86400, got " .. describe(seconds))
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
    if not timer.stopped then  -- an earlier timer of this pass may have stopped it
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

local stopping = false

-- Ends run() or read() that waits now, or else the next one to start; from a listener or timer.
function cockpit.stop() stopping = true end

local function take_stop()
  local stopped = stopping
  stopping = false
  return stopped
end

-- A stop() from a listener, which runs on DirectOutput's thread while a loop waits, is seen when the
-- nap ends: naps are short, so that it ends the loop within this many seconds.
local LONGEST_NAP = 0.05

-- Lets callbacks run until `wake` (a clock time, or nil for none), for at most LONGEST_NAP; with `input`,
-- also until a character of standard input is ready or the input ended. Gives "input" or "time".
local function nap(name, wake, input)
  local seconds = LONGEST_NAP
  if wake then seconds = math.min(LONGEST_NAP, math.max(0, wake - loop.clock())) end
  local woken_by = loop.wait(seconds, input)
  if woken_by == nil then fail(name, "called from a callback on DirectOutput's thread") end
  return woken_by
end

-- One character of standard input, read while callbacks and timers run. Gives it, or nil and "end of
-- input" or "stopped", so that `while cockpit.read() do ... end` ends with the input or on stop().
function cockpit.read()
  while true do
    run_due_timers()
    if take_stop() then return nil, "stopped" end
    if nap("read", next_due(), true) == "input" then
      local character = loop.read()
      if character == nil then return nil, "end of input" end
      return character
    end
  end
end

-- The script's main loop. Callbacks run while it waits, timers when they are due. It reads standard
-- input unless options.input is false, one turn a character, and ends at the end of input. It also ends
-- on stop(), when options.done() gives true (asked at every turn, at least 20 times a second), or after
-- options.seconds. Gives why it ended: "end of input", "stopped", "done" or "time" (options["until"], the
-- old name of done, gives "until").
function cockpit.run(options)
  options = options == nil and {} or check_type("run", "the options", options, "table")
  local done, done_reason = options.done, "done"
  if options["until"] ~= nil then
    if done ~= nil then fail("run", 'give options.done or options["until"], not both') end
    done, done_reason = options["until"], "until"
  end
  if done ~= nil then check_function("run", done, "options." .. done_reason) end
  local seconds = options.seconds
  if seconds ~= nil and (type(seconds) ~= "number" or not (seconds >= 0 and seconds <= 86400)) then
    fail("run", "seconds must be a number from 0 to 86400, got " .. describe(seconds))
  end
  local input = options.input
  if input == nil then input = true end
  check_type("run", "input", input, "boolean")
  local deadline = seconds and loop.clock() + seconds
  while true do
    run_due_timers()
    if take_stop() then return "stopped" end
    if done and done() then return done_reason end
    if deadline and loop.clock() >= deadline then return "time" end
    local wake = next_due()
    if deadline and (not wake or deadline < wake) then wake = deadline end
    if nap("run", wake, input) == "input" and loop.read() == nil then return "end of input" end
  end
end

-- The name read() had in 0.3.5.
cockpit.listen = cockpit.read

cockpit.clock = loop.clock

return cockpit
