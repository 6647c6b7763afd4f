// Faults of the DirectOutput library: every entry point the module calls, at each stage where it calls
// it, answering each result a library may give; and libraries that are missing, incomplete or whose
// enumeration fails half-way. Each gives its documented answer, and once the fault is lifted a fresh set
// of calls works: units addressable, callbacks called.
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "devices/device_table_testing.h"
#include "directoutput/directoutput_api_testing.h"
#include "tests/support/directoutput_config.h"
#include "tests/support/module_fixture.h"

extern "C" {
#include <lualib.h>
int luaopen_vexlan_sim(lua_State* state);
}

namespace vexlan::test {
namespace {

struct Answer {
  HResult hresult;
  const char* name;
  double result_code;  // what a device function gives back for it
};

constexpr Answer kAnswers[] = {
    {kS_OK, "S_OK", 0},
    {kE_HANDLE, "E_HANDLE", 1},
    {kE_NOTIMPL, "E_NOTIMPL", 2},
    {kE_INVALIDARG, "E_INVALIDARG", 3},
    {kE_PAGENOTACTIVE, "E_PAGENOTACTIVE", 4},
    {kE_OUTOFMEMORY, "E_OUTOFMEMORY", 5},
    {kS_FALSE, "S_FALSE", -1},
    {static_cast<HResult>(0x80004005u), "E_FAIL", -1},
    {static_cast<HResult>(0x80000000u), "x80000000", -1},
};

// Records device changes in `changes` as "SFIP2+"; Text() reads them back.
constexpr char kRecordChanges[] = R"(
  changes = {}
  vexlan.RegisterDeviceChangeCallback(function(tag, ordinal, added)
    changes[#changes + 1] = tag .. ordinal .. (added and '+' or '-')
  end)
)";

// Runs `code` with the simulator's Lua module, as a script drives the simulated library.
void SimScript(const std::string& code) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_pushcfunction(L, luaopen_vexlan_sim);
  lua_call(L, 0, 0);
  EXPECT_EQ(luaL_dostring(L, code.c_str()), 0) << lua_tostring(L, -1);
  lua_close(L);
}

// The value of `expression` in `state`, as tostring gives it.
std::string Text(LuaState& state, const std::string& expression) {
  lua_State* L = state.get();
  if (luaL_dostring(L, ("return tostring(" + expression + ")").c_str()) != 0) {
    const std::string error = lua_tostring(L, -1);
    lua_pop(L, 1);
    return "error: " + error;
  }
  const std::string text = lua_tostring(L, -1);
  lua_pop(L, 1);
  return text;
}

class ModuleFaults : public ModuleTest {
 public:
  using ModuleTest::CountCalls;
  using ModuleTest::Deliver;
  using ModuleTest::kFip;
  using ModuleTest::kX52;
  using ModuleTest::LastCall;

  void Open() { state_ = std::make_unique<LuaState>(); }
  void Close() { state_.reset(); }
  LuaState& state() { return *state_; }
  double Devices(const std::string& tag = "") {
    return state_->Number(tag.empty() ? "vexlan.GetNumDevices()" : "vexlan.GetNumDevices('" + tag + "')");
  }

  // What every state sees while the manager is not open: each device function answers no values.
  void ExpectNotOpen() {
    EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
    for (const char* call :
         {"vexlan.GetNumDevices()", "vexlan.AddPage('SFIP', 1, 9, true)", "vexlan.SetLed('X52P', 1, 9, 1, true)",
          "vexlan.SetString('SFIP', 1, 9, 1, 'x')", "vexlan.RegisterDeviceChangeCallback(print)",
          "vexlan.RegisterPageCallback('SFIP', 1, print)", "vexlan.RegisterSoftButtonCallback('SFIP', 1, print)"})
      EXPECT_EQ(state_->Count(call), 0) << call;
  }

