#include <gtest/gtest.h>

#include "directoutput/binding.h"
#include "tests/support/directoutput_config.h"

namespace vexlan {
namespace {

class RegistryTest : public testing::Test {
 protected:
  ~RegistryTest() override { test::ConfigureDirectOutput(test::SimulatorPath()); }
};

TEST_F(RegistryTest, AValueOverFourKilobytesGivesAnEmptyBinding) {
  test::ConfigureDirectOutputRaw(std::u16string(2049, u'a'));
  EXPECT_FALSE(LoadDirectOutput().loaded());
}

TEST_F(RegistryTest, DataFillingTheWholeBufferWithoutATerminatorIsNotReadPast) {
  std::u16string data(2048, u'b');  // 4096 bytes, no zero
  test::ConfigureDirectOutputRaw(data);
  EXPECT_FALSE(LoadDirectOutput().loaded());
}

TEST_F(RegistryTest, NoKeyGivesAnEmptyBinding) {
  test::RemoveDirectOutputConfiguration();
  EXPECT_FALSE(LoadDirectOutput().loaded());
}

}  // namespace
}  // namespace vexlan
