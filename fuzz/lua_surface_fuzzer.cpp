// Drives the module's 17 Lua functions with arbitrary argument counts and values, interleaved with
// simulated plugging, unplugging, buttons and pages, injected DirectOutput failures, deliveries on the
// simulator's thread, and Lua states opened and closed: plainly, or inside a coroutine that ends and is
// collected or that stays suspended. The canvas (`vexlan.canvas`) and the companion layer
// (`vexlan.cockpit`, in the states that load it) are driven the same way, listeners and timers included.
// After every call it checks what a script may rely on: no Lua error escapes the module's functions,
// the canvas and the layer raise only errors with a message, the stack is where it was, and every result
// is one its function may give. After every input it checks that closing every state closed the device
// manager.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "devices/device_manager.h"
#include "directoutput/directoutput_api_testing.h"
#include "events/client_table.h"
#include "events/dispatch.h"
#include "module/lua_functions.h"
#include "module/client_registry.h"
#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"
#include "output/picture_format.h"
#include "tests/support/lua_state.h"

namespace vexlan::fuzz {
namespace {

constexpr int kStates = 4;

[[noreturn]] void Broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

// kLayerAnswer: a device object's output method, which gives a ResultCode, or nil and why.
enum class Results { kVersion, kNothing, kCount, kResultCode, kLayerAnswer };

struct LuaFunction {
  const char* name;
  // The arguments it takes, one letter each: T tag, O ordinal, N page or index, B boolean, S text,
  // R raw picture, F picture file, C callback. A call either follows it (values of those kinds, each
  // sometimes of another kind) or takes any count of anything.
  const char* arguments;
  Results results;
};

const LuaFunction kFunctions[] = {
    {"GetVersion", "", Results::kVersion},
    {"Listen", "", Results::kNothing},
    {"GetNumDevices", "T", Results::kCount},
    {"AddPage", "TONB", Results::kResultCode},
    {"RemovePage", "TON", Results::kResultCode},
    {"SetLed", "TONNB", Results::kResultCode},
    {"SetImageFromFile", "TONNFB", Results::kResultCode},
    {"SetImage", "TONNR", Results::kResultCode},
    {"SetString", "TONNS", Results::kResultCode},
    {"SetProfile", "TOS", Results::kResultCode},
    {"RegisterDeviceChangeCallback", "C", Results::kResultCode},
    {"RegisterPageCallback", "TOC", Results::kResultCode},
    {"RegisterSoftButtonCallback", "TOC", Results::kResultCode},
    {"RegisterSoftButtonUpCallback", "TOC", Results::kResultCode},
    {"RegisterSoftButtonDownCallback", "TOC", Results::kResultCode},
    {"Initialize", "", Results::kNothing},
    {"Release", "", Results::kNothing},
};

const char* const kEntryPoints[] = {"Initialize",         "Deinitialize",     "RegisterDeviceCallback",
                                    "Enumerate",          "RegisterPageCallback", "RegisterSoftButtonCallback",
                                    "GetDeviceType",      "GetDeviceInstance", "SetProfile",
                                    "AddPage",            "RemovePage",       "SetLed",
                                    "SetString",          "SetImage",         "SetImageFromFile"};
const HResult kAnswers[] = {kS_OK, kS_FALSE, kE_HANDLE, kE_NOTIMPL, kE_INVALIDARG, kE_PAGENOTACTIVE, kE_OUTOFMEMORY,
                            static_cast<HResult>(0x80004005u), static_cast<HResult>(0x80000000u)};

const double kNumbers[] = {0.0,        -0.0,       1.0,         2.0,      3.0,     -1.0,       0.5,
                           1.7,        -1.7,       4294967295.0, 2147483647.0, 2147483648.0, -2147483648.0,
                           -2147483649.0, 1e10,    -1e10,       9007199254740993.0, 1e308, 5e-324,
                           std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
const char* const kTags[] = {"SFIP", "X52P", "UNKN", "", "sfip", "X52P ", "ABCD"};
const char* const kNumericStrings[] = {"1", "2", "1.5", "0x10", " 3 ", "1e10", "-0", "nan", "inf"};
const char* const kGlobalNames[] = {"cb_count", "cb_error", "cb_listen", "cb_output", "cb_churn", "cb_poll",
                                    "no_such_global", "print"};
const char* const kCallbacks[] = {"cb_count", "cb_error", "cb_listen", "cb_output", "cb_churn", "cb_poll"};
const char* const kListeners[] = {"on_count",        "on_error",       "on_poll",  "on_output", "on_off",
                                  "on_stop_timers", "on_stop_a_timer", "cb_count", "no_such_global"};
const char* const kEvents[] = {"page", "buttons", "down", "up", "added", "removed", "press", ""};
const double kSeconds[] = {0.0, 0.001, 0.0005, 0.01, -1.0, 86401.0, 1e300,
                           std::numeric_limits<double>::quiet_NaN()};

// A method of the canvas or the layer and the arguments it takes, one letter each: N a coordinate or
// size, K a colour, S text, P a canvas, R a raw picture, B a boolean, T a tag, O an ordinal, G a page
// or index, I an image for the layer, F a picture file, E an event, L a listener, W seconds.
struct Method {
  const char* name;
  const char* arguments;
};

// Called on a canvas (`c:name(...)`), or on the table `canvas` itself.
const Method kCanvasMethods[] = {
    {"fill", "K"},         {"pixel", "NN"},        {"pixel", "NNK"},   {"rect", "NNNNKB"},
    {"line", "NNNNKN"},    {"circle", "NNNKB"},    {"arc", "NNNNNKN"}, {"blit", "PNN"},
    {"blit", "PNNNNNN"},   {"blit_raw", "RNN"},    {"text", "NNSKN"},  {"raw", ""},
    {"width", ""},         {"height", ""},
};
const Method kCanvasFunctions[] = {{"new", "NN"}, {"new", ""}, {"rgb", "NNN"}, {"text_size", "SN"}};
// Called on a device object (`device:name(...)`), or on the table `cockpit`.
const Method kDeviceMethods[] = {
    {"add_page", "GB"},          {"remove_page", "G"},       {"set_string", "GGS"},
    {"set_led", "GGB"},          {"set_image", "GGI"},       {"set_image_from_file", "GGFB"},
    {"set_profile", "S"},        {"on", "EL"},               {"off", "EL"},
    {"show_page", "G"},          {"present", ""},            {"arrivals", ""},
};
const Method kLayerFunctions[] = {{"on", "EL"},  {"off", "EL"},  {"every", "WL"}, {"after", "WL"},
                                  {"poll", ""},  {"stop", ""},   {"device", "TO"}};

// What every state defines: callbacks that count, fail, wait, write and re-register, and two canvases.
constexpr char kScript[] = R"(
  require 'vexlan'
  calls = 0
  function cb_count() calls = calls + 1 end
  function cb_error() error('a callback that fails') end
  function cb_listen() vexlan.Listen() end
  function cb_output(tag, ordinal, value)
    vexlan.AddPage(tag, ordinal, 1, true)
    vexlan.SetString(tag, ordinal, 1, 1, tostring(value))
    vexlan.SetLed(tag, ordinal, 1, 0, true)
  end
  loop = require 'vexlan.loop'
  function cb_poll() loop.poll() loop.wait(0) end
  function cb_churn(tag, ordinal)
    vexlan.RegisterSoftButtonCallback(tag, ordinal, cb_count)
    vexlan.RegisterPageCallback(tag, ordinal, nil)
  end
  canvas = require 'vexlan.canvas'
  panel_picture, small_picture = canvas.new(), canvas.new(7, 5)
)";

// What the states that load the layer add: listeners and timers that count, fail, poll, write, remove
// listeners and stop timers.
constexpr char kLayerScript[] = R"(
  cockpit = require 'vexlan.cockpit'
  layer_errors = 0
  cockpit.on_error = function() layer_errors = layer_errors + 1 end
  function on_count() calls = calls + 1 end
  function on_error() error('a listener that fails') end
  function on_poll() cockpit.poll() end
  function on_output(device)
    device:add_page(1, true)
    device:set_string(1, 1, 'shown')
    device:set_image(1, 1, panel_picture)
  end
  function on_off(device) device:off('buttons', on_count) cockpit.off('added', on_count) end
  timers = {}
  function keep_timer(timer) if type(timer) == 'table' then timers[#timers + 1] = timer end end
  function on_stop_timers() for i = #timers, 1, -1 do timers[i]:stop() timers[i] = nil end end
  function on_stop_a_timer() local timer = table.remove(timers, 1) if timer then timer:stop() end end
)";

// How a state opens the module: on its main thread, or inside a coroutine that ends (and is collected) or
// stays suspended until a later step resumes it.
constexpr char kInCoroutineThatEnds[] = R"(
  local opener = coroutine.create(function(script) assert(loadstring(script))() end)
  assert(coroutine.resume(opener, ...))
  assert(coroutine.status(opener) == 'dead')
  opener = nil
  collectgarbage()
)";
constexpr char kInCoroutineLeftSuspended[] = R"(
  opener = coroutine.create(function(script) assert(loadstring(script))() coroutine.yield() end)
  assert(coroutine.resume(opener, ...))
)";
constexpr char kEndTheOpener[] = R"(
  if opener then coroutine.resume(opener) opener = nil end
  collectgarbage()
)";

