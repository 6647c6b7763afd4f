#include <gtest/gtest.h>

#include <cstdlib>

#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"

// Every test process points the module at the simulated library it links, or at the library that
// VEXLAN_TEST_DIRECTOUTPUT names (the recording library, which forwards to the simulated one).
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const char* other = std::getenv("VEXLAN_TEST_DIRECTOUTPUT");
  vexlan::test::ConfigureDirectOutput(other != nullptr ? other : vexlan::test::SimulatorPath());
  return RUN_ALL_TESTS();
}
