// Lua unloads a C module when the state that loaded it closes; DirectOutput keeps our handlers'
// addresses. Once the module has handed over a handler it must stay loaded.
#include <windows.h>

#include "tests/support/directoutput_config.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using ModulePin = ModuleTest;

TEST_F(ModulePin, TheModuleStaysLoadedAfterItsStateClosesAndLuaUnloadsIt) {
  std::string path = SimulatorPath();
  path = path.substr(0, path.find_last_of("/\\") + 1) + "vexlan.dll";
  HMODULE module = LoadLibraryA(path.c_str());
  ASSERT_NE(module, nullptr);
  auto open = reinterpret_cast<lua_CFunction>(reinterpret_cast<void*>(GetProcAddress(module, "luaopen_vexlan")));
  ASSERT_NE(open, nullptr);
  lua_State* state = luaL_newstate();
  lua_pushcfunction(state, open);
  lua_call(state, 0, 0);  // opens the simulated library: handlers handed over
  lua_close(state);
  FreeLibrary(module);  // what Lua does with a C module when its state closes
  HMODULE still = nullptr;
  EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path.c_str(), &still))
      << "unloaded while DirectOutput may still call it";
}

}  // namespace
}  // namespace vexlan::test
