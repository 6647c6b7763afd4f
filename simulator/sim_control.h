// Control interface of the simulated DirectOutput library, for C++ tests and tools. It reaches the very
// instance whose entry points the module calls. Indexes (pages, LEDs, strings, images) are DirectOutput's
// own, 0-based. Device ids are small positive numbers given by the simulator; 0 means none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "directoutput/directoutput_api.h"

#ifndef VEXLAN_SIM_API
#define VEXLAN_SIM_API
#endif

namespace vexlan::sim {

struct DeviceInfo {
  int id = 0;
  std::string tag;
  bool present = false;
};

// One recorded entry-point call. Fields that the entry point does not take stay empty.
struct CallRecord {
  std::string name;  // entry point without its "DirectOutput_" prefix
  int id = 0;        // device id, 0 for none or an unknown handle
  std::optional<uint32_t> page, index, flags, value, length, bytes;
  std::optional<std::string> text;  // UTF-8 form of strings, profiles, file names, the plug-in name
  std::optional<bool> handler;      // whether a non-null handler was passed
  HResult result = 0;
};

// Drops every device, recorded call and forced failure, then attaches the devices named in `tags`
// (comma-separated, e.g. "X52P,SFIP"). Registrations and the event thread are left as they are.
VEXLAN_SIM_API void Reset(const std::string& tags);
VEXLAN_SIM_API int Plug(const std::string& tag);
VEXLAN_SIM_API bool Unplug(int id);
VEXLAN_SIM_API bool Replug(int id, bool new_handle);
VEXLAN_SIM_API bool Buttons(int id, uint32_t mask);
VEXLAN_SIM_API bool PageChange(int id, uint32_t page, bool active);
// Returns once every event queued so far has been handed to its handler and the handler has returned.
VEXLAN_SIM_API void Flush();
VEXLAN_SIM_API std::vector<DeviceInfo> Devices();
VEXLAN_SIM_API void* HandleOf(int id);
VEXLAN_SIM_API bool Initialized();

VEXLAN_SIM_API std::optional<std::string> String(int id, uint32_t page, uint32_t index);
VEXLAN_SIM_API std::optional<bool> Led(int id, uint32_t page, uint32_t index);
VEXLAN_SIM_API std::optional<std::vector<uint8_t>> Image(int id, uint32_t page, uint32_t index);
VEXLAN_SIM_API std::vector<uint32_t> Pages(int id);
VEXLAN_SIM_API std::optional<uint32_t> ActivePage(int id);
VEXLAN_SIM_API std::optional<std::string> Profile(int id);

// The record keeps the newest kMaxRecordedCalls calls, and fewer when their texts pass
// kMaxRecordedTextBytes, so that a library left running for hours keeps its size; older calls are
// forgotten, and counted.
constexpr size_t kMaxRecordedCalls = 10000;
constexpr size_t kMaxRecordedTextBytes = 4 * 1024 * 1024;
VEXLAN_SIM_API std::vector<CallRecord> Calls();
// Calls recorded and then forgotten since the last Reset or ClearCalls.
VEXLAN_SIM_API uint64_t ForgottenCalls();
VEXLAN_SIM_API void ClearCalls();
VEXLAN_SIM_API void SetRecording(bool on);
// Makes the entry point `name` (without prefix) answer `result` without acting, until Unfail.
VEXLAN_SIM_API void Fail(const std::string& name, HResult result);
// As Fail, once the entry point has acted normally `steps` more times. A step is a call, or for Enumerate
// one device reported: the Enumerate call that uses up the count reports that many devices and then
// fails, as an enumeration that fails half-way.
VEXLAN_SIM_API void FailAfter(const std::string& name, uint32_t steps, HResult result);
VEXLAN_SIM_API void Unfail(const std::string& name);

}  // namespace vexlan::sim