  // A fresh set of calls works: both units attached at the start show a page and a string, and callbacks
  // registered anew are called for a button, a page change and a unit that comes and goes.
  static void ExpectUsable(LuaState& state) {
    for (const auto& [tag, id] : {std::pair<std::string, int>{"X52P", kX52}, {"SFIP", kFip}}) {
      const std::string unit = "'" + tag + "', 1";
      EXPECT_EQ(state.Number("vexlan.AddPage(" + unit + ", 9, true)"), 0) << tag;
      EXPECT_EQ(state.Number("vexlan.SetString(" + unit + ", 9, 1, 'usable')"), 0) << tag;
      EXPECT_EQ(sim::String(id, 9, 0), "usable") << tag;
      EXPECT_EQ(state.Number("vexlan.RemovePage(" + unit + ", 9)"), 0) << tag;
    }
    ASSERT_EQ(state.Run(R"(
      heard = 0
      local function count() heard = heard + 1 end
      assert(vexlan.RegisterDeviceChangeCallback(count) == 0)
      for _, tag in ipairs({'X52P', 'SFIP'}) do
        assert(vexlan.RegisterSoftButtonCallback(tag, 1, nil) == 0)
        assert(vexlan.RegisterSoftButtonCallback(tag, 1, count) == 0)
        assert(vexlan.RegisterPageCallback(tag, 1, count) == 0)
      end
    )"),
              "");
    for (int id : {kX52, kFip}) {
      sim::Buttons(id, 1);
      sim::PageChange(id, 9, true);
    }
    const int visitor = sim::Plug("X52P");
    sim::Flush();
    sim::Unplug(visitor);
    Deliver(state);
    EXPECT_EQ(state.Number("heard"), 6) << "two buttons, two page changes, an arrival and a removal";
  }

 protected:
  void TearDown() override { state_.reset(); }

  std::unique_ptr<LuaState> state_;
};

// ---- one entry point failing at one stage -----------------------------------------------------------

using Inject = void (*)(ModuleFaults&, const Answer&);

struct Fault {
  const char* entry_point;
  const char* stage;
  Inject inject;           // runs the stage with the fault in place and checks the answer
  Inject after = nullptr;  // once the fault is lifted: brings a unit the fault kept out back in
};

bool Failed(const Answer& answer) { return answer.hresult < 0; }

// A device function whose entry point fails answers its ResultCode.
template <const char* kEntryPoint, const char* kCall, const char* kBefore = nullptr>
void AnswerOf(ModuleFaults& t, const Answer& answer) {
  t.Open();
  if (kBefore != nullptr) {
    ASSERT_EQ(t.state().Number(kBefore), 0);
  }
  sim::Fail(kEntryPoint, answer.hresult);
  EXPECT_EQ(t.state().Number(kCall), answer.result_code);
  EXPECT_EQ(ModuleFaults::LastCall(kEntryPoint).result, answer.hresult) << "the call reached the library";
}

constexpr char kAddPage[] = "AddPage", kRemovePage[] = "RemovePage", kSetLed[] = "SetLed", kSetString[] = "SetString",
               kSetProfile[] = "SetProfile", kSetImage[] = "SetImage", kSetImageFromFile[] = "SetImageFromFile",
               kRegisterPage[] = "RegisterPageCallback", kRegisterButtons[] = "RegisterSoftButtonCallback",
               kGetDeviceType[] = "GetDeviceType", kGetDeviceInstance[] = "GetDeviceInstance";
constexpr char kAddPageCall[] = "vexlan.AddPage('SFIP', 1, 9, true)",
               kRemovePageCall[] = "vexlan.RemovePage('SFIP', 1, 9)",
               kSetLedCall[] = "vexlan.SetLed('SFIP', 1, 9, 1, true)",
               kSetStringCall[] = "vexlan.SetString('SFIP', 1, 9, 1, 'x')",
               kSetProfileCall[] = "vexlan.SetProfile('SFIP', 1, 'p')",
               kSetImageCall[] = "vexlan.SetImage('SFIP', 1, 9, 1, string.rep('x', 307224))",
               kByNameCall[] = "vexlan.SetImageFromFile('SFIP', 1, 9, 1, 'a.png')",
               kResizedCall[] = "vexlan.SetImageFromFile('SFIP', 1, 9, 1, 'missing.png', true)",
               kRegisterPageCall[] = "vexlan.RegisterPageCallback('SFIP', 1, print)",
               kRegisterButtonsCall[] = "vexlan.RegisterSoftButtonCallback('SFIP', 1, print)",
               kClearButtonsCall[] = "vexlan.RegisterSoftButtonCallback('SFIP', 1, nil)";

// Enumeration reads each unit's type and instance twice; the reads of the units from `kGoodReads / 2` on
// fail. A unit that cannot be read is not recorded; a read that succeeds without filling its value leaves
// a zero, and a zero type is the tag UNKN.
template <const char* kEntryPoint, uint32_t kGoodReads>
void Enumeration(ModuleFaults& t, const Answer& answer) {
  SimScript("vexlan_sim.fail('DirectOutput_" + std::string(kEntryPoint) + "', " +
            std::to_string(static_cast<uint32_t>(answer.hresult)) + ", " + std::to_string(kGoodReads) + ")");
  t.Open();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 1);
  const int read_whole = kGoodReads / 2;  // the X52 Pro, then the panel
  EXPECT_EQ(t.Devices(), Failed(answer) ? read_whole : 2);
  const bool zero_type = kEntryPoint == kGetDeviceType && !Failed(answer);
  EXPECT_EQ(t.Devices("UNKN"), zero_type ? 2 - read_whole : 0);
  EXPECT_EQ(t.Devices("X52P"), read_whole >= 1 || !(Failed(answer) || zero_type) ? 1 : 0);
  t.Close();
}

