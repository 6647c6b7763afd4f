// Lua unloads a C module when the state that loaded it closes; DirectOutput keeps our handlers'
// addresses. Once the module has handed over a handler it must stay mapped.
#include <dlfcn.h>

#include "tests/support/directoutput_config.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using ModulePin = ModuleTest;

TEST_F(ModulePin, TheModuleStaysMappedAfterItsStateClosesAndLuaUnloadsIt) {
  std::string path = SimulatorPath();
  path = path.substr(0, path.find_last_of('/') + 1) + "vexlan.so";
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto open = reinterpret_cast<lua_CFunction>(dlsym(module, "luaopen_vexlan"));
  ASSERT_NE(open, nullptr);
  lua_State* state = luaL_newstate();
  lua_pushcfunction(state, open);
  lua_call(state, 0, 0);  // opens the simulated library: handlers handed over
  lua_close(state);
  dlclose(module);  // what Lua does with a C module when its state closes
  void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(still, nullptr) << "unmapped while DirectOutput may still call it";
  if (still != nullptr) dlclose(still);
}

}  // namespace
}  // namespace vexlan::test
