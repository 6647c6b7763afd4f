// vexlan.loop: the ways for a script to let its callbacks run other than vexlan.Listen. A submodule in the
// same library (`require "vexlan.loop"`), so that the module's own table keeps its functions. Unlike the
// module's functions, these raise a Lua error for arguments of the wrong kind: they are meant for the
// companion layer and for scripts that build their own loop.
#include <chrono>
#include <cstdio>
#include <thread>

#include "devices/device_manager.h"
#include "events/dispatch.h"
#include "module/device_call.h"
#include "module/lua_functions.h"
#include "platform/input_wait.h"

namespace vexlan {
namespace {

constexpr double kLongestWait = 86400.0;

int MillisecondsUntil(std::chrono::steady_clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// poll(): delivers what waits for the calling state, in order, without waiting; gives how many events.
int loop_poll(lua_State* state) {
  ClientEntry* client = FindCallingClient(state);
  lua_pushnumber(state, client == nullptr ? 0 : DeliverWaiting(*client));
  return 1;
}

// read(): Listen, which also says what it read: the character, or nil at the end of input.
int loop_read(lua_State* state) {
  const int character = ListenForCharacter(state);
  if (character == EOF) return 0;
  const char byte = static_cast<char>(character);
  lua_pushlstring(state, &byte, 1);
  return 1;
}

// wait(seconds [, input]): lets callbacks run, at once on DirectOutput's thread, for `seconds`; with
// `input` true it ends early once a character of standard input is ready or the input is at its end, which
// it leaves for listen() to read. Gives "input" or "time"; nothing, without waiting, when the state
// cannot be lent (called from a callback on DirectOutput's thread, which must not be held up).
int loop_wait(lua_State* state) {
  const double seconds = luaL_checknumber(state, 1);
  luaL_argcheck(state, seconds >= 0 && seconds <= kLongestWait, 1, "seconds from 0 to 86400 expected");
  const bool for_input = lua_toboolean(state, 2) != 0;
  ClientEntry* client = FindCallingClient(state);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  const bool parked = client != nullptr && ParkForListen(*client, [&] {
    return Clock::now() < until && !(for_input && platform::WaitForInput(0));
  });
  if (client != nullptr && !parked) return 0;
  bool input_ready = false;
  if (for_input)
    input_ready = platform::WaitForInput(MillisecondsUntil(until));
  else
    std::this_thread::sleep_until(until);
  if (parked) ReturnFromListen(*client);
  lua_pushstring(state, input_ready ? "input" : "time");
  return 1;
}

// clock(): seconds on a steady clock, for timers (os.clock counts processor time, os.time whole seconds).
int loop_clock(lua_State* state) {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  lua_pushnumber(state, std::chrono::duration<double>(since).count());
  return 1;
}

// present(tag, ordinal): whether the device table holds that unit as present now, by the module's
// addressing. Arrivals and removals reach a state's callbacks later, when it lets them run.
int loop_present(lua_State* state) {
  luaL_checkstring(state, 1);
  luaL_checknumber(state, 2);
  DeviceAddress device;
  lua_pushboolean(state, DeviceManager::Instance().is_open() && ResolvePresentDevice(state, &device));
  return 1;
}

const luaL_Reg kLoopFunctions[] = {
    {"poll", loop_poll},   {"read", loop_read},       {"wait", loop_wait},
    {"clock", loop_clock}, {"present", loop_present}, {"listen", loop_read},  // read's name in 0.3.5
    {nullptr, nullptr},
};

}  // namespace
}  // namespace vexlan

// A table of its own, returned and left to `require` to record: registering it by name would add a
// field to the module's table.
extern "C" VEXLAN_EXPORT int luaopen_vexlan_loop(lua_State* state) {
  lua_newtable(state);
  luaL_register(state, nullptr, vexlan::kLoopFunctions);
  return 1;
}