// An arrival whose device cannot be read is not recorded and not reported. A read that succeeds without
// filling its value leaves a zero: a zero type is the tag UNKN.
template <const char* kEntryPoint, uint32_t kGoodReads>
void PlugNewUnit(ModuleFaults& t, const Answer& answer) {
  t.Open();
  ASSERT_EQ(t.state().Run(kRecordChanges), "");
  sim::FailAfter(kEntryPoint, kGoodReads, answer.hresult);
  sim::Plug("SFIP");
  ModuleFaults::Deliver(t.state());
  const bool zero_type = kEntryPoint == kGetDeviceType;
  EXPECT_EQ(Text(t.state(), "table.concat(changes, ' ')"), Failed(answer) ? "" : zero_type ? "UNKN1+" : "SFIP2+");
  EXPECT_EQ(DeviceTableTesting::count(DeviceManager::Instance().table()), Failed(answer) ? 2 : 3);
  EXPECT_EQ(t.Devices(), Failed(answer) ? 2 : 3);
}

void UnplugNewUnit(ModuleFaults& t, const Answer&) {
  sim::Unplug(3);
  ModuleFaults::Deliver(t.state());
}

// The panel comes back under its old handle: a failed read leaves its slot as it was, absent.
template <const char* kEntryPoint>
void ReturnUnit(ModuleFaults& t, const Answer& answer) {
  t.Open();
  ASSERT_EQ(t.state().Run(kRecordChanges), "");
  sim::Unplug(ModuleFaults::kFip);
  ModuleFaults::Deliver(t.state());
  sim::Fail(kEntryPoint, answer.hresult);
  sim::Replug(ModuleFaults::kFip, false);
  ModuleFaults::Deliver(t.state());
  const bool zero_type = kEntryPoint == kGetDeviceType;
  EXPECT_EQ(Text(t.state(), "table.concat(changes, ' ')"), Failed(answer) ? "SFIP1-"
                                                           : zero_type    ? "SFIP1- UNKN1+"
                                                                          : "SFIP1- SFIP1+");
  const DeviceSlot slot = DeviceTableTesting::Snapshot(DeviceManager::Instance().table(), 1);
  EXPECT_EQ(slot.present, Failed(answer) ? 0 : 1);
  EXPECT_EQ(slot.handle, sim::HandleOf(ModuleFaults::kFip));
  if (Failed(answer)) {
    EXPECT_EQ(std::memcmp(&slot.type, &kDeviceTypeFip, sizeof slot.type), 0) << "what the slot knew is kept";
    EXPECT_EQ(t.state().Count("vexlan.AddPage('SFIP', 1, 9, true)"), 0);
  }
}

void ReturnUnitAgain(ModuleFaults& t, const Answer&) {
  sim::Unplug(ModuleFaults::kFip);
  sim::Replug(ModuleFaults::kFip, false);
  ModuleFaults::Deliver(t.state());
}

