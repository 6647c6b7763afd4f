// Drives the module's 17 Lua functions with arbitrary argument counts and values, interleaved with
// simulated plugging, unplugging, buttons and pages, injected DirectOutput failures, deliveries on the
// simulator's thread, and Lua states opened and closed. After every call it checks what a script may
// rely on: no Lua error escapes, the stack is where it was, and every result is one its function may
// give. After every input it checks that closing every state closed the device manager.
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
#include "module/client_registry.h"
#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"
#include "tests/support/lua_state.h"

namespace vexlan::fuzz {
namespace {

constexpr int kStates = 3;
constexpr size_t kRawImageBytes = 307224;

[[noreturn]] void Broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

enum class Results { kVersion, kNothing, kCount, kResultCode };

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

// What every state defines: callbacks that count, fail, wait, write and re-register.
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
    switch (data_.ConsumeIntegralInRange(0, 11)) {
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
    if (luaL_dostring(state, kScript) != 0) Broken("opening", lua_tostring(state, -1));
  }

  // The script delivers what waits without waiting, and checks that it left its stack as it was.
  void Poll() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    const int top = lua_gettop(state);
    if (luaL_dostring(state, "return loop.poll()") != 0) Broken("poll", lua_tostring(state, -1));
    if (!lua_isnumber(state, -1) || lua_tonumber(state, -1) < 0) Broken("poll", "not a count");
    lua_settop(state, top);
  }

  // As while the script waits in Listen: the simulator's thread delivers into the state.
  void DeliverWhileParked() {
    lua_State* state = PickState();
    if (state == nullptr) return;
    ClientEntry* client = ClientTable::Instance().FindClient(state);
    if (client == nullptr) return;
    const int top = lua_gettop(state);
    const bool parked = ParkForListen(*client, state);
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
      case 15: luaL_dostring(state, "return coroutine.create(print)"); break;
      case 16: PushFile(state); break;
    }
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
