// vexlan.check: tells a user, step by step and in words, why the module finds no devices: what names the
// DirectOutput library, the file, its load, its 22 entry points, its Initialize, the devices it reports
// and the Lua host. A submodule in the same library (`require "vexlan.check"`); the 17 functions keep
// answering with nothing, as they must.
#include <cstdio>
#include <string>
#include <vector>

#include "devices/device_manager.h"
#include "directoutput/binding.h"
#include "directoutput/library_check.h"
#include "directoutput/library_loader.h"
#include "events/event_handlers.h"
#include "module/lua_functions.h"

namespace vexlan {
namespace {

using directoutput::CheckLine;
using directoutput::Verdict;

// The libraries that can be named, told apart by an export of their own; anything else that has the
// entry points is taken for the hardware's library.
struct KnownLibrary {
  const char* export_name;
  const char* description;
};
const KnownLibrary kKnownLibraries[] = {
    {"luaopen_vexlan_sim", "the simulated library vexlan_sim (no hardware is driven)"},
    {"luaopen_vexlan_recorder",
     "the recording library vexlan_recorder: it passes every call on to the library named in RecordedLibrary "
     "(VEXLAN_RECORDER_LIBRARY on Linux) and writes a trace; to stop recording, name that library again"},
};
constexpr char kHardwareLibrary[] = "the hardware's DirectOutput library";

void Add(std::vector<CheckLine>* lines, const char* step, Verdict verdict, std::string text) {
  lines->push_back(CheckLine{step, verdict, std::move(text)});
}

std::string Hex(HResult result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

void CheckLibrary(void* library, std::vector<CheckLine>* lines) {
  const char* description = kHardwareLibrary;
  for (const KnownLibrary& known : kKnownLibraries)
    if (directoutput::FindEntryPoint(library, known.export_name) != nullptr) description = known.description;
  Add(lines, "library", Verdict::kOk, description);
}

bool CheckEntryPoints(void* library, std::vector<CheckLine>* lines) {
  const std::vector<std::string> missing = MissingEntryPoints(library);
  if (missing.empty()) {
    Add(lines, "entry points", Verdict::kOk, "all 22 DirectOutput entry points are there");
    return true;
  }
  if (missing.size() == 22) {
    Add(lines, "entry points", Verdict::kFail,
        "none of the 22 DirectOutput entry points: this is another library, not DirectOutput; name "
        "DirectOutput's library instead, or vexlan_sim's for the simulator");
    return false;
  }
  std::string names;
  for (const std::string& name : missing) names += (names.empty() ? "" : ", ") + name;
  Add(lines, "entry points", Verdict::kFail,
      std::to_string(missing.size()) + " of the 22 entry points are missing (" + names +
          "): an older or partial DirectOutput library; the functions that need them answer E_NOTIMPL");
  return false;
}

// Opens the device manager as the module does (only counting up when a script already has), reads what
// Initialize answered and which devices came, and closes it again.
void CheckInitializeAndDevices(void* library, std::vector<CheckLine>* lines) {
  DeviceManager& manager = DeviceManager::Instance();
  const bool counted = manager.Open(DeviceHandlers{&EnumerationHandler, &DeviceChangeHandler});
  if (manager.binding().library() != library)
    Add(lines, "Initialize", Verdict::kNote,
        "vexlan was opened earlier in this program with another library; it reads the setting again only "
        "when every script has closed it: restart the host");
  const HResult initialized = manager.initialize_result();
  if (!counted || initialized < 0) {
    Add(lines, "Initialize", Verdict::kFail,
        "DirectOutput_Initialize answered " + Hex(initialized) +
            ": the library did not start (for the hardware: is the driver's service running?)");
  } else {
    Add(lines, "Initialize", Verdict::kOk, "DirectOutput_Initialize answered " + Hex(initialized));
    std::string tags;
    DeviceTable& table = manager.table();
    for (const DeviceKind& kind : kDeviceKinds) {
      DeviceTypeTag tag = kind.tag;
      for (int32_t n = table.CountPresent(&tag); n > 0; --n) tags += std::string(tags.empty() ? "" : ", ") + kind.name;
    }
    if (tags.empty())
      Add(lines, "devices", Verdict::kFail,
          "none attached: plug a device in (the simulator's are set with VEXLAN_SIM_DEVICES, by default X52P,SFIP)");
    else
      Add(lines, "devices", Verdict::kOk, std::to_string(table.CountPresent(nullptr)) + " attached: " + tags);
  }
  if (counted) manager.Close();
}

const char* VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk: return "ok";
    case Verdict::kFail: return "FAIL";
    case Verdict::kNote: return "note";
  }
  return "";
}

// run(): true when every step passed, and the report, a line per step: "step   ok|FAIL|note   what".
int check_run(lua_State* state) {
  std::vector<CheckLine> lines;
  void* library = directoutput::CheckConfiguredLibrary(&lines);
  if (library != nullptr) {
    if (CheckEntryPoints(library, &lines)) {
      CheckLibrary(library, &lines);
      CheckInitializeAndDevices(library, &lines);
    }
  }
  directoutput::CheckLuaHost(&lines);
  bool passed = true;
  std::string report;
  for (const CheckLine& line : lines) {
    passed = passed && line.verdict != Verdict::kFail;
    char head[40];
    std::snprintf(head, sizeof head, "%-13s%-5s", line.step.c_str(), VerdictWord(line.verdict));
    report += head + line.text + "\n";
  }
  lua_pushboolean(state, passed);
  lua_pushlstring(state, report.data(), report.size());
  return 2;
}

const luaL_Reg kCheckFunctions[] = {{"run", check_run}, {nullptr, nullptr}};

}  // namespace
}  // namespace vexlan

extern "C" VEXLAN_EXPORT int luaopen_vexlan_check(lua_State* state) {
  lua_newtable(state);
  luaL_register(state, nullptr, vexlan::kCheckFunctions);
  return 1;
}