const Fault kFaults[] = {
    {"Initialize", "Opening",
     [](ModuleFaults& t, const Answer& answer) {
       sim::Fail("Initialize", answer.hresult);
       t.Open();
       if (Failed(answer)) {
         t.ExpectNotOpen();
         EXPECT_EQ(ModuleFaults::CountCalls("Enumerate"), 0);
       } else {
         EXPECT_EQ(t.Devices(), 2) << "a success code opens";
       }
       t.Close();
       EXPECT_EQ(ModuleFaults::CountCalls("Deinitialize"), Failed(answer) ? 0 : 1);
     }},
    {"Enumerate", "Opening",
     [](ModuleFaults& t, const Answer& answer) {
       sim::Fail("Enumerate", answer.hresult);
       t.Open();
       EXPECT_EQ(DeviceManager::Instance().open_count(), 1) << "the result of enumerating is not examined";
       EXPECT_EQ(t.Devices(), 0);
       sim::Plug("SFIP");
       ModuleFaults::Deliver(t.state());
       EXPECT_EQ(t.Devices("SFIP"), 1) << "units that arrive later are recorded";
       EXPECT_EQ(t.state().Number("vexlan.AddPage('SFIP', 1, 9, true)"), 0);
       t.Close();
     }},
    {"RegisterDeviceCallback", "Opening",
     [](ModuleFaults& t, const Answer& answer) {
       sim::Fail("RegisterDeviceCallback", answer.hresult);
       t.Open();
       EXPECT_EQ(t.Devices(), 2) << "opened with the enumerated units";
       EXPECT_EQ(t.state().Number("vexlan.AddPage('X52P', 1, 8, true)"), 0);
       t.Close();
     }},
    {"GetDeviceType", "Enumeration", Enumeration<kGetDeviceType, 0>},
    {"GetDeviceType", "EnumerationOfTheSecondUnit", Enumeration<kGetDeviceType, 2>},
    {"GetDeviceInstance", "Enumeration", Enumeration<kGetDeviceInstance, 0>},
    {"GetDeviceInstance", "EnumerationOfTheSecondUnit", Enumeration<kGetDeviceInstance, 2>},
    {"Deinitialize", "Closing",
     [](ModuleFaults& t, const Answer& answer) {
       t.Open();
       sim::Fail("Deinitialize", answer.hresult);
       t.Close();
       EXPECT_EQ(DeviceManager::Instance().open_count(), 0) << "the result of deinitialising is not examined";
       EXPECT_EQ(ModuleFaults::LastCall("Deinitialize").result, answer.hresult);
       sim::Plug("SFIP");  // a library that stayed initialised may still report to the closed module
       sim::Flush();
       t.Open();  // a first open again, while the library still fails to deinitialise
       EXPECT_EQ(t.Devices(), 3);
       t.Close();
       EXPECT_EQ(ModuleFaults::CountCalls("Deinitialize"), 2);
     }},
    {"GetDeviceType", "Arrival", PlugNewUnit<kGetDeviceType, 0>, UnplugNewUnit},
    {"GetDeviceType", "ArrivalSecondRead", PlugNewUnit<kGetDeviceType, 1>, UnplugNewUnit},
    {"GetDeviceType", "Return", ReturnUnit<kGetDeviceType>, ReturnUnitAgain},
    {"GetDeviceInstance", "Arrival", PlugNewUnit<kGetDeviceInstance, 0>, UnplugNewUnit},
    {"GetDeviceInstance", "ArrivalSecondRead", PlugNewUnit<kGetDeviceInstance, 1>, UnplugNewUnit},
    {"GetDeviceInstance", "Return", ReturnUnit<kGetDeviceInstance>, ReturnUnitAgain},
    {"RegisterPageCallback", "Registration", AnswerOf<kRegisterPage, kRegisterPageCall>},
    {"RegisterSoftButtonCallback", "Registration", AnswerOf<kRegisterButtons, kRegisterButtonsCall>},
    {"RegisterSoftButtonCallback", "ClearingTheLastOfTheTrio",
     AnswerOf<kRegisterButtons, kClearButtonsCall, kRegisterButtonsCall>},
    {"AddPage", "Output", AnswerOf<kAddPage, kAddPageCall>},
    {"RemovePage", "Output", AnswerOf<kRemovePage, kRemovePageCall>},
    {"SetLed", "Output", AnswerOf<kSetLed, kSetLedCall>},
    {"SetString", "Output", AnswerOf<kSetString, kSetStringCall>},
    {"SetProfile", "Output", AnswerOf<kSetProfile, kSetProfileCall>},
    {"SetImage", "Output", AnswerOf<kSetImage, kSetImageCall>},
    {"SetImageFromFile", "Output", AnswerOf<kSetImageFromFile, kByNameCall>},
    {"SetImage", "ResizedOutput", AnswerOf<kSetImage, kResizedCall>},
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.entry_point << " at " << fault.stage; }
void PrintTo(const Answer& answer, std::ostream* out) { *out << answer.name; }

class EntryPointFault : public ModuleFaults, public testing::WithParamInterface<std::tuple<Fault, Answer>> {};