std::string TestImage(const char* name) { return std::string(VEXLAN_TEST_DATA) + "/images/" + name; }

class Session {
 public:
  explicit Session(FuzzedDataProvider& data) : data_(data) {}
  ~Session() { CloseAll(); }

  void Run() {
    while (data_.remaining_bytes() > 0) Step();
  }

 private:
  void Step() {
    switch (data_.ConsumeIntegralInRange(0, 14)) {
      case 0: case 1: case 2: case 3: case 4:
        return CallFunction();
      case 5:
        return ToggleState();
      case 6: {
        const int count = static_cast<int>(sim::Devices().size());
        if (count < 14) sim::Plug(data_.PickValueInArray(kTags));
        break;
      }
      case 7:
        if (data_.ConsumeBool())
          sim::Unplug(DeviceId());
        else
          sim::Replug(DeviceId(), data_.ConsumeBool());
        break;
      case 8:
        if (data_.ConsumeBool())
          sim::Buttons(DeviceId(), data_.ConsumeIntegral<uint32_t>());
        else
          sim::PageChange(DeviceId(), data_.ConsumeIntegralInRange<uint32_t>(0, 3), data_.ConsumeBool());
        break;
      case 9: {
        const char* entry = data_.PickValueInArray(kEntryPoints);
        if (data_.ConsumeBool())
          sim::Fail(entry, data_.PickValueInArray(kAnswers));
        else
          sim::Unfail(entry);
        break;
      }
      case 10:
        return DeliverWhileParked();
      case 11:
        sim::Flush();
        if (data_.ConsumeBool()) Poll();
        break;
      case 12:
        return CallCanvas();
      case 13:
        return CallLayer();
      case 14:
        return EndTheOpener();
    }
  }

