// Shared pieces of the benchmarks: allocation counting and Lua states that open the module.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/lua_api.h"

namespace vexlan::bench {

// Every malloc, calloc and realloc since start (operator new included): the whole process on Linux; on
// Windows, those of the code linked into the benchmark program. Per platform (posix/, win/).
long ProcessAllocations();

// The platform's own decode of a picture file, the baseline of the resized-file benchmarks: gdk-pixbuf
// on Linux, GDI+ (the bitmap read out whole) on Windows. Per platform (posix/, win/).
void DecodeWithPlatform(const std::string& path);
// Sets an environment variable of this process (for libraries that read it later). Per platform.
void SetEnvironment(const char* name, const std::string& value);
// Allocations made through the counting allocator of states from NewCountingState.
long LuaAllocations();

// A state with the standard libraries and the module, allocating through a counting allocator.
lua_State* NewCountingState();
// Points the module at the simulated library, with fresh devices and call recording off.
void UseQuietSimulator();

// Ten counting states on the quiet simulator, each holding the Flight Instrument Panel's soft-button
// trio and parked as while its script waits in Listen, so that a notifying thread may enter at once.
// `script` defines the global function `callback`, which all three registrations take.
inline constexpr int kListeningStates = 10;
class TenListeningStates {
 public:
  explicit TenListeningStates(const char* script);
  ~TenListeningStates();
  TenListeningStates(const TenListeningStates&) = delete;
  TenListeningStates& operator=(const TenListeningStates&) = delete;

  const std::vector<lua_State*>& states() const { return states_; }
  // The registry reference of state i's `callback`.
  int callback(size_t i) const { return callbacks_[i]; }
  // The global number `name` summed over the states.
  double Sum(const char* name) const;

 private:
  std::vector<lua_State*> states_;
  std::vector<int> callbacks_;
};

}  // namespace vexlan::bench
