// Lua unloads a C module when the state that loaded it closes; DirectOutput keeps our handlers'
// addresses. Once the module has handed over a handler it must stay mapped.
#include "tests/support/module_file.h"
#include "tests/support/module_fixture.h"

namespace vexlan::test {
namespace {

using ModulePin = ModuleTest;

TEST_F(ModulePin, TheModuleStaysMappedAfterItsStateClosesAndLuaUnloadsIt) {
  void* module = LoadModuleFile();
  ASSERT_NE(module, nullptr);
  lua_CFunction open = ModuleOpener(module);
  ASSERT_NE(open, nullptr);
  lua_State* state = luaL_newstate();
  lua_pushcfunction(state, open);
  lua_call(state, 0, 0);  // opens the simulated library: handlers handed over
  lua_close(state);
  UnloadModuleFile(module);  // what Lua does with a C module when its state closes
  EXPECT_TRUE(ModuleFileLoaded()) << "unmapped while DirectOutput may still call it";
}

}  // namespace
}  // namespace vexlan::test
