#include <gtest/gtest.h>

#include "simulator/sim_control.h"
#include "tests/support/directoutput_config.h"

// Every test process points the module at the simulated library it links.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  vexlan::test::ConfigureDirectOutput(vexlan::test::SimulatorPath());
  return RUN_ALL_TESTS();
}