TEST_P(EntryPointFault, GivesItsDocumentedAnswerAndLeavesTheModuleUsable) {
  const auto& [fault, answer] = GetParam();
  fault.inject(*this, answer);
  sim::Unfail(fault.entry_point);
  if (fault.after != nullptr) fault.after(*this, answer);
  if (state_ != nullptr) {
    SCOPED_TRACE("the state that lived through the fault");
    ExpectUsable(*state_);
  }
  Close();
  ASSERT_EQ(DeviceManager::Instance().open_count(), 0);
  SCOPED_TRACE("a first open after the fault");
  LuaState fresh;
  ExpectUsable(fresh);
}

INSTANTIATE_TEST_SUITE_P(EveryStage, EntryPointFault,
                         testing::Combine(testing::ValuesIn(kFaults), testing::ValuesIn(kAnswers)),
                         [](const testing::TestParamInfo<EntryPointFault::ParamType>& info) {
                           const Fault& fault = std::get<0>(info.param);
                           return std::string(fault.entry_point) + "_" + fault.stage + "_" +
                                  std::get<1>(info.param).name;
                         });

// ---- libraries that are missing, incomplete, or whose enumeration fails half-way --------------------

std::string BesideSimulator(const std::string& file) {
  const std::string path = SimulatorPath();
  return path.substr(0, path.find_last_of("/\\") + 1) + file;
}

struct Library {
  const char* name;
  void (*configure)();
  bool opens;
  int units_known;  // of the three attached
  bool simulated;   // the simulated library, whose units can come again
};

const Library kLibraries[] = {
    {"MissingFile", [] { ConfigureDirectOutput(BesideSimulator(std::string("absent") + VEXLAN_LIBRARY_SUFFIX)); },
     false, 0, false},
    {"NotALibrary", [] { ConfigureDirectOutput(std::string(VEXLAN_TEST_DATA) + "/images/broken_text.png"); }, false, 0,
     false},
    {"SomeEntryPoints",  // Initialize, AddPage and SetLed only: opens, but enumerates nothing
     [] { ConfigureDirectOutput(BesideSimulator(std::string("partial_directoutput") + VEXLAN_LIBRARY_SUFFIX)); }, true,
     0, false},
    {"EnumerationFailsAtOnce", [] { sim::Fail("Enumerate", static_cast<HResult>(0x80004005u)); }, true, 0, true},
    {"EnumerationFailsAfterOne", [] { sim::FailAfter("Enumerate", 1, static_cast<HResult>(0x80004005u)); }, true, 1,
     true},
    {"EnumerationFailsAfterTwo", [] { SimScript("vexlan_sim.fail('Enumerate', 0x8007000E, 2)"); }, true, 2, true},
};

void PrintTo(const Library& library, std::ostream* out) { *out << library.name; }

class UnusualLibrary : public ModuleFaults, public testing::WithParamInterface<Library> {
 protected:
  void TearDown() override {
    ModuleFaults::TearDown();
    ConfigureDirectOutput(SimulatorPath());
  }
};

TEST_P(UnusualLibrary, OpensAsDocumentedAndTheSimulatedLibraryWorksAfterwards) {
  const Library& library = GetParam();
  sim::Reset("X52P,SFIP,SFIP");
  library.configure();
  Open();
  if (!library.opens) {
    ExpectNotOpen();
  } else {
    EXPECT_EQ(DeviceManager::Instance().open_count(), 1);
    EXPECT_EQ(Devices(), library.units_known);
    const char* tags[] = {"X52P", "SFIP", "SFIP"};
    const int ordinals[] = {1, 1, 2};
    for (int unit = library.units_known; unit < 3; ++unit)
      EXPECT_EQ(state().Count("vexlan.AddPage('" + std::string(tags[unit]) + "', " + std::to_string(ordinals[unit]) +
                              ", 9, true)"),
                0)
          << "unit " << unit + 1 << " is unknown";
    if (library.simulated) {  // the units enumeration missed are recorded when they come again
      for (int id = library.units_known + 1; id <= 3; ++id) {
        sim::Unplug(id);
        sim::Replug(id, false);
      }
      Deliver(state());
      EXPECT_EQ(Devices(), 3);
      EXPECT_EQ(state().Number("vexlan.AddPage('SFIP', 2, 9, true)"), 0);
    }
  }
  Close();
  EXPECT_EQ(DeviceManager::Instance().open_count(), 0);
  sim::Unfail("Enumerate");
  ConfigureDirectOutput(SimulatorPath());
  LuaState fresh;
  EXPECT_EQ(fresh.Number("vexlan.GetNumDevices()"), 3);
  ExpectUsable(fresh);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnusualLibrary, testing::ValuesIn(kLibraries),
                         [](const testing::TestParamInfo<Library>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vexlan::test