  int DeviceId() { return data_.ConsumeIntegralInRange(1, 15); }

  lua_State* PickState() { return states_[data_.ConsumeIntegralInRange(0, kStates - 1)]; }

  void ToggleState() {
    lua_State*& state = states_[data_.ConsumeIntegralInRange(0, kStates - 1)];
    if (state != nullptr) {
      lua_close(state);
      state = nullptr;
      return;
    }
    state = luaL_newstate();
    test::PreloadModule(state);
    std::string script = kScript;
    if (data_.ConsumeBool()) script += kLayerScript;
    const char* const openers[] = {"assert(loadstring(...))()", kInCoroutineThatEnds, kInCoroutineLeftSuspended};
    if (luaL_loadstring(state, data_.PickValueInArray(openers)) != 0) Broken("opening", lua_tostring(state, -1));
    lua_pushlstring(state, script.data(), script.size());
    if (lua_pcall(state, 1, 0, 0) != 0) Broken("opening", lua_tostring(state, -1));
  }

  // The coroutine that opened the module, left suspended, ends and is collected.
  void EndTheOpener() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    if (luaL_dostring(state, kEndTheOpener) != 0) Broken("ending the opener", lua_tostring(state, -1));
  }

  // The script delivers what waits without waiting, and checks that it left its stack as it was.
  void Poll() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    const int top = lua_gettop(state);
    const char* poll = data_.ConsumeBool() ? "return (cockpit or loop).poll()" : "return loop.poll()";
    if (luaL_dostring(state, poll) != 0) Broken("poll", lua_tostring(state, -1));
    if (!lua_isnumber(state, -1) || lua_tonumber(state, -1) < 0) Broken("poll", "not a count");
    lua_settop(state, top);
  }

  // As while the script waits in Listen: the simulator's thread delivers into the state.
  void DeliverWhileParked() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    ClientEntry* client = FindCallingClient(state);
    if (client == nullptr) return;
    const int top = lua_gettop(state);
    const bool parked = ParkForListen(*client);
    sim::Buttons(DeviceId(), data_.ConsumeIntegral<uint32_t>());
    sim::PageChange(DeviceId(), 1, data_.ConsumeBool());
    sim::Flush();
    if (parked) ReturnFromListen(*client);
    if (lua_gettop(state) != top) Broken("stack after deliveries", std::to_string(lua_gettop(state) - top));
  }

  // A value of the kind `kind` names, most of the time; anything otherwise.
  void PushArgumentOfKind(lua_State* state, char kind) {
    if (data_.ConsumeIntegralInRange(0, 7) == 0) return PushArgument(state);
    switch (kind) {
      case 'T':  // mostly a tag that names a present device
        lua_pushstring(state, data_.ConsumeBool() ? (data_.ConsumeBool() ? "SFIP" : "X52P") : data_.PickValueInArray(kTags));
        break;
      case 'O': lua_pushnumber(state, data_.ConsumeBool() ? 1 : data_.ConsumeIntegralInRange(1, 3)); break;
      case 'N': lua_pushnumber(state, data_.ConsumeIntegralInRange(0, 3)); break;
      case 'B': lua_pushboolean(state, data_.ConsumeBool()); break;
      case 'S': {
        const std::string text = data_.ConsumeRandomLengthString(40);
        lua_pushlstring(state, text.data(), text.size());
        break;
      }
      case 'R': {
        std::string picture(kRawImageBytes, static_cast<char>(data_.ConsumeIntegral<uint8_t>()));
        lua_pushlstring(state, picture.data(), picture.size());
        break;
      }
      case 'F': PushFile(state); break;
      case 'C':
        if (data_.ConsumeBool())
          lua_getglobal(state, data_.PickValueInArray(kCallbacks));
        else if (data_.ConsumeBool())
          lua_pushstring(state, data_.PickValueInArray(kGlobalNames));
        else
          lua_pushnil(state);
        break;
      default: PushArgument(state);
    }
  }

  void PushFile(lua_State* state) {
    const char* const files[] = {"gradient_100x50.png", "palette_64x48.png", "photo_100x50.jpg",
                                 "broken_truncated.png", "no_such_file.png", ""};
    lua_pushstring(state, TestImage(data_.PickValueInArray(files)).c_str());
  }

  void PushArgument(lua_State* state) {
    switch (data_.ConsumeIntegralInRange(0, 16)) {
      case 0: lua_pushnil(state); break;
      case 1: lua_pushboolean(state, 1); break;
      case 2: lua_pushboolean(state, 0); break;
      case 3: lua_pushnumber(state, data_.PickValueInArray(kNumbers)); break;
      case 4: lua_pushnumber(state, data_.ConsumeIntegralInRange(-2, 12)); break;
      case 5: lua_pushnumber(state, data_.ConsumeFloatingPoint<double>()); break;
      case 6: {
        const std::string bytes = data_.ConsumeRandomLengthString(24);  // zero bytes included
        lua_pushlstring(state, bytes.data(), bytes.size());
        break;
      }
      case 7: {
        const char* tag = data_.PickValueInArray(kTags);
        lua_pushstring(state, tag);
        if (data_.ConsumeBool()) {  // the tag followed by a zero byte and more
          lua_pushlstring(state, "\0more", 5);
          lua_concat(state, 2);
        }
        break;
      }
      case 8: lua_pushstring(state, data_.PickValueInArray(kNumericStrings)); break;
      case 9: {
        const std::string text(data_.ConsumeIntegralInRange<size_t>(0, 70000), 'x');
        lua_pushlstring(state, text.data(), text.size());
        break;
      }
      case 10: {
        // A raw picture, sometimes one byte short or longer than the format.
        const size_t size = kRawImageBytes + data_.ConsumeIntegralInRange(-1, 2);
        std::string picture(size, static_cast<char>(data_.ConsumeIntegral<uint8_t>()));
        lua_pushlstring(state, picture.data(), picture.size());
        break;
      }
      case 11: lua_newtable(state); break;
      case 12: lua_getglobal(state, data_.PickValueInArray(kCallbacks)); break;
      case 13: lua_pushstring(state, data_.PickValueInArray(kGlobalNames)); break;
      case 14: luaL_dostring(state, "return io.stdout"); break;
      case 15: PushCoroutine(state); break;
      case 16: PushFile(state); break;
    }
  }

  // A coroutine not yet started, suspended in a yield, or dead.
  void PushCoroutine(lua_State* state) {
    const char* const coroutines[] = {
        "return coroutine.create(function() end)",
        "local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) return co",
        "local co = coroutine.create(function() end) coroutine.resume(co) return co"};
    if (luaL_dostring(state, data_.PickValueInArray(coroutines)) != 0) Broken("coroutine", lua_tostring(state, -1));
  }

  // Arguments for the canvas and the layer: of their kinds most of the time, anything otherwise.
  void PushMethodArgument(lua_State* state, char kind) {
    if (data_.ConsumeIntegralInRange(0, 7) == 0) return PushArgument(state);
    switch (kind) {
      case 'N':
        if (data_.ConsumeBool())
          lua_pushnumber(state, data_.ConsumeIntegralInRange(-20, 400) + (data_.ConsumeBool() ? 0.5 : 0.0));
        else
          lua_pushnumber(state, data_.PickValueInArray(kNumbers));
        break;
      case 'K': lua_pushnumber(state, data_.ConsumeBool() ? data_.ConsumeIntegralInRange(0, 0xFFFFFF)
                                                          : data_.PickValueInArray(kNumbers)); break;
      case 'P': lua_getglobal(state, data_.ConsumeBool() ? "panel_picture" : "small_picture"); break;
      case 'I':
        if (data_.ConsumeBool()) return PushMethodArgument(state, 'P');
        return PushArgumentOfKind(state, 'R');
      case 'G': lua_pushnumber(state, data_.ConsumeIntegralInRange(0, 3)); break;
      case 'E': lua_pushstring(state, data_.PickValueInArray(kEvents)); break;
      case 'L': lua_getglobal(state, data_.PickValueInArray(kListeners)); break;
      case 'W': lua_pushnumber(state, data_.PickValueInArray(kSeconds)); break;
      default: PushArgumentOfKind(state, kind);
    }
  }

  // Calls the function on top of the stack with `self` below it (or none when `self` is 0), following
  // `method.arguments` or not. The canvas and the layer may raise, with a message; nothing else escapes.
  // Leaves the results on the stack, and gives their count, or -1 after an error.
  int CallMethod(lua_State* state, const Method& method, bool with_self) {
    const int base = lua_gettop(state) - (with_self ? 2 : 1);
    int arguments = with_self ? 1 : 0;
    if (data_.ConsumeBool()) {
      for (const char* kind = method.arguments; *kind != 0; ++kind, ++arguments) PushMethodArgument(state, *kind);
    } else {
      for (int i = data_.ConsumeIntegralInRange(0, 7); i > 0; --i, ++arguments) PushArgument(state);
    }
    if (lua_pcall(state, arguments, LUA_MULTRET, 0) != 0) {
      if (lua_type(state, -1) != LUA_TSTRING) Broken(method.name, "raised an error without a message");
      lua_settop(state, base);
      return -1;
    }
    return lua_gettop(state) - base;
  }

  void CallCanvas() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    const int top = lua_gettop(state);
    if (data_.ConsumeBool()) {
      const Method& method = data_.PickValueInArray(kCanvasFunctions);
      lua_getglobal(state, "canvas");
      lua_getfield(state, -1, method.name);
      lua_remove(state, -2);
      CallMethod(state, method, false);
    } else {
      const Method& method = data_.PickValueInArray(kCanvasMethods);
      lua_getglobal(state, "small_picture");
      lua_getfield(state, -1, method.name);
      lua_replace(state, -2);
      PushMethodArgument(state, 'P');  // the self: a canvas, most of the time
      CallMethod(state, method, true);
    }
    lua_settop(state, top);
  }

  void CallLayer() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    const int top = lua_gettop(state);
    lua_getglobal(state, "cockpit");
    if (lua_isnil(state, -1)) return lua_settop(state, top);  // a state without the layer
    if (data_.ConsumeBool()) {
      const Method& method = data_.PickValueInArray(kLayerFunctions);
      lua_getfield(state, -1, method.name);
      lua_remove(state, -2);
      const int count = CallMethod(state, method, false);
      if (count >= 1 && (std::strcmp(method.name, "every") == 0 || std::strcmp(method.name, "after") == 0)) {
        lua_getglobal(state, "keep_timer");
        lua_pushvalue(state, top + 1);
        if (lua_pcall(state, 1, 0, 0) != 0) Broken("keep_timer", lua_tostring(state, -1));
      }
    } else {
      lua_getfield(state, -1, "device");
      lua_remove(state, -2);
      PushMethodArgument(state, 'T');
      PushMethodArgument(state, 'O');
      if (lua_pcall(state, 2, 1, 0) != 0) {
        if (lua_type(state, -1) != LUA_TSTRING) Broken("device", "raised an error without a message");
        return lua_settop(state, top);
      }
      if (!lua_istable(state, -1)) Broken("device", "not a device object");
      const Method& method = data_.PickValueInArray(kDeviceMethods);
      lua_getfield(state, -1, method.name);
      lua_insert(state, -2);
      const int count = CallMethod(state, method, true);
      const bool output = std::strncmp(method.name, "set_", 4) == 0 || std::strcmp(method.name, "add_page") == 0 ||
                          std::strcmp(method.name, "remove_page") == 0 ||
                          std::strcmp(method.name, "show_page") == 0;
      if (output && count >= 0) CheckResults(state, {method.name, "", Results::kLayerAnswer}, count);  // not raised
    }
    lua_settop(state, top);
  }

  void CallFunction() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    const LuaFunction& function = data_.PickValueInArray(kFunctions);
    const int top = lua_gettop(state);
    lua_getglobal(state, "vexlan");
    lua_getfield(state, -1, function.name);
    lua_remove(state, -2);
    int arguments;
    if (data_.ConsumeBool()) {
      arguments = static_cast<int>(std::strlen(function.arguments));
      if (function.arguments[0] == 'T' && arguments == 6 && data_.ConsumeBool()) --arguments;  // 5 or 6
      for (int i = 0; i < arguments; ++i) PushArgumentOfKind(state, function.arguments[i]);
    } else {
      arguments = data_.ConsumeIntegralInRange(0, 7);
      for (int i = 0; i < arguments; ++i) PushArgument(state);
    }
    if (lua_pcall(state, arguments, LUA_MULTRET, 0) != 0)
      Broken(function.name, std::string("raised: ") + (lua_tostring(state, -1) ? lua_tostring(state, -1) : "?"));
    CheckResults(state, function, lua_gettop(state) - top);
    lua_settop(state, top);
  }

  static void CheckResults(lua_State* state, const LuaFunction& function, int count) {
    const int first = lua_gettop(state) - count + 1;
    auto number_at = [&](int offset) { return lua_tonumber(state, first + offset); };
    auto is_number = [&](int offset) { return lua_type(state, first + offset) == LUA_TNUMBER; };
    switch (function.results) {
      case Results::kVersion:
        if (count != 5 || std::string(lua_tostring(state, first) ? lua_tostring(state, first) : "") != "0.3.5" ||
            number_at(1) != 0 || number_at(2) != 3 || number_at(3) != 5 || number_at(4) != 0)
          Broken(function.name, "not the version");
        return;
      case Results::kNothing:
        if (count != 0) Broken(function.name, std::to_string(count) + " values");
        return;
      case Results::kCount:
        if (count == 0) return;
        if (count != 1 || !is_number(0) || number_at(0) < 0 || number_at(0) > kMaxDevices ||
            number_at(0) != std::floor(number_at(0)))
          Broken(function.name, "not a device count");
        return;
      case Results::kLayerAnswer:
        if (count == 2 && lua_isnil(state, first) && lua_type(state, first + 1) == LUA_TSTRING) {
          const std::string why = lua_tostring(state, first + 1);
          if (why != "absent" && why != "refused" && why != "unavailable") Broken(function.name, "nil and " + why);
          return;
        }
        if (count == 0) Broken(function.name, "no values");
        if (count == 2 && lua_isnil(state, first + 1)) count = 1;  // the code, and no reason
        [[fallthrough]];
      case Results::kResultCode: {
        if (count == 0) return;
        const double code = number_at(0);
        if (count != 1 || !is_number(0) || code < -1 || code > 5 || code != std::floor(code))
          Broken(function.name, "not a result code");
        return;
      }
    }
  }

  void CloseAll() {
    for (lua_State*& state : states_) {
      if (state != nullptr) lua_close(state);
      state = nullptr;
    }
    for (const char* entry : kEntryPoints) sim::Unfail(entry);
    sim::Flush();
    if (DeviceManager::Instance().open_count() != 0)
      Broken("closing every state", "open count " + std::to_string(DeviceManager::Instance().open_count()));
    if (ClientRegistry::Instance().client_count() != 0) Broken("closing every state", "clients left");
    sim::Reset("X52P,SFIP");
  }

  FuzzedDataProvider& data_;
  lua_State* states_[kStates] = {};
};

}  // namespace
}  // namespace vexlan::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Listen reads standard input: at its end, a Listen delivers what waits and returns at once.
  if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
  vexlan::test::ConfigureDirectOutput(vexlan::test::SimulatorPath());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  vexlan::fuzz::Session(data).Run();
  return 0;
}
